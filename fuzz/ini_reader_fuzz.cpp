// The INI reader on arbitrary file contents and arbitrary section and key
// names. The reader must never crash, and what it returns is always a piece
// of one line of the file: no line end, no comment, no Ctrl-Z.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_file.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(40);
    const std::string key = input.ConsumeRandomLengthString(40);
    const std::string content = input.ConsumeRemainingBytesAsString();

    const std::string path = fuzz_support::scratchPath("fuzz.ini");
    fuzz_support::writeWhole(path, content);
    const std::string value = readIniValue(path, section, key);

    if (value.size() > content.size()) std::abort();
    if (value.find_first_of(std::string("\r;\x1a", 3)) != std::string::npos) std::abort();
    return 0;
}
