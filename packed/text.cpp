// Small helpers over 8-bit texts.
#include "packed/packed.h"

std::int16_t isFilledWith(const std::string& text, std::int16_t code) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) != code) return 0;
    }
    return -1;
}

std::string copyBytesToText(const void* area, std::int16_t length) {
    if (area == nullptr || length <= 0) return std::string();
    return std::string(static_cast<const char*>(area), static_cast<std::size_t>(length));
}
