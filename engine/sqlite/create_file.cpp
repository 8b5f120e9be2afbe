#include "engine/sqlite/create_file.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>

#include "engine/sqlite/file_lock.h"
#include "engine/sqlite/schema.h"
#include "engine/sqlite/sql.h"
#include "engine/api.h"
#include "platform/platform.h"

namespace engine::sqlite {
namespace {

// A temporary file of a creation is named after its target: the target's
// name, this mark and 16 hexadecimal digits.
constexpr const char* temporaryMark = "~new-";
constexpr std::size_t suffixDigits = 16;

// The files SQLite keeps beside a database while it is in use.
constexpr const char* companionSuffixes[] = {"-wal", "-shm", "-journal"};

// A suffix that no other creator picks at the same time.
std::string uniqueSuffix() {
    static std::uint64_t counter = 0;
    std::random_device device;
    const std::uint64_t value =
        (static_cast<std::uint64_t>(device()) << 32) ^ device() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (++counter * 0x9E3779B97F4A7C15ull);
    char text[32];
    std::snprintf(text, sizeof text, "%s%016llx", temporaryMark,
                  static_cast<unsigned long long>(value));
    return text;
}

// Removes the files SQLite keeps beside a database while it is in use.
void removeCompanions(const std::string& native) {
    for (const char* suffix : companionSuffixes) platform::removeNativeFile(native + suffix);
}

bool hexDigits(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Removes the temporary file and its companions unless told to keep them.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string native) : native_(std::move(native)) {}
    ~TemporaryFile() {
        removeCompanions(native_);
        platform::removeNativeFile(native_);
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

void removeStaleTemporaries(const std::string& programPath) {
    if (programPath.empty()) return;
    // An open of the file in this process found them already; and a handle
    // of a leftover that is a second name of the open file must not be
    // closed here, which would drop this process's SQLite locks on it.
    if (openInThisProcess(platform::nativePath(programPath))) return;
    const std::string nativePrefix = platform::nativePath(programPath + temporaryMark);
    const std::size_t cut = nativePrefix.find_last_of("/\\");
    const std::string folder = cut == std::string::npos ? "" : nativePrefix.substr(0, cut + 1);
    const std::string prefix = nativePrefix.substr(folder.size());
    for (const std::string& name : platform::listNativeFolder(folder.empty() ? "." : folder)) {
        if (name.size() < prefix.size() + suffixDigits ||
            name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string digits = name.substr(prefix.size(), suffixDigits);
        const std::string tail = name.substr(prefix.size() + suffixDigits);
        if (!hexDigits(digits)) continue;
        const std::string tempProgram = programPath + temporaryMark + digits;
        if (tail.empty()) {
            // Its creator holds a lock on it from its first byte to its
            // last moment: a file nobody holds was left by a creator that
            // ended before it could remove it.
            platform::ScopedFile held;
            if (!platform::openFile(tempProgram, platform::FileMode::ReadShared, held.get()) ||
                !platform::tryLockFile(held.get(), true)) {
                continue;
            }
            held.close();
            const std::string temp = platform::nativePath(tempProgram);
            removeCompanions(temp);
            platform::removeNativeFile(temp);
        } else if (std::find_if(std::begin(companionSuffixes), std::end(companionSuffixes),
                                [&](const char* s) { return tail == s; }) !=
                       std::end(companionSuffixes) &&
                   !platform::pathExists(tempProgram)) {
            // A companion whose temporary file is gone.
            platform::removeNativeFile(folder + name);
        }
    }
}

std::int16_t createDataFile(const std::string& programPath, const FileDescription& description,
                            bool overwrite) {
    if (programPath.empty()) return status::createError;
    const bool exists = platform::pathExists(programPath);
    if (exists && !overwrite) return status::fileExists;
    const std::string target = platform::nativePath(programPath);
    if (exists && openInThisProcess(target)) return status::fileLocked;
    removeStaleTemporaries(programPath);

    // The temporary file is made and locked before anything is written to
    // it, and held until it is in place or gone (removeStaleTemporaries
    // tells a live one by the lock). The lock also keeps an open of the new
    // file out until its name's leftovers are gone: it gets status 85 and
    // tries again. A temporary file removed between its making and its lock
    // (taken for a leftover) is given up for another name.
    std::string tempProgram, temp;
    std::unique_ptr<TemporaryFile> cleanup;
    platform::ScopedFile newLock;
    for (int attempt = 0; attempt < 3 && !newLock.isOpen(); ++attempt) {
        tempProgram = programPath + uniqueSuffix();
        temp = platform::nativePath(tempProgram);
        cleanup = std::make_unique<TemporaryFile>(temp);
        if (!platform::openFile(tempProgram, platform::FileMode::ReadWriteShared, newLock.get()))
            return status::createError;
        if (!platform::tryLockFile(newLock.get(), true) || !platform::pathExists(tempProgram)) {
            newLock.close();
        }
    }
    if (!newLock.isOpen()) return status::createError;
    if (!buildEmptyFile(temp, description)) return status::createError;

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
