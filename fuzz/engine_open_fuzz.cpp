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

#include "engine/api.h"
#include "engine/client.h"
#include "fuzz/fuzz_file.h"

namespace {

using engine::op::getEqual, engine::op::getGreater, engine::op::getGreaterOrEqual,
    engine::op::getLess, engine::op::getLessOrEqual, engine::op::getFirst, engine::op::getNext,
    engine::op::getLast, engine::op::getPrevious;
constexpr int kStepsPerWalk = 40;

// Every call offers the whole data buffer; an answer longer than it is a fault.
std::int16_t call(engine::Client& file, std::uint16_t operation, std::int8_t keyNumber) {
    const std::int16_t status = file.call(operation, sizeof file.data, keyNumber);
    if (file.length > sizeof file.data) std::abort();
    return status;
}

void walk(engine::Client& file, std::uint16_t first, std::uint16_t next, std::int8_t keyNumber) {
    std::int16_t status = call(file, first, keyNumber);
    for (int i = 0; status == 0 && i < kStepsPerWalk; ++i) status = call(file, next, keyNumber);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz_support::scratchPath("Fuzz.dat");
    std::error_code ec;
    for (const char* suffix : {"-journal", "-wal", "-shm"})
        std::filesystem::remove(path + suffix, ec);
    fuzz_support::writeWhole(path, std::string(reinterpret_cast<const char*>(data), size));

    engine::Client file;
    file.setKey(path.substr(0, engine::maxPathLength));
    if (file.call(engine::op::open, 0, engine::openmode::normal,
                  static_cast<std::uint8_t>(path.size())) != 0) {
        return 0;
    }

    std::memset(file.data, ' ', sizeof file.data);
    std::memset(file.key, ' ', engine::maxKeyLength);
    file.key[engine::maxKeyLength] = 0;
    const std::int16_t statStatus = call(file, engine::op::stat, 0);
    const int keys = statStatus == 0 ? file.data[engine::filespec::keyCount] : 1;
    for (int k = -1; k <= keys && k < 8; ++k) {
        const auto keyNumber = static_cast<std::int8_t>(k);
        std::memset(file.key, 0, sizeof file.key);
        walk(file, getFirst, getNext, keyNumber);
        walk(file, getLast, getPrevious, keyNumber);
        // Searches with the key of the last record read, or with zero bytes.
        for (const std::uint16_t search :
             {getEqual, getGreater, getGreaterOrEqual, getLess, getLessOrEqual}) {
            call(file, search, keyNumber);
        }
    }

    file.close();
    // Whatever state the damage left behind, Reset closes it all.
    engine::Client().reset();
    return 0;
}
