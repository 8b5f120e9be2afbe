// Codes of digit groups separated by ".", packed group by group.
#include <algorithm>

#include "packed/packed.h"

std::string packDottedCode(const std::string& code) {
    const auto dots = std::count(code.begin(), code.end(), '.');
    const bool wideFirst = (code.size() == 6 && dots == 0) || (code.size() == 11 && dots < 2);

    std::string digits;
    std::size_t start = 0;
    bool first = true;
    while (true) {
        const std::size_t dot = code.find('.', start);
        const bool last = dot == std::string::npos;
        const std::string group = code.substr(start, last ? std::string::npos : dot - start);
        if (last && group.find_first_not_of(' ') == std::string::npos) break;
        digits += zeroPad(leadingNumber(group), first && wideFirst ? 6 : 4);
        if (last) break;
        first = false;
        start = dot + 1;
    }
    return packDigits(digits);
}
