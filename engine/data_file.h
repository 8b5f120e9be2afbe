// One open of a data file: its SQLite connection, its prepared statements
// and its position (current key and record).
//
// Every operation runs in its own SQLite transaction and holds none between
// calls, so other connections, in this process or others, see a change at
// their next call. A failed operation leaves the position as it was.
#pragma once

#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/change_probe.h"
#include "engine/description.h"
#include "engine/file_lock.h"
#include "engine/sql.h"

namespace engine {

enum class OpenMode {
    Normal,
    ReadOnly,   // Insert, Update and Delete give status 46
    Exclusive,  // no other open of the file, in any process, while it lasts
};

// The reads by key. Equal gives the first record (in order) whose key equals
// the value; Greater/GreaterOrEqual the first with a key >, >=; Less and
// LessOrEqual the last with a key <, <=; First and Last the ends of the key;
// Next and Previous step from the position along its key. Order along a key:
// by key value, then by insertion (duplicates), in both directions.
enum class GetOp : std::uint8_t {
    Equal,
    Next,
    Previous,
    Greater,
    GreaterOrEqual,
    Less,
    LessOrEqual,
    First,
    Last,
};
inline constexpr std::size_t getOpCount = 9;

// The reads in physical order (the order of the records' positions).
enum class StepOp : std::uint8_t { First, Last, Next, Previous };

// A record lock asked for by a read (the lock biases): none, one single
// lock (the position block's one, replaced by the next), or one more of the
// position block's multiple locks; waiting for another process to release
// it, or not (status 84 at once).
enum class LockKind : std::uint8_t { None, Single, Multiple };
struct LockRequest {
    LockKind kind = LockKind::None;
    bool wait = false;
};

// The caller's buffers of a read: the data buffer (offered bytes), the key
// buffer and the length the caller gave it, and whether only the key is
// wanted (the Get Key bias: no record is copied).
struct ReadBuffers {
    unsigned char* data = nullptr;
    std::uint32_t offered = 0;
    std::uint32_t returned = 0;
    unsigned char* key = nullptr;
    std::uint8_t keyLength = 0;
    bool keyOnly = false;
};

// Key number of an Insert or Update that leaves the position as it was (no
// currency change).
inline constexpr int noCurrencyChange = -1;

class DataFile;

// The process's transaction: whether one is active, and the files whose
// connections hold an SQLite write transaction for it.
struct ProcessTransaction {
    bool active = false;
    std::vector<DataFile*> files;
};
ProcessTransaction& processTransaction();

class DataFile {
public:
    // Opens the data file at `programPath` (program form). Statuses: 12 no
    // such file; 85 another open conflicts with the mode (or another
    // process holds the database for longer than the busy wait); 30 not a
    // data file of this engine (not a database, a foreign database, a
    // damaged description); 2 a damaged or unreadable database.
    static std::int16_t open(const std::string& programPath, OpenMode mode,
                             std::unique_ptr<DataFile>& out);

    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    const FileDescription& description() const { return description_; }

    // Reads a record by key. `keyValue` (the key's length) is read by
    // Equal, Greater, GreaterOrEqual, Less and LessOrEqual. On success: the
    // record (at most `offered` bytes; 22 when it is longer) goes to `data`,
    // `returned` is the bytes copied, the key's value in the record goes to
    // `keyOut` (the key's length), and the record becomes the position, with
    // `keyNumber` as the current key (Next and Previous keep the position's
    // key). Statuses: 6 keyNumber is no key of the file (not checked by Next
    // and Previous); 4 Equal found nothing; 9 no record in that direction;
    // 8 Next or Previous without a position.
    //
    // The key buffer is never written beyond the length the caller gave:
    // status 21 when that is shorter than the key (nothing read or written).
    // Next and Previous along another key than the position's give 7; after
    // a Step (a position without a key) they give 8. A record longer than
    // the data buffer gives 22 with its first part, and is the position.
    // `lock` asks for a record lock (84 when another process holds the
    // record; 93 a single lock asked while the position block holds
    // multiple ones or the other way round); the record is then the
    // position whatever the lock's outcome.
    std::int16_t get(GetOp op, int keyNumber, const unsigned char* keyValue, ReadBuffers& io,
                     LockRequest lock = {});

    // Reads in physical order; the key buffer is not touched, the position
    // has no key afterwards (Get Next and Get Previous give 8 until a Get).
    // Statuses: 9 no record in that direction; 8 Next or Previous without a
    // position; 22, 84, 93 as get.
    std::int16_t step(StepOp op, ReadBuffers& io, LockRequest lock = {});

    // The record's position (Get Position): its 4-byte physical address,
    // stable while the record lives. Status 8 without a current record.
    std::int16_t getPosition(std::uint32_t& address) const;

    // Reads the record at `address` (Get Direct) and makes it the position
    // along `keyNumber`. Statuses: 43 no record there; 6 no such key; 21,
    // 22, 84, 93 as get.
    std::int16_t getDirect(std::uint32_t address, int keyNumber, ReadBuffers& io,
                           LockRequest lock = {});

