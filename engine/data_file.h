// One open of a data file as the API defines it: its position (current key
// and record, logical and physical currency), its record locks and the rules
// of every operation on records (key numbers, Next and Previous from the
// position, truncation, the key returned and the caller's key length,
// currency after Insert, Update and Delete, non-modifiable keys, read-only
// opens, records changed since they were read), over a table of the storage
// seam (engine/storage.h).
//
// A failed operation leaves the position as it was.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/api.h"
#include "engine/description.h"
#include "engine/storage.h"

namespace engine {

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

// A record lock asked for by a read (the lock biases): none, the position
// block's single lock (replacing its earlier one), or one more of its
// multiple locks; waiting for another process to release the record (at
// most the busy wait), or not.
enum class LockKind : std::uint8_t { None, Single, Multiple };
struct LockRequest {
    LockKind kind = LockKind::None;
    bool wait = false;
};

// The caller's buffers of a read: the data buffer (bytes offered, bytes
// returned), the key buffer and the length the caller gave it, and whether
// only the key is wanted (the Get Key bias: no record is copied).
struct ReadBuffers {
    unsigned char* data = nullptr;
    std::uint32_t offered = 0;
    std::uint32_t returned = 0;
    unsigned char* key = nullptr;
    std::uint8_t keyLength = 0;
    bool keyOnly = false;
};

class DataFile {
public:
    // Opens the data file at `programPath` (program form) in `storage`.
    // Statuses: Storage::open's.
    static std::int16_t open(Storage& storage, const std::string& programPath, OpenMode mode,
                             std::unique_ptr<DataFile>& out);

    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    const FileDescription& description() const { return table_->description(); }

    // Reads a record by key. `keyValue` (the key's length) is read by
    // Equal, Greater, GreaterOrEqual, Less and LessOrEqual. On success: the
    // record (at most `offered` bytes; 22 with its first part when it is
    // longer) goes to the data buffer, `returned` is the bytes copied, the
    // key's value in the record goes to the key buffer, and the record
    // becomes the position, with `keyNumber` as the current key.
    // Statuses: 6 keyNumber is no key of the file; 21 the caller's key
    // length is shorter than the key (nothing read or written; a length of
    // 0 on First, Last, Next and Previous, which read no value, stands for
    // the whole classic key buffer); 7 Next or Previous along another key
    // than the position's; 8 Next or Previous without a position along a
    // key (none yet, or a Step made it); 4 Equal found nothing; 9 no record
    // in that direction; 84 another process holds the lock asked for (the
    // record is read and is the position all the same); 93 a single lock
    // asked while the position block holds multiple ones, or the reverse.
    std::int16_t get(GetOp op, int keyNumber, const unsigned char* keyValue, ReadBuffers& io,
                     LockRequest lock = {});

    // Reads in physical order; the key buffer is not touched, and the
    // position has no key afterwards. Statuses: 9 no record in that
    // direction; 8 Next or Previous without a position; 22, 84, 93 as get.
    std::int16_t step(Step how, ReadBuffers& io, LockRequest lock = {});

    // The current record's physical address (Get Position): its row id,
    // stable while the record lives. Status 8 without a current record.
    std::int16_t getPosition(std::uint32_t& address) const;

    // Reads the record at `address` (Get Direct) and makes it the position
    // along `keyNumber` (not looked at in a data-only file). Statuses: 43 no
    // record there; 6 no such key; 21, 22, 84, 93 as get.
    std::int16_t getDirect(std::uint32_t address, int keyNumber, ReadBuffers& io,
                           LockRequest lock = {});

    // Reads the record at `percentage` (hundredths, 0..10000) of key
    // `keyNumber`'s order, or of physical order for key number -1 (by
    // address between the first and the last record), and makes it the
    // position as get or step would. Statuses: 1 a percentage above 10000;
    // 6 no such key; 9 no record along the key or in the file; 22, 84, 93
    // as get.
    std::int16_t getByPercentage(std::uint16_t percentage, int keyNumber, ReadBuffers& io,
                                 LockRequest lock = {});

    // The percentage (hundredths) at which the first record with the key
    // value `keyValue` stands in key `keyNumber`'s order, or for key number
    // -1 the record at `address` in physical order. The position does not
    // move. Statuses: 6 no such key; 21 a key length shorter than the key;
    // 4 no record has the value; 43 no record at the address.
    std::int16_t findPercentage(int keyNumber, const unsigned char* keyValue,
                                std::uint8_t keyLength, std::uint32_t address,
                                std::uint16_t& percentage);

