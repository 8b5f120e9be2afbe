// The record manager's Open and every Get on arbitrary file contents: a data
// file damaged anywhere (the seeds are sound data files, which the fuzzer
// then mutates). Open either refuses the file with a status or opens it;
// then Stat and every read along every key must answer with a status or a
// record that fits the buffer, never crash.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/btrcall.h"
#include "fuzz/fuzz_file.h"

namespace {

constexpr std::uint16_t kOpen = 0, kClose = 1, kGetEqual = 5, kGetNext = 6, kGetPrevious = 7,
                        kGetGreater = 8, kGetGreaterOrEqual = 9, kGetLess = 10,
                        kGetLessOrEqual = 11, kGetFirst = 12, kGetLast = 13, kStat = 15,
                        kReset = 28;
constexpr std::size_t kDataSize = 1536, kKeySize = 256;
constexpr int kStepsPerWalk = 40;

struct File {
    unsigned char positionBlock[128] = {};
    unsigned char data[kDataSize];
    unsigned char key[kKeySize] = {};

    std::int16_t call(std::uint16_t operation, std::int8_t keyNumber, std::uint8_t keyLength = 255) {
        std::uint32_t length = kDataSize;
        const std::int16_t status =
            BTRCALL(operation, positionBlock, data, &length, key, keyLength, keyNumber);
        if (length > kDataSize) std::abort();
        return status;
    }
};

void walk(File& file, std::uint16_t first, std::uint16_t next, std::int8_t keyNumber) {
    std::int16_t status = file.call(first, keyNumber);
    for (int i = 0; status == 0 && i < kStepsPerWalk; ++i) status = file.call(next, keyNumber);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz_support::scratchPath("Fuzz.dat");
    std::error_code ec;
    for (const char* suffix : {"-journal", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ec);
    fuzz_support::writeWhole(path, std::string(reinterpret_cast<const char*>(data), size));

    File file;
    std::memset(file.data, 0, sizeof file.data);
    std::memcpy(file.key, path.data(), std::min(path.size(), kKeySize - 1));
    std::uint32_t ownerLength = 0;
    if (BTRCALL(kOpen, file.positionBlock, file.data, &ownerLength, file.key,
                static_cast<std::uint8_t>(path.size()), 0) != 0) {
        return 0;
    }

    std::memset(file.data, ' ', sizeof file.data);
    std::memset(file.key, ' ', 255);
    file.key[255] = 0;
    const std::int16_t statStatus = file.call(kStat, 0);
    const int keys = statStatus == 0 ? file.data[4] : 1;
    for (int k = -1; k <= keys && k < 8; ++k) {
        const auto keyNumber = static_cast<std::int8_t>(k);
        std::memset(file.key, 0, sizeof file.key);
        walk(file, kGetFirst, kGetNext, keyNumber);
        walk(file, kGetLast, kGetPrevious, keyNumber);
        // Searches with the key of the last record read, or with zero bytes.
        for (const std::uint16_t search :
             {kGetEqual, kGetGreater, kGetGreaterOrEqual, kGetLess, kGetLessOrEqual}) {
            file.call(search, keyNumber);
        }
    }

    file.call(kClose, 0, 0);
    // Whatever state the damage left behind, Reset closes it all.
    File scratch;
    scratch.call(kReset, 0, 0);
    return 0;
}