    // Stores a new record (the first recordLength bytes of `record`); the
    // position moves to it along `keyNumber` and its key value goes to
    // `keyOut`. Key number -1 (no currency change) stores the record and
    // leaves the position and the key buffer as they were. Statuses: 46
    // read-only; 6 no such key; 21 a key buffer shorter than the key; 22
    // `length` shorter than the record; 5 a key without duplicates already
    // holds the value (nothing stored); 85 another process kept the file
    // busy too long.
    std::int16_t insert(const unsigned char* record, std::uint32_t length, int keyNumber,
                        unsigned char* keyOut, std::uint8_t keyLength);

    // Replaces the record at the position, as insert otherwise. Statuses as
    // insert, and 8 when there is no current record (none read yet, deleted,
    // or deleted meanwhile by another process); 80 when another position
    // block or process changed the record since this one read it (nothing
    // stored: read it again); 84 another process holds a lock on it; 10 a
    // key without the modifiable flag would change. The position block's
    // single lock on the record ends with the update.
    std::int16_t update(const unsigned char* record, std::uint32_t length, int keyNumber,
                        unsigned char* keyOut, std::uint8_t keyLength);

    // Deletes the record at the position. Next and Previous then step from
    // where it was. Statuses: 46 read-only; 8 no current record; 80 the
    // record changed since it was read; 84 another process holds a lock.
    // The position block's locks on the record end with it.
    std::int16_t remove();

    // Releases record locks of this position block (Unlock): the single
    // lock; the multiple lock on the record at `address`; or every multiple
    // lock. Status 81 when no such lock is held.
    enum class UnlockWhat { Single, OneMultiple, AllMultiple };
    std::int16_t unlock(UnlockWhat what, std::uint32_t address = 0);
    void unlockAll();

    // Writes the Stat answer (the description with the record count and
    // the distinct values of every key) to `out`: at most `offered` bytes,
    // 22 when the answer is longer. `withVersion` (key number -1) adds the
    // file version in byte 5. `returned` is the bytes written. The count is
    // kept by the file itself; the distinct values of a key without
    // duplicates are the count, those of a key with duplicates are counted
    // along its index. Both are read again only when the file has changed.
    std::int16_t stat(unsigned char* out, std::uint32_t offered, std::uint32_t& returned,
                      bool withVersion);

    // The process's transaction (Begin/End/Abort) over every open file: the
    // first write of a file in it opens an SQLite write transaction on the
    // file's connection, held until commit() or rollback().
    bool inTransaction() const { return transactionOpen_; }
    std::int16_t commit();
    void rollback();

private:
    struct Position {
        bool established = false;  // Next and Previous have a place to start
        bool logical = false;      // along a key (false after a Step)
        bool onRecord = false;     // the record is there (not deleted since)
        int key = 0;
        std::int64_t id = 0;
        std::string encodedKey;
        std::string image;  // the record as this position block last read or wrote it
    };

    DataFile() = default;
    std::int16_t initialise(const std::string& programPath, OpenMode mode);
    std::int16_t configure();
    std::int16_t readDescription();
    std::int16_t checkSchema();
    std::int16_t prepareStatements();
    std::int16_t prepare(Statement& stmt, const std::string& sql);
    std::int16_t getStatement(int key, GetOp op, sqlite3_stmt*& out);
    std::int16_t recordCount(std::uint32_t& count);
    std::int16_t bindRecord(sqlite3_stmt* stmt, const unsigned char* record);
    std::int16_t updateInTransaction();
    std::int16_t removeInTransaction();
    std::int16_t checkUnchanged(const unsigned char* stored, int storedSize) const;
    std::int16_t writeTransaction(std::int16_t (DataFile::*work)());
    std::int16_t openTransaction();
    std::int16_t run(Statement& stmt);
    std::int16_t deliver(sqlite3_stmt* stmt, int keyNumber, bool logical, ReadBuffers& io,
                         LockRequest lock);
    std::int16_t takeLock(std::int64_t id, LockRequest lock);
    bool lockedElsewhere(std::int64_t id) const;
    std::int16_t distinctCounts();
    void placeOn(int keyNumber, std::int64_t id, const unsigned char* record);

    // SQLite keeps pointers to bound buffers until they are bound again;
    // these outlive every statement.
    std::vector<unsigned char> recordBuffer_;
    std::vector<unsigned char> keyBuffer_;  // every key in order-preserving form
    std::array<unsigned char, maxKeyLength> searchBuffer_{};

    FileLock lock_;
    sqlite3* db_ = nullptr;
    bool readOnly_ = false;
    FileDescription description_;
    std::vector<std::size_t> keyOffsets_;  // of each key in keyBuffer_
    std::string statTemplate_;
    Position position_;

    // Record count as last read, and the wal-index header before that read.
    ChangeProbe probe_;
    bool countKnown_ = false;
    std::uint32_t count_ = 0;
    ChangeProbe::Header countHeader_{};

    std::vector<std::array<Statement, getOpCount>> gets_;  // per key and operation
    Statement insert_, update_, delete_, readById_, readCount_, begin_, commit_, rollback_;
    Statement readFullById_;
    std::array<Statement, 4> steps_;                // per StepOp
    std::vector<Statement> distinct_;               // per key
    std::vector<std::uint32_t> distinctValues_;     // per key, as last counted
    bool distinctKnown_ = false;
    ChangeProbe::Header distinctHeader_{};
    bool transactionOpen_ = false;

    // Record locks of this position block.
    std::int64_t singleLock_ = 0;
    std::vector<std::int64_t> multipleLocks_;
};

}  // namespace engine
