// The SQLite backend: every data file one SQLite database in a file of its
// own (schema.h), opened with an open-mode lock (file_lock.h) and created
// whole under a temporary name (create_file.h).
#pragma once

#include "engine/storage.h"

namespace engine::sqlite {

// The process's SQLite storage.
Storage& storage();

}  // namespace engine::sqlite
