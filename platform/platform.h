// The operating-system layer: the only code that includes an OS header.
//
// Every text that crosses this interface is 8-bit text in the console (OEM)
// code page, as the rest of the program keeps it. The implementation converts
// to what the system wants (UTF-8 file names and terminal output on POSIX,
// wide characters on Windows). There is one implementation per system behind
// this header: platform/posix and platform/win32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// ---------------------------------------------------------------- code page

// Selects the console code page for every conversion that follows. On POSIX
// the code page is 850 unless the environment variable NUBO_CODEPAGE names
// another supported one (850 or 437); on Windows it is the console's output
// code page. Safe to call more than once.
void selectConsoleCodePage();

// The code page in force (850 until selectConsoleCodePage picks another).
int consoleCodePage();

// Converts console code-page text to UTF-8. Every byte value has a mapping,
// so the conversion never fails; zero bytes are kept.
std::string oemToUtf8(const std::string& oem);

// Converts UTF-8 text to the console code page. A character the code page
// cannot hold, or a malformed UTF-8 sequence, becomes "?".
std::string utf8ToOem(const std::string& utf8);

// ---------------------------------------------------------------- environment

// The value of an environment variable in the console code page; an unset
// variable reads as the empty text (set and empty are the same).
std::string getEnvironmentVariable(const std::string& name);

// ---------------------------------------------------------------- files

// How a file is opened; each mode is one of the share modes the program uses.
enum class FileMode {
    // Read only, never created; others may read and write meanwhile.
    ReadShared,
    // Read and write, created empty when missing; others may read and write.
    ReadWriteShared,
    // Read and write, never created; others may read and write meanwhile.
    ReadWriteExisting,
    // Write at the end only, created when missing, and refused while another
    // process holds the file open in this mode (no sharing for the write).
    AppendExclusive,
    // Read and write, created or emptied; others may read. Used by tools.
    CreateTruncate,
};

// An open file. A default-constructed File is closed.
struct File {
    std::intptr_t handle = -1;
    bool isOpen() const { return handle != -1; }
};

// Opens `path` in `mode`. Returns false (and leaves `file` closed) when the
// file cannot be opened: missing (for ReadShared), no access, an empty or
// invalid path, or held by another process (for AppendExclusive).
bool openFile(const std::string& path, FileMode mode, File& file);

// Reads up to `size` bytes at the current position. Returns the number read
// (0 at the end of the file) or -1 on a read error.
std::int64_t readFile(File& file, void* buffer, std::size_t size);

// Writes `size` bytes at the current position (at the end for
// AppendExclusive). Returns false unless every byte was written.
bool writeFile(File& file, const void* buffer, std::size_t size);

// Moves the position to `offset` bytes from the start. False on failure.
bool seekFile(File& file, std::int64_t offset);

// The file's length in bytes, or -1 when it cannot be told.
std::int64_t fileSize(File& file);

// Flushes written bytes to stable storage. False on failure.
bool syncFile(File& file);

// Closes the file; closing a closed File does nothing.
void closeFile(File& file);

// How appendWhole went.
enum class AppendResult {
    Written,  // every byte was appended
    Held,     // another process holds the file (no sharing): nothing written
    Failed,   // cannot be opened or written; nothing of it is left in the file
};

// Appends `size` bytes to the file at `path` (created when missing) in one
// open, one write and one close, opened as AppendExclusive: while it is open
// no other open in that mode gets the file, so the bytes land whole after
// every earlier append, never interleaved with another writer's. A write
// that goes through only in part (a full disk, a file-size limit) is taken
// back before the close, which touches only these bytes because nobody else
// can append meanwhile.
AppendResult appendWhole(const std::string& path, const void* bytes, std::size_t size);

// An open file closed when it goes out of scope.
class ScopedFile {
public:
    ScopedFile() = default;
    ~ScopedFile() { closeFile(file_); }
    ScopedFile(ScopedFile&& other) noexcept : file_(other.file_) { other.file_ = File{}; }
    ScopedFile& operator=(ScopedFile&& other) noexcept {
        if (this != &other) {
            closeFile(file_);
            file_ = other.file_;
            other.file_ = File{};
        }
        return *this;
    }
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;

