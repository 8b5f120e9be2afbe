// The API front's choice of storage: the backend in which BTRCALL opens and
// creates data files. Unless another is set: the SQLite backend
// (engine/sqlite/storage.h) for every file but those a map file places on a
// PostgreSQL server (engine/postgres/storage.h, where built). Files already
// open keep the storage they were opened in.
#pragma once

#include "engine/storage.h"

namespace engine {

// Makes `storage` (which must outlive every file opened in it) the one
// BTRCALL uses from its next Open or Create.
void setStorage(Storage& storage);

// The storage in force.
Storage& currentStorage();

}  // namespace engine
