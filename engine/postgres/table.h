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
// another machine sees a change at its next call, except replace, which
// reads the stored row, asks the guard, and writes only if the row is still
// the one the guard saw (retried a few times when another machine changed
// it in between). Get Next and Get Previous read ahead (server_map.h,
// read_ahead): a step along a key fetches up to readAheadRows rows in one
// exchange, and the steps that follow take them while they are fresh.
// Faults are the session's (pq.h): 95 once the session has
// ended, 85 a lock wait too long, 5 a unique key held.
#pragma once

#include <array>
#include <chrono>
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
                             const std::string& name, OpenMode mode,
                             std::unique_ptr<Table>& out);

    ~PgTable() override;
    PgTable(const PgTable&) = delete;
    PgTable& operator=(const PgTable&) = delete;

    const FileDescription& description() const override { return description_; }
    std::int16_t seek(std::size_t key, Seek how, const unsigned char* value, RowId from,
                      FoundRow& out) override;
    std::int16_t insert(const unsigned char* record, const unsigned char* keys,
                        RowId& id) override;
    std::int16_t replace(RowId id, const unsigned char* record, const unsigned char* keys,
                         const ReplaceGuard& guard) override;
    std::int16_t remove(RowId id) override;
    // Read from the catalog at every call: another machine's change counts.
    std::int16_t count(std::uint32_t& out) override;

private:
    PgTable() = default;
    std::int16_t prepareStatements(const std::string& tableName);
    std::vector<Param> rowParams(const unsigned char* record, const unsigned char* keys) const;
    Connection& conn() { return session_->connection(); }
    std::int16_t failed() { return conn().fault().status; }

    std::shared_ptr<Session> session_;
    std::string schema_;
    std::int32_t fileId_ = 0;
    bool locked_ = false;
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
    Statement insert_, readById_, replace_, remove_, count_;
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
