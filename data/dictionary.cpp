// Reading the creation description of a data file from its dictionary.
#include <cstring>

#include "data/internal.h"
#include "platform/coding.h"
#include "platform/platform.h"

void readDictionary(const std::string& path, std::string& description, std::int16_t& status) {
    description.clear();
    status = 0;
    // The shared read-write mode creates a missing dictionary, empty: it then
    // reads as a zero length, an empty description.
    platform::File file;
    platform::openFile(path, platform::FileMode::ReadWriteShared, file);
    unsigned char lengthWord[2] = {0, 0};
    if (platform::readFile(file, lengthWord, sizeof lengthWord) < 0) std::memset(lengthWord, 0, 2);
    const std::int16_t length = coding::getI16(lengthWord);
    if (length < 0 || length > kDataBufferSize) {
        platform::closeFile(file);
        status = kStatusBadDictionary;
        return;
    }
    description.assign(static_cast<std::size_t>(length), '\0');
    if (length > 0 &&
        platform::readFile(file, coding::bytes(description), description.size()) < 0) {
        description.assign(static_cast<std::size_t>(length), '\0');
    }
    platform::closeFile(file);
}
