// A typed caller of the record manager's entry: one open file's position
// block and the buffers callers hand (a 1536-byte data buffer and a 256-byte
// key buffer), with one member per operation. It adds no rule of its own:
// every member returns the entry's status unchanged, and the buffers keep
// what the last call left in them.
//
// The entry is BTRCALL unless another is given (a loaded DLL's, a stand-in).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/api.h"
#include "engine/btrcall.h"
#include "platform/coding.h"

namespace engine {

class Client {
public:
    explicit Client(Entry entry = &BTRCALL) : entry_(entry) {}

    unsigned char position[positionBlockSize] = {};
    unsigned char data[dataBufferSize] = {};
    unsigned char key[keyBufferSize] = {};
    std::uint32_t length = 0;  // bytes offered to the last call; then bytes returned

    // One call with the buffers as they are: `dataLength` bytes of data offered.
    std::int16_t call(std::uint16_t operation, std::uint32_t dataLength, std::int8_t keyNumber,
                      std::uint8_t keyLength = static_cast<std::uint8_t>(maxKeyLength)) {
        length = dataLength;
        return entry_(operation, position, data, &length, key, keyLength, keyNumber);
    }

    // Puts `value` in the key buffer, cut to its size, zero bytes after it.
    void setKey(std::string_view value) {
        std::memset(key, 0, sizeof key);
        if (!value.empty()) std::memcpy(key, value.data(), std::min(value.size(), sizeof key));
    }

    // Create from a description (blank bytes after it in the data buffer);
    // `mode` createKeepExisting refuses an existing file with status 59.
    std::int16_t create(std::string_view path, std::string_view description,
                        std::int8_t mode = createKeepExisting) {
        std::memset(data, ' ', sizeof data);
        if (!description.empty()) {
            std::memcpy(data, description.data(), std::min(description.size(), sizeof data));
        }
        setKey(path);
        return call(op::create, sizeof data, mode);
    }

    // Open in `mode` (openmode::); fills the position block.
    std::int16_t open(std::string_view path, std::int8_t mode = openmode::normal) {
        setKey(path);
        return call(op::open, 0, mode);
    }

    std::int16_t close() { return call(op::close, 0, 0); }

    // Resets the record manager: every file of this process is closed.
    std::int16_t reset() { return call(op::reset, 0, 0); }

    // Insert or Update of `record`, offered with its own length.
    std::int16_t insert(std::string_view record, std::int8_t keyNumber = 0) {
        return write(op::insert, record, keyNumber);
    }
    std::int16_t update(std::string_view record, std::int8_t keyNumber = 0) {
        return write(op::update, record, keyNumber);
    }

    // Delete of the current record (the whole data buffer offered).
    std::int16_t remove() { return call(op::remove, sizeof data, 0); }

    // A read (any Get); `keyValue` goes to the key buffer first, for the
    // reads by value. The whole data buffer is offered.
    std::int16_t get(std::uint16_t operation, std::int8_t keyNumber,
                     std::string_view keyValue = {}) {
        setKey(keyValue);
        return call(operation, sizeof data, keyNumber);
    }

    // Stat into the data buffer (the whole buffer offered).
    std::int16_t stat() { return call(op::stat, sizeof data, 0); }

    // The record count of a fresh Stat, or 0xFFFFFFFF when Stat fails.
    std::uint32_t recordCount() {
        return stat() == status::ok ? coding::getU32(data + filespec::recordCount) : 0xFFFFFFFFu;
    }

    // The bytes the last call returned in the data buffer.
    std::string record() const {
        return std::string(reinterpret_cast<const char*>(data),
                           std::min<std::size_t>(length, sizeof data));
    }
    // The first `n` bytes of the key buffer.
    std::string keyBytes(std::size_t n) const {
        return std::string(reinterpret_cast<const char*>(key), std::min(n, sizeof key));
    }

private:
    std::int16_t write(std::uint16_t operation, std::string_view record, std::int8_t keyNumber) {
        const std::size_t n = std::min(record.size(), sizeof data);
        if (n > 0) std::memcpy(data, record.data(), n);
        return call(operation, static_cast<std::uint32_t>(n), keyNumber);
    }

    Entry entry_;
};

}  // namespace engine
