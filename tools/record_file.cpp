#include "tools/record_file.h"

#include <cstring>

#include "engine/btrcall.h"
#include "tools/error.h"

namespace nubodat {
namespace {

constexpr std::size_t kDataBufferSize = 1536;
constexpr std::size_t kKeyBufferSize = 256;  // 255 usable and a zero byte

// The key buffer holding a path and its zero byte.
std::string pathKey(const std::string& path) {
    if (path.size() >= kKeyBufferSize) throw Error(path + ": the path is longer than 255 characters");
    std::string key = path;
    key.resize(kKeyBufferSize, '\0');
    return key;
}

}  // namespace

std::string statusText(std::int16_t status) {
    const char* meaning = nullptr;
    switch (status) {
        case 1: meaning = "invalid operation"; break;
        case 2: meaning = "input/output error"; break;
        case 3: meaning = "file not open"; break;
        case 4: meaning = "key value not found"; break;
        case 5: meaning = "duplicate key value"; break;
        case 6: meaning = "invalid key number"; break;
        case 8: meaning = "no current record"; break;
        case 9: meaning = "end of file"; break;
        case 10: meaning = "key not modifiable"; break;
        case 12: meaning = "file not found"; break;
        case 18: meaning = "disk full"; break;
        case 21: meaning = "key buffer too short"; break;
        case 22: meaning = "data buffer too short"; break;
        case 24: meaning = "invalid page size"; break;
        case 25: meaning = "create error"; break;
        case 26: meaning = "invalid number of keys"; break;
        case 27: meaning = "invalid key position"; break;
        case 28: meaning = "invalid record length"; break;
        case 29: meaning = "invalid key definition"; break;
        case 30: meaning = "not a data file"; break;
        case 46: meaning = "access denied"; break;
        case 59: meaning = "file already exists"; break;
        case 84: meaning = "record locked"; break;
        case 85: meaning = "file locked by another user"; break;
        case 86: meaning = "file table full"; break;
        default: break;
    }
    std::string text = "status " + std::to_string(status);
    if (meaning != nullptr) text += std::string(" (") + meaning + ")";
    return text;
}

std::int16_t RecordFile::call(std::uint16_t operation, std::string& data, std::uint32_t& dataLength,
                              std::string& key, int keyNumber) {
    if (key.size() < kKeyBufferSize) key.resize(kKeyBufferSize, '\0');
    return BTRCALL(operation, positionBlock_, data.data(), &dataLength, key.data(),
                   static_cast<std::uint8_t>(kKeyBufferSize - 1), static_cast<std::int8_t>(keyNumber));
}

std::int16_t RecordFile::create(const std::string& path, const Description& description) {
    RecordFile scratch;
    std::string data = encodeDescription(description);
    if (data.size() > kDataBufferSize) throw Error(path + ": the description is longer than 1536 bytes");
    std::uint32_t length = static_cast<std::uint32_t>(data.size());
    std::string key = pathKey(path);
    return scratch.call(op::kCreate, data, length, key, -1);
}

std::int16_t RecordFile::open(const std::string& path, int mode) {
    close();
    std::string owner(1, '\0');
    std::uint32_t length = 0;
    std::string key = pathKey(path);
    std::memset(positionBlock_, 0, sizeof positionBlock_);
    const std::int16_t s = call(op::kOpen, owner, length, key, mode);
    open_ = s == status::kOk;
    path_ = path;
    return s;
}

void RecordFile::close() {
    if (!open_) return;
    std::string data(1, '\0'), key;
    std::uint32_t length = 0;
    call(op::kClose, data, length, key, 0);
    open_ = false;
}

std::int16_t RecordFile::stat(Description& out) {
    std::string data(kDataBufferSize, '\0');
    std::uint32_t length = static_cast<std::uint32_t>(data.size());
    std::string key;
    const std::int16_t s = call(op::kStat, data, length, key, 0);
    if (s != status::kOk) return s;
    if (length > data.size()) throw Error(path_ + ": the Stat answer is longer than its buffer");
    out = decodeDescription(data.substr(0, length), true, path_);
    return s;
}

std::int16_t RecordFile::get(std::uint16_t operation, int keyNumber, std::string& record,
                             std::string& key) {
    std::string data(kDataBufferSize, '\0');
    std::uint32_t length = static_cast<std::uint32_t>(data.size());
    key.assign(kKeyBufferSize, '\0');
    const std::int16_t s = call(operation, data, length, key, keyNumber);
    if (s != status::kOk) return s;
    if (length > data.size()) throw Error(path_ + ": a record is longer than the read buffer");
    record = data.substr(0, length);
    return s;
}

std::int16_t RecordFile::getEqual(int keyNumber, std::string& key, std::string& record) {
    std::string data(kDataBufferSize, '\0');
    std::uint32_t length = static_cast<std::uint32_t>(data.size());
    std::string buffer = key;
    const std::int16_t s = call(op::kGetEqual, data, length, buffer, keyNumber);
    if (s != status::kOk) return s;
    if (length > data.size()) throw Error(path_ + ": a record is longer than the read buffer");
    record = data.substr(0, length);
    return s;
}

std::int16_t RecordFile::insert(const std::string& record) {
    std::string data = record;
    std::uint32_t length = static_cast<std::uint32_t>(data.size());
    std::string key;
    return call(op::kInsert, data, length, key, 0);
}

std::int16_t RecordFile::remove() {
    std::string data(kDataBufferSize, '\0');
    std::uint32_t length = static_cast<std::uint32_t>(data.size());
    std::string key;
    return call(op::kDelete, data, length, key, 0);
}

}  // namespace nubodat
