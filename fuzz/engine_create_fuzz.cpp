// The dictionary reader and the record manager's Create on arbitrary
// dictionary files. A description the engine accepts must give a file that
// opens, reports through Stat what it was created with, and takes, finds
// and walks records; one it refuses must leave nothing behind that opens.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "data/internal.h"
#include "engine/api.h"
#include "engine/btrcall.h"
#include "fuzz/fuzz_file.h"
#include "platform/coding.h"

namespace {

using engine::op::getEqual, engine::op::getFirst, engine::op::getNext;
constexpr auto kKeyLength = static_cast<std::uint8_t>(engine::maxKeyLength);

struct Call {
    unsigned char positionBlock[engine::positionBlockSize] = {};
    unsigned char data[kDataBufferSize];
    unsigned char key[kKeyBufferSize];

    std::int16_t run(std::uint16_t operation, std::uint32_t& length, std::uint8_t keyLength,
                     std::int8_t keyNumber) {
        const std::uint32_t offered = length;
        const std::int16_t status =
            BTRCALL(operation, positionBlock, data, &length, key, keyLength, keyNumber);
        if (length > offered && length > kDataBufferSize) std::abort();
        return status;
    }
    void setKeyText(const std::string& text) {
        std::memset(key, 0, sizeof key);
        std::memcpy(key, text.data(), std::min(text.size(), sizeof key - 1));
    }
};

void removeDataFile(const std::string& path) {
    std::error_code ec;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        std::filesystem::remove(path + suffix, ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string dictionary = fuzz_support::scratchPath("Fuzz.xdf");
    const std::string dataPath = fuzz_support::scratchPath("Fuzz.dat");
    fuzz_support::writeWhole(dictionary, std::string(reinterpret_cast<const char*>(data), size));
    removeDataFile(dataPath);

    std::string description;
    std::int16_t status = -1;
    readDictionary(dictionary, description, status);
    if (status != 0) return 0;
    if (description.size() > static_cast<std::size_t>(kDataBufferSize)) std::abort();

    Call call;
    std::memset(call.data, ' ', sizeof call.data);
    std::memcpy(call.data, description.data(), description.size());
    call.setKeyText(dataPath);
    std::uint32_t length = kDataBufferSize;
    if (call.run(engine::op::create, length, static_cast<std::uint8_t>(dataPath.size()),
                 engine::createKeepExisting) != 0) {
        Call open;
        open.setKeyText(dataPath);
        std::uint32_t ownerLength = 0;
        if (std::filesystem::exists(dataPath) &&
            open.run(engine::op::open, ownerLength, static_cast<std::uint8_t>(dataPath.size()),
                     0) == 0) {
            std::abort();  // a refused description left a file that opens
        }
        removeDataFile(dataPath);
        return 0;
    }

    Call file;
    file.setKeyText(dataPath);
    std::uint32_t ownerLength = 0;
    if (file.run(engine::op::open, ownerLength, static_cast<std::uint8_t>(dataPath.size()), 0) != 0)
        std::abort();

    std::memset(file.data, ' ', sizeof file.data);
    std::memset(file.key, ' ', engine::maxKeyLength);
    length = kDataBufferSize;
    if (file.run(engine::op::stat, length, kKeyLength, 0) != 0) std::abort();
    const std::int16_t recordLength = coding::getI16(file.data + engine::filespec::recordLength);
    const unsigned keyCount = file.data[engine::filespec::keyCount];
    if (recordLength <= 0 || recordLength > kDataBufferSize) std::abort();
    if (recordLength != coding::getI16(coding::bytes(description) + engine::filespec::recordLength))
        std::abort();

    // Records made of the dictionary's own bytes, so that their keys vary
    // with the input; each one inserted must be found again by its key.
    int stored = 0;
    for (int r = 0; r < 3; ++r) {
        for (int i = 0; i < recordLength; ++i) {
            file.data[i] = size > 0 ? data[(static_cast<std::size_t>(i) * 7 + r) % size] : 0;
        }
        std::memset(file.key, 0, sizeof file.key);
        length = static_cast<std::uint32_t>(recordLength);
        if (file.run(engine::op::insert, length, kKeyLength, 0) == 0) ++stored;
    }
    for (unsigned k = 0; k < keyCount && k < 4; ++k) {
        const auto keyNumber = static_cast<std::int8_t>(k);
        std::vector<std::string> keys;
        length = kDataBufferSize;
        std::memset(file.key, 0, sizeof file.key);
        std::int16_t s = file.run(getFirst, length, kKeyLength, keyNumber);
        while (s == 0 && keys.size() <= static_cast<std::size_t>(stored)) {
            if (length != static_cast<std::uint32_t>(recordLength)) std::abort();
            keys.emplace_back(reinterpret_cast<const char*>(file.key), engine::maxKeyLength);
            length = kDataBufferSize;
            s = file.run(getNext, length, kKeyLength, keyNumber);
        }
        // No key holds more records than were stored (one that leaves out
        // null values may hold fewer).
        if (keys.size() > static_cast<std::size_t>(stored)) std::abort();
        // Every key value read back finds its record again.
        for (const std::string& key : keys) {
            std::memcpy(file.key, key.data(), key.size());
            length = kDataBufferSize;
            if (file.run(getEqual, length, kKeyLength, keyNumber) != 0) std::abort();
        }
    }

    length = 0;
    file.run(engine::op::close, length, 0, 0);
    removeDataFile(dataPath);
    return 0;
}
