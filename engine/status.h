// The statuses BTRCALL returns, by name. Values are the record manager's
// classic ones, so programs written for it read them unchanged.
#pragma once

#include <cstdint>

namespace engine::status {

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
inline constexpr std::int16_t fileNotFound = 12;
inline constexpr std::int16_t diskFull = 18;
inline constexpr std::int16_t keyBufferMissing = 21;  // no key buffer, or shorter than the key
inline constexpr std::int16_t dataBufferTooShort = 22;
inline constexpr std::int16_t invalidPageSize = 24;
inline constexpr std::int16_t createError = 25;
inline constexpr std::int16_t invalidNumberOfKeys = 26;
inline constexpr std::int16_t invalidKeyPosition = 27;
inline constexpr std::int16_t invalidRecordLength = 28;
inline constexpr std::int16_t invalidKeyDefinition = 29;  // length, type or flags of a key
inline constexpr std::int16_t notADataFile = 30;
inline constexpr std::int16_t transactionError = 36;      // a transaction could not be started
inline constexpr std::int16_t transactionActive = 37;     // Begin while a transaction is active
inline constexpr std::int16_t noTransaction = 39;         // End or Abort without Begin
inline constexpr std::int16_t operationNotAllowed = 41;   // not allowed inside a transaction
inline constexpr std::int16_t invalidRecordAddress = 43;  // Get Direct: no record there
inline constexpr std::int16_t invalidKeyFlags = 45;       // flags of a key not allowed, or differing between its segments
inline constexpr std::int16_t accessDenied = 46;  // a write on a file opened read-only
inline constexpr std::int16_t invalidCollation = 48;      // the alternate collating sequence
inline constexpr std::int16_t invalidKeyType = 49;        // an extended key type the engine cannot order
inline constexpr std::int16_t fileExists = 59;
inline constexpr std::int16_t conflict = 80;   // the record changed since it was read
inline constexpr std::int16_t lockError = 81;  // Unlock of a lock not held
inline constexpr std::int16_t recordLocked = 84;
inline constexpr std::int16_t fileLocked = 85;
inline constexpr std::int16_t fileTableFull = 86;
inline constexpr std::int16_t incompatibleLock = 93;  // single and multiple record locks mixed

}  // namespace engine::status
