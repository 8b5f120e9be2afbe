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
    std::int16_t get(GetOp op, int keyNumber, const unsigned char* keyValue, unsigned char* data,
                     std::uint32_t offered, std::uint32_t& returned, unsigned char* keyOut);

    // Stores a new record (the first recordLength bytes of `record`); the
    // position moves to it along `keyNumber` and its key value goes to
    // `keyOut`. Statuses: 46 read-only; 6 no such key; 22 `length` shorter
    // than the record; 5 a key without duplicates already holds the value
    // (nothing stored); 85 another process kept the file busy too long.
    std::int16_t insert(const unsigned char* record, std::uint32_t length, int keyNumber,
                        unsigned char* keyOut);

    // Replaces the record at the position, as insert otherwise. Statuses as
    // insert, and 8 when there is no current record (none read yet, deleted,
    // or deleted meanwhile by another process); 10 a key without the
    // modifiable flag would change.
    std::int16_t update(const unsigned char* record, std::uint32_t length, int keyNumber,
                        unsigned char* keyOut);

    // Deletes the record at the position. Next and Previous then step from
    // where it was. Statuses: 46 read-only; 8 no current record.
    std::int16_t remove();

    // Writes the Stat answer (the description with the record count) to
    // `out`: at most `offered` bytes, 22 when the answer is longer.
    // `returned` is the bytes written. The count is kept by the file itself,
    // and read again only when the file has changed.
    std::int16_t stat(unsigned char* out, std::uint32_t offered, std::uint32_t& returned);

private:
    struct Position {
        bool established = false;  // Next and Previous have a place to start
        bool onRecord = false;     // the record is there (not deleted since)
        int key = 0;
        std::int64_t id = 0;
        std::string encodedKey;
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
};

}  // namespace engine
