// Files, names and the current directory on POSIX.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace {

int fd(const File& f) {
    return static_cast<int>(f.handle);
}

// Folds a UTF-8 name for a comparison without regard to case: ASCII letters
// and the accented letters of Latin-1 (the ones the suite's names use).
std::string foldCase(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto b = static_cast<unsigned char>(name[i]);
        if (b >= 'A' && b <= 'Z') {
            out += static_cast<char>(b + 32);
        } else if (b == 0xC3 && i + 1 < name.size()) {
            // U+00C0..U+00DE (but U+00D7) fold to U+00E0..U+00FE.
            auto b1 = static_cast<unsigned char>(name[i + 1]);
            if (b1 >= 0x80 && b1 <= 0x9E && b1 != 0x97) b1 = static_cast<unsigned char>(b1 + 0x20);
            out += static_cast<char>(b);
            out += static_cast<char>(b1);
            ++i;
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Finds the entry of `dir` whose name matches `component` without regard to
// case; the first such name in byte order, so the choice is repeatable.
bool matchInDirectory(const std::string& dir, const std::string& component, std::string& found) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr) return false;
    const std::string wanted = foldCase(component);
    std::vector<std::string> matches;
    while (struct dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != ".." && foldCase(name) == wanted) matches.push_back(name);
    }
    ::closedir(d);
    if (matches.empty()) return false;
    found = *std::min_element(matches.begin(), matches.end());
    return true;
}

}  // namespace

std::string nativePath(const std::string& path) {
    const std::string utf8 = oemToUtf8(path);
    std::string out;
    bool resolving = true;  // stops at the first component that does not exist
    std::size_t i = 0;
    if (!utf8.empty() && (utf8[0] == '\\' || utf8[0] == '/')) {
        out.assign(1, '/');
        while (i < utf8.size() && (utf8[i] == '\\' || utf8[i] == '/')) ++i;
    }
    while (i < utf8.size()) {
        std::size_t end = i;
        while (end < utf8.size() && utf8[end] != '\\' && utf8[end] != '/') ++end;
        std::string component = utf8.substr(i, end - i);
        const std::string dir = out;
        std::string candidate = dir + component;
        if (resolving && component != "." && component != ".." && !exists(candidate)) {
            std::string found;
            if (matchInDirectory(dir, component, found)) {
                candidate = dir + found;
            } else {
                resolving = false;
            }
        }
        out = candidate;
        i = end;
        if (i < utf8.size()) {
            out += '/';
            while (i < utf8.size() && (utf8[i] == '\\' || utf8[i] == '/')) ++i;
        }
    }
    return out;
}

