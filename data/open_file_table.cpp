// The table of open data files, its lookup, and the two seams of the data
// layer: the record-manager entry and the pause between attempts.
#include "data/data.h"
#include "data/internal.h"
#include "platform/platform.h"

OpenFileTable openFileTable;

namespace {

int NUBO_BTRCALL_CONV notActive(std::uint16_t, void*, void*, std::uint32_t*, void*, std::uint8_t,
                                std::int8_t) {
    return kStatusNotActive;
}

RecordManagerEntry g_entry = nullptr;
PauseFunction g_pause = nullptr;

}  // namespace

void ensureOpenFileTable() {
    if (openFileTable.created) return;
    openFileTable = OpenFileTable{};
    openFileTable.created = true;
}

std::int16_t findSlot(std::int16_t fileNumber) {
    std::int16_t result = 0;
    for (std::int16_t slot = 1; slot <= kSlotCount; ++slot) {
        const std::int16_t held = openFileTable.entries[slot].fileNumber;
        if (held == fileNumber) return slot;
        if (held == 0) result = static_cast<std::int16_t>(-slot);
    }
    return result;
}

std::int16_t registeredSlot(std::int16_t fileNumber) {
    if (fileNumber == 0) return 0;
    // Opens take the highest free slot first, so the open files sit at the
    // top of the table: searched from there, the few that a run keeps open
    // are found at once. A file number is registered at most once, so the
    // slot is the one findSlot gives.
    for (std::int16_t slot = kSlotCount; slot >= 1; --slot) {
        if (openFileTable.entries[slot].fileNumber == fileNumber) return slot;
    }
    return 0;
}

void setRecordManager(RecordManagerEntry entry) {
    g_entry = entry;
}

RecordManagerEntry recordManager() {
    return g_entry != nullptr ? g_entry : notActive;
}

std::int16_t callRecordManager(std::uint16_t operation, unsigned char* positionBlock,
                               unsigned char* dataBuffer, std::uint32_t& dataLength,
                               unsigned char* keyBuffer, std::uint8_t keyLength,
                               std::int8_t keyNumber) {
    // The status is the low 16 bits of the answer.
    return static_cast<std::int16_t>(recordManager()(operation, positionBlock, dataBuffer,
                                                     &dataLength, keyBuffer, keyLength, keyNumber));
}

void setPauseFunction(PauseFunction pause) {
    g_pause = pause;
}

void pauseMilliseconds(std::uint32_t milliseconds) {
    if (g_pause != nullptr) {
        g_pause(milliseconds);
    } else {
        platform::sleepMilliseconds(milliseconds);
    }
}
