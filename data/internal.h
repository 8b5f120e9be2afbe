// What the files of the data layer share among themselves; nothing outside
// data/ includes this header (the data layer's own tests do).
#pragma once

#include <cstdint>
#include <string>

#include "data/data.h"
#include "engine/api.h"

// Record-manager operation codes the data layer uses (engine/api.h).
constexpr std::uint16_t kOpOpen = engine::op::open;
constexpr std::uint16_t kOpInsert = engine::op::insert;
constexpr std::uint16_t kOpGetEqual = engine::op::getEqual;
constexpr std::uint16_t kOpGetNext = engine::op::getNext;
constexpr std::uint16_t kOpGetPrevious = engine::op::getPrevious;
constexpr std::uint16_t kOpGetGreater = engine::op::getGreater;
constexpr std::uint16_t kOpGetGreaterOrEqual = engine::op::getGreaterOrEqual;
constexpr std::uint16_t kOpGetLess = engine::op::getLess;
constexpr std::uint16_t kOpGetLessOrEqual = engine::op::getLessOrEqual;
constexpr std::uint16_t kOpCreate = engine::op::create;
constexpr std::uint16_t kOpStat = engine::op::stat;
constexpr std::uint16_t kOpReset = engine::op::reset;

// Record-manager statuses the data layer acts on.
constexpr std::int16_t kStatusFileMissing = engine::status::fileNotFound;
constexpr std::int16_t kStatusRecordCut = engine::status::dataBufferTooShort;
constexpr std::int16_t kStatusFileLocked = engine::status::fileLocked;
constexpr std::int16_t kStatusFileExists =
    engine::status::fileExists;  // Create refused: the file is there
constexpr std::int16_t kStatusNotActive = engine::status::inactive;

// Pause between two opens of a data file held by another user.
constexpr std::uint32_t kLockedFilePauseMs = 3000;

// While another process holds "db.log", its line is tried again after each
// of up to this many pauses of this length (10 seconds in all); then the line
// is given up and the insertion's status stands.
constexpr int kLogHeldPauses = 200;
constexpr std::uint32_t kLogRetryPauseMs = 50;

// Brings the table into being (every slot free) on its first use.
void ensureOpenFileTable();

// The slot of a registered, non-zero file number; 0 otherwise.
std::int16_t registeredSlot(std::int16_t fileNumber);

// One call of the record manager entry in force. The buffers are the
// caller's 1536-byte data buffer and 256-byte key buffer.
std::int16_t callRecordManager(std::uint16_t operation, unsigned char* positionBlock,
                               unsigned char* dataBuffer, std::uint32_t& dataLength,
                               unsigned char* keyBuffer, std::uint8_t keyLength,
                               std::int8_t keyNumber);

// Pauses through the pause function in force.
void pauseMilliseconds(std::uint32_t milliseconds);

// describeKey on a slot, with a status: 0; 1005 for a record length above
// 1536; 1009 for any other answer that does not fit its buffers (or the
// failing Stat's own status, when a Stat failed and left no usable answer).
// Both lengths are 0 unless the status is 0.
void describeSlotKey(std::int16_t slot, std::int16_t keyNumber, std::int16_t& keyLength,
                     std::int16_t& recordLength, std::int16_t& status);

// Splits a data-file name into the path handed to the record manager and the
// base name of its dictionary: scanning from the right, ":", "\" or "/" ends
// the last component and its leftmost dot starts the extension; a last
// component without a dot gets ".dat".
void splitDataName(const std::string& name, std::string& dataPath, std::string& baseName);

// Reads the creation description of a dictionary file (a 16-bit length, then
// that many bytes; missing bytes read as zero bytes; the file is created
// empty when absent). Status 0, or 1006 when the length is negative or
// above 1536.
void readDictionary(const std::string& path, std::string& description, std::int16_t& status);

// The line appendOperationsLog writes, CR LF included.
std::string operationsLogLine(std::int16_t fileNumber, std::int16_t operation, std::int16_t status);

// The fatal message of an open: the text of the session's language, the
// name as given, " (", the status, ")"; in the console code page.
std::string fatalOpenMessage(const std::string& name, std::int16_t status);

// Puts the fatal message in front of the operator: a message box around
// row 12, the screen under it saved.
void showFatalMessage(const std::string& message);

// Takes the message box away and gives the screen under it back.
void removeFatalMessage();

// The fatal path of openDataFile: message, beep, one key, every file
// closed, exit code 0.
[[noreturn]] void failOpen(const std::string& name, std::int16_t status);
