#include "engine/postgres/names.h"

#include <cstdio>

namespace engine::pg {

std::uint32_t nameHash(std::string_view text) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : text) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

bool validUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0) return false;
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xe0) == 0xc0) {
            extra = 1;
            cp = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            extra = 2;
            cp = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xc0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3f);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static constexpr std::uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[extra] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
        i += extra + 1;
    }
    return true;
}

std::string identifier(std::string_view name, std::string_view suffix) {
    if (name.size() + suffix.size() <= maxIdentifierLength) {
        return std::string(name) + std::string(suffix);
    }
    char tag[16];
    std::snprintf(tag, sizeof tag, "~%08x", static_cast<unsigned>(nameHash(name)));
    std::size_t keep = maxIdentifierLength - suffix.size() - 9;
    // Not inside a UTF-8 sequence: back up over continuation bytes.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xc0) == 0x80) --keep;
    return std::string(name.substr(0, keep)) + tag + std::string(suffix);
}

std::string quoteIdentifier(std::string_view name) {
    if (name.empty() || !validUtf8(name)) return {};
    std::string q = "\"";
    for (char c : name) {
        if (c == '"') q += '"';
        q += c;
    }
    q += '"';
    return q;
}

}  // namespace engine::pg