    // The extended reads (Get Next/Previous Extended along `keyNumber`,
    // Step Next/Previous Extended when `physical`): from the position, the
    // records the descriptor in `data` (engine/extended.h) filters, until it
    // has the number it asks for; their fields, extracted, replace the
    // descriptor in `data` (`returned` bytes). The last record looked at
    // becomes the position. Statuses: 8 no position (along a key, for the
    // Gets); 7 another key than the position's; 62 and 22 as
    // parseExtendedDescriptor; 9 the end came first and 60 the reject count
    // was reached, both with the records found so far.
    std::int16_t getExtended(bool physical, bool forward, int keyNumber, unsigned char* data,
                             std::uint32_t offered, std::uint32_t& returned);

    // Stores a new record (the first recordLength bytes of `record`); the
    // position moves to it along `keyNumber` and its key value goes to
    // `keyOut`. An autoincrement field holding 0 takes one more than the
    // highest value (by magnitude) in the file, written back to `record`
    // too; any other value is stored as given. Key number -1 (no currency change) stores the record
    // and leaves the position and the key buffer as they were. Statuses: 46 read-only; 6 no such
    // key; 21 a key length shorter than the key; 22 `length` shorter than the record; 5 a key
    // without duplicates already holds the value (nothing stored); 85 another process kept the file
    // busy too long; 5 also when an autoincrement field has no next value.
    std::int16_t insert(unsigned char* record, std::uint32_t length, int keyNumber,
                        unsigned char* keyOut, std::uint8_t keyLength, RowId* inserted = nullptr);

    // Insert Extended: the records in `data` (a 2-byte count, then each
    // record after its 2-byte length), each stored as insert stores one,
    // in order, until one fails; the answer replaces them in `data`: the
    // number stored, then the 4-byte address of each (`returned` bytes).
    // The position is the last record stored, along `keyNumber` as insert.
    // Statuses: insert's for the record that failed (those before it
    // stay); 22 when a length runs past `offered`, a record is shorter
    // than the record length, or the answer does not fit (nothing stored).
    std::int16_t insertExtended(unsigned char* data, std::uint32_t offered, int keyNumber,
                                unsigned char* keyOut, std::uint8_t keyLength,
                                std::uint32_t& returned);