bool openFile(const std::string& path, FileMode mode, File& file) {
    file.handle = -1;
    if (path.empty()) return false;
    const std::string native = nativePath(path);
    int flags = O_CLOEXEC;
    switch (mode) {
        case FileMode::ReadShared: flags |= O_RDONLY; break;
        case FileMode::ReadWriteShared: flags |= O_RDWR | O_CREAT; break;
        case FileMode::ReadWriteExisting: flags |= O_RDWR; break;
        case FileMode::AppendExclusive: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
        case FileMode::CreateTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    int h;
    do {
        h = ::open(native.c_str(), flags, 0666);
    } while (h < 0 && errno == EINTR);
    if (h < 0) return false;
    struct stat st {};
    if (::fstat(h, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int reason = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(h);
        errno = reason;
        return false;
    }
    if (mode == FileMode::AppendExclusive && ::flock(h, LOCK_EX | LOCK_NB) != 0) {
        ::close(h);
        return false;
    }
    file.handle = h;
    return true;
}

std::int64_t readFile(File& file, void* buffer, std::size_t size) {
    if (!file.isOpen()) return -1;
    std::size_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < size) {
        const ssize_t n = ::read(fd(file), p + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? static_cast<std::int64_t>(done) : -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

bool writeFile(File& file, const void* buffer, std::size_t size) {
    if (!file.isOpen()) return false;
    std::size_t done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < size) {
        const ssize_t n = ::write(fd(file), p + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool seekFile(File& file, std::int64_t offset) {
    if (!file.isOpen() || offset < 0) return false;
    return ::lseek(fd(file), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::int64_t fileSize(File& file) {
    if (!file.isOpen()) return -1;
    struct stat st {};
    if (::fstat(fd(file), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool syncFile(File& file) {
    return file.isOpen() && ::fsync(fd(file)) == 0;
}

void closeFile(File& file) {
    if (file.isOpen()) ::close(fd(file));
    file.handle = -1;
}

AppendResult appendWhole(const std::string& path, const void* bytes, std::size_t size) {
    if (path.empty()) return AppendResult::Failed;
    // The name as written first: an existing file opens in one call. Only a
    // missing one goes through the search without regard to case, and is
    // created when that finds nothing. A folder refuses the write-only open.
    std::string direct = oemToUtf8(path);
    std::replace(direct.begin(), direct.end(), '\\', '/');
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC;
    int h;
    do {
        h = ::open(direct.c_str(), kFlags);
    } while (h < 0 && errno == EINTR);
    if (h < 0 && errno == ENOENT) {
        do {
            h = ::open(nativePath(path).c_str(), kFlags | O_CREAT, 0666);
        } while (h < 0 && errno == EINTR);
    }
    if (h < 0) return AppendResult::Failed;
    // The lock of AppendExclusive; it goes with the close.
    int locked;
    do {
        locked = ::flock(h, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(h);
        return held ? AppendResult::Held : AppendResult::Failed;
    }
    ssize_t n;
    do {
        n = ::write(h, bytes, size);
    } while (n < 0 && errno == EINTR);
    AppendResult result = AppendResult::Written;
    if (n < 0) {
        result = AppendResult::Failed;  // nothing was written
    } else if (static_cast<std::size_t>(n) != size) {
        // Only part went through, at the end of the file: the position is
        // now just past it, and the lock kept every other writer out.
        // No second write: at a file-size limit it would raise SIGXFSZ.
        const off_t end = ::lseek(h, 0, SEEK_CUR);
        if (end >= n) {
            while (::ftruncate(h, end - n) != 0 && errno == EINTR) {
            }
        }
        result = AppendResult::Failed;
    }
    ::close(h);
    return result;
}

bool deleteFile(const std::string& path) {
    if (path.empty()) return false;
    return ::unlink(nativePath(path).c_str()) == 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) return false;
    return ::rename(nativePath(from).c_str(), nativePath(to).c_str()) == 0;
}

FileFault fileFault(int code) {
    switch (code) {
        case EROFS: return FileFault::ReadOnlyFileSystem;
        case EMFILE:
        case ENFILE: return FileFault::OutOfHandles;
        default: return FileFault::Other;
    }
}

FileFault lastFileFault() {
    return fileFault(errno);
}

bool onReadOnlyFileSystem(const std::string& nativePath) {
    struct statvfs about {};
    return !nativePath.empty() && ::statvfs(nativePath.c_str(), &about) == 0 &&
           (about.f_flag & ST_RDONLY) != 0;
}

std::string lastFileErrorText() {
    const int reason = errno;
    if (reason == 0) return "";
    std::string text = std::strerror(reason);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

bool renameNativeFile(const std::string& from, const std::string& to) {
    return !from.empty() && !to.empty() && ::rename(from.c_str(), to.c_str()) == 0;
}

bool linkNativeFile(const std::string& existing, const std::string& newName) {
    return !existing.empty() && !newName.empty() && ::link(existing.c_str(), newName.c_str()) == 0;
}

bool removeNativeFile(const std::string& path) {
    return !path.empty() && ::unlink(path.c_str()) == 0;
}

std::vector<std::string> listNativeFolder(const std::string& path) {
    std::vector<std::string> names;
    DIR* folder = ::opendir(path.empty() ? "." : path.c_str());
    if (folder == nullptr) return names;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(folder);
    return names;
}

std::string canonicalNativePath(const std::string& path) {
    if (path.empty()) return path;
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        std::string out(resolved);
        std::free(resolved);
        return out;
    }
    // A file that does not exist (yet): its folder resolved, its name kept.
    const std::size_t slash = path.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return path;
    if (char* resolved = ::realpath(folder.c_str(), nullptr)) {
        std::string out(resolved);
        std::free(resolved);
        if (out.empty() || out.back() != '/') out += '/';
        return out + name;
    }
    return path;
}

bool pathExists(const std::string& path) {
    return !path.empty() && exists(nativePath(path));
}

bool setCurrentDirectory(const std::string& path) {
    if (path.empty()) return false;
    return ::chdir(nativePath(path).c_str()) == 0;
}

bool tryLockFile(File& file, bool exclusive) {
    if (!file.isOpen()) return false;
    int r;
    do {
        r = ::flock(fd(file), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

void unlockFile(File& file) {
    if (file.isOpen()) ::flock(fd(file), LOCK_UN);
}

namespace {

// Open-file-description locks where the system has them (held by the open,
// so SQLite closing its own handles of the file never drops them); plain
// process-held record locks elsewhere.
#ifdef F_OFD_SETLK
constexpr int kSetRangeLock = F_OFD_SETLK;
#else
constexpr int kSetRangeLock = F_SETLK;
#endif

bool rangeLock(File& file, short type, std::uint64_t offset, std::uint64_t length) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(offset);
    lock.l_len = static_cast<off_t>(length);
    int r;
    do {
        r = ::fcntl(fd(file), kSetRangeLock, &lock);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

}  // namespace

bool tryLockRange(File& file, std::uint64_t offset, std::uint64_t length, bool exclusive) {
    if (!file.isOpen()) return false;
    return rangeLock(file, exclusive ? F_WRLCK : F_RDLCK, offset, length);
}

void unlockRange(File& file, std::uint64_t offset, std::uint64_t length) {
    if (file.isOpen()) rangeLock(file, F_UNLCK, offset, length);
}

}  // namespace platform
