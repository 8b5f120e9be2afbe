#include "engine/sqlite/sql.h"

#include "engine/api.h"
#include "platform/platform.h"

namespace engine::sqlite {

int Statement::prepare(sqlite3* db, const std::string& sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size() + 1),
                              SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
}

std::int16_t statusFromSqlite(int resultCode) {
    switch (resultCode & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return status::fileLocked;
        case SQLITE_FULL: return status::diskFull;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH: return status::accessDenied;
        // A page or header that does not read as SQLite wrote it: the file
        // is damaged. The open tells a file that is no database at all
        // (status 30) from its first read.
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB: return status::ioError;
        case SQLITE_CONSTRAINT:
            return resultCode == SQLITE_CONSTRAINT_UNIQUE ||
                           resultCode == SQLITE_CONSTRAINT_PRIMARYKEY
                       ? status::duplicateKey
                       : status::ioError;
        default: return status::ioError;
    }
}

std::int16_t statusFromSystem(int systemCode, std::int16_t otherwise) {
    switch (platform::fileFault(systemCode)) {
        case platform::FileFault::ReadOnlyFileSystem: return status::accessDenied;
        case platform::FileFault::OutOfHandles: return status::handleTableFull;
        case platform::FileFault::Other: break;
    }
    return otherwise;
}

std::string sqlitePath(const std::string& nativePath) {
    return nativePath.rfind("file:", 0) == 0 ? "./" + nativePath : nativePath;
}

int execute(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

}  // namespace engine::sqlite
