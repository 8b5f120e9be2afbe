#include "engine/sqlite/storage.h"

#include <sqlite3.h>

#include "engine/settings.h"
#include "engine/sqlite/sql.h"
#include "platform/platform.h"

#include "engine/sqlite/create_file.h"
#include "engine/sqlite/table.h"

namespace engine::sqlite {
namespace {

class SqliteStorage final : public Storage {
public:
    std::int16_t open(const std::string& path, OpenMode mode,
                      std::unique_ptr<Table>& out) override {
        return SqliteTable::open(path, mode, out);
    }
    std::int16_t create(const std::string& path, const FileDescription& description,
                        bool overwrite) override {
        return createDataFile(path, description, overwrite);
    }
    // SQLite's integrity check (every page, every index against its table)
    // on a connection of its own, which only reads. It is opened for
    // writing where the file allows it, so that, as the last connection,
    // it folds the log back and removes it when it closes.
    std::int16_t verify(const std::string& path, std::vector<std::string>& findings) override {
        if (path.empty() || !platform::pathExists(path)) return status::fileNotFound;
        sqlite3* db = nullptr;
        const int opened = sqlite3_open_v2(sqlitePath(platform::nativePath(path)).c_str(), &db,
                                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        std::int16_t st = status::ok;
        if (opened != SQLITE_OK) {
            st = status::ioError;
        } else {
            sqlite3_extended_result_codes(db, 1);
            sqlite3_busy_timeout(db, static_cast<int>(settings().busyMilliseconds));
            Statement check;
            int rc = check.prepare(db, "PRAGMA integrity_check");
            if (rc == SQLITE_OK) rc = SQLITE_ROW;
            while (rc == SQLITE_ROW && (rc = sqlite3_step(check.get())) == SQLITE_ROW) {
                const auto* text = sqlite3_column_text(check.get(), 0);
                const std::string line = text != nullptr ? reinterpret_cast<const char*>(text) : "";
                if (line != "ok") findings.push_back(line);
            }
            // A file SQLite cannot read as a database is itself a finding.
            if (rc != SQLITE_DONE) {
                st = statusFromSqlite(rc);
                if (st == status::ioError) {
                    findings.push_back(sqlite3_errmsg(db));
                    st = status::ok;
                }
            }
        }
        sqlite3_close_v2(db);
        return st;
    }
};

}  // namespace

Storage& storage() {
    static SqliteStorage s;
    return s;
}

}  // namespace engine::sqlite
