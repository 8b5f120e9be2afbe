// The utility's CSV import on arbitrary CSV text, into the properties,
// owners or collections file. The import is all or nothing: it either
// succeeds and the file gains exactly the records it reports, or it fails
// with a message and the file holds what it held before. It never crashes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include "engine/api.h"
#include "engine/client.h"
#include "fuzz/fuzz_file.h"
#include "platform/coding.h"
#include "tools/commands.h"

namespace {

struct Target {
    const char* layout;
    const char* base;
    std::uint16_t recordLength;
    std::uint16_t keyLength;  // one key from the first byte
};
constexpr Target kTargets[] = {
    {"properties", "FinquesH", 128, 2},
    {"owners", "PropietH", 428, 4},
    {"collections", "CobramH", 22, 9},
};
// A file that has taken this many records is made again, empty.
constexpr std::uint32_t kRecreateAt = 20000;

std::string dataPath(const Target& t) {
    return fuzz_support::scratchPath(std::string(t.base) + ".dat");
}

void createEmpty(const Target& t) {
    using namespace engine;
    std::string description(filespec::size + segspec::size, '\0');
    auto* d = coding::bytes(description);
    coding::putU16(d + filespec::recordLength, t.recordLength);
    coding::putU16(d + filespec::pageSize, 1024);
    coding::putU16(d + filespec::keyCount, 1);
    coding::putU16(d + filespec::size + segspec::position, 1);
    coding::putU16(d + filespec::size + segspec::length, t.keyLength);
    std::string dictionary(2, '\0');
    coding::putU16(coding::bytes(dictionary), static_cast<std::uint16_t>(description.size()));
    const std::string dict = fuzz_support::scratchPath(std::string(t.base) + ".xdf");
    fuzz_support::writeWhole(dict, dictionary + description);
    std::error_code ec;
    std::filesystem::remove(dataPath(t), ec);
    std::ostringstream out, err;
    if (nubodat::runCommand({"create", dataPath(t), "--from", dict}, out, err) != 0) std::abort();
}

// The number of records in the file, through Stat.
std::uint32_t recordCount(const Target& t) {
    engine::Client file;
    const std::string path = dataPath(t);
    file.setKey(path);
    if (file.call(engine::op::open, 0, engine::openmode::normal,
                  static_cast<std::uint8_t>(path.size())) != 0) {
        std::abort();
    }
    std::memset(file.key, ' ', engine::maxKeyLength);
    if (file.stat() != 0) std::abort();
    const std::uint32_t count = coding::getU32(file.data + engine::filespec::recordCount);
    file.call(engine::op::close, 0, 0, 0);
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool created = [] {
        for (const Target& t : kTargets) createEmpty(t);
        return true;
    }();
    (void)created;
    if (size == 0) return 0;
    const Target& target = kTargets[data[0] % 3];
    const std::string csv = fuzz_support::scratchPath("import.csv");
    fuzz_support::writeWhole(csv, std::string(reinterpret_cast<const char*>(data + 1), size - 1));

    const std::uint32_t before = recordCount(target);
    std::ostringstream out, err;
    const int code =
        nubodat::runCommand({"import", dataPath(target), csv, "--layout", target.layout}, out, err);
    const std::uint32_t after = recordCount(target);

    if (code == 0) {
        // "<file>: N records imported"
        const std::string said = out.str();
        const std::size_t colon = said.rfind(": ");
        if (colon == std::string::npos) std::abort();
        const unsigned long imported = std::strtoul(said.c_str() + colon + 2, nullptr, 10);
        if (after != before + imported) std::abort();
    } else if (code == 1) {
        if (after != before || err.str().empty()) std::abort();
    } else {
        std::abort();  // the arguments are sound: no usage error
    }
    if (after >= kRecreateAt) createEmpty(target);
    return 0;
}
