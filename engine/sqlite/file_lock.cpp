#include "engine/sqlite/file_lock.h"

#include <map>
#include <utility>

#include "engine/api.h"
#include "platform/platform.h"

namespace engine::sqlite {
namespace {

struct LockEntry {
    platform::ScopedFile handle;
    int holders = 0;
    bool exclusive = false;
    std::map<std::int64_t, int> records;  // record id: holders in this process
    // Opened for writing at the first record lock (a POSIX lock that
    // excludes others needs a handle open for writing); closed with the
    // entry, like the lock handle, after every SQLite connection.
    platform::ScopedFile recordHandle;
    std::string programPath;
};

platform::File* recordHandle(LockEntry& e) {
    if (!e.recordHandle.isOpen() &&
        !platform::openFile(e.programPath, platform::FileMode::ReadWriteExisting,
                            e.recordHandle.get())) {
        return nullptr;
    }
    return &e.recordHandle.get();
}

// Record locks lie beyond any data file's bytes and SQLite's lock bytes.
constexpr std::uint64_t recordLockBase = std::uint64_t{1} << 40;

// Never destroyed: open files closed while the process exits still find it.
std::map<std::string, LockEntry>& registry() {
    static auto* r = new std::map<std::string, LockEntry>();
    return *r;
}

}  // namespace

std::string fileIdentity(const std::string& nativePath) {
    return platform::canonicalNativePath(nativePath);
}

bool openInThisProcess(const std::string& nativePath) {
    return registry().count(fileIdentity(nativePath)) != 0;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        identity_ = std::move(other.identity_);
        other.identity_.clear();
    }
    return *this;
}

std::int16_t FileLock::acquire(const std::string& programPath, const std::string& nativePath,
                               bool exclusive) {
    release();
    std::string identity = fileIdentity(nativePath);
    auto& r = registry();
    if (auto it = r.find(identity); it != r.end()) {
        if (it->second.exclusive || exclusive) return status::fileLocked;
        ++it->second.holders;
        identity_ = std::move(identity);
        return status::ok;
    }
    LockEntry entry;
    if (!platform::openFile(programPath, platform::FileMode::ReadShared, entry.handle.get())) {
        if (platform::lastFileFault() == platform::FileFault::OutOfHandles) {
            return status::handleTableFull;
        }
        return platform::pathExists(programPath) ? status::ioError : status::fileNotFound;
    }
    // No open of this file in this process, so no SQLite lock is lost when
    // this handle closes again.
    if (!platform::tryLockFile(entry.handle.get(), exclusive)) return status::fileLocked;
    entry.holders = 1;
    entry.exclusive = exclusive;
    entry.programPath = programPath;
    r.emplace(identity, std::move(entry));
    identity_ = std::move(identity);
    return status::ok;
}

bool FileLock::lockRecord(std::int64_t id) {
    auto& r = registry();
    const auto it = r.find(identity_);
    if (it == r.end()) return false;
    platform::File* handle = recordHandle(it->second);
    if (handle == nullptr) return false;
    auto [held, fresh] = it->second.records.try_emplace(id, 0);
    if (fresh && !platform::tryLockRange(*handle, recordLockBase + static_cast<std::uint64_t>(id),
                                         1, true)) {
        it->second.records.erase(held);
        return false;
    }
    ++held->second;
    return true;
}

void FileLock::unlockRecord(std::int64_t id) {
    auto& r = registry();
    const auto it = r.find(identity_);
    if (it == r.end()) return;
    const auto held = it->second.records.find(id);
    if (held == it->second.records.end() || --held->second > 0) return;
    platform::unlockRange(it->second.recordHandle.get(),
                          recordLockBase + static_cast<std::uint64_t>(id), 1);
    it->second.records.erase(held);
}

bool FileLock::lockedElsewhere(std::int64_t id) const {
    auto& r = registry();
    const auto it = r.find(identity_);
    if (it == r.end() || it->second.records.count(id) != 0) return false;
    const std::uint64_t at = recordLockBase + static_cast<std::uint64_t>(id);
    platform::File* handle = recordHandle(it->second);
    if (handle == nullptr) return false;
    if (!platform::tryLockRange(*handle, at, 1, false)) return true;
    platform::unlockRange(*handle, at, 1);
    return false;
}

platform::File* FileLock::handle() const {
    auto& r = registry();
    const auto it = r.find(identity_);
    return it == r.end() ? nullptr : &it->second.handle.get();
}

void FileLock::release() {
    if (identity_.empty()) return;
    auto& r = registry();
    if (auto it = r.find(identity_); it != r.end() && --it->second.holders == 0) {
        // Erasing the entry closes the handle, which ends the lock. No explicit unlock: a child
        // process that shares the handle after a fork must not end the
        // parent's lock when it closes its copy.
        r.erase(it);
    }
    identity_.clear();
}

}  // namespace engine::sqlite