    // The file, for the functions above (openFile opens it).
    File& get() { return file_; }
    bool isOpen() const { return file_.isOpen(); }
    void close() { closeFile(file_); }

private:
    File file_;
};

// Deletes the file at `path`. False when it does not exist or cannot be
// deleted.
bool deleteFile(const std::string& path);

// Puts the file `from` in the place of `to` in one step, replacing an
// existing `to`; both in one folder. False on failure.
bool replaceFile(const std::string& from, const std::string& to);

// The reason the last failed file operation above gave, in words and lower
// case ("permission denied", "no space left on device"); empty when there
// is none to tell.
std::string lastFileErrorText();

// The kinds of failure the record manager tells apart by their cause.
enum class FileFault {
    Other,
    ReadOnlyFileSystem,  // the file system is mounted read-only (EROFS)
    OutOfHandles,        // no file handle left, in the process or the system (EMFILE, ENFILE)
};

// The kind of the system error code `code`: errno on POSIX, GetLastError's
// value on Windows (as SQLite's sqlite3_system_errno reports it).
FileFault fileFault(int code);

// The kind of failure of the last failed file operation above.
FileFault lastFileFault();

// True when the file or folder at `nativePath` lies on a file system
// mounted read-only (a write-protected volume on Windows).
bool onReadOnlyFileSystem(const std::string& nativePath);

// True when `path` names an existing file or directory.
bool pathExists(const std::string& path);

// Makes `path` the process's current directory. False on failure.
bool setCurrentDirectory(const std::string& path);

// Turns a program path into the system's own form. On POSIX: "\" and "/"
// both separate components; the text is converted to UTF-8; and a component
// that does not exist with its exact letter case is matched without regard to
// case among the entries of its directory (the first match in name order),
// so names written for Windows find files copied from a Windows
// installation. A drive prefix such as "D:" is kept as a plain name. On
// Windows: the text converted to UTF-8 (the 8-bit form SQLite takes), with
// separators and letter case as written, since the system resolves both.
// Used by every file operation above; exposed for the record manager and the
// tools.
std::string nativePath(const std::string& path);

// Files named in the system's own form (nativePath's result, the names
// SQLite is given), for the record manager's files and their companions.
//
// Renames `from` to `to`, replacing a file `to` that exists. False on
// failure (on Windows also while either file is open).
bool renameNativeFile(const std::string& from, const std::string& to);
// Gives the file `existing` a second name `newName` (a hard link). False
// when `newName` exists, or the file system has no hard links.
bool linkNativeFile(const std::string& existing, const std::string& newName);
// Deletes the file. False when it does not exist or cannot be deleted.
bool removeNativeFile(const std::string& path);
// The absolute form of `path` with links and "." and ".." resolved, the same
// for every name of one existing file; for a file that does not exist, the
// resolved folder and the last component; `path` itself when neither works.
std::string canonicalNativePath(const std::string& path);

// The names of the entries of the folder `path` (system's form), "." and
// ".." left out, in no particular order; empty when it cannot be read.
std::vector<std::string> listNativeFolder(const std::string& path);

// Takes an advisory lock on the whole of an open file, without waiting:
// shared (many holders) or exclusive (one holder, no shared ones). Returns
// false when another open of the file holds a conflicting lock. Locks are
// released by unlockFile or when the file is closed.
bool tryLockFile(File& file, bool exclusive);
void unlockFile(File& file);

// Advisory locks on byte ranges of an open file, apart from the whole-file
// lock above, without waiting. Held by this open of the file (not by the
// process: closing another handle of the file keeps them); a lock taken
// again through the same open replaces the earlier one on that range.
// Returns false when another open holds a conflicting lock on the range.
bool tryLockRange(File& file, std::uint64_t offset, std::uint64_t length, bool exclusive);
void unlockRange(File& file, std::uint64_t offset, std::uint64_t length);

// ---------------------------------------------------------------- time

struct LocalDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

// Today's date on the local calendar. Goes through the clock set by setClock.
LocalDate localDate();

// Replaces the clock that localDate reads; nullptr restores the system clock.
// Tests fix the date this way.
using ClockFunction = LocalDate (*)();
void setClock(ClockFunction clock);

// Suspends the process for `milliseconds`.
void sleepMilliseconds(std::uint32_t milliseconds);

// Sounds the console bell once (goes through the console back end).
void beep();

}  // namespace platform
