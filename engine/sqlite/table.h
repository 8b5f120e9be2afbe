// One open of a data file stored as one SQLite database (schema.h): its
// connection, its prepared statements and the cached record count.
//
// Every call runs in its own SQLite transaction, so other connections, in
// this process or others, see a change at their next call. One read may
// stay open between calls: a walk along a key (Get Next, Get Previous) on a
// file no other connection is writing keeps its statement stepping while
// the wal-index header shows no commit since it began, and starts it again
// from the position otherwise; any other call on the table ends it first.
#pragma once

#include <sqlite3.h>

#include <array>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/description.h"
#include "engine/sqlite/change_probe.h"
#include "engine/sqlite/file_lock.h"
#include "engine/sqlite/sql.h"
#include "engine/storage.h"

namespace engine::sqlite {

class SqliteTable final : public Table {
public:
    // Opens the data file at `programPath` (program form). Statuses: 12 no
    // such file; 85 another open conflicts with the mode (or another
    // process holds the database for longer than the busy wait); 30 not a
    // data file of this engine (not a database, a foreign database, a
    // damaged description); 2 a damaged or unreadable database: one cut
    // short (its length no whole number of pages, or short of the pages
    // its header counts, while no log holds frames), a damaged first page,
    // or damage at either end of the table or of an index; 46 on a file
    // system mounted read-only; 87 when no file handle is left.
    static std::int16_t open(const std::string& programPath, OpenMode mode,
                             std::unique_ptr<Table>& out);

    ~SqliteTable() override;
    SqliteTable(const SqliteTable&) = delete;
    SqliteTable& operator=(const SqliteTable&) = delete;

    const FileDescription& description() const override { return description_; }
    std::int16_t seek(std::size_t key, Seek how, const unsigned char* value, RowId from,
                      FoundRow& out) override;
    // Writes (insert, replace, remove, begin) wait for another process's
    // write lock at most the busy wait (status 85); after one was refused
    // so, the next ones try without waiting until one gets through.
    std::int16_t insert(const unsigned char* record, const unsigned char* keys, RowId& id) override;
    std::int16_t replace(RowId id, const unsigned char* record, const unsigned char* keys,
                         const ReplaceGuard& guard) override;
    std::int16_t remove(RowId id, const ReplaceGuard& guard) override;
    // Kept by the table, and read again only when the file has changed.
    std::int16_t count(std::uint32_t& out) override;
    std::int16_t step(Step how, RowId from, FoundRow& out) override;
    std::int16_t read(RowId id, FoundRow& out) override;
    // A key without duplicates has as many values as rows; one with
    // duplicates is counted along its index, again only when the file has
    // changed since the last count.
    std::int16_t distinctValues(std::size_t key, std::uint32_t& out) override;
    // Counted and skipped along the key's index (both in time linear in n).
    std::int16_t rowsBefore(std::size_t key, const unsigned char* value, RowId from,
                            std::uint64_t& out) override;
    std::int16_t seekNth(std::size_t key, std::uint64_t n, FoundRow& out) override;
    // An SQLite write transaction (BEGIN IMMEDIATE) on the table's
    // connection.
    std::int16_t begin() override;
    std::int16_t commit() override;
    void rollback() override;
    // A lock on one byte, far beyond the data, of the file (file_lock.h).
    bool lockRow(RowId id) override { return lock_.lockRecord(id); }
    void unlockRow(RowId id) override { lock_.unlockRecord(id); }
    bool lockedElsewhere(RowId id) override { return lock_.lockedElsewhere(id); }
    // A new column and index filled in one write transaction (the values
    // through an SQL function of this connection alone); a dropped key's
    // index and column go, and the later keys' columns and indexes take the
    // numbers one lower. The statements are prepared again afterwards.
    std::int16_t addKey(const FileDescription& next, const KeyEncoder& encode) override;
    std::int16_t dropKey(std::size_t key, const FileDescription& next) override;

private:
    SqliteTable() = default;
    std::int16_t initialise(const std::string& programPath, OpenMode mode);
    std::int16_t checkLength(const std::string& programPath);
    std::int16_t systemCause(const std::string& native);
    std::int16_t configure();
    std::int16_t configureCheckpoints();
    std::int16_t readDescription();
    std::int16_t checkSchema();
    std::int16_t prepareStatements();
    // Runs `statements` and stores `next` in one write transaction, then
    // takes `next` as the table's description.
    std::int16_t changeKeys(const FileDescription& next,
                            const std::vector<std::string>& statements);
    // Drops every per-key statement and prepares them again for the stored
    // description.
    std::int16_t reload();
    std::int16_t prepare(Statement& stmt, const std::string& sql);
    std::int16_t seekStatement(std::size_t key, Seek how, sqlite3_stmt*& out);
    std::int16_t bindRow(sqlite3_stmt* stmt, const unsigned char* record,
                         const unsigned char* keys);
    std::int16_t replaceInTransaction(RowId id, const ReplaceGuard& guard);
    std::int16_t removeInTransaction(RowId id, const ReplaceGuard& guard);
    std::int16_t checkStored(RowId id, const ReplaceGuard& guard);
    std::int16_t inWriteTransaction(const std::function<std::int16_t()>& work);
    std::int16_t run(Statement& stmt);
    std::int16_t afterWrite(std::int16_t st);
    std::int16_t takeRow(sqlite3_stmt* stmt, FoundRow& out);
    // Takes the row (id, record, key) a stepped statement gives along `key`.
    std::int16_t takeKeyedRow(sqlite3_stmt* stmt, const KeySpec& key, FoundRow& out);
    // Seek::After and Seek::Before, along the walk kept open when it can go on.
    std::int16_t walk(std::size_t key, bool forward, const unsigned char* value, RowId from,
                      FoundRow& out);
    void endWalk();
    // The header before one of this table's own writes, when the count is
    // known and nothing else has committed since it was.
    bool countStillKnown(ChangeProbe::Header& before) const;
    // After that write: the count moves by `delta` when the write was the
    // only commit in between, and is read again otherwise.
    void afterOwnWrite(bool known, const ChangeProbe::Header& before, std::int16_t st, int delta);

