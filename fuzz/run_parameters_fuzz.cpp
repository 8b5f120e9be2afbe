// The work-file reader on arbitrary "pent.tmp" contents. It must never
// crash, and whatever the file holds, RunParameters keeps its fixed shape:
// a 4-byte packed date and owner keys, 3-byte series bounds, truth values
// -1 or 0, and an issue month from 0 to 99.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/issue_run.h"
#include "fuzz/fuzz_file.h"

namespace {

bool isTruth(std::int16_t value) {
    return value == -1 || value == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz_support::scratchPath("pent.tmp");
    fuzz_support::writeWhole(path, std::string(reinterpret_cast<const char*>(data), size));
    createRunTables();
    readRunParameters(path);

    const RunParameters& p = runParameters;
    if (p.issueDate.size() != 4 || p.ownerFrom.size() != 4 || p.ownerTo.size() != 4) std::abort();
    for (int i = 1; i <= 3; ++i) {
        if (!isTruth(p.methodEnabled[i])) std::abort();
        if (p.seriesFrom[i].size() != 3 || p.seriesTo[i].size() != 3) std::abort();
    }
    for (int i = 1; i <= 10; ++i) {
        if (!isTruth(p.conceptEnabled[i])) std::abort();
    }
    const std::int16_t month = issueMonth();
    if (month < 0 || month > 99) std::abort();
    return 0;
}
