// Which data files live on a PostgreSQL server: the map file.
//
// A workstation's administrator writes one small text file, named
// "nubodb.server", in the folder of an installation's data files (or in a
// folder above it). Every data file in that folder and below is then a table
// on the server the file names; the programs keep using the same paths. The
// file holds "key = value" lines; blank lines and lines starting with "#"
// are ignored:
//
//   server = host=db.office dbname=nubo user=office sslmode=verify-full
//   schema = cobram
//   connect_timeout = 10
//   call_timeout = 15
//   read_ahead = 50
//
//   server           required: a libpq connection string or URI. Every
//                    libpq mechanism applies (service file, environment,
//                    TLS settings); the password comes from the password
//                    file (~/.pgpass, PGPASSFILE) or PGPASSWORD, never from
//                    this file, which sits beside shared data: a "password"
//                    setting here is refused.
//   schema           the server schema of this installation's tables
//                    (default "nubo"); several installations share one
//                    database by schemas of their own.
//   connect_timeout  seconds a new session may take (1..300; default 10)
//   call_timeout     seconds one exchange with the server may take, lock
//                    waits aside (1..300; default 10)
//   read_ahead       milliseconds (0..1000; default 50) for which rows read
//                    ahead along a key serve Get Next and Get Previous: a
//                    step fetches the next rows in one exchange, and the
//                    steps that follow within that time take them from
//                    there. A write to the file through this process's
//                    session, or the end of a transaction, ends them at
//                    once; another machine's change is seen by a
//                    step no later than this long after it committed. 0
//                    reads every step from the server.
//
// A data file's name on the server is its path relative to the map file's
// folder, "/" between folders, ASCII letters in lower case (the program's
// paths ignore letter case): "DADES\FinquesH.dat" under a map file in the
// installation root is "dades/finquesh.dat".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace engine::pg {

inline constexpr const char* mapFileName = "nubodb.server";
// The map file is looked for in the data file's folder and this many above.
inline constexpr int mapSearchDepth = 8;
inline constexpr std::size_t maxMapFileSize = 16384;

struct ServerMap {
    std::string server;  // libpq connection string or URI
    std::string schema = "nubo";
    std::uint32_t connectSeconds = 10;
    std::uint32_t callSeconds = 10;
    std::uint32_t readAheadMilliseconds = 50;
};

// Reads a map file's text. False, with a line number and a reason in
// `error`, when a line is not "key = value", a key is unknown or repeated, a
// value is out of range, "server" is missing or not a connection string
// libpq reads, or it carries a password.
bool parseServerMap(std::string_view text, ServerMap& out, std::string& error);

// Where a data file lives.
struct Placement {
    enum class Where { Local, Server, Invalid };
    Where where = Where::Local;
    ServerMap map;      // Server
    std::string name;   // Server: the file's name on the server
    std::string error;  // Invalid: what is wrong with the map file (no secret in it)
};

// Looks for a map file for the data file at `programPath` (program form)
// and reads it. Local when there is none, Invalid when the one found cannot
// be read or parsed, or the data file's name on the server would be empty.
Placement placeDataFile(const std::string& programPath);

// The name on the server of a path relative to the map file's folder:
// separators "/", ASCII letters lower-cased.
std::string serverName(std::string_view relativeUtf8Path);

}  // namespace engine::pg
