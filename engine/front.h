// The API front's choice of storage: the backend in which BTRCALL opens and
// creates data files. The SQLite backend (engine/sqlite/storage.h) unless
// another is set; files already open keep the storage they were opened in.
#pragma once

#include "engine/storage.h"

namespace engine {

// Makes `storage` (which must outlive every file opened in it) the one
// BTRCALL uses from its next Open or Create.
void setStorage(Storage& storage);

// The storage in force.
Storage& currentStorage();

}  // namespace engine
