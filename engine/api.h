// The record manager's contract: everything a caller of the entry BTRCALL and
// the record manager itself must agree on. Operation codes, open modes,
// statuses, buffer sizes, the entry's signature and calling convention, and
// the byte layout of a creation description and of a Stat answer.
//
// Header-only and free of any other project header: the data layer, the
// utility, the tests, the fuzzers and the benchmarks include it, and none of
// them links the engine for it. The values are the record manager's classic
// ones, so programs written for it read them unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

// The entry's calling convention: __stdcall on 32-bit Windows, where the
// installed record manager's DLL exports BTRCALL so; the platform's default
// everywhere else.
#if defined(_WIN32) && !defined(_WIN64)
#define NUBO_BTRCALL_CONV __stdcall
#else
#define NUBO_BTRCALL_CONV
#endif

namespace engine {

// The entry: one call per operation.
//   operation      an operation code (op::), possibly with a bias
//   positionBlock  the caller's positionBlockSize bytes for the file, filled by Open
//   dataBuffer     record or description; dataLength in: bytes offered,
//                  out: bytes returned by the operations that return data
//   keyBuffer      key value, or path and its zero; at least keyBufferSize bytes
//   keyLength      bytes of the key buffer offered
//   keyNumber      key (index) number, or the mode for Open and Create
// Returns the status (status::) as a whole int: callers that declare the entry
// returning int read the full return register; a caller of an installed
// record manager keeps only the low 16 bits.
using Entry = int(NUBO_BTRCALL_CONV*)(std::uint16_t operation, void* positionBlock,
                                      void* dataBuffer, std::uint32_t* dataLength, void* keyBuffer,
                                      std::uint8_t keyLength, std::int8_t keyNumber);

// Sizes of the buffers.
inline constexpr std::size_t positionBlockSize = 128;
inline constexpr std::size_t maxPathLength = 255;  // a path in the key buffer, without its zero
inline constexpr std::size_t maxKeyLength = 255;   // the bytes of one key, all segments
// What callers offer: a path and its zero. Open and Create read up to this
// many bytes for the zero; a path without one there is too long (status 11).
inline constexpr std::size_t keyBufferSize = 256;
inline constexpr std::uint16_t maxRecordLength = 1536;
inline constexpr std::size_t dataBufferSize = maxRecordLength;  // what callers offer

// Operation codes.
namespace op {
inline constexpr std::uint16_t open = 0;
inline constexpr std::uint16_t close = 1;
inline constexpr std::uint16_t insert = 2;
inline constexpr std::uint16_t update = 3;
inline constexpr std::uint16_t remove = 4;  // Delete
inline constexpr std::uint16_t getEqual = 5;
inline constexpr std::uint16_t getNext = 6;
inline constexpr std::uint16_t getPrevious = 7;
inline constexpr std::uint16_t getGreater = 8;
inline constexpr std::uint16_t getGreaterOrEqual = 9;
inline constexpr std::uint16_t getLess = 10;
inline constexpr std::uint16_t getLessOrEqual = 11;
inline constexpr std::uint16_t getFirst = 12;
inline constexpr std::uint16_t getLast = 13;
inline constexpr std::uint16_t create = 14;
inline constexpr std::uint16_t stat = 15;
inline constexpr std::uint16_t beginTransaction = 19;  // with concurrentBias: concurrent
inline constexpr std::uint16_t endTransaction = 20;
inline constexpr std::uint16_t abortTransaction = 21;
inline constexpr std::uint16_t getPosition = 22;
inline constexpr std::uint16_t getDirect = 23;
inline constexpr std::uint16_t stepNext = 24;
inline constexpr std::uint16_t stop = 25;
inline constexpr std::uint16_t version = 26;
inline constexpr std::uint16_t unlock = 27;
inline constexpr std::uint16_t reset = 28;
inline constexpr std::uint16_t stepFirst = 33;
inline constexpr std::uint16_t stepLast = 34;
inline constexpr std::uint16_t createIndex = 31;
inline constexpr std::uint16_t dropIndex = 32;
inline constexpr std::uint16_t stepPrevious = 35;
inline constexpr std::uint16_t getNextExtended = 36;
inline constexpr std::uint16_t getPreviousExtended = 37;
inline constexpr std::uint16_t stepNextExtended = 38;
inline constexpr std::uint16_t stepPreviousExtended = 39;
inline constexpr std::uint16_t insertExtended = 40;
inline constexpr std::uint16_t getByPercentage = 44;
inline constexpr std::uint16_t findPercentage = 45;

// Biases added to an operation code. getKeyBias turns a Get into its
// key-only form (the key buffer is filled, no record is read); the lock
// biases ask a Get for a record lock: single or multiple, waiting or not.
inline constexpr std::uint16_t getKeyBias = 50;
inline constexpr std::uint16_t singleWaitLockBias = 100;
inline constexpr std::uint16_t singleNoWaitLockBias = 200;
inline constexpr std::uint16_t multipleWaitLockBias = 300;
inline constexpr std::uint16_t multipleNoWaitLockBias = 400;
// Begin Transaction: a concurrent transaction (1019).
inline constexpr std::uint16_t concurrentBias = 1000;
}  // namespace op

// Create: only this key number replaces an existing file.
inline constexpr int createReplaceExisting = 0;
// Stat: this key number adds the file version (byte 5).
inline constexpr int statWithVersion = -1;
// Create Index, Drop Index: this bit of the key number asks for a key
// number given in the key specification (Create) or for the other keys to
// keep their numbers (Drop).
inline constexpr int keyNumberBias = 128;
// Insert, Update: this key number leaves the position as it was (no
// currency change).
inline constexpr int noCurrencyChange = -1;
// Unlock: key number 0 or more releases the single lock; these the
// multiple locks.
inline constexpr int unlockOneMultiple = -1;  // the one at the address in the data buffer
inline constexpr int unlockAllMultiple = -2;

// A record's physical address (Get Position, Get Direct, Unlock): 4 bytes,
// the more significant 16-bit word first, each word little-endian.
inline constexpr std::uint32_t addressSize = 4;

// Get by Percentage, Find Percentage: a percentage in hundredths, 0 (the
// start of the key or file) to maxPercentage (its end), little-endian in
// the first 2 bytes of the data buffer (Find Percentage answers 4 bytes,
// the upper two zero); key number -1: physical order. Both need a data
// buffer of at least percentageBufferSize bytes.
inline constexpr std::uint16_t maxPercentage = 10000;
inline constexpr std::uint32_t percentageBufferSize = 4;
inline constexpr int physicalPercentage = -1;

// Version: its answer, 5 bytes: version (16 bits), revision (16 bits) and a
// platform letter.
inline constexpr std::uint32_t versionAnswerSize = 5;

// Open modes, given as the key number of Open.
namespace openmode {
inline constexpr int normal = 0;
inline constexpr int accelerated = -1;
inline constexpr int readOnly = -2;
inline constexpr int verify = -3;
inline constexpr int exclusive = -4;
}  // namespace openmode

// Create: this key number keeps an existing file (status 59), as every key
// number but createReplaceExisting does.
inline constexpr int createKeepExisting = -1;

// Statuses.
namespace status {
inline constexpr std::int16_t ok = 0;
inline constexpr std::int16_t invalidOperation = 1;
inline constexpr std::int16_t ioError = 2;      // also: the data file is damaged
inline constexpr std::int16_t fileNotOpen = 3;  // the position block names no open file
inline constexpr std::int16_t keyValueNotFound = 4;
inline constexpr std::int16_t duplicateKey = 5;
inline constexpr std::int16_t invalidKeyNumber = 6;
inline constexpr std::int16_t differentKeyNumber = 7;  // Get Next/Previous along another key
inline constexpr std::int16_t noCurrentRecord = 8;
inline constexpr std::int16_t endOfFile = 9;
inline constexpr std::int16_t keyNotModifiable = 10;
inline constexpr std::int16_t invalidFileName = 11;  // a path longer than maxPathLength
inline constexpr std::int16_t fileNotFound = 12;
inline constexpr std::int16_t diskFull = 18;
inline constexpr std::int16_t inactive = 20;          // no record manager loaded
inline constexpr std::int16_t keyBufferMissing = 21;  // no key buffer, or shorter than the key
inline constexpr std::int16_t dataBufferTooShort = 22;
inline constexpr std::int16_t invalidPageSize = 24;
inline constexpr std::int16_t createError = 25;
inline constexpr std::int16_t invalidNumberOfKeys = 26;
inline constexpr std::int16_t invalidKeyPosition = 27;
inline constexpr std::int16_t invalidRecordLength = 28;
inline constexpr std::int16_t invalidKeyDefinition = 29;  // length, type or flags of a key
inline constexpr std::int16_t notADataFile = 30;
inline constexpr std::int16_t transactionActive = 37;     // Begin while a transaction is active
inline constexpr std::int16_t noTransaction = 39;         // End or Abort without Begin
inline constexpr std::int16_t operationNotAllowed = 41;   // Create/Drop Index in a transaction
inline constexpr std::int16_t invalidRecordAddress = 43;  // Get Direct: no record there
inline constexpr std::int16_t invalidKeyFlags = 45;       // not kept, or differing between segments
inline constexpr std::int16_t accessDenied = 46;          // a write on a file opened read-only
inline constexpr std::int16_t invalidCollation = 48;      // the alternate collating sequence
inline constexpr std::int16_t invalidKeyType = 49;  // an extended type the engine cannot order
inline constexpr std::int16_t fileExists = 59;
inline constexpr std::int16_t rejectCountReached = 60;   // an extended read gave up
inline constexpr std::int16_t incorrectDescriptor = 62;  // an extended read's descriptor
inline constexpr std::int16_t conflict = 80;             // the record changed since it was read
inline constexpr std::int16_t lockError = 81;            // Unlock of a lock not held
inline constexpr std::int16_t recordLocked = 84;
inline constexpr std::int16_t fileLocked = 85;
inline constexpr std::int16_t fileTableFull = 86;
inline constexpr std::int16_t handleTableFull = 87;   // no file handle left in the system
inline constexpr std::int16_t incompatibleLock = 93;  // single and multiple record locks mixed
// The statuses of a data file on a database server.
inline constexpr std::int16_t deadlock = 78;         // the server broke a deadlock with this call
inline constexpr std::int16_t serverError = 91;      // no session with the server could be made
inline constexpr std::int16_t permissionError = 94;  // the server refused the login or the access
inline constexpr std::int16_t sessionLost = 95;      // the session with the server ended
}  // namespace status

// The meaning of a status in a few words ("duplicate key value"), or nullptr
// for a status not listed above (ok included).
constexpr const char* statusName(std::int16_t s) {
    switch (s) {
        case status::invalidOperation: return "invalid operation";
        case status::ioError: return "input/output error";
        case status::fileNotOpen: return "file not open";
        case status::keyValueNotFound: return "key value not found";
        case status::duplicateKey: return "duplicate key value";
        case status::invalidKeyNumber: return "invalid key number";
        case status::differentKeyNumber: return "different key number";
        case status::noCurrentRecord: return "no current record";
        case status::endOfFile: return "end of file";
        case status::keyNotModifiable: return "key not modifiable";
        case status::invalidFileName: return "invalid file name";
        case status::fileNotFound: return "file not found";
        case status::diskFull: return "disk full";
        case status::inactive: return "record manager inactive";
        case status::keyBufferMissing: return "key buffer too short";
        case status::dataBufferTooShort: return "data buffer too short";
        case status::invalidPageSize: return "invalid page size";
        case status::createError: return "create error";
        case status::invalidNumberOfKeys: return "invalid number of keys";
        case status::invalidKeyPosition: return "invalid key position";
        case status::invalidRecordLength: return "invalid record length";
        case status::invalidKeyDefinition: return "invalid key definition";
        case status::notADataFile: return "not a data file";
        case status::transactionActive: return "transaction already active";
        case status::noTransaction: return "no transaction active";
        case status::operationNotAllowed: return "operation not allowed";
        case status::invalidRecordAddress: return "invalid record address";
        case status::invalidKeyFlags: return "invalid key flags";
        case status::accessDenied: return "access denied";
        case status::invalidCollation: return "invalid alternate collating sequence";
        case status::invalidKeyType: return "invalid key type";
        case status::fileExists: return "file already exists";
        case status::rejectCountReached: return "reject count reached";
        case status::incorrectDescriptor: return "incorrect descriptor";
        case status::conflict: return "record changed since it was read";
        case status::lockError: return "lock error";
        case status::recordLocked: return "record locked";
        case status::fileLocked: return "file locked by another user";
        case status::fileTableFull: return "file table full";
        case status::handleTableFull: return "handle table full";
        case status::incompatibleLock: return "incompatible lock type";
        case status::deadlock: return "deadlock detected";
        case status::serverError: return "server error";
        case status::permissionError: return "permission error";
        case status::sessionLost: return "session no longer valid";
        default: return nullptr;
    }
}

// The creation description (Create's data buffer) and the Stat answer: a
// little-endian file specification followed by one segment specification per
// key segment, the keys in order and the segments of one key next to each
// other. Offsets within each specification.
namespace filespec {
inline constexpr std::size_t size = 16;
inline constexpr std::size_t recordLength = 0;  // 16 bits
inline constexpr std::size_t pageSize = 2;      // 16 bits
inline constexpr std::size_t keyCount = 4;      // 8 bits
inline constexpr std::size_t fileVersion = 5;  // 8 bits: Stat with key number -1; ignored by Create
inline constexpr std::size_t recordCount = 6;  // 32 bits, Stat only
inline constexpr std::size_t fileFlags = 10;   // 16 bits
}  // namespace filespec

namespace segspec {
inline constexpr std::size_t size = 16;
inline constexpr std::size_t position = 0;          // 16 bits, 1-based
inline constexpr std::size_t length = 2;            // 16 bits
inline constexpr std::size_t flags = 4;             // 16 bits
inline constexpr std::size_t distinctValues = 6;    // 32 bits, Stat only
inline constexpr std::size_t extendedType = 10;     // 8 bits
inline constexpr std::size_t nullValue = 11;        // 8 bits: the null byte of a null key
inline constexpr std::size_t keyNumber = 14;        // 8 bits, Stat: the key of the segment
inline constexpr std::size_t collationNumber = 15;  // 8 bits: its alternate collating sequence
}  // namespace segspec

// Key flags of a segment specification.
namespace keyflag {
inline constexpr std::uint16_t duplicates = 0x0001;
inline constexpr std::uint16_t modifiable = 0x0002;
inline constexpr std::uint16_t binary = 0x0004;
// A null key leaves out of its index the records whose key is null: with
// nullKey, when every segment holds only its null byte; with manualKey
// (the any-segment null key), when any segment does.
inline constexpr std::uint16_t nullKey = 0x0008;
inline constexpr std::uint16_t segmented = 0x0010;  // another segment of this key follows
inline constexpr std::uint16_t alternateCollation = 0x0020;
inline constexpr std::uint16_t descending = 0x0040;
inline constexpr std::uint16_t supplemental = 0x0080;
inline constexpr std::uint16_t extendedType = 0x0100;
inline constexpr std::uint16_t manualKey = 0x0200;
inline constexpr std::uint16_t caseInsensitive = 0x0400;
}  // namespace keyflag

// Extended key types (segspec::extendedType, with keyflag::extendedType)
// that the engine orders.
namespace keytype {
inline constexpr std::uint8_t string = 0;
inline constexpr std::uint8_t integer = 1;
inline constexpr std::uint8_t floatingPoint = 2;  // IEEE, 4 or 8 bytes
inline constexpr std::uint8_t date = 3;           // day, month, year (16 bits)
inline constexpr std::uint8_t time = 4;           // hundredths, seconds, minutes, hours
inline constexpr std::uint8_t decimal = 5;        // packed digits, sign in the last nibble
inline constexpr std::uint8_t money = 6;          // as decimal
inline constexpr std::uint8_t logical = 7;        // 1 or 2 bytes, unsigned
inline constexpr std::uint8_t numeric = 8;        // ASCII digits, sign overpunched in the last
inline constexpr std::uint8_t bfloat = 9;         // Microsoft binary format, 4 or 8 bytes
inline constexpr std::uint8_t lstring = 10;       // length byte, then the characters
inline constexpr std::uint8_t zstring = 11;       // characters up to a zero byte
inline constexpr std::uint8_t unsignedBinary = 14;
inline constexpr std::uint8_t autoIncrement = 15;  // signed, 2, 4 or 8 bytes; 0 on Insert: the next
inline constexpr std::uint8_t currency = 19;       // signed 64-bit integer
inline constexpr std::uint8_t timestamp = 20;      // unsigned 64-bit integer
}  // namespace keytype

// An alternate collating sequence in a description and a Stat answer: after
// the segment specifications, one per number used in byte 15 of a segment
// with the alternate-collation flag: a signature byte, an 8-byte name and
// 256 bytes giving each byte its place in the order.
namespace collation {
inline constexpr std::size_t size = 265;
inline constexpr unsigned char signature = 0xAC;
inline constexpr std::size_t table = 9;
}  // namespace collation

// The file version Stat reports with key number -1: 7.0.
inline constexpr std::uint8_t fileVersionByte = 0x70;

// File flags that would change what a record is; refused by Create.
namespace fileflag {
inline constexpr std::uint16_t variableLength = 0x0001;
inline constexpr std::uint16_t blankTruncation = 0x0002;
inline constexpr std::uint16_t keyOnly = 0x0010;
}  // namespace fileflag

// Limits of a description.
inline constexpr std::uint16_t minPageSize = 512;
inline constexpr std::uint16_t maxPageSize = 4096;
inline constexpr std::size_t maxKeys = 119;
inline constexpr std::size_t maxSegments = 119;

}  // namespace engine
