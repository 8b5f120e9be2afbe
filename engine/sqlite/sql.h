// Small helpers over the SQLite C interface.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace engine::sqlite {

// A prepared statement, finalized when it goes out of scope.
class Statement {
public:
    Statement() = default;
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(Statement&& other) noexcept : stmt_(other.stmt_) { other.stmt_ = nullptr; }
    Statement& operator=(Statement&& other) noexcept {
        if (this != &other) {
            sqlite3_finalize(stmt_);
            stmt_ = other.stmt_;
            other.stmt_ = nullptr;
        }
        return *this;
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Prepares `sql` on `db` (kept across calls); returns the SQLite result.
    int prepare(sqlite3* db, const std::string& sql);
    bool prepared() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement when the scope ends, so that it holds no read
// transaction between calls.
class ResetOnExit {
public:
    explicit ResetOnExit(sqlite3_stmt* stmt) : stmt_(stmt) {}
    ~ResetOnExit() { sqlite3_reset(stmt_); }
    ResetOnExit(const ResetOnExit&) = delete;
    ResetOnExit& operator=(const ResetOnExit&) = delete;

private:
    sqlite3_stmt* stmt_;
};

// The status for a failed SQLite call (an extended result code): 85 while
// another process holds the file, 5 for a unique-key violation, 18 when the
// disk is full, 46 when the file cannot be written, 2 for damage (a
// corrupt page or header, SQLITE_CORRUPT and SQLITE_NOTADB) and every other
// failure.
std::int16_t statusFromSqlite(int resultCode);

// The status of a failure the system caused, by its cause: 46 for a file
// system mounted read-only, 87 when no file handle is left; `otherwise` for
// every other cause. `systemCode` is errno on POSIX, GetLastError's value on
// Windows.
std::int16_t statusFromSystem(int systemCode, std::int16_t otherwise);

// A native path as SQLite must be given it: one that starts like a URI
// ("file:") is made relative to the current folder, so it names a file.
std::string sqlitePath(const std::string& nativePath);

// Runs SQL that returns no rows; returns the SQLite result.
int execute(sqlite3* db, const char* sql);

}  // namespace engine::sqlite
