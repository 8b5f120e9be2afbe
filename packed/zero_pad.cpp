// Digits of a number zero-padded or cut to a fixed width.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "packed/packed.h"

namespace {

// The magnitude's ordinary decimal text: rounded to 15 significant digits,
// written out in full (no exponent), without trailing zeros after a ".".
std::string decimalText(double magnitude) {
    if (!std::isfinite(magnitude) || magnitude == 0.0) return "0";
    char buffer[64];
    // d.dddddddddddddde+XX: the 15 significant digits and the exponent.
    std::snprintf(buffer, sizeof buffer, "%.14e", magnitude);
    std::string digits;
    digits.push_back(buffer[0]);
    digits.append(buffer + 2, 14);
    const long exponent = std::strtol(buffer + 17, nullptr, 10);

    std::string text;
    if (exponent >= 14) {
        text = digits + std::string(static_cast<std::size_t>(exponent - 14), '0');
    } else if (exponent >= 0) {
        text = digits.substr(0, static_cast<std::size_t>(exponent) + 1) + "." +
               digits.substr(static_cast<std::size_t>(exponent) + 1);
    } else {
        text = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    return text;
}

}  // namespace

std::string zeroPad(double value, std::int16_t width) {
    if (width <= 0) return std::string();
    const auto w = static_cast<std::size_t>(width);
    std::string text = std::string(w, '0') + decimalText(std::fabs(value));
    return text.substr(text.size() - w);
}
