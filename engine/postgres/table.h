// One open of a data file stored on a PostgreSQL server.
//
// On the server, in the installation's schema:
//
//   nubo_files   the catalog, one row per data file: name (the file's name
//                on the server, the primary key), id (a number of its own,
//                never reused), table_name, format, description (the
//                creation description in its stored form) and records (the
//                number of records, kept by triggers on the file's table)
//   <table>      one per data file, named after the file (names.h): id
//                (bigint identity: insertion order, never reused), data (the
//                record, bytea of exactly the record length) and per key a
//                column k<n> (bytea: the key's value in order-preserving
//                form, engine/key_codec.h); one index per key, on (k<n>) and
//                UNIQUE where the key allows no duplicates, else on
//                (k<n>, id), so duplicates come in insertion order
//   nubo_count() the trigger function that keeps nubo_files.records; it
//                runs with its owner's rights, so a role that may only
//                write the data tables keeps the count too
//
// Every call is one statement in a transaction of its own (autocommit), so
// another machine sees a change at its next call. Replace and remove read the
// stored row, ask the guard, and write only if the row is still the one the
// guard saw (UPDATE/DELETE ... WHERE id = $n AND data = $stored): the write
// and the check are one atomic statement, so the guard's answer holds for
// the row written exactly as if both ran in one transaction; when another
// machine changed the row in between, the row is read and the guard asked
// again (a few rounds, then status 85). Insert is INSERT ... ON CONFLICT DO
// NOTHING: a unique key already held gives status 5 without an error on the
// server, so a caller's transaction goes on after it.
//
// The caller's transaction (begin): BEGIN on the session, which every table
// of the process on that server shares, so the transaction's files commit or
// roll back together in one PostgreSQL transaction; the first commit() or
// rollback() of its tables ends it, the others find it ended. Inside it the
// trigger's update of the file's catalog row holds that row until the end,
// so another machine's write to the same file waits (at most the busy wait,
// then 85), as the file's write lock does on the local disk. A replace that
// changes a unique key runs under a savepoint there, so a duplicate (5)
// leaves the transaction's earlier work whole; a fault of the server inside
// it (85, 78, 95) ends the transaction's work: the caller aborts it.
//
// Record locks (lockRow): session-level advisory locks, one bigint key per
// row, (32-bit hash of schema and file id) << 32 | (row id's low 32 bits):
// held on the server, so they hold against every process on every machine,
// and they end with the session (the process, or a workstation the server
// stopped hearing from, within the keepalive bound). The session counts its
// holds per key, so lockedElsewhere needs no exchange for a row this process
// holds; otherwise one: a try-lock released at once. A lost session holds no
// locks: lockRow gives false, and the next call gives 95.
//
// Get Next and Get Previous read ahead (server_map.h, read_ahead): a step
// along a key fetches up to readAheadRows rows in one exchange, and the
// steps that follow take them while they are fresh. Faults are the
// session's (pq.h): 95 once the session has ended, 85 a lock wait too long.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/description.h"
#include "engine/postgres/session.h"
#include "engine/storage.h"

namespace engine::pg {

// The format name in nubo_files.format that marks a data file of this engine.
inline constexpr const char* fileFormat = "nubo-engine 1";

// Rows one step along a key fetches ahead.
inline constexpr int readAheadRows = 32;

class PgTable final : public Table {
public:
    // Opens the file `name` in `schema` through `session`. Statuses: 12 no
    // such file (no catalog, no row); 30 the catalog row or the table is
    // not one of this engine's; 85 another open conflicts with the mode;
    // 95 the session ended; 94 no access to the catalog or the table.
    static std::int16_t open(std::shared_ptr<Session> session, const std::string& schema,
                             const std::string& name, OpenMode mode, std::unique_ptr<Table>& out);

    ~PgTable() override;
    PgTable(const PgTable&) = delete;
    PgTable& operator=(const PgTable&) = delete;

