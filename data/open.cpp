// Registering and opening a data file, creating it from its dictionary when
// it does not exist yet.
#include <cstring>

#include "data/data.h"
#include "data/internal.h"
#include "session/session.h"

namespace {

// The owner name handed to Open: four characters and a zero byte.
constexpr char kOwnerName[] = "NUBO";
constexpr std::uint32_t kOwnerNameLength = 5;

// Key buffer holding a path and its zero byte. The path fits: it was
// checked against kMaxPathLength.
void putPath(unsigned char* key, const std::string& path) {
    std::memset(key, 0, kKeyBufferSize);
    std::memcpy(key, path.data(), path.size());
}

std::int16_t openOnce(OpenFileEntry& entry, const std::string& dataPath) {
    unsigned char data[kDataBufferSize];
    std::memset(data, ' ', sizeof data);
    std::memcpy(data, kOwnerName, kOwnerNameLength);
    unsigned char key[kKeyBufferSize];
    putPath(key, dataPath);
    std::uint32_t dataLength = kOwnerNameLength;
    return callRecordManager(kOpOpen, entry.positionBlock, data, dataLength, key,
                             static_cast<std::uint8_t>(dataPath.size()), 0);
}

std::int16_t createFromDictionary(OpenFileEntry& entry, const std::string& dataPath,
                                  const std::string& baseName) {
    std::string description;
    std::int16_t status;
    readDictionary(sessionSettings.rootDir + "ddf\\" + baseName + ".xdf", description, status);
    if (status != 0) return status;
    unsigned char data[kDataBufferSize];
    std::memset(data, ' ', sizeof data);
    std::memcpy(data, description.data(), description.size());
    unsigned char key[kKeyBufferSize];
    putPath(key, dataPath);
    std::uint32_t dataLength = kDataBufferSize;
    return callRecordManager(kOpCreate, entry.positionBlock, data, dataLength, key,
                             static_cast<std::uint8_t>(dataPath.size()), -1);
}

// Opens until the file is open or a failure other than "locked" or
// "missing" (after a successful creation) comes back.
std::int16_t openWithCreation(OpenFileEntry& entry, const std::string& dataPath,
                              const std::string& baseName) {
    constexpr int kCreatedByOthersLimit = 3;
    int createdByOthers = 0;
    for (;;) {
        std::int16_t status = openOnce(entry, dataPath);
        if (status == kStatusFileLocked) {
            pauseMilliseconds(kLockedFilePauseMs);
            continue;
        }
        if (status == kStatusFileMissing) {
            status = createFromDictionary(entry, dataPath, baseName);
            if (status == 0) continue;
            // Another program created the file between our Open and our
            // Create (two runs starting on a new installation): open theirs.
            if (status == kStatusFileExists && createdByOthers++ < kCreatedByOthersLimit) continue;
        }
        return status;
    }
}

}  // namespace

void openDataFile(std::int16_t fileNumber, const std::string& name, void* recordArea,
                  std::int32_t recordAreaSize, std::int16_t& status) {
    ensureOpenFileTable();
    const std::int16_t found = findSlot(fileNumber);
    if (found > 0) {
        status = kStatusAlreadyOpen;
        return;
    }
    if (found == 0) {
        status = kStatusNoFreeSlot;
        return;
    }
    const std::int16_t slot = static_cast<std::int16_t>(-found);
    OpenFileEntry& entry = openFileTable.entries[slot];
    entry = OpenFileEntry{};
    entry.fileNumber = fileNumber;
    entry.name = name;
    entry.recordArea = static_cast<unsigned char*>(recordArea);
    entry.recordAreaSize = recordArea != nullptr && recordAreaSize > 0 ? recordAreaSize : 0;

    std::string dataPath, baseName;
    splitDataName(name, dataPath, baseName);
    if (dataPath.size() > static_cast<std::size_t>(kMaxPathLength)) {
        failOpen(name, kStatusPathTooLong);
    }
    status = openWithCreation(entry, dataPath, baseName);
    if (status != 0) failOpen(name, status);

    std::int16_t keyLength, recordLength;
    describeSlotKey(slot, 0, keyLength, recordLength, status);
    if (status == 0 && recordLength > entry.recordAreaSize) status = kStatusRecordTooLong;
    if (status != 0) failOpen(name, status);
    entry.recordLength = recordLength;
    entry.keyValue.assign(static_cast<std::size_t>(keyLength), '\0');
}
