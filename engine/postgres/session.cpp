#include "engine/postgres/session.h"

#include "engine/postgres/names.h"
#include "engine/settings.h"
#include "platform/socket_wait.h"

namespace engine::pg {
namespace {

std::map<std::string, std::shared_ptr<Session>>& sessions() {
    // Never destroyed: files closed while the process exits still find it.
    static auto* s = new std::map<std::string, std::shared_ptr<Session>>();
    return *s;
}

const Statement setUpStatement{"nubo_setup",
                               "SELECT set_config('lock_timeout', $1, false), "
                               "set_config('statement_timeout', $2, false), "
                               "set_config('synchronous_commit', $3, false), "
                               "set_config('idle_in_transaction_session_timeout', $4, false), "
                               "set_config('tcp_keepalives_idle', '5', false), "
                               "set_config('tcp_keepalives_interval', '2', false), "
                               "set_config('tcp_keepalives_count', '3', false), "
                               "set_config('tcp_user_timeout', $4, false)",
                               4};

const Statement lockShared{"nubo_lock_shared", "SELECT pg_try_advisory_lock_shared($1, $2)", 2};
const Statement lockExclusive{"nubo_lock", "SELECT pg_try_advisory_lock($1, $2)", 2};
const Statement unlockShared{"nubo_unlock_shared", "SELECT pg_advisory_unlock_shared($1, $2)", 2};
const Statement unlockExclusive{"nubo_unlock", "SELECT pg_advisory_unlock($1, $2)", 2};
const Statement lockRowStatement{"nubo_lock_row", "SELECT pg_try_advisory_lock($1::bigint)", 1};
const Statement unlockRowStatement{"nubo_unlock_row", "SELECT pg_advisory_unlock($1::bigint)", 1};
// True when no other session holds the key: taken and given back at once.
const Statement probeRowStatement{
    "nubo_probe_row",
    "SELECT CASE WHEN pg_try_advisory_lock($1::bigint) THEN pg_advisory_unlock($1::bigint) "
    "ELSE false END",
    1};
const Statement beginStatement{"nubo_begin", "BEGIN", 0};
const Statement commitStatement{"nubo_commit", "COMMIT", 0};
const Statement rollbackStatement{"nubo_rollback", "ROLLBACK", 0};

}  // namespace

Bounds boundsFor(const ServerMap& map) {
    Bounds b;
    b.connectMilliseconds = map.connectSeconds * 1000;
    b.callMilliseconds = map.callSeconds * 1000 + settings().busyMilliseconds;
    return b;
}

bool Session::lost() {
    if (process_ != platform::processId() && !conn_->lost()) {
        conn_->abandon();
        holds_.clear();
        rowLocks_.clear();
        transaction_ = 0;
    }
    return conn_->lost();
}

std::int32_t Session::schemaKey(const std::string& schema) {
    return static_cast<std::int32_t>(nameHash(schema));
}

std::int16_t Session::forServer(const ServerMap& map, std::shared_ptr<Session>& out, Fault& fault) {
    const Bounds bounds = boundsFor(map);
    const std::string key = std::to_string(bounds.connectMilliseconds) + " " +
                            std::to_string(bounds.callMilliseconds) + " " +
                            std::to_string(map.readAheadMilliseconds) + " " + map.server;
    auto& all = sessions();
    if (auto it = all.find(key); it != all.end() && !it->second->lost()) {
        out = it->second;
        return status::ok;
    }
    fault = Fault{};
    std::unique_ptr<Connection> conn = Connection::open(map.server, bounds, fault);
    if (!conn) return fault.status;
    std::shared_ptr<Session> session(new Session(std::move(conn), bounds, platform::processId()));
    session->readAhead_ = map.readAheadMilliseconds;
    if (const std::int16_t st = session->setUp(); st != status::ok) {
        fault = session->conn_->fault();
        return st == status::sessionLost ? status::serverError : st;
    }
    all[key] = session;
    out = std::move(session);
    return status::ok;
}

std::int16_t Session::setUp() {
    const std::uint32_t busy = settings().busyMilliseconds;
    // A lock_timeout of 0 would wait without end.
    const std::string lockWait = std::to_string(busy == 0 ? 1 : busy) + "ms";
    const std::string statementLimit =
        std::to_string(busy + (bounds_.callMilliseconds - busy) / 2) + "ms";
    const std::string idleLimit = std::to_string(bounds_.callMilliseconds) + "ms";
    const Result r = conn_->run(
        setUpStatement, {Param::text(lockWait), Param::text(statementLimit),
                         Param::text(settings().fullSync ? "on" : "off"), Param::text(idleLimit)});
    return r ? status::ok : conn_->fault().status;
}

std::int16_t Session::lockFile(const std::string& schema, std::int32_t fileId, bool exclusive) {
    const auto key = std::make_pair(schema, fileId);
    if (auto it = holds_.find(key); it != holds_.end()) {
        if (it->second.exclusive || exclusive) return status::fileLocked;
        ++it->second.holders;
        return status::ok;
    }
    const Result r = conn_->run(exclusive ? lockExclusive : lockShared,
                                {Param::int32(schemaKey(schema)), Param::int32(fileId)});
    if (!r) return conn_->fault().status;
    bool taken = false;
    if (!r.boolean(0, 0, taken)) return status::ioError;
    if (!taken) return status::fileLocked;
    holds_[key] = Hold{1, exclusive};
    return status::ok;
}

void Session::unlockFile(const std::string& schema, std::int32_t fileId) {
    const auto key = std::make_pair(schema, fileId);
    auto it = holds_.find(key);
    if (it == holds_.end() || --it->second.holders > 0) return;
    const bool exclusive = it->second.exclusive;
    holds_.erase(it);
    // A lost session has lost its locks with it.
    if (!lost()) {
        conn_->run(exclusive ? unlockExclusive : unlockShared,
                   {Param::int32(schemaKey(schema)), Param::int32(fileId)});
    }
}

std::int16_t Session::begin(std::uint64_t& which) {
    if (transaction_ == 0) {
        if (!connection().run(beginStatement, std::span<const Param>())) {
            return conn_->fault().status;
        }
        transaction_ = ++transactions_;
    }
    which = transaction_;
    return status::ok;
}

std::int16_t Session::commit(std::uint64_t which) {
    if (transaction_ == 0 || transaction_ != which) return status::ok;
    transaction_ = 0;
    ++transactionEnds_;
    if (!connection().run(commitStatement, std::span<const Param>())) return conn_->fault().status;
    return status::ok;
}

void Session::rollback(std::uint64_t which) {
    if (transaction_ == 0 || transaction_ != which) return;
    transaction_ = 0;
    ++transactionEnds_;
    // A lost session's transaction was rolled back by the server.
    if (!lost()) conn_->run(rollbackStatement, std::span<const Param>());
}

bool Session::lockRow(std::int64_t key) {
    if (auto it = rowLocks_.find(key); it != rowLocks_.end()) {
        ++it->second;
        return true;
    }
    const Result r = connection().run(lockRowStatement, {Param::int64(key)});
    bool taken = false;
    if (!r || !r.boolean(0, 0, taken) || !taken) return false;
    rowLocks_[key] = 1;
    return true;
}

void Session::unlockRow(std::int64_t key) {
    auto it = rowLocks_.find(key);
    if (it == rowLocks_.end() || --it->second > 0) return;
    rowLocks_.erase(it);
    if (!lost()) conn_->run(unlockRowStatement, {Param::int64(key)});
}

bool Session::heldElsewhere(std::int64_t key) {
    if (rowLocks_.count(key) != 0) return false;
    const Result r = connection().run(probeRowStatement, {Param::int64(key)});
    bool free = false;
    // A lost session cannot tell; the write that follows gives 95.
    if (!r || !r.boolean(0, 0, free)) return false;
    return !free;
}

bool Session::fileOpenHere(const std::string& schema, std::int32_t fileId) const {
    return holds_.count(std::make_pair(schema, fileId)) != 0;
}

}  // namespace engine::pg
