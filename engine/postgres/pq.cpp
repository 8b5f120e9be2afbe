#include "engine/postgres/pq.h"

#include <chrono>
#include <cstring>

#include "platform/socket_wait.h"

namespace engine::pg {
namespace {

using Clock = std::chrono::steady_clock;

std::uint32_t millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0u : static_cast<std::uint32_t>(left);
}

// The server's notices (of a cascading drop, say) are not the program's to
// show: its console belongs to its screens.
void ignoreNotice(void*, const char*) {}

std::string errorText(const PGconn* conn) {
    const char* m = conn ? PQerrorMessage(conn) : nullptr;
    std::string s = m ? m : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

}  // namespace

// ---------------------------------------------------------------- Param

Param Param::bytes(const unsigned char* data, std::size_t size) {
    Param p;
    p.data_ = reinterpret_cast<const char*>(data);
    p.size_ = size;
    return p;
}

Param Param::bytes(std::string_view data) {
    return bytes(reinterpret_cast<const unsigned char*>(data.data()), data.size());
}

Param Param::int64(std::int64_t value) {
    Param p;
    auto u = static_cast<std::uint64_t>(value);
    for (int i = 7; i >= 0; --i) {
        p.small_[static_cast<std::size_t>(i)] = static_cast<char>(u & 0xff);
        u >>= 8;
    }
    p.inline_ = true;
    p.size_ = 8;
    return p;
}

Param Param::int32(std::int32_t value) {
    Param p;
    auto u = static_cast<std::uint32_t>(value);
    for (int i = 3; i >= 0; --i) {
        p.small_[static_cast<std::size_t>(i)] = static_cast<char>(u & 0xff);
        u >>= 8;
    }
    p.inline_ = true;
    p.size_ = 4;
    return p;
}

Param Param::text(std::string_view utf8) {
    // Binary text is the text's bytes; no terminating zero is needed.
    Param p;
    p.data_ = utf8.data();
    p.size_ = utf8.size();
    return p;
}

Param Param::null() {
    Param p;
    p.isNull_ = true;
    return p;
}

// ---------------------------------------------------------------- Result

bool Result::isNull(int row, int column) const {
    if (!r_ || row < 0 || row >= rows() || column < 0 || column >= columns()) return true;
    return PQgetisnull(r_.get(), row, column) != 0;
}

std::span<const unsigned char> Result::bytes(int row, int column) const {
    if (isNull(row, column)) return {};
    const int n = PQgetlength(r_.get(), row, column);
    if (n <= 0) return {};
    return {reinterpret_cast<const unsigned char*>(PQgetvalue(r_.get(), row, column)),
            static_cast<std::size_t>(n)};
}

std::string_view Result::text(int row, int column) const {
    const auto b = bytes(row, column);
    return {reinterpret_cast<const char*>(b.data()), b.size()};
}

bool Result::int64(int row, int column, std::int64_t& out) const {
    const auto b = bytes(row, column);
    if (b.size() != 8) return false;
    std::uint64_t u = 0;
    for (unsigned char c : b) u = (u << 8) | c;
    out = static_cast<std::int64_t>(u);
    return true;
}

bool Result::boolean(int row, int column, bool& out) const {
    const auto b = bytes(row, column);
    if (b.size() != 1) return false;
    out = b[0] != 0;
    return true;
}

std::int64_t Result::changed() const {
    if (!r_) return -1;
    const char* n = PQcmdTuples(r_.get());
    if (n == nullptr || *n == '\0') return -1;
    std::int64_t v = 0;
    for (; *n != '\0'; ++n) {
        if (*n < '0' || *n > '9' || v > (INT64_MAX - 9) / 10) return -1;
        v = v * 10 + (*n - '0');
    }
    return v;
}

// ---------------------------------------------------------------- faults

std::int16_t statusForError(std::string_view state) {
    if (state.size() != 5) return status::ioError;
    if (state == "23505") return status::duplicateKey;
    if (state == "55P03" || state == "57014" || state == "40001") return status::fileLocked;
    if (state == "40P01") return status::deadlock;
    if (state.substr(0, 2) == "53") return status::diskFull;
    if (state == "25006") return status::accessDenied;
    if (state == "42501" || state.substr(0, 2) == "28") return status::permissionError;
    if (state.substr(0, 2) == "08" || state.substr(0, 3) == "57P") return status::sessionLost;
    return status::ioError;
}

std::string redact(std::string message, std::string_view secret) {
    if (secret.empty()) return message;
    for (std::size_t at = message.find(secret); at != std::string::npos;
         at = message.find(secret, at + 8)) {
        message.replace(at, secret.size(), "********");
    }
    return message;
}

std::string passwordOf(const std::string& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    PQfreemem(error);
    std::string password;
    if (options != nullptr) {
        for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
            if (std::strcmp(o->keyword, "password") == 0 && o->val != nullptr) password = o->val;
        }
        PQconninfoFree(options);
    }
    return password;
}

