// packDateText and packDottedCode on arbitrary texts. Both must never
// crash, and both always give packed digits: every byte 128 + a two-digit
// value; a packed date is always 4 bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "packed/packed.h"
#include "platform/platform.h"

namespace {

bool allPackedDigits(const std::string& packed) {
    return std::all_of(packed.begin(), packed.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b >= 128 && b <= 227;
    });
}

// The number of digits packDottedCode packs for `code`: one group per "."
// plus one, less a blank last group; the first 6 wide in the two six-digit
// forms, every other 4 wide.
std::size_t dottedDigits(const std::string& code) {
    const auto dots = static_cast<std::size_t>(std::count(code.begin(), code.end(), '.'));
    const bool wideFirst = (code.size() == 6 && dots == 0) || (code.size() == 11 && dots < 2);
    const std::string lastGroup =
        code.substr(code.rfind('.') == std::string::npos ? 0 : code.rfind('.') + 1);
    const std::size_t groups =
        dots + 1 - (lastGroup.find_first_not_of(' ') == std::string::npos ? 1 : 0);
    if (groups == 0) return 0;
    return groups * 4 + (wideFirst ? 2 : 0);
}

platform::LocalDate fixedDate() {
    return {2026, 5, 17};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::setClock(fixedDate);
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string date = packDateText(text);
    if (date.size() != 4 || !allPackedDigits(date)) std::abort();

    const std::string code = packDottedCode(text);
    if (!allPackedDigits(code)) std::abort();
    if (code.size() != (dottedDigits(text) + 1) / 2) std::abort();
    return 0;
}
