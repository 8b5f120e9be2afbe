// The process's sessions with PostgreSQL servers: one connection per server
// (per connection string and bounds), shared by every open of a data file
// there, and the open-mode locks taken through it.
//
// A session is set up once when it connects: its lock wait (lock_timeout)
// is the engine's busy wait, so a row or table held by another machine for
// longer gives status 85; its statement time limit lies inside the client's
// wait, so a slow server gives 85 rather than a lost session; commits are
// flushed as the engine's sync setting asks (synchronous_commit "on" for
// NUBO_ENGINE_SYNC=FULL, else "off": a commit returns before its log record
// reaches the server's disk, and a crash of the server's machine may lose the
// last moments of commits, never a part of one); and the server watches the
// workstation with TCP keepalives and a user timeout, so the locks of a
// workstation that vanished are freed within seconds.
//
// Open-mode locks are session-level advisory locks keyed by (schema hash,
// file id): a normal open holds the shared lock, an exclusive open the
// exclusive one, so an exclusive open excludes every other open on every
// machine. Opens in this process share the session's one lock per file and
// are counted here. A session that ends takes its locks with it.
//
// Every function here runs under the front's lock, one call at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/postgres/pq.h"
#include "engine/postgres/server_map.h"

namespace engine::pg {

class Session {
public:
    // The live session for `map`'s server, connecting when there is none or
    // the last one was lost. Statuses: 91 no session could be made; 94 the
    // server refused the login.
    // `fault` tells why (free of passwords).
    static std::int16_t forServer(const ServerMap& map, std::shared_ptr<Session>& out,
                                  Fault& fault);

    // The session's connection (a lost one, after a fork, in the child).
    Connection& connection() {
        lost();
        return *conn_;
    }
    // Lost, or inherited from the parent of a fork (abandoned on the spot).
    bool lost();
    // The wait of one exchange (for statuses that name it).
    const Bounds& bounds() const { return bounds_; }
    // How long rows read ahead serve steps (server_map.h).
    std::uint32_t readAheadMilliseconds() const { return readAhead_; }
    // Counts the writes through this session to each file (by the file's
    // 32-bit key, table.h; two files sharing a key only count each other's
    // writes too) and the ends of transactions: rows read ahead of a file
    // before the last write to it, or before a transaction ended, are not
    // used again.
    void noteWrite(std::int32_t file) { ++fileWrites_[file]; }
    std::uint64_t writes(std::int32_t file) const {
        const auto it = fileWrites_.find(file);
        return transactionEnds_ + (it == fileWrites_.end() ? 0 : it->second);
    }

    // Takes the open-mode lock of file `fileId` in schema `schema`.
    // Statuses: 85 another open (here or on any machine) conflicts with the
    // mode; 95 the session is gone.
    std::int16_t lockFile(const std::string& schema, std::int32_t fileId, bool exclusive);
    // Gives one hold of the lock up; the lock goes with the last one.
    void unlockFile(const std::string& schema, std::int32_t fileId);
    // True when an open in this process holds the file.
    bool fileOpenHere(const std::string& schema, std::int32_t fileId) const;

    // The first half of every advisory-lock key of a schema.
    static std::int32_t schemaKey(const std::string& schema);

    // The process's transaction on this server (BEGIN ... COMMIT): every
    // table of the session works inside it while it is open. begin() opens
    // it when none is (a number telling this transaction from later ones in
    // `which`); commit(which) and rollback(which) end it when it is still
    // that one, and do nothing otherwise. Statuses: the server's (95 lost).
    bool inTransaction() const { return transaction_ != 0; }
    std::int16_t begin(std::uint64_t& which);
    std::int16_t commit(std::uint64_t which);
    void rollback(std::uint64_t which);

    // Record locks (table.h): session-level advisory locks on bigint keys,
    // counted here per key. lockRow: false when another session holds the
    // key or this one is lost; unlockRow: one hold fewer; heldElsewhere:
    // another session holds it (never a key this session holds).
    bool lockRow(std::int64_t key);
    void unlockRow(std::int64_t key);
    bool heldElsewhere(std::int64_t key);

private:
    struct Hold {
        int holders = 0;
        bool exclusive = false;
    };
    Session(std::unique_ptr<Connection> conn, const Bounds& bounds, int process)
        : conn_(std::move(conn)), bounds_(bounds), process_(process) {}
    std::int16_t setUp();

    std::unique_ptr<Connection> conn_;
    Bounds bounds_;
    int process_ = 0;  // the process that connected
    std::uint32_t readAhead_ = 0;
    std::uint64_t transactionEnds_ = 0;
    std::map<std::int32_t, std::uint64_t> fileWrites_;
    std::map<std::pair<std::string, std::int32_t>, Hold> holds_;
    std::map<std::int64_t, int> rowLocks_;
    std::uint64_t transaction_ = 0;  // the open transaction's number, 0: none
    std::uint64_t transactions_ = 0;
};

// The bounds a map file asks for, with the engine's busy wait added to the
// call's.
Bounds boundsFor(const ServerMap& map);

}  // namespace engine::pg
