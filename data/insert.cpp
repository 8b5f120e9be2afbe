// Inserting a record, with its line in the operations log.
#include "data/data.h"
#include "data/internal.h"

void insertRecord(std::int16_t fileNumber, std::int16_t& status) {
    const std::int16_t slot = registeredSlot(fileNumber);
    if (slot == 0) {
        status = kStatusFileNotOpen;
        return;
    }
    status = 0;
    exchangeRecord(slot, kOpInsert, status);
    appendOperationsLog(fileNumber, kOpInsert, status);
    if (status != 0) {
        std::string& keyValue = openFileTable.entries[slot].keyValue;
        keyValue.assign(keyValue.size(), '\0');
    }
}