// ---------------------------------------------------------------- Connection

std::unique_ptr<Connection> Connection::open(const std::string& conninfo, const Bounds& bounds,
                                             Fault& fault) {
    fault = Fault{};
    // Settings before the connection string are defaults it may change;
    // those after it are the engine's own. Keepalives and the TCP user
    // timeout let the operating system notice a dead peer on its own too.
    const std::string userTimeout = std::to_string(bounds.callMilliseconds);
    const char* keywords[] = {"keepalives",
                              "keepalives_idle",
                              "keepalives_interval",
                              "keepalives_count",
                              "tcp_user_timeout",
                              "dbname",
                              "fallback_application_name",
                              "client_encoding",
                              nullptr};
    const char* values[] = {"1",      "5",    "2",    "3", userTimeout.c_str(), conninfo.c_str(),
                            "nubodb", "UTF8", nullptr};
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(bounds.connectMilliseconds);
    PGconn* conn = PQconnectStartParams(keywords, values, 1);
    if (conn == nullptr) {
        fault = {status::serverError, {}, "out of memory"};
        return nullptr;
    }
    const std::string given = passwordOf(conninfo);
    auto failWith = [&](std::int16_t st, std::string message) {
        const char* used = PQpass(conn);
        message = redact(redact(std::move(message), given), used ? used : "");
        fault = {st, {}, std::move(message)};
        PQfinish(conn);
        return nullptr;
    };
    if (PQstatus(conn) == CONNECTION_BAD) {
        return failWith(status::serverError, errorText(conn));
    }
    PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
    while (polling != PGRES_POLLING_OK) {
        if (polling == PGRES_POLLING_FAILED) {
            // A server that asked for a password and refused the one given,
            // or got none: the login, not the server, is at fault.
            const bool login = PQconnectionNeedsPassword(conn) || PQconnectionUsedPassword(conn);
            return failWith(login ? status::permissionError : status::serverError, errorText(conn));
        }
        const platform::SocketWait w = platform::waitForSocket(
            PQsocket(conn), polling == PGRES_POLLING_WRITING, millisecondsLeft(deadline));
        if (w == platform::SocketWait::TimedOut) {
            return failWith(status::serverError, "no answer from the server in time");
        }
        if (w == platform::SocketWait::Failed) {
            return failWith(status::serverError, "the connection's socket failed");
        }
        polling = PQconnectPoll(conn);
    }
    PQsetNoticeProcessor(conn, ignoreNotice, nullptr);
    if (PQsetnonblocking(conn, 1) != 0) {
        return failWith(status::serverError, errorText(conn));
    }
    const char* used = PQpass(conn);
    return std::unique_ptr<Connection>(
        new Connection(conn, bounds, used && *used ? std::string(used) : given));
}

Connection::Connection(PGconn* conn, const Bounds& bounds, std::string password)
    : conn_(conn), bounds_(bounds), password_(std::move(password)) {}

Connection::~Connection() {
    if (conn_ != nullptr) PQfinish(conn_);
}

std::string Connection::quote(std::string_view name) const {
    if (conn_ == nullptr) return {};
    char* q = PQescapeIdentifier(conn_, name.data(), name.size());
    if (q == nullptr) return {};
    std::string s(q);
    PQfreemem(q);
    return s;
}

void Connection::abandon() {
    // The libpq object is left as it is: freeing it would tell the server
    // the session ends. The socket is the parent's too, so it stays open.
    conn_ = nullptr;
    prepared_.clear();
}

void Connection::fail(std::int16_t st, std::string sqlState, std::string message) {
    fault_ = {st, std::move(sqlState), redact(std::move(message), password_)};
}

void Connection::drop(std::string message) {
    fail(status::sessionLost, {}, std::move(message));
    if (conn_ != nullptr) {
        // Closing the socket is all the server needs to end the session
        // and roll back what it had open.
        PQfinish(conn_);
        conn_ = nullptr;
    }
    prepared_.clear();
}

