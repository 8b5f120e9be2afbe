// Files, names and the current directory on Windows. Program paths are
// console code-page text with "\" separators; they reach the system as wide
// characters converted with the console code page.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/text_win32.h"

namespace platform {
namespace {

HANDLE handleOf(const File& f) {
    return reinterpret_cast<HANDLE>(f.handle);
}

// Advisory locks take one byte far beyond any data, so that they never
// block the reads and writes of other opens (Windows byte-range locks are
// mandatory), as the whole-file advisory locks of POSIX do not.
constexpr DWORD kLockOffsetHigh = 0x40000000;

// Each call moves at most this many bytes, within the range of a DWORD.
constexpr std::size_t kChunk = 1u << 30;

}  // namespace

std::string nativePath(const std::string& path) {
    return oemToUtf8(path);
}

bool openFile(const std::string& path, FileMode mode, File& file) {
    file.handle = -1;
    if (path.empty()) return false;
    DWORD access = 0, share = 0, disposition = 0;
    switch (mode) {
        case FileMode::ReadShared:
            access = GENERIC_READ;
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            disposition = OPEN_EXISTING;
            break;
        case FileMode::ReadWriteShared:
            access = GENERIC_READ | GENERIC_WRITE;
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            disposition = OPEN_ALWAYS;
            break;
        case FileMode::ReadWriteExisting:
            access = GENERIC_READ | GENERIC_WRITE;
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            disposition = OPEN_EXISTING;
            break;
        case FileMode::AppendExclusive:
            // Append access alone: every write goes to the end of the file.
            access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
            share = 0;
            disposition = OPEN_ALWAYS;
            break;
        case FileMode::CreateTruncate:
            access = GENERIC_READ | GENERIC_WRITE;
            share = FILE_SHARE_READ;
            disposition = CREATE_ALWAYS;
            break;
    }
    const std::wstring wide = win32::toWide(path);
    const HANDLE h = ::CreateFileW(wide.c_str(), access, share, nullptr, disposition,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    file.handle = reinterpret_cast<std::intptr_t>(h);
    return true;
}

std::int64_t readFile(File& file, void* buffer, std::size_t size) {
    if (!file.isOpen()) return -1;
    std::size_t done = 0;
    auto* p = static_cast<char*>(buffer);
    while (done < size) {
        const std::size_t want = size - done < kChunk ? size - done : kChunk;
        DWORD got = 0;
        if (!::ReadFile(handleOf(file), p + done, static_cast<DWORD>(want), &got, nullptr))
            return done > 0 ? static_cast<std::int64_t>(done) : -1;
        if (got == 0) break;
        done += got;
    }
    return static_cast<std::int64_t>(done);
}

bool writeFile(File& file, const void* buffer, std::size_t size) {
    if (!file.isOpen()) return false;
    std::size_t done = 0;
    const auto* p = static_cast<const char*>(buffer);
    while (done < size) {
        const std::size_t want = size - done < kChunk ? size - done : kChunk;
        DWORD put = 0;
        if (!::WriteFile(handleOf(file), p + done, static_cast<DWORD>(want), &put, nullptr) ||
            put == 0)
            return false;
        done += put;
    }
    return true;
}

bool seekFile(File& file, std::int64_t offset) {
    if (!file.isOpen() || offset < 0) return false;
    LONG high = static_cast<LONG>(offset >> 32);
    const DWORD low =
        ::SetFilePointer(handleOf(file), static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return false;
    return ((static_cast<std::int64_t>(high) << 32) | low) == offset;
}

std::int64_t fileSize(File& file) {
    if (!file.isOpen()) return -1;
    DWORD high = 0;
    const DWORD low = ::GetFileSize(handleOf(file), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return -1;
    return (static_cast<std::int64_t>(high) << 32) | low;
}

bool syncFile(File& file) {
    return file.isOpen() && ::FlushFileBuffers(handleOf(file)) != 0;
}

void closeFile(File& file) {
    if (file.isOpen()) ::CloseHandle(handleOf(file));
    file.handle = -1;
}

AppendResult appendWhole(const std::string& path, const void* bytes, std::size_t size) {
    if (path.empty() || size > kChunk) return AppendResult::Failed;
    // The share mode of AppendExclusive (none). Write access along with
    // append access lets a part-written line be cut off again; the write
    // itself goes to the end of the file through the offset 0xFFFFFFFF in
    // both halves.
    const std::wstring wide = win32::toWide(path);
    const HANDLE h = ::CreateFileW(
        wide.c_str(), FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
                   ? AppendResult::Held
                   : AppendResult::Failed;
    }
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD put = 0;
    const BOOL wrote = ::WriteFile(h, bytes, static_cast<DWORD>(size), &put, &atEnd);
    AppendResult result = AppendResult::Written;
    if (!wrote || put != size) {
        // Nobody else has the file open: the last `put` bytes are ours.
        LARGE_INTEGER end{};
        if (put > 0 && ::GetFileSizeEx(h, &end) && end.QuadPart >= static_cast<LONGLONG>(put)) {
            LARGE_INTEGER start{};
            start.QuadPart = end.QuadPart - static_cast<LONGLONG>(put);
            if (::SetFilePointerEx(h, start, nullptr, FILE_BEGIN)) ::SetEndOfFile(h);
        }
        result = AppendResult::Failed;
    }
    ::CloseHandle(h);
    return result;
}

bool deleteFile(const std::string& path) {
    if (path.empty()) return false;
    return ::DeleteFileW(win32::toWide(path).c_str()) != 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) return false;
    return ::MoveFileExW(win32::toWide(from).c_str(), win32::toWide(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

FileFault fileFault(int code) {
    switch (static_cast<DWORD>(code)) {
        case ERROR_WRITE_PROTECT: return FileFault::ReadOnlyFileSystem;
        case ERROR_TOO_MANY_OPEN_FILES: return FileFault::OutOfHandles;
        default: return FileFault::Other;
    }
}

FileFault lastFileFault() {
    return fileFault(static_cast<int>(::GetLastError()));
}

std::string lastFileErrorText() {
    const DWORD reason = ::GetLastError();
    switch (reason) {
        case ERROR_SUCCESS: return "";
        case ERROR_FILE_NOT_FOUND: return "no such file";
        case ERROR_PATH_NOT_FOUND: return "no such folder";
        case ERROR_ACCESS_DENIED: return "permission denied";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return "in use by another program";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return "no space left on device";
        case ERROR_WRITE_PROTECT: return "write-protected";
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA: return "the pipe was closed";
        default: return "system error " + std::to_string(reason);
    }
}

namespace {

// A native name (UTF-8) in wide characters, and back.
std::wstring wideFromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                              n);
    }
    return out;
}

std::string utf8FromWide(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                              nullptr, nullptr);
    }
    return out;
}

// The name the system gives an open file: the same for every path to it.
bool finalName(const std::wstring& path, std::wstring& out) {
    HANDLE h =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    wchar_t buffer[32768];
    const DWORD n = ::GetFinalPathNameByHandleW(h, buffer, 32768, FILE_NAME_NORMALIZED);
    ::CloseHandle(h);
    if (n == 0 || n >= 32768) return false;
    out.assign(buffer, n);
    // "\\?\C:\..." back to "C:\..."; UNC names keep their prefix.
    if (out.rfind(L"\\\\?\\", 0) == 0 && out.size() > 6 && out[5] == L':') out.erase(0, 4);
    return true;
}

}  // namespace

bool renameNativeFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) return false;
    return ::MoveFileExW(wideFromUtf8(from).c_str(), wideFromUtf8(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING) != 0;
}

