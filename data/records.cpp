// Record reads: the exchange of one record with the record manager, the
// positioning on a key value and the steps along the current key.
#include <algorithm>
#include <cstring>

#include "data/data.h"
#include "data/internal.h"

namespace {

// The key-buffer filler that lets a Greater search start below, and a Less
// search above, every key that begins with the value.
unsigned char keyFiller(std::int16_t operation) {
    if (operation == kOpGetGreater || operation == kOpGetGreaterOrEqual) return 0x00;
    if (operation == kOpGetLess || operation == kOpGetLessOrEqual) return 0xFF;
    return ' ';
}

std::size_t keyBufferContent(const unsigned char* key) {
    const void* zero = std::memchr(key, 0, kKeyBufferSize);
    return zero != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - key)
                           : kKeyBufferSize;
}

}  // namespace

void exchangeRecord(std::int16_t slot, std::int16_t operation, std::int16_t& status) {
    if (slot < 1 || slot > kSlotCount) {
        status = kStatusFileNotOpen;
        return;
    }
    OpenFileEntry& entry = openFileTable.entries[slot];
    // Never beyond the caller's area nor the data buffer, whatever the table
    // says (open checked both).
    std::int32_t recordLength = std::clamp(entry.recordLength, 0, kDataBufferSize);
    if (entry.recordArea == nullptr) recordLength = 0;
    recordLength = std::min(recordLength, entry.recordAreaSize);
    recordLength = std::max(recordLength, 0);
    const std::size_t keyLength = std::min<std::size_t>(entry.keyValue.size(), kKeyBufferSize - 1);

    // The record, then blanks; the key value, then the filler: each byte
    // written once.
    unsigned char data[kDataBufferSize];
    const std::size_t recordBytes = static_cast<std::size_t>(recordLength);
    if (recordBytes > 0) std::memcpy(data, entry.recordArea, recordBytes);
    std::memset(data + recordBytes, ' ', sizeof data - recordBytes);
    unsigned char key[kKeyBufferSize];
    std::memcpy(key, entry.keyValue.data(), keyLength);
    std::memset(key + keyLength, keyFiller(operation), sizeof key - keyLength);

    std::uint32_t dataLength = static_cast<std::uint32_t>(recordLength);
    status = callRecordManager(static_cast<std::uint16_t>(operation), entry.positionBlock, data,
                               dataLength, key, static_cast<std::uint8_t>(keyLength),
                               static_cast<std::int8_t>(entry.keyNumber));

    const std::uint32_t back = std::min(dataLength, static_cast<std::uint32_t>(recordLength));
    if (back > 0) std::memcpy(entry.recordArea, data, back);
    entry.keyValue.assign(reinterpret_cast<const char*>(key), keyLength);
}

void seekByKey(std::int16_t fileNumber, std::int16_t keyNumber, std::string keyValue,
               std::int16_t direction, std::int16_t& status) {
    const std::int16_t slot = registeredSlot(fileNumber);
    if (slot == 0) {
        status = kStatusFileNotOpen;
        return;
    }
    std::int16_t keyLength, recordLength;
    describeSlotKey(slot, keyNumber, keyLength, recordLength, status);
    if (status != 0) return;
    if (keyLength == 0) {
        status = kStatusNoSuchKey;
        return;
    }
    OpenFileEntry& entry = openFileTable.entries[slot];
    entry.keyNumber = keyNumber;
    keyValue.resize(static_cast<std::size_t>(keyLength), '\0');
    entry.keyValue = std::move(keyValue);

    const std::int16_t operation =
        direction < 0 ? kOpGetLessOrEqual : (direction == 0 ? kOpGetEqual : kOpGetGreaterOrEqual);
    status = 0;
    exchangeRecord(slot, operation, status);
    if (status == kStatusRecordCut) status = 0;
}

void stepRecords(std::int16_t fileNumber, std::int16_t count, std::int16_t& status) {
    const std::int16_t slot = registeredSlot(fileNumber);
    if (slot == 0) {
        status = kStatusFileNotOpen;
        return;
    }
    OpenFileEntry& entry = openFileTable.entries[slot];
    const std::int16_t operation = count < 0 ? kOpGetPrevious : kOpGetNext;
    status = 0;
    std::int32_t remaining = count < 0 ? -static_cast<std::int32_t>(count) : count;

    // The intermediate steps share one pair of buffers and never touch the
    // record area; the key the record manager hands back is offered again.
    unsigned char data[kDataBufferSize] = {};
    unsigned char key[kKeyBufferSize] = {};
    while (remaining > 1 && status == 0) {
        std::uint32_t dataLength = kDataBufferSize;
        const std::size_t offered = std::min<std::size_t>(keyBufferContent(key), 255);
        status = callRecordManager(static_cast<std::uint16_t>(operation), entry.positionBlock, data,
                                   dataLength, key, static_cast<std::uint8_t>(offered),
                                   static_cast<std::int8_t>(entry.keyNumber));
        const std::size_t returned = std::min(keyBufferContent(key), entry.keyValue.size());
        entry.keyValue.assign(reinterpret_cast<const char*>(key), returned);
        if (status == kStatusRecordCut) status = 0;
        --remaining;
    }
    if (remaining != 0 && status == 0) {
        exchangeRecord(slot, operation, status);
        if (status == kStatusRecordCut) status = 0;
    }
}
