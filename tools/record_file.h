// A data file reached through the record manager's entry BTRCALL (by the
// typed client engine::Client), and nothing else: open and close, Stat,
// Create, and whole-record reads, inserts and deletes. Each operation returns the record manager's
// status; the caller decides what a status means for it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/api.h"
#include "engine/client.h"
#include "tools/description.h"

namespace nubodat {

// Operation codes of the record manager, by the names the utility uses
// (engine/api.h).
namespace op {
constexpr std::uint16_t kOpen = engine::op::open, kClose = engine::op::close,
                        kInsert = engine::op::insert, kDelete = engine::op::remove,
                        kGetEqual = engine::op::getEqual, kGetNext = engine::op::getNext,
                        kGetPrevious = engine::op::getPrevious, kGetFirst = engine::op::getFirst,
                        kGetLast = engine::op::getLast, kCreate = engine::op::create,
                        kStat = engine::op::stat, kStepFirst = engine::op::stepFirst,
                        kStepNext = engine::op::stepNext;
}

// Statuses the utility acts on.
namespace status {
constexpr std::int16_t kOk = engine::status::ok;
constexpr std::int16_t kKeyNotFound = engine::status::keyValueNotFound;
constexpr std::int16_t kDuplicateKey = engine::status::duplicateKey;
constexpr std::int16_t kEndOfFile = engine::status::endOfFile;
constexpr std::int16_t kFileNotFound = engine::status::fileNotFound;
constexpr std::int16_t kFileExists = engine::status::fileExists;
}  // namespace status

// The text of a status for messages: "status 5 (duplicate key value)";
// the meaning is engine::statusName's.
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

    // Reads in physical order (Step First, Step Next): insertion order.
    std::int16_t step(std::uint16_t operation, std::string& record);

    std::int16_t insert(const std::string& record);
    // Deletes the record read last.
    std::int16_t remove();

    // The record manager's transaction (Begin 19, End 20, Abort 21): the
    // inserts and deletes between begin() and end() reach every other
    // process at once, and after abort() or the end of the process without
    // end() none of them does.
    std::int16_t begin();
    std::int16_t end();
    void abort();

    const std::string& path() const { return path_; }

    // The process's transaction over every open file (Begin, End, Abort).
    static std::int16_t beginTransaction();
    static std::int16_t endTransaction();
    static std::int16_t abortTransaction();

private:
    engine::Client client_;  // the position block and the buffers of every call
    bool open_ = false;
    std::string path_;
};

}  // namespace nubodat
