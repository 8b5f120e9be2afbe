// The storage seam: what a backend offers the API front. A data file is a
// table of fixed-length rows (the records), each with a row id and, per key
// of the description, the key's value in order-preserving form
// (engine/key_codec.h). A backend knows nothing of BTRCALL's buffers,
// positions or currency; the statuses it returns are its own faults, named
// by the contract's values (2 damage, 5 a unique key already held, 18 disk
// full, 30 not a data file, 85 another process holds the file, ...).
//
// A null key (KeySpec::nulls) has no value for a row whose record makes it
// null (keyIsNull, engine/key_codec.h): the row is in no seek along that
// key, counts for none of its values (unique or distinct) and is still
// stepped through. Its encoded value in `keys` is then to be ignored.
//
// Row ids: positive, unique within the table, never reused while the file
// lives, and growing with insertion, so that rows of equal key value come in
// insertion order along that key. A row keeps its id through a replace.
//
// A table runs each call in a transaction of its own and holds none between
// calls, so every other table on the same file, in this process or another,
// sees a change at its next call, unless begin() opened a transaction that
// lasts until commit() or rollback(). A backend may keep a read open from
// one call to the next only while it can tell that nothing committed since
// (a walk along a key), so that every call answers as a fresh read would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/api.h"
#include "engine/description.h"

namespace engine {

using RowId = std::int64_t;

// How an open shares the file with other opens.
enum class OpenMode {
    Normal,
    ReadOnly,   // the front refuses Insert, Update and Delete (status 46)
    Exclusive,  // no other open of the file, in any process, while it lasts
};

// A seek along one key. Order along a key: by encoded value, then by row id.
// Equal: the first row whose value equals; Greater, GreaterOrEqual: the first
// row with a value >, >=; Less, LessOrEqual: the last with a value <, <=;
// First, Last: the ends; After, Before: the row next to (value, row id) in
// that order (the given row need not exist any more).
enum class Seek : std::uint8_t {
    Equal,
    Greater,
    GreaterOrEqual,
    Less,
    LessOrEqual,
    First,
    Last,
    After,
    Before,
};
inline constexpr std::size_t seekCount = 9;

// A step in physical order: by row id. Next and Previous: the row after
// (before) the given id, which need not exist any more.
enum class Step : std::uint8_t { First, Last, Next, Previous };
inline constexpr std::size_t stepCount = 4;

// A row found by a seek, a step or a read. The pointers stay valid until the
// next call on the table: record has the description's record length, key
// the sought key's length (nullptr for a step or a read).
struct FoundRow {
    bool found = false;
    RowId id = 0;
    const unsigned char* record = nullptr;
    const unsigned char* key = nullptr;
};

// Checks a row about to be replaced, inside the replace's transaction: given
// the row as stored, returns 0 to go on or the status that abandons the
// replace.
using ReplaceGuard = std::function<std::int16_t(const unsigned char* storedRecord)>;

// One open table (one open of a data file).
class Table {
public:
    virtual ~Table() = default;

    // The description the file was created with.
    virtual const FileDescription& description() const = 0;

    // Finds the row `how` names along key `key` (< number of keys). `value`
    // (the key's length, encoded) is read by every seek but First and Last;
    // `from` by After and Before. `out.found` is false when no row answers.
    virtual std::int16_t seek(std::size_t key, Seek how, const unsigned char* value, RowId from,
                              FoundRow& out) = 0;

    // Stores a new row: `record` (the record length) and `keys`, the encoded
    // values of every key one after the other. `id` is the new row's id.
    // Status 5 when a key without duplicates already holds its value
    // (nothing stored).
    virtual std::int16_t insert(const unsigned char* record, const unsigned char* keys,
                                RowId& id) = 0;

    // Replaces row `id` as insert stores one, after `guard` accepted the row
    // as stored, all in one transaction. Status 8 when the row is gone;
    // the guard's status when it refuses; 5 as insert.
    virtual std::int16_t replace(RowId id, const unsigned char* record, const unsigned char* keys,
                                 const ReplaceGuard& guard) = 0;

    // Removes row `id` after `guard` accepted the row as stored, in one
    // transaction. Status 8 when it is gone; the guard's status when it
    // refuses.
    virtual std::int16_t remove(RowId id, const ReplaceGuard& guard) = 0;

    // The number of rows (clamped to 32 bits).
    virtual std::int16_t count(std::uint32_t& out) = 0;