    // Replaces the record at the position, as insert otherwise (an
    // autoincrement field holding 0 takes the next value). Statuses as
    // insert, and 8 when there is no current record (none read yet, deleted,
    // or deleted meanwhile by another process); 80 when another position
    // block or process changed the record since this one read it (nothing
    // stored: read it again); 84 another process holds a lock on it; 10 a
    // key without the modifiable flag would change. The position block's
    // single lock on the record ends with the update.
    std::int16_t update(unsigned char* record, std::uint32_t length, int keyNumber,
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

    // Writes the Stat answer (the description with the record count, the
    // distinct values of every key in each of its segments, and each
    // segment's key number) to `out`: at most `offered` bytes, 22 when the
    // answer is longer. `withVersion` (key number -1) adds the file version
    // in byte 5. `returned` is the bytes written.
    std::int16_t stat(unsigned char* out, std::uint32_t offered, std::uint32_t& returned,
                      bool withVersion);

    // Create Index: adds the key whose segment specifications (as in a
    // creation description, the segments of one key one after the other)
    // fill the first `length` bytes of `specs`, with every record's value of
    // it. It takes the next key number; `keyNumber` with 128 added (negative
    // as the entry's signed byte) asks for the number in byte 14 of the
    // first segment, which must be that next number. The supplemental flag
    // (every key this adds is one) is accepted and not kept. The position
    // stays.
    // Statuses: 85 the file is not opened exclusively (other opens would go
    // on with the old keys); 41 inside a transaction; 22 `length` ends
    // inside a segment; 26 no key number or segment left; 6 an asked number
    // other than the next; 27, 29, 45, 48, 49 as Create for the segments; 5
    // the key allows no duplicates and two records hold one value. Nothing
    // changes on any refusal.
    std::int16_t createIndex(const unsigned char* specs, std::uint32_t length, int keyNumber);

    // Drop Index: removes key `keyNumber`; the keys after it take the number
    // one lower. With 128 added (negative as the entry's signed byte) the
    // other keys keep their numbers, which only the last key allows here.
    // A position along the dropped key keeps its record, in physical order
    // only (Next and Previous answer 8 until a read along a key). Statuses:
    // 85, 41 as createIndex; 6 no such key; 1 the kept-numbers form for a
    // key other than the last.
    std::int16_t dropIndex(int keyNumber);

    // The table's part in the process's transaction (Begin/End/Abort): the
    // first write of the file inside it opens the table's transaction, held
    // until commit() or rollback().
    bool inTransaction() const { return inTransaction_; }
    std::int16_t commit();
    void rollback();

private:
    struct Position {
        bool established = false;  // Next and Previous have a place to start
        bool logical = false;      // along a key (false after a Step)
        bool onRecord = false;     // the record is there (not deleted since)
        int key = 0;
        RowId id = 0;
        std::string encodedKey;
        std::string image;  // the record as this position block last read or wrote it
    };

    DataFile(std::unique_ptr<Table> table, OpenMode mode);
    // Takes the keys, the autoincrement fields and the Stat template from
    // the table's description (at the open and after a change of keys).
    void describe();
    bool isKey(int keyNumber) const {
        return keyNumber >= 0 && static_cast<std::size_t>(keyNumber) < keyCount_;
    }
    bool keyFits(int keyNumber, std::uint8_t keyLength) const;
    // Encodes every key of recordBuffer_ into keyBuffer_.
    void encodeKeys();
    // Gives every autoincrement field of recordBuffer_ that holds 0 the next
    // value; `assigned` tells whether one did. Status 5 when a field has no
    // next value (the highest its length holds is taken).
    std::int16_t assignAutoIncrements(bool& assigned);
    // The highest magnitude of the autoincrement field `field` in the file.
    std::int16_t highestAutoIncrement(std::size_t field, std::uint64_t& out);
    // Copies the autoincrement fields of recordBuffer_ to `record`.
    void returnAutoIncrements(unsigned char* record) const;
    // Takes the record for a write: copies it, numbers its autoincrement
    // fields that hold 0 and encodes its keys. `retry` tells whether a 5
    // from the write may come from a number another process took meanwhile.
    std::int16_t prepareWrite(const unsigned char* record, bool& retry);
    // Makes the record the position: along `keyNumber` (with its encoded
    // key `encoded`), or physical only when keyNumber is negative.
    void placeOn(int keyNumber, RowId id, const unsigned char* record,
                 const unsigned char* encoded);
    std::int16_t deliver(const FoundRow& row, int keyNumber, ReadBuffers& io, LockRequest lock);
    std::int16_t takeLock(RowId id, LockRequest lock);
    // The number of records along key `k` (its index: null keys leave some
    // out) and the ends of physical order (0 and 0 when the file is empty).
    std::int16_t rowsAlong(std::size_t k, std::uint64_t& out);
    std::int16_t physicalEnds(RowId& first, RowId& last);
    std::int16_t joinTransaction();
    // Refuses a write of the current record another position block or
    // process changed since this one read it.
    std::int16_t unchanged(const unsigned char* stored) const;

    std::unique_ptr<Table> table_;
    bool readOnly_ = false;
    bool exclusive_ = false;
    bool inTransaction_ = false;
    std::size_t keyCount_ = 0;
    std::uint16_t recordLength_ = 0;
    std::vector<unsigned char> recordBuffer_;
    std::vector<unsigned char> keyBuffer_;  // every key in order-preserving form
    std::vector<std::size_t> keyOffsets_;   // of each key in keyBuffer_
    std::array<unsigned char, maxKeyLength> searchBuffer_{};
    std::string statTemplate_;
    // The autoincrement fields, each once, and the key that orders each by
    // its value (the key whose first segment it is), if any.
    struct AutoField {
        std::uint16_t position = 0;
        std::uint16_t length = 0;
        int key = -1;
        bool descending = false;
    };
    std::vector<AutoField> autoFields_;
    Position position_;

    // Record locks of this position block.
    RowId singleLock_ = 0;
    std::vector<RowId> multipleLocks_;
};

// The process's transaction: whether one is active, and the open files whose
// tables hold a transaction for it.
struct ProcessTransaction {
    bool active = false;
    std::vector<DataFile*> files;
};
ProcessTransaction& processTransaction();

}  // namespace engine
