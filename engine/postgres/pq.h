// A small layer over libpq: a connection whose every exchange with the
// server ends within a bound, prepared statements, results, and the faults
// of a call as the record manager's statuses.
//
// Every statement is prepared; parameters and results travel in binary form
// (bytea as its bytes, bigint as 8 big-endian bytes, text as UTF-8).
//
// Bounds. Connecting ends within the connection timeout; every exchange (one
// statement sent, its answer read) within the call timeout. The waits are
// the client's own (the socket polled with a deadline), so they hold however
// the server or the network fail: a server that stops, a link that goes
// down, an address that drops packets. When an exchange runs out of time the
// connection is closed and counts as lost: the server ends that session and
// rolls its transaction back, and every later call on it gives status 95.
//
// Error texts never carry a password: libpq's messages are cleaned of the
// connection's password before they are kept (redact below).
#pragma once

#include <libpq-fe.h>

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/api.h"

namespace engine::pg {

// How long the waits last, in milliseconds.
struct Bounds {
    std::uint32_t connectMilliseconds = 10000;
    std::uint32_t callMilliseconds = 15000;
};

// One parameter of a statement, in binary form.
class Param {
public:
    static Param bytes(const unsigned char* data, std::size_t size);
    static Param bytes(std::string_view data);
    static Param int64(std::int64_t value);  // bigint
    static Param int32(std::int32_t value);  // integer
    static Param text(std::string_view utf8);
    static Param null();

    const char* data() const { return isNull_ ? nullptr : (inline_ ? small_.data() : data_); }
    int length() const { return static_cast<int>(size_); }
    int format() const { return binary_ ? 1 : 0; }

private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
    std::array<char, 8> small_{};
    bool inline_ = false;
    bool binary_ = true;
    bool isNull_ = false;
};

// The result of one statement; empty when the exchange failed.
class Result {
public:
    Result() = default;
    explicit Result(PGresult* r) : r_(r) {}

    explicit operator bool() const { return r_ != nullptr; }
    PGresult* get() const { return r_.get(); }
    int rows() const { return r_ ? PQntuples(r_.get()) : 0; }
    int columns() const { return r_ ? PQnfields(r_.get()) : 0; }
    bool isNull(int row, int column) const;
    // The column's bytes; empty for NULL or a row or column that is not there.
    std::span<const unsigned char> bytes(int row, int column) const;
    std::string_view text(int row, int column) const;
    // A bigint column (8 bytes); false when the column is not one.
    bool int64(int row, int column, std::int64_t& out) const;
    // A boolean column (1 byte).
    bool boolean(int row, int column, bool& out) const;
    // Rows changed by an INSERT, UPDATE or DELETE; -1 when not told.
    std::int64_t changed() const;

private:
    struct Clear {
        void operator()(PGresult* r) const { PQclear(r); }
    };
    std::unique_ptr<PGresult, Clear> r_;
};

// A statement prepared on demand, once per connection, under its name.
struct Statement {
    std::string name;
    std::string sql;
    int parameters = 0;
};

// What went wrong in the last call.
struct Fault {
    std::int16_t status = 0;  // 0: none
    std::string sqlState;     // the server's code, when it sent one
    std::string message;      // for diagnostics; free of passwords
};

class Connection {
public:
    // Connects with a libpq connection string or URI (its settings, the
    // service file, the password file and the TLS settings apply as libpq
    // reads them). On failure `fault` tells: 94 the server refused the
    // login (wrong or missing password, no such role, no access); 91 every
    // other failure (no server there, refused, timed out, bad settings).
    static std::unique_ptr<Connection> open(const std::string& conninfo, const Bounds& bounds,
                                            Fault& fault);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // True once the session has ended (lost, timed out, closed by the
    // server); every later call fails with status 95.
    bool lost() const { return conn_ == nullptr; }

    // Runs a prepared statement (preparing it first on this connection).
    // On failure the result is empty and fault() tells (statusForError).
    Result run(const Statement& statement, std::span<const Param> params);
    Result run(const Statement& statement, std::initializer_list<Param> params) {
        return run(statement, std::span<const Param>(params.begin(), params.size()));
    }

    // Runs `sql` once, unprepared (DDL, transaction control), with
    // `params`; as run otherwise.
    Result runOnce(const std::string& sql, std::span<const Param> params = {});

    // The fault of the last run (status 0 after a success).
    const Fault& fault() const { return fault_; }

    // Quotes `name` as an SQL identifier (PQescapeIdentifier); empty when
    // the name cannot be one (no connection, not valid in the encoding).
    std::string quote(std::string_view name) const;

    // The server's process id for this session (for tests that end it).
    int serverProcess() const { return conn_ ? PQbackendPID(conn_) : 0; }

    // Exchanges (statements sent and answered) so far: round trips.
    std::uint64_t exchanges() const { return exchanges_; }

    // Gives the connection up without a word to the server: for a child
    // process after a fork, whose copy of the parent's connection must
    // not end the parent's session. The connection then counts as lost.
    void abandon();

private:
    Connection(PGconn* conn, const Bounds& bounds, std::string password);
    enum class Send { Prepare, Prepared, Once };
    bool send(const Statement& statement, std::span<const Param> params, Send how);
    bool flush();
    Result await();
    Result check(Result r);
    void fail(std::int16_t status, std::string sqlState, std::string message);
    void drop(std::string message);

    PGconn* conn_ = nullptr;
    Bounds bounds_;
    std::string password_;  // only to keep it out of messages
    std::unordered_set<std::string> prepared_;
    Fault fault_;
    std::uint64_t exchanges_ = 0;
};

// The status for a failed statement, from its SQLSTATE: 5 a unique key
// already holds the value; 85 a lock not had within the wait, or a statement
// cancelled by its time limit; 78 a deadlock broken; 18 the server's disk
// full or out of resources; 46 the server or database is read-only; 94 no
// privilege for the table or the login refused; 95 the session ended (the
// server shut down or restarted, the connection failed); 2 every other one.
std::int16_t statusForError(std::string_view sqlState);

// `message` with every occurrence of `secret` replaced by "********"
// (nothing replaced when the secret is empty).
std::string redact(std::string message, std::string_view secret);

// The password a connection string names (its "password" setting), or empty.
std::string passwordOf(const std::string& conninfo);

}  // namespace engine::pg