    // The row next in physical order (Step), and the row with a given id
    // (Get Direct). `out.found` is false when there is none.
    virtual std::int16_t step(Step how, RowId from, FoundRow& out) = 0;
    virtual std::int16_t read(RowId id, FoundRow& out) = 0;

    // Ranks along key `key` (Get by Percentage, Find Percentage): the number
    // of rows before (`value`, `from`) in the key's order, and the row `n`
    // rows from the start of the key (`out.found` false past its end). Rows
    // out of a null key's index count for neither.
    virtual std::int16_t rowsBefore(std::size_t key, const unsigned char* value, RowId from,
                                    std::uint64_t& out) = 0;
    virtual std::int16_t seekNth(std::size_t key, std::uint64_t n, FoundRow& out) = 0;

    // The number of distinct values of key `key` (Stat), clamped to 32 bits.
    // Must stay cheap when the file has not changed: a backend keeps the
    // last answer while it can tell the file unchanged.
    virtual std::int16_t distinctValues(std::size_t key, std::uint32_t& out) = 0;

    // A transaction over calls (Begin Transaction): every call after begin()
    // runs inside it, with the file's write lock held, until commit() makes
    // its changes visible to every other table at once or rollback() drops
    // them. Other tables see none of its changes before the commit.
    // PostgreSQL: BEGIN/COMMIT/ROLLBACK on the table's session; the tables
    // of one process's transaction share one session there, so a commit
    // over several files is one PostgreSQL transaction.
    virtual std::int16_t begin() = 0;
    virtual std::int16_t commit() = 0;
    virtual void rollback() = 0;

    // Record locks held for this process against other processes (the
    // lock biases): lockRow gives false when another process holds the row;
    // a row locked again by this process counts once more, and unlockRow
    // releases one count; lockedElsewhere tells whether another process
    // holds it (never for a row this process holds). Locks end at the
    // latest with the process. PostgreSQL: session advisory locks keyed by
    // the file and the row id (pg_try_advisory_lock, pg_advisory_unlock).
    virtual bool lockRow(RowId id) = 0;
    virtual void unlockRow(RowId id) = 0;
    virtual bool lockedElsewhere(RowId id) = 0;

    // Changes the keys of a table opened exclusively, whole or not at all,
    // outside a transaction over calls (Create Index, Drop Index); the
    // table's description() is `next` afterwards, and every later open of
    // the file reads it.
    //
    // addKey: `next` is the description with one key more, last; every
    // row's value of it comes from `encode` (false: the row's key is null,
    // out of the key's index). Status 5 when the key allows no duplicates
    // and two rows hold one value (nothing changed).
    // dropKey: `next` is the description without key `key`; the keys after
    // it move down by one.
    // A backend that cannot change keys answers 1 (the default).
    using KeyEncoder = std::function<bool(const unsigned char* record, unsigned char* encoded)>;
    virtual std::int16_t addKey(const FileDescription& next, const KeyEncoder& encode) {
        (void)next;
        (void)encode;
        return status::invalidOperation;
    }
    virtual std::int16_t dropKey(std::size_t key, const FileDescription& next) {
        (void)key;
        (void)next;
        return status::invalidOperation;
    }
};

// A backend: where data files live and how they are opened and created.
class Storage {
public:
    virtual ~Storage() = default;

    // Opens the data file at `path` (program form: "\" separators, console
    // code page). Statuses: 12 no such file; 85 another open conflicts with
    // the mode; 30 not a data file of this backend; 2 damaged or unreadable.
    virtual std::int16_t open(const std::string& path, OpenMode mode,
                              std::unique_ptr<Table>& out) = 0;

    // Creates an empty data file with `description` at `path`, whole or not
    // at all. Statuses: 59 the file exists and `overwrite` is false; 85 the
    // file to be replaced is open; 25 it cannot be written.
    virtual std::int16_t create(const std::string& path, const FileDescription& description,
                                bool overwrite) = 0;

    // Runs the backend's own consistency check of the data file at `path`
    // and adds each finding to `findings` (none when the file is sound).
    // Status 0 when the check ran, whatever it found; 12 no such file; 85
    // another process holds the file too long; 2 it cannot be read. A
    // backend without a check of its own finds nothing.
    virtual std::int16_t verify(const std::string& path, std::vector<std::string>& findings) {
        (void)path;
        (void)findings;
        return status::ok;
    }
};

}  // namespace engine
