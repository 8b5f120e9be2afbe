// Open-mode locks on data files, shared by all opens of one process.
//
// A normal open of a data file holds a shared lock on it, an exclusive open
// an exclusive one, so an exclusive open excludes every other open of the
// file, in this process or any other. The lock is an advisory whole-file lock
// (platform::tryLockFile) on a handle of its own, apart from SQLite's: SQLite
// locks byte ranges, and the two kinds do not meet.
//
// One process keeps one lock handle per file, however many opens it has,
// and closes it only when the last open of the file has closed its SQLite
// connection: on POSIX, closing any handle of a file drops every byte-range
// lock the process holds on it, SQLite's included.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace engine::sqlite {

// A held open-mode lock; released when it goes out of scope.
class FileLock {
public:
    FileLock() = default;
    ~FileLock() { release(); }
    FileLock(FileLock&& other) noexcept : identity_(std::move(other.identity_)) {
        other.identity_.clear();
    }
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock of the data file at `programPath` (program form; its
    // native form is `nativePath`). Statuses: 85 when another open of the
    // file, here or in another process, conflicts with the mode; 12 when the
    // file has vanished; 87 when no file handle is left; 2 when it cannot be
    // opened otherwise.
    std::int16_t acquire(const std::string& programPath, const std::string& nativePath,
                         bool exclusive);

    // Gives the lock up (nothing when none is held).
    void release();

    // The process's lock handle of the file (read only), for reads of the
    // file's own bytes that must not open and close a handle of their own;
    // nullptr when no lock is held.
    platform::File* handle() const;

    // Record locks of this process on the file, by record id: an exclusive
    // lock on one byte of a range far beyond the file's data, through the
    // process's lock handle, so other processes see it. Opens of the file in
    // this process share their locks (a count per record): a record is
    // released when no open of this process holds it any more.
    //
    // lockRecord: false when another process holds the record.
    // unlockRecord: one holder fewer. lockedElsewhere: another process holds
    // the record (a record this process holds is never locked elsewhere).
    bool lockRecord(std::int64_t id);
    void unlockRecord(std::int64_t id);
    bool lockedElsewhere(std::int64_t id) const;

private:
    std::string identity_;
};

// A name that is the same for every path of one file (its canonical path).
std::string fileIdentity(const std::string& nativePath);

// True when this process has the file open.
bool openInThisProcess(const std::string& nativePath);

}  // namespace engine::sqlite
