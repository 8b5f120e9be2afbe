// Helpers for the record manager's tests: creation descriptions and a caller
// that drives BTRCALL with buffers of the sizes callers use.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/btrcall.h"
#include "platform/coding.h"

namespace engine_test {

inline constexpr std::uint16_t opOpen = 0, opClose = 1, opInsert = 2, opUpdate = 3, opDelete = 4,
                               opGetEqual = 5, opGetNext = 6, opGetPrevious = 7, opGetGreater = 8,
                               opGetGreaterOrEqual = 9, opGetLess = 10, opGetLessOrEqual = 11,
                               opGetFirst = 12, opGetLast = 13, opCreate = 14, opStat = 15,
                               opReset = 28;

// One key segment of a description: position is 1-based.
struct Seg {
    std::uint16_t position;
    std::uint16_t length;
    std::uint16_t flags = 0;
    std::uint8_t extendedType = 0;
};

// A creation description; the "another segment follows" flag is set on every
// segment of a key but its last.
inline std::string makeDescription(std::uint16_t recordLength,
                                   const std::vector<std::vector<Seg>>& keys,
                                   std::uint16_t pageSize = 1024, std::uint16_t fileFlags = 0) {
    std::string d(16, '\0');
    auto* p = coding::bytes(d);
    coding::putU16(p, recordLength);
    coding::putU16(p + 2, pageSize);
    coding::putU16(p + 4, static_cast<std::uint16_t>(keys.size()));
    coding::putU16(p + 10, fileFlags);
    for (const auto& key : keys) {
        for (std::size_t i = 0; i < key.size(); ++i) {
            std::string s(16, '\0');
            auto* q = coding::bytes(s);
            coding::putU16(q, key[i].position);
            coding::putU16(q + 2, key[i].length);
            coding::putU16(
                q + 4, static_cast<std::uint16_t>(key[i].flags | (i + 1 < key.size() ? 0x10 : 0)));
            q[10] = key[i].extendedType;
            d += s;
        }
    }
    return d;
}

// A caller of BTRCALL with its own position block, a 1536-byte data buffer
// and a 256-byte key buffer.
struct Btr {
    unsigned char position[128] = {};
    unsigned char data[1536] = {};
    unsigned char key[256] = {};
    std::uint32_t length = 0;

    std::int16_t call(std::uint16_t op, std::uint32_t dataLength, std::int8_t keyNumber,
                      std::uint8_t keyLength = 255) {
        length = dataLength;
        return BTRCALL(op, position, data, &length, key, keyLength, keyNumber);
    }

    void setKey(const std::string& value) {
        std::memset(key, 0, sizeof key);
        std::memcpy(key, value.data(), std::min(value.size(), sizeof key));
    }

    std::int16_t create(const std::string& path, const std::string& description,
                        std::int8_t mode = -1) {
        std::memset(data, ' ', sizeof data);
        std::memcpy(data, description.data(), description.size());
        setKey(path);
        return call(opCreate, sizeof data, mode);
    }

    std::int16_t open(const std::string& path, std::int8_t mode = 0) {
        setKey(path);
        return call(opOpen, 0, mode);
    }

    std::int16_t close() { return call(opClose, 0, 0); }

    std::int16_t insert(const std::string& record, std::int8_t keyNumber = 0) {
        std::memcpy(data, record.data(), record.size());
        return call(opInsert, static_cast<std::uint32_t>(record.size()), keyNumber);
    }

    std::int16_t update(const std::string& record, std::int8_t keyNumber = 0) {
        std::memcpy(data, record.data(), record.size());
        return call(opUpdate, static_cast<std::uint32_t>(record.size()), keyNumber);
    }

    // A read; `keyValue` goes to the key buffer first (for the reads by value).
    std::int16_t get(std::uint16_t op, std::int8_t keyNumber, const std::string& keyValue = {}) {
        setKey(keyValue);
        return call(op, sizeof data, keyNumber);
    }

    std::int16_t stat() { return call(opStat, sizeof data, 0); }
    std::uint32_t recordCount() { return stat() == 0 ? coding::getU32(data + 6) : 0xFFFFFFFFu; }

    // The bytes the last read returned.
    std::string record() const { return std::string(reinterpret_cast<const char*>(data), length); }
    std::string keyBytes(std::size_t n) const {
        return std::string(reinterpret_cast<const char*>(key), n);
    }
};

inline std::string le32(std::int32_t v) {
    std::string s(4, '\0');
    coding::putI32(coding::bytes(s), v);
    return s;
}

}  // namespace engine_test