bool linkNativeFile(const std::string& existing, const std::string& newName) {
    if (existing.empty() || newName.empty()) return false;
    return ::CreateHardLinkW(wideFromUtf8(newName).c_str(), wideFromUtf8(existing).c_str(),
                             nullptr) != 0;
}

bool removeNativeFile(const std::string& path) {
    return !path.empty() && ::DeleteFileW(wideFromUtf8(path).c_str()) != 0;
}

bool onReadOnlyFileSystem(const std::string& nativePath) {
    if (nativePath.empty()) return false;
    wchar_t volume[MAX_PATH + 1] = {};
    DWORD flags = 0;
    return ::GetVolumePathNameW(wideFromUtf8(nativePath).c_str(), volume, MAX_PATH + 1) != 0 &&
           ::GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) != 0 &&
           (flags & FILE_READ_ONLY_VOLUME) != 0;
}

std::vector<std::string> listNativeFolder(const std::string& path) {
    std::vector<std::string> names;
    std::wstring pattern = wideFromUtf8(path.empty() ? std::string(".") : path);
    if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = utf8FromWide(found.cFileName);
        if (name != "." && name != "..") names.push_back(name);
    } while (::FindNextFileW(search, &found) != 0);
    ::FindClose(search);
    return names;
}

std::string canonicalNativePath(const std::string& path) {
    if (path.empty()) return path;
    const std::wstring wide = wideFromUtf8(path);
    std::wstring resolved;
    if (finalName(wide, resolved)) return utf8FromWide(resolved);
    wchar_t buffer[32768];
    const DWORD n = ::GetFullPathNameW(wide.c_str(), 32768, buffer, nullptr);
    if (n == 0 || n >= 32768) return path;
    return utf8FromWide(std::wstring(buffer, n));
}

bool pathExists(const std::string& path) {
    if (path.empty()) return false;
    return ::GetFileAttributesW(win32::toWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool setCurrentDirectory(const std::string& path) {
    if (path.empty()) return false;
    return ::SetCurrentDirectoryW(win32::toWide(path).c_str()) != 0;
}

bool tryLockFile(File& file, bool exclusive) {
    if (!file.isOpen()) return false;
    // A lock held through this open is replaced, not stacked, as flock
    // converts it: first released, then taken in the new mode.
    unlockFile(file);
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return ::LockFileEx(handleOf(file), flags, 0, 1, 0, &at) != 0;
}

void unlockFile(File& file) {
    if (!file.isOpen()) return;
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    // Releases the lock of this open, if any; without one the call fails
    // harmlessly.
    ::UnlockFileEx(handleOf(file), 0, 1, 0, &at);
}

bool tryLockRange(File& file, std::uint64_t offset, std::uint64_t length, bool exclusive) {
    if (!file.isOpen()) return false;
    // Windows stacks locks of one open instead of replacing them.
    unlockRange(file, offset, length);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return ::LockFileEx(handleOf(file), flags, 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                        static_cast<DWORD>(length >> 32), &at) != 0;
}

void unlockRange(File& file, std::uint64_t offset, std::uint64_t length) {
    if (!file.isOpen()) return;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    ::UnlockFileEx(handleOf(file), 0, static_cast<DWORD>(length & 0xFFFFFFFFu),
                   static_cast<DWORD>(length >> 32), &at);
}

}  // namespace platform