bool Connection::flush() {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(bounds_.callMilliseconds);
    for (;;) {
        const int f = PQflush(conn_);
        if (f == 0) return true;
        if (f < 0) {
            drop(errorText(conn_));
            return false;
        }
        const platform::SocketWait w =
            platform::waitForSocket(PQsocket(conn_), true, millisecondsLeft(deadline));
        if (w == platform::SocketWait::TimedOut) {
            drop("the server took no data in time");
            return false;
        }
        if (w == platform::SocketWait::Failed) {
            drop("the connection's socket failed");
            return false;
        }
        // Reading while waiting to write keeps the server from stalling on
        // its own full buffer.
        if (PQconsumeInput(conn_) == 0) {
            drop(errorText(conn_));
            return false;
        }
    }
}

bool Connection::send(const Statement& s, std::span<const Param> params, Send how) {
    ++exchanges_;
    int ok = 0;
    if (how == Send::Prepare) {
        ok = PQsendPrepare(conn_, s.name.c_str(), s.sql.c_str(), s.parameters, nullptr);
    } else {
        std::vector<const char*> values;
        std::vector<int> lengths;
        std::vector<int> formats;
        values.reserve(params.size());
        for (const Param& p : params) {
            values.push_back(p.data());
            lengths.push_back(p.length());
            formats.push_back(p.format());
        }
        ok = how == Send::Once
                 ? PQsendQueryParams(conn_, s.sql.c_str(), static_cast<int>(params.size()), nullptr,
                                     values.data(), lengths.data(), formats.data(), 1)
                 : PQsendQueryPrepared(conn_, s.name.c_str(), static_cast<int>(params.size()),
                                       values.data(), lengths.data(), formats.data(), 1);
    }
    if (ok == 0) {
        drop(errorText(conn_));
        return false;
    }
    return flush();
}

Result Connection::await() {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(bounds_.callMilliseconds);
    Result last;
    for (;;) {
        while (PQisBusy(conn_) == 0) {
            PGresult* r = PQgetResult(conn_);
            if (r == nullptr) {
                if (!last) drop(errorText(conn_));
                return last;
            }
            // The first result that tells of an error is the one kept.
            if (!last || PQresultStatus(r) == PGRES_FATAL_ERROR) {
                last = Result(r);
            } else {
                PQclear(r);
            }
        }
        const platform::SocketWait w =
            platform::waitForSocket(PQsocket(conn_), false, millisecondsLeft(deadline));
        if (w == platform::SocketWait::TimedOut) {
            drop("no answer from the server in time");
            return {};
        }
        if (w == platform::SocketWait::Failed || PQconsumeInput(conn_) == 0) {
            drop(errorText(conn_));
            return {};
        }
    }
}

// A failed result: the fault from the server's code, and the connection
// dropped when the session is gone with it.
Result Connection::check(Result r) {
    const ExecStatusType st = PQresultStatus(r.get());
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) return r;
    const char* state = PQresultErrorField(r.get(), PG_DIAG_SQLSTATE);
    const char* message = PQresultErrorMessage(r.get());
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (PQstatus(conn_) == CONNECTION_BAD) {
        drop(std::move(text));
        return {};
    }
    const std::string code = state ? state : "";
    const std::int16_t status = statusForError(code);
    if (status == status::sessionLost) {
        drop(std::move(text));
        fault_.sqlState = code;
        return {};
    }
    fail(status, code, std::move(text));
    return {};
}

Result Connection::run(const Statement& s, std::span<const Param> params) {
    fault_ = Fault{};
    if (conn_ == nullptr) {
        fail(status::sessionLost, {}, "the session with the server has ended");
        return {};
    }
    if (!prepared_.contains(s.name)) {
        if (!send(s, params, Send::Prepare)) return {};
        Result r = await();
        if (!r || !check(std::move(r))) return {};
        prepared_.insert(s.name);
    }
    if (!send(s, params, Send::Prepared)) return {};
    Result r = await();
    if (!r) return {};
    return check(std::move(r));
}

Result Connection::runOnce(const std::string& sql, std::span<const Param> params) {
    fault_ = Fault{};
    if (conn_ == nullptr) {
        fail(status::sessionLost, {}, "the session with the server has ended");
        return {};
    }
    const Statement s{{}, sql, static_cast<int>(params.size())};
    if (!send(s, params, Send::Once)) return {};
    Result r = await();
    if (!r) return {};
    return check(std::move(r));
}

}  // namespace engine::pg
