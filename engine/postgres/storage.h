// The PostgreSQL backend behind the storage seam, and the storage that
// places every data file: on the server a map file names (server_map.h),
// else in the local storage given.
//
// Open and create on the server, as on the local disk, take the file's
// path as the program gives it. Statuses beyond the seam's: 91 no session
// with the server could be made (none there, no answer within the connect
// timeout, or a map file that cannot be read: its fault is never shown with
// a password); 94 the server refused the login or the access (a role
// without the right to create tables gets it from Create); 95 the session
// ended (the server restarted, the link failed, an exchange got no answer
// within the call timeout): every later call on a file opened in that
// session gives it, and the next Open makes a new session.
#pragma once

#include <memory>
#include <string>

#include "engine/postgres/server_map.h"
#include "engine/storage.h"

namespace engine::pg {

// The storage that sends a file to the server its map file names, and
// every other file to `local`.
Storage& mappedStorage(Storage& local);

// A storage that keeps every data file on `map`'s server, named by its
// whole path (program form, made UTF-8, "/" between folders, ASCII lower
// case): for tests and tools that want a server without a map file.
std::unique_ptr<Storage> serverStorage(const ServerMap& map);

// Opens and creates the file `name` on `map`'s server, as Storage::open and
// Storage::create do with a path.
std::int16_t openOnServer(const ServerMap& map, const std::string& name, OpenMode mode,
                          std::unique_ptr<Table>& out);
std::int16_t createOnServer(const ServerMap& map, const std::string& name,
                            const FileDescription& description, bool overwrite);

// The fault of the last failed call on a server, for diagnostics (tools,
// tests): free of passwords; empty when none.
const std::string& lastServerFault();

}  // namespace engine::pg
