// The packed-digit form: two decimal digits to a byte, offset by 128.
#include "packed/packed.h"

namespace {

int digitValue(char c) {
    return c >= '0' && c <= '9' ? c - '0' : 0;
}

}  // namespace

std::string packDigits(const std::string& text) {
    const std::size_t n = text.size();
    std::size_t first = 0;
    std::size_t end = n;
    while (first < end && text[first] == ' ') ++first;
    while (end > first && text[end - 1] == ' ') --end;

    // Right-aligned in n characters, "0" on the left, inner blanks as "0".
    std::string digits(n - (end - first), '0');
    digits.append(text, first, end - first);
    for (char& c : digits) {
        if (c == ' ') c = '0';
    }

    std::string packed((n + 1) / 2, '\0');
    for (std::size_t i = 0; i < packed.size(); ++i) {
        const int high = digitValue(digits[2 * i]);
        const int low = 2 * i + 1 < n ? digitValue(digits[2 * i + 1]) : 0;
        packed[i] = static_cast<char>(128 + 10 * high + low);
    }
    return packed;
}

std::string unpackDigits(const std::string& packed) {
    std::string digits;
    digits.reserve(packed.size() * 2);
    for (const char c : packed) {
        const int pair = (static_cast<unsigned char>(c) & 0x7F) % 100;
        digits.push_back(static_cast<char>('0' + pair / 10));
        digits.push_back(static_cast<char>('0' + pair % 10));
    }
    return digits;
}
