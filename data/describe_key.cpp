// The record length and a key's length of an open file, and the check of a
// file's identity key, through Stat.
//
// The Stat answer: record length at bytes 0-1, page size at 2-3, number of
// keys at 4-5; from byte 16 one 16-byte specification per key segment, the
// segment's position (from 1) at bytes 0-1, its length at bytes 2-3 and its
// flags at byte 4 (0x10: another segment of the same key follows; 0x01 on a
// key's first segment: the key allows duplicates).
#include <cstring>

#include "data/internal.h"
#include "engine/api.h"
#include "platform/coding.h"

namespace {

constexpr int kStatRecordLength = static_cast<int>(engine::filespec::recordLength);
constexpr int kStatPageSize = static_cast<int>(engine::filespec::pageSize);
constexpr int kStatKeyCount = static_cast<int>(engine::filespec::keyCount);
constexpr int kStatFirstSegment = static_cast<int>(engine::filespec::size);
constexpr int kSegmentSize = static_cast<int>(engine::segspec::size);
constexpr int kSegmentLength = static_cast<int>(engine::segspec::length);
constexpr int kSegmentPosition = static_cast<int>(engine::segspec::position);  // 1-based
constexpr int kSegmentFlags = static_cast<int>(engine::segspec::flags);
constexpr unsigned char kSegmentContinues = engine::keyflag::segmented;
constexpr unsigned char kSegmentDuplicates =
    engine::keyflag::duplicates;  // of the key's first segment

// Length of the key buffer's content up to its first zero byte, as the
// 8-bit key length of a call can carry it.
std::uint8_t keyContentLength(const unsigned char* key) {
    const void* zero = std::memchr(key, 0, kKeyBufferSize);
    const std::size_t length =
        zero != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - key)
                        : kKeyBufferSize;
    return static_cast<std::uint8_t>(length > 255 ? 255 : length);
}

}  // namespace

void describeSlotKey(std::int16_t slot, std::int16_t keyNumber, std::int16_t& keyLength,
                     std::int16_t& recordLength, std::int16_t& status) {
    keyLength = 0;
    recordLength = 0;
    status = 0;
    OpenFileEntry& entry = openFileTable.entries[slot];

    unsigned char key[kKeyBufferSize];
    std::memset(key, ' ', kMaxPathLength);
    key[kMaxPathLength] = 0;
    unsigned char data[kDataBufferSize];
    std::memset(data, ' ', sizeof data);
    std::uint32_t dataLength = kDataBufferSize;
    std::int16_t callStatus =
        callRecordManager(kOpStat, entry.positionBlock, data, dataLength, key, kMaxPathLength, 0);
    // A failed Stat leaves no answer to speak of: its status tells more than
    // the layer's own would.
    auto refuse = [&](std::int16_t ownStatus) {
        status = callStatus != 0 ? callStatus : ownStatus;
    };

    const std::int16_t fileRecordLength = coding::getI16(data + kStatRecordLength);
    const std::int16_t pageSize = coding::getI16(data + kStatPageSize);
    const std::int16_t keyCount = coding::getI16(data + kStatKeyCount);
    if (fileRecordLength > kDataBufferSize) return refuse(kStatusRecordTooLong);
    if (fileRecordLength < 0) return refuse(kStatusBadDescription);
    if (keyNumber >= keyCount) {
        recordLength = fileRecordLength;
        return;
    }
    if (pageSize < 0) return refuse(kStatusBadDescription);

    // The second Stat offers the first page-size bytes as zeros. Pages larger
    // than the data buffer are common (4096 bytes): the whole buffer is then
    // zeros, and nothing is written past it.
    const std::size_t zeroed =
        pageSize > kDataBufferSize ? kDataBufferSize : static_cast<std::size_t>(pageSize);
    std::memset(data, 0, zeroed);
    std::memset(data + zeroed, ' ', kDataBufferSize - zeroed);
    dataLength = kDataBufferSize;
    callStatus = callRecordManager(kOpStat, entry.positionBlock, data, dataLength, key,
                                   keyContentLength(key), 0);

    std::int32_t length = 0;
    int offset = kStatFirstSegment;
    for (int k = 0; k <= keyNumber; ++k) {
        length = 0;
        unsigned char flags;
        do {
            if (offset + kSegmentSize > kDataBufferSize) return refuse(kStatusBadDescription);
            length += coding::getU16(data + offset + kSegmentLength);
            flags = data[offset + kSegmentFlags];
            offset += kSegmentSize;
        } while ((flags & kSegmentContinues) != 0);
    }
    if (length > kKeyBufferSize - 1) return refuse(kStatusBadDescription);
    keyLength = static_cast<std::int16_t>(length);
    recordLength = fileRecordLength;
}

void describeKey(std::int16_t fileNumber, std::int16_t keyNumber, std::int16_t& keyLength,
                 std::int16_t& recordLength) {
    keyLength = 0;
    recordLength = 0;
    const std::int16_t slot = registeredSlot(fileNumber);
    if (slot == 0) return;
    std::int16_t status;
    describeSlotKey(slot, keyNumber, keyLength, recordLength, status);
}

void requireIdentityKey(std::int16_t fileNumber, const std::string& name,
                        std::int16_t identityLength, std::int16_t& status) {
    const std::int16_t slot = registeredSlot(fileNumber);
    if (slot == 0) {
        status = kStatusFileNotOpen;
        return;
    }
    unsigned char key[kKeyBufferSize];
    std::memset(key, ' ', kMaxPathLength);
    key[kMaxPathLength] = 0;
    unsigned char data[kDataBufferSize] = {};
    std::uint32_t dataLength = kDataBufferSize;
    status = callRecordManager(kOpStat, openFileTable.entries[slot].positionBlock, data, dataLength,
                               key, kMaxPathLength, 0);
    if (status != 0) failOpen(name, status);

    // Key 0's segments, from byte 16: each must start where the one before
    // ended, the first at the record's first byte, and they must end at the
    // identity's last byte.
    if (coding::getI16(data + kStatKeyCount) < 1) failOpen(name, kStatusIdentityNotUnique);
    if ((data[kStatFirstSegment + kSegmentFlags] & kSegmentDuplicates) != 0) {
        failOpen(name, kStatusIdentityNotUnique);
    }
    std::int32_t covered = 0;
    for (int offset = kStatFirstSegment;; offset += kSegmentSize) {
        if (offset + kSegmentSize > kDataBufferSize) failOpen(name, kStatusBadDescription);
        const std::int32_t position = coding::getU16(data + offset + kSegmentPosition);
        if (position != covered + 1) failOpen(name, kStatusIdentityNotUnique);
        covered += coding::getU16(data + offset + kSegmentLength);
        if (covered > identityLength) failOpen(name, kStatusIdentityNotUnique);
        if ((data[offset + kSegmentFlags] & kSegmentContinues) == 0) break;
    }
    if (covered != identityLength) failOpen(name, kStatusIdentityNotUnique);
    status = 0;
}
