#include "engine/sqlite/create_file.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "engine/sqlite/file_lock.h"
#include "engine/sqlite/schema.h"
#include "engine/sqlite/sql.h"
#include "engine/api.h"
#include "platform/platform.h"

namespace engine::sqlite {
namespace {

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
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        platform::removeNativeFile(native + suffix);
    }
}

// Removes the temporary file and its companions unless told to keep them.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string native) : native_(std::move(native)) {}
    ~TemporaryFile() {
        platform::removeNativeFile(native_);
        removeCompanions(native_);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

private:
    std::string native_;
};

// The page size of a new file: the description's, as the power of two
// SQLite needs, at least 1024, and larger where a row (the record and every
// key) or the longest key's index entry would not fit in one page.
int pageSizeFor(const FileDescription& d) {
    std::size_t keys = 0, longest = 0;
    for (const KeySpec& key : d.keys) {
        keys += key.length;
        longest = std::max<std::size_t>(longest, key.length);
    }
    // With the row's header and id, and the entry's; SQLite keeps a row of
    // up to a page less 35 bytes, an index entry of up to about a quarter
    // page, in the page itself.
    const std::size_t row = d.recordLength + keys + 32;
    const std::size_t entry = longest + 16;
    std::size_t size = 1024;
    while (size < 65536 &&
           (size < d.pageSize || row > size - 35 || entry > (size - 12) * 64 / 255 - 23)) {
        size *= 2;
    }
    return static_cast<int>(size);
}

// Writes an empty data file at `native`; true on success.
bool buildEmptyFile(const std::string& native, const FileDescription& d) {
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(sqlitePath(native).c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    bool ok = rc == SQLITE_OK;
    const std::string pageSize = "PRAGMA page_size = " + std::to_string(pageSizeFor(d)) + "; BEGIN";
    ok = ok && execute(db, pageSize.c_str()) == SQLITE_OK;
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
    platform::ScopedFile newLock;
    if (!platform::openFile(tempProgram, platform::FileMode::ReadShared, newLock.get()) ||
        !platform::tryLockFile(newLock.get(), true)) {
        return status::createError;
    }

    if (!exists) {
        // A hard link puts the file in place only if the name is still free.
        if (!platform::linkNativeFile(temp, target)) {
            if (platform::pathExists(programPath)) return status::fileExists;
            // A file system without hard links: a plain rename.
            if (!platform::renameNativeFile(temp, target)) return status::createError;
        }
        removeCompanions(target);
        return status::ok;
    }

    platform::ScopedFile oldLock;
    if (!platform::openFile(programPath, platform::FileMode::ReadShared, oldLock.get())) {
        return status::createError;
    }
    if (!platform::tryLockFile(oldLock.get(), true)) return status::fileLocked;
    removeCompanions(target);
    bool renamed = platform::renameNativeFile(temp, target);
    if (!renamed) {
        // Windows renames over a name only while no handle is open on either
        // file: both locks go, and the rename is tried once more. An open of
        // the old file meanwhile makes it fail, leaving the old file whole.
        oldLock.close();
        newLock.close();
        renamed = platform::renameNativeFile(temp, target);
    }
    return renamed ? status::ok : status::createError;
}

}  // namespace engine::sqlite
