// The data layer: the table of open data files, and the record operations
// that move whole records between the record manager and the record areas
// the callers registered at open. Callers name a file by the file number
// they gave it; only this layer calls the record manager.
//
// Every operation that can fail reports a 16-bit status in its last
// argument: 0 success; the record manager's statuses pass through unchanged;
// and the layer's own statuses below.
#pragma once

#include <cstdint>
#include <string>

#include "data/status.h"
#include "engine/api.h"

// Fixed sizes of every record-manager call of the data layer.
constexpr int kDataBufferSize = static_cast<int>(engine::dataBufferSize);
constexpr int kKeyBufferSize = static_cast<int>(engine::keyBufferSize);
constexpr int kPositionBlockSize = static_cast<int>(engine::positionBlockSize);
constexpr int kMaxPathLength = static_cast<int>(engine::maxPathLength);
constexpr int kSlotCount = 40;  // slots 1..40; entry 0 is scratch

// One slot of the table.
struct OpenFileEntry {
    std::int16_t fileNumber = 0;  // 0 marks a free slot
    unsigned char positionBlock[kPositionBlockSize + 1] = {};
    unsigned char* recordArea = nullptr;  // caller-owned
    std::int32_t recordAreaSize = 0;      // bytes the caller registered
    std::int32_t recordLength = 0;        // from Stat at open
    std::int16_t keyNumber = 0;           // current key
    std::string keyValue;                 // current key value
    std::string name;                     // as given to openDataFile, for the fatal message
};

struct OpenFileTable {
    bool created = false;
    OpenFileEntry entries[kSlotCount + 1];
};
extern OpenFileTable openFileTable;

// The record manager's entry. The data layer calls it through this pointer,
// set at start-up (tests put a scripted stand-in behind it). Every call
// hands a 1536-byte data buffer and a 256-byte key buffer. The entry returns
// an int; the data layer keeps its low 16 bits as the status, which is all a
// record manager that returns a 16-bit status sets. Until an entry is set (or
// after nullptr is set), every call answers status 20, the record manager's
// "not active". The entry carries the record manager's calling convention
// (__stdcall on 32-bit Windows), so BTRCALL of the engine or of a loaded DLL
// is set as it is.
using RecordManagerEntry = engine::Entry;
void setRecordManager(RecordManagerEntry entry);
RecordManagerEntry recordManager();

// The pause the layer takes before trying again: 3000 ms while another user
// holds a data file being opened, short ones while "db.log" is held.
// platform::sleepMilliseconds unless another is set (nullptr restores it);
// tests set one that records the pauses.
using PauseFunction = void (*)(std::uint32_t milliseconds);
void setPauseFunction(PauseFunction pause);

// The slot holding `fileNumber` (> 0); else minus the highest-numbered free
// slot; 0 when not registered and no slot is free. File number 0 marks a
// free slot, so it finds the lowest free slot: the record operations below
// therefore treat file number 0 as not registered (status 3).
std::int16_t findSlot(std::int16_t fileNumber);

// Registers `fileNumber` with its record area of `recordAreaSize` bytes and
// opens the data file `name` (".dat" appended when its last component has no
// dot), creating it from rootDir + "ddf\" + base name + ".xdf" when missing
// and waiting 3000 ms at a time, without limit, while another user holds it.
// Status 0, 1002 (file number 0 included) or 1003, the table unchanged for
// the last two; every other failure shows the fatal message (the record
// manager's status, or 1005 when the record length exceeds the record area
// or the data buffer, 1006 for a dictionary length outside 0..1536, 1007 for
// a data path over 255 characters, 1009 for a Stat answer that does not fit
// its buffers) and ends the program with exit code 0.
void openDataFile(std::int16_t fileNumber, const std::string& name, void* recordArea,
                  std::int32_t recordAreaSize, std::int16_t& status);

// The file's record length and the total length of key `keyNumber`, both
// through two Stat calls (one when the key number is not below the number of
// keys); both 0 when the file is not registered or the answer does not fit
// its buffers (record length outside 0..1536, a negative page size, key
// over 255 bytes, segments running past the buffer); key length 0 when the
// key number is not a key of the file.
void describeKey(std::int16_t fileNumber, std::int16_t keyNumber, std::int16_t& keyLength,
                 std::int16_t& recordLength);

// Makes sure that the open file `fileNumber` refuses a second record with
// the same first `identityLength` bytes, as a file the program inserts into
// after looking the identity up must: its key 0 must allow no duplicates and
// be made of exactly those bytes, in record order. One Stat. Status 0, or 3
// when the file number is not registered; any other answer takes the fatal
// path of an open under `name`: status 1010 for another key 0 (or none),
// 1009 for a Stat answer that does not fit its buffer, or the failing Stat's
// own status.
void requireIdentityKey(std::int16_t fileNumber, const std::string& name,
                        std::int16_t identityLength, std::int16_t& status);

// One record-manager call of `operation` on the file of `slot`, moving the
// record between the slot's record area and the record manager.
void exchangeRecord(std::int16_t slot, std::int16_t operation, std::int16_t& status);

// Takes the fatal path of an open, naming the registered file `fileNumber`
// as it was opened, when `status` says that the file is damaged or cannot be
// read (2): a walk that ended on it would skip the rest of the file without a
// word. Any other status, and a file number not registered, return.
void stopOnDamagedFile(std::int16_t fileNumber, std::int16_t status);

// Makes `keyNumber` the current key and reads the record whose key equals
// `keyValue` (direction 0), the first at or after it (> 0) or the last at or
// before it (< 0); the value is cut or filled with zero bytes to the key's
// length. Status 3, 1004 (current key unchanged), 1005 or 1009 (Stat answer
// that does not fit), or the record manager's (22 counts as 0).
void seekByKey(std::int16_t fileNumber, std::int16_t keyNumber, std::string keyValue,
               std::int16_t direction, std::int16_t& status);

// Moves |count| records along the current key (backward when count < 0) and
// reads the record reached. Count 0 does nothing. Status 3 or the record
// manager's (22 counts as 0).
void stepRecords(std::int16_t fileNumber, std::int16_t count, std::int16_t& status);

// Inserts the record in the file's record area and appends one line to
// "db.log" in the current directory, whatever the status. Status 3 (no line
// written) or the record manager's (22 included); on a failure the current
// key value becomes zero bytes of the same length.
void insertRecord(std::int16_t fileNumber, std::int16_t& status);

// Appends the operations-log line (file number, operation, status) to
// "db.log": each number as a sign position, its digits and a blank, the
// first two filled with blanks to the next multiple of 14 columns; CR LF.
// The file is opened without sharing for the one write, and the line lands
// whole or not at all (a part written on a full disk is taken back). While
// another process holds the file, the line is tried again every 50 ms for
// 10 seconds, then given up; any other failure gives it up at once. Never
// changes anything else.
void appendOperationsLog(std::int16_t fileNumber, std::int16_t operation, std::int16_t status);

// Closes every data file with the record manager's Reset and empties the
// table; on a failed Reset (its status returned) the table is left as it
// was.
void closeAllDataFiles(std::int16_t& status);