    // SQLite keeps pointers to bound buffers until they are bound again;
    // these outlive every statement.
    std::vector<unsigned char> recordBuffer_;
    std::vector<unsigned char> keyBuffer_;  // every key in order-preserving form
    std::array<unsigned char, maxKeyLength> searchBuffer_{};
    // The row the last seek found.
    std::vector<unsigned char> foundRecord_;
    std::array<unsigned char, maxKeyLength> foundKey_{};

    FileLock lock_;
    sqlite3* db_ = nullptr;
    FileDescription description_;
    std::vector<std::size_t> keyOffsets_;  // of each key in keyBuffer_

    // Record count as last read, and the wal-index header before that read.
    ChangeProbe probe_;
    bool countKnown_ = false;
    std::uint32_t count_ = 0;
    ChangeProbe::Header countHeader_{};

    std::vector<std::array<Statement, seekCount>> seeks_;  // per key and seek
    Statement insert_, update_, delete_, readById_, readCount_, begin_, commit_, rollback_;
    Statement readRow_;
    std::array<Statement, stepCount> steps_;
    bool inTransaction_ = false;  // begin() opened one
    // The walk along a key: per key and direction (forward, backward) its
    // statement, the same as the seek's After and Before without a limit.
    std::vector<std::array<Statement, 2>> walks_;
    struct Walk {
        sqlite3_stmt* stmt = nullptr;  // stepping, holding its read; null when none
        std::size_t key = 0;
        bool forward = true;
        RowId last = 0;  // the row it gave last, and that row's key
        std::array<unsigned char, maxKeyLength> lastKey{};
        ChangeProbe::Header header{};  // taken before its first step
        bool seen = false;             // the header at the previous walk call
        ChangeProbe::Header seenHeader{};
    } walk_;
    std::array<unsigned char, maxKeyLength> walkValue_{};  // bound to the walk's statement
    bool waitsCut_ = false;  // a write waited out the busy wait in vain: no wait until one works
    std::vector<Statement> ranks_, nths_;       // per key, prepared when first used
    std::vector<Statement> distinct_;           // per key with duplicates
    std::vector<std::uint32_t> distinctCount_;  // per key, as last counted
    bool distinctKnown_ = false;
    ChangeProbe::Header distinctHeader_{};
};

}  // namespace engine::sqlite
