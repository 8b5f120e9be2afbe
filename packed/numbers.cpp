// Reading the number a text begins with, and rounding into 16 bits.
#include <charconv>
#include <cmath>
#include <limits>

#include "packed/packed.h"

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLeadingBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

double leadingNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && isLeadingBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t start = i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        std::size_t j = i + 1;
        while (j < text.size() && isDigit(text[j])) ++j;
        // A "." only continues the number when digits follow it.
        if (j > i + 1) {
            digits += j - i - 1;
            i = j;
        }
    }
    if (digits == 0) return 0.0;

    // from_chars rounds correctly and needs a digit before a ".".
    std::string number = text[start] == '.' ? "0" : "";
    number.append(text, start, i - start);
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                        std::chars_format::fixed);
    if (result.ec == std::errc::result_out_of_range)
        value = std::numeric_limits<double>::infinity();
    return negative ? -value : value;
}

std::int16_t roundToInt16(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 32767.0) return 32767;
    if (value <= -32768.0) return -32768;
    const double below = std::floor(value);
    const double fraction = value - below;
    double rounded = below;
    if (fraction > 0.5) {
        rounded = below + 1.0;
    } else if (fraction == 0.5 && std::fmod(below, 2.0) != 0.0) {
        rounded = below + 1.0;  // a half goes to the even neighbour
    }
    return static_cast<std::int16_t>(rounded);
}
