// One open of a data file as the API defines it: its position (current key
// and record) and the rules of every operation on records (key numbers,
// Next and Previous from the position, truncation, the key returned,
// currency after Insert, Update and Delete, non-modifiable keys, read-only
// opens), over a table of the storage seam (engine/storage.h).
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

class DataFile {
public:
    // Opens the data file at `programPath` (program form) in `storage`.
    // Statuses: Storage::open's.
    static std::int16_t open(Storage& storage, const std::string& programPath, OpenMode mode,
                             std::unique_ptr<DataFile>& out);

    ~DataFile() = default;
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    const FileDescription& description() const { return table_->description(); }

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
    // `returned` is the bytes written.
    std::int16_t stat(unsigned char* out, std::uint32_t offered, std::uint32_t& returned);

private:
    struct Position {
        bool established = false;  // Next and Previous have a place to start
        bool onRecord = false;     // the record is there (not deleted since)
        int key = 0;
        RowId id = 0;
        std::string encodedKey;
    };

    DataFile(std::unique_ptr<Table> table, bool readOnly);
    bool isKey(int keyNumber) const {
        return keyNumber >= 0 && static_cast<std::size_t>(keyNumber) < keyCount_;
    }
    // Copies the record and encodes every key of it (recordBuffer_, keyBuffer_).
    void takeRecord(const unsigned char* record);
    void placeOn(int keyNumber, RowId id);

    std::unique_ptr<Table> table_;
    bool readOnly_ = false;
    std::size_t keyCount_ = 0;
    std::uint16_t recordLength_ = 0;
    std::vector<unsigned char> recordBuffer_;
    std::vector<unsigned char> keyBuffer_;  // every key in order-preserving form
    std::vector<std::size_t> keyOffsets_;   // of each key in keyBuffer_
    std::array<unsigned char, maxKeyLength> searchBuffer_{};
    std::string statTemplate_;
    Position position_;
};

}  // namespace engine
