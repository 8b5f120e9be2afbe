// A data file reached through the record manager's entry BTRCALL, and
// nothing else: open and close, Stat, Create, and whole-record reads,
// inserts and deletes. Each operation returns the record manager's status;
// the caller decides what a status means for it.
#pragma once

#include <cstdint>
#include <string>

#include "tools/description.h"

namespace nubodat {

// Operation codes of the record manager.
namespace op {
constexpr std::uint16_t kOpen = 0, kClose = 1, kInsert = 2, kDelete = 4, kGetEqual = 5,
                        kGetNext = 6, kGetPrevious = 7, kGetFirst = 12, kGetLast = 13,
                        kCreate = 14, kStat = 15;
}

// Statuses the utility acts on.
namespace status {
constexpr std::int16_t kOk = 0;
constexpr std::int16_t kKeyNotFound = 4;
constexpr std::int16_t kDuplicateKey = 5;
constexpr std::int16_t kEndOfFile = 9;
constexpr std::int16_t kFileNotFound = 12;
constexpr std::int16_t kFileExists = 59;
}

// The text of a status for messages: "status 5 (duplicate key)".
std::string statusText(std::int16_t status);

class RecordFile {
public:
    RecordFile() = default;
    ~RecordFile() { close(); }
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Creates the data file `path` from `description`; never replaces an
    // existing file (status 59 then).
    static std::int16_t create(const std::string& path, const Description& description);

    // Opens `path` in the record manager's open mode `mode` (0 normal, -4
    // exclusive: no other open meanwhile).
    std::int16_t open(const std::string& path, int mode = 0);
    void close();
    bool isOpen() const { return open_; }

    // The file's description and record count.
    std::int16_t stat(Description& out);

    // Reads by step along key `keyNumber` (First, Next, Last, Previous) or by
    // equal key; `record` receives the record, `key` the key value.
    std::int16_t get(std::uint16_t operation, int keyNumber, std::string& record, std::string& key);
    std::int16_t getEqual(int keyNumber, std::string& key, std::string& record);

    std::int16_t insert(const std::string& record);
    // Deletes the record read last.
    std::int16_t remove();

    const std::string& path() const { return path_; }

private:
    std::int16_t call(std::uint16_t operation, std::string& data, std::uint32_t& dataLength,
                      std::string& key, int keyNumber);
    unsigned char positionBlock_[128] = {};
    bool open_ = false;
    std::string path_;
};

}  // namespace nubodat
