// Text helpers: zero-padded digits and the test for a text of one character.
#include <cmath>
#include <cstdio>

#include "packed/packed.h"

std::string zeroPad(double value, std::int16_t width) {
    if (width <= 0) return {};
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.15g", std::fabs(value));
    const std::string padded = std::string(static_cast<std::size_t>(width), '0') + digits;
    return padded.substr(padded.size() - static_cast<std::size_t>(width));
}

std::int16_t isFilledWith(const std::string& text, std::int16_t code) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) != code) return 0;
    }
    return -1;
}
