// Closing every data file at once.
#include <cstring>

#include "data/data.h"
#include "data/internal.h"

void closeAllDataFiles(std::int16_t& status) {
    ensureOpenFileTable();
    // Reset concerns no file: entry 0's position block serves as scratch.
    // It hands nothing over (both lengths 0), in buffers of the usual sizes.
    OpenFileEntry& scratch = openFileTable.entries[0];
    std::memset(scratch.positionBlock, ' ', kPositionBlockSize);
    unsigned char data[kDataBufferSize] = {};
    unsigned char key[kKeyBufferSize] = {};
    std::uint32_t dataLength = 0;
    status = callRecordManager(kOpReset, scratch.positionBlock, data, dataLength, key, 0, 0);
    std::memset(scratch.positionBlock, 0, kPositionBlockSize);
    if (status != 0) return;
    for (int slot = 1; slot <= kSlotCount; ++slot) openFileTable.entries[slot] = OpenFileEntry{};
}
