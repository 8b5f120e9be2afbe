#include "engine/create_file.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>

#include "engine/file_lock.h"
#include "engine/schema.h"
#include "engine/sql.h"
#include "engine/status.h"
#include "platform/platform.h"

namespace engine {
namespace {

namespace fs = std::filesystem;

fs::path fsPath(const std::string& native) {
    return fs::path(std::u8string(native.begin(), native.end()));
}

// A suffix that no other creator picks at the same time.
std::string uniqueSuffix() {
    static std::uint64_t counter = 0;
    std::random_device device;
    const std::uint64_t value =
        (static_cast<std::uint64_t>(device()) << 32) ^ device() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (++counter * 0x9E3779B97F4A7C15ull);
    char text[32];
    std::snprintf(text, sizeof text, "~new-%016llx", static_cast<unsigned long long>(value));
    return text;
}

// Removes the files SQLite keeps beside a database while it is in use.
void removeCompanions(const std::string& native) {
    std::error_code ec;
    for (const char* suffix : {"-wal", "-shm", "-journal"}) fs::remove(fsPath(native + suffix), ec);
}

// Removes the temporary file and its companions unless told to keep them.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string native) : native_(std::move(native)) {}
    ~TemporaryFile() {
        std::error_code ec;
        fs::remove(fsPath(native_), ec);
        removeCompanions(native_);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

private:
    std::string native_;
};

class ClosingFile {
public:
    ~ClosingFile() { platform::closeFile(file); }
    platform::File file;
};

// Writes an empty data file at `native`; true on success.
bool buildEmptyFile(const std::string& native, const FileDescription& d) {
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(sqlitePath(native).c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    bool ok = rc == SQLITE_OK;
    ok = ok && execute(db, "PRAGMA page_size = 4096; BEGIN") == SQLITE_OK;
    ok = ok && execute(db, schemaStatements(d).c_str()) == SQLITE_OK;
    if (ok) {
        const std::string stored = encodeDescription(d);
        Statement row;
        ok = row.prepare(db,
                         "INSERT INTO nubo_file (id, format, description, id_floor, "
                         "removed) VALUES (1, ?1, ?2, 0, 0)") == SQLITE_OK;
        ok = ok && sqlite3_bind_text(row.get(), 1, fileFormat, -1, SQLITE_STATIC) == SQLITE_OK;
        ok = ok && sqlite3_bind_blob(row.get(), 2, stored.data(), static_cast<int>(stored.size()),
                                     SQLITE_TRANSIENT) == SQLITE_OK;
        ok = ok && sqlite3_step(row.get()) == SQLITE_DONE;
    }
    ok = ok && execute(db, "COMMIT") == SQLITE_OK;
    if (ok) {
        // The log mode is kept in the file; every later open uses it.
        Statement mode;
        ok =
            mode.prepare(db, "PRAGMA journal_mode = WAL") == SQLITE_OK &&
            sqlite3_step(mode.get()) == SQLITE_ROW &&
            std::string(reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0))) == "wal";
    }
    // The last connection to close folds the log into the file and removes it.
    return sqlite3_close(db) == SQLITE_OK && ok;
}

}  // namespace

std::int16_t createDataFile(const std::string& programPath, const FileDescription& description,
                            bool overwrite) {
    if (programPath.empty()) return status::createError;
    const bool exists = platform::pathExists(programPath);
    if (exists && !overwrite) return status::fileExists;
    const std::string target = platform::nativePath(programPath);
    if (exists && openInThisProcess(target)) return status::fileLocked;

    const std::string tempProgram = programPath + uniqueSuffix();
    const std::string temp = platform::nativePath(tempProgram);
    TemporaryFile cleanup(temp);
    if (!buildEmptyFile(temp, description)) return status::createError;

    // Held on the new file until it is in place and its name's leftovers are
    // gone: an open meanwhile gets status 85 and tries again.
    ClosingFile newLock;
    if (!platform::openFile(tempProgram, platform::FileMode::ReadShared, newLock.file) ||
        !platform::tryLockFile(newLock.file, true)) {
        return status::createError;
    }

    std::error_code ec;
    if (!exists) {
        // A hard link puts the file in place only if the name is still free.
        fs::create_hard_link(fsPath(temp), fsPath(target), ec);
        if (ec) {
            if (platform::pathExists(programPath)) return status::fileExists;
            // A file system without hard links: a plain rename.
            ec.clear();
            fs::rename(fsPath(temp), fsPath(target), ec);
            if (ec) return status::createError;
        }
        removeCompanions(target);
        return status::ok;
    }

    ClosingFile oldLock;
    if (!platform::openFile(programPath, platform::FileMode::ReadShared, oldLock.file)) {
        return status::createError;
    }
    if (!platform::tryLockFile(oldLock.file, true)) return status::fileLocked;
    removeCompanions(target);
    fs::rename(fsPath(temp), fsPath(target), ec);
    if (ec) {
        // Windows renames over a name only while no handle is open on either
        // file: both locks go, and the rename is tried once more. An open of
        // the old file meanwhile makes it fail, leaving the old file whole.
        platform::closeFile(oldLock.file);
        platform::closeFile(newLock.file);
        ec.clear();
        fs::rename(fsPath(temp), fsPath(target), ec);
    }
    return ec ? status::createError : status::ok;
}

}  // namespace engine
