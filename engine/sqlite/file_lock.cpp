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
};

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
        return platform::pathExists(programPath) ? status::ioError : status::fileNotFound;
    }
    // No open of this file in this process, so no SQLite lock is lost when
    // this handle closes again.
    if (!platform::tryLockFile(entry.handle.get(), exclusive)) return status::fileLocked;
    entry.holders = 1;
    entry.exclusive = exclusive;
    r.emplace(identity, std::move(entry));
    identity_ = std::move(identity);
    return status::ok;
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