    const FileDescription& description() const override { return description_; }
    std::int16_t seek(std::size_t key, Seek how, const unsigned char* value, RowId from,
                      FoundRow& out) override;
    std::int16_t insert(const unsigned char* record, const unsigned char* keys, RowId& id) override;
    std::int16_t replace(RowId id, const unsigned char* record, const unsigned char* keys,
                         const ReplaceGuard& guard) override;
    std::int16_t remove(RowId id, const ReplaceGuard& guard) override;
    // Read from the catalog at every call: another machine's change counts.
    std::int16_t count(std::uint32_t& out) override;
    std::int16_t step(Step how, RowId from, FoundRow& out) override;
    std::int16_t read(RowId id, FoundRow& out) override;
    // A key without duplicates has as many values as rows; one with
    // duplicates is counted on the server, again only when the catalog's
    // change counter of the file moved since (never kept from inside a
    // transaction, whose work may still be rolled back).
    std::int16_t distinctValues(std::size_t key, std::uint32_t& out) override;
    // Counted on the server: each is one exchange, growing with the file.
    std::int16_t rowsBefore(std::size_t key, const unsigned char* value, RowId from,
                            std::uint64_t& out) override;
    std::int16_t seekNth(std::size_t key, std::uint64_t n, FoundRow& out) override;
    std::int16_t begin() override;
    std::int16_t commit() override;
    void rollback() override;
    bool lockRow(RowId id) override;
    void unlockRow(RowId id) override;
    bool lockedElsewhere(RowId id) override;
    // In one transaction of the session: the column added, filled row by
    // row (the values are the engine's, made here), then its index and the
    // catalog's description; or the key's index and column dropped and the
    // later keys' columns and indexes renamed one number lower. The
    // statements' names follow the description, so a connection that
    // prepared them for the old keys never takes them for the new ones.
    std::int16_t addKey(const FileDescription& next, const KeyEncoder& encode) override;
    std::int16_t dropKey(std::size_t key, const FileDescription& next) override;

private:
    PgTable() = default;
    std::int16_t prepareStatements(const std::string& tableName);
    // Runs `work` in a transaction of the session, stores `next` in the
    // catalog, commits and prepares the statements for `next`.
    std::int16_t changeKeys(const FileDescription& next, const std::function<std::int16_t()>& work);
    std::string quotedTable() const;
    std::string indexName(std::size_t key) const;
    std::vector<Param> rowParams(const unsigned char* record, const unsigned char* keys) const;
    Connection& conn() { return session_->connection(); }
    std::int16_t failed() { return conn().fault().status; }
    std::int64_t rowLockKey(RowId id) const;
    // The stored row `id` into `stored` (record, then every key encoded);
    // 8 when it is gone.
    std::int16_t readStored(RowId id, std::vector<unsigned char>& stored);
    std::int16_t takeRow(const Result& r, FoundRow& out);
    // The first row of a keyed read (id, record, key along `spec`) into the
    // found buffers; 3 columns of the sizes the description gives, else 2.
    std::int16_t takeKeyedRow(const Result& r, const KeySpec& spec, FoundRow& out);
    // The records and the change counter from the catalog.
    std::int16_t readCounters(std::int64_t& records, std::int64_t& changes);

    std::shared_ptr<Session> session_;
    std::string schema_;
    std::string tableName_;
    std::int32_t fileId_ = 0;
    std::int32_t rowLockFile_ = 0;  // the file's key: the upper half of every row-lock key
    bool locked_ = false;
    bool inTransaction_ = false;     // begin() joined the session's transaction
    std::uint64_t transaction_ = 0;  // which of the session's transactions
    struct Distinct {
        bool known = false;
        std::int64_t changes = 0;
        std::uint32_t value = 0;
    };
    std::vector<Distinct> distinct_;  // per key
    FileDescription description_;
    std::vector<std::size_t> keyOffsets_;
    std::vector<unsigned char> foundRecord_;
    std::array<unsigned char, maxKeyLength> foundKey_{};

    // Rows read ahead along one key in one direction: ids, then each row's
    // record and key, one after the other.
    struct ReadAhead {
        bool valid = false;
        std::size_t key = 0;
        Seek how = Seek::After;
        std::vector<RowId> ids;
        std::vector<unsigned char> rows;
        std::size_t next = 0;  // the row the next step gives
        std::chrono::steady_clock::time_point taken;
        std::uint64_t writes = 0;  // the session's writes when taken
    };
    bool stepFromReadAhead(std::size_t key, Seek how, const unsigned char* value, RowId from,
                           FoundRow& out);
    std::int16_t readAhead(std::size_t key, Seek how, const unsigned char* value, RowId from,
                           FoundRow& out);
    void serve(std::size_t row, FoundRow& out);
    ReadAhead ahead_;

    std::vector<std::array<Statement, seekCount>> seeks_;  // per key and seek
    std::vector<std::array<Statement, 2>> steps_;          // per key: After, Before, read ahead
    std::array<Statement, stepCount> physical_;            // per Step
    std::vector<Statement> distinctStatements_;            // per key with duplicates
    std::vector<Statement> ranks_, nths_;                  // per key: rowsBefore, seekNth
    Statement insert_, readById_, readRow_, replace_, remove_, count_;
};

// The statements that create the catalog of schema `quotedSchema` and its
// trigger function, when they are missing (run in one transaction).
std::vector<std::string> catalogStatements(const std::string& quotedSchema);

// The statements that create the table `quotedTable` of file `fileId` with
// `description`; `indexName(k)` names key k's index (unquoted).
std::vector<std::string> tableStatements(const std::string& quotedSchema,
                                         const std::string& tableName, std::int32_t fileId,
                                         const FileDescription& description);

}  // namespace engine::pg
