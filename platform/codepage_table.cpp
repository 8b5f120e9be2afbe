#include "platform/codepage_table.h"

#include <map>

#include "platform/platform.h"

namespace platform {
namespace {

struct CodePageTable {
    int codePage = 0;
    std::array<std::string, 256> toUtf8;
    std::map<char32_t, unsigned char> fromUnicode;
};

CodePageTable g_table;

constexpr int kLatin1 = 28591;

void fillTable(int codePage, const std::array<char32_t, 256>& characters) {
    g_table.codePage = codePage;
    g_table.fromUnicode.clear();
    for (std::size_t b = 0; b < characters.size(); ++b) {
        g_table.toUtf8[b].clear();
        appendUtf8(characters[b], g_table.toUtf8[b]);
        g_table.fromUnicode.emplace(characters[b], static_cast<unsigned char>(b));
    }
}

// Chooses the console code page on first use; when the system knows none of
// it, every byte stands for the Latin-1 character of the same value, so
// texts still convert both ways.
void ensureTable() {
    if (g_table.codePage != 0) return;
    selectConsoleCodePage();
    if (g_table.codePage != 0) return;
    std::array<char32_t, 256> latin1{};
    for (std::size_t b = 0; b < latin1.size(); ++b) latin1[b] = static_cast<char32_t>(b);
    fillTable(kLatin1, latin1);
}

}  // namespace

char32_t decodeUtf8(const std::string& s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int length = 0;
    char32_t cp = 0, minimum = 0;
    if (b0 < 0x80) {
        i += 1;
        return b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        length = 2, cp = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, cp = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, cp = b0 & 0x07, minimum = 0x10000;
    }
    bool ok = length > 0;
    for (int k = 1; ok && k < length; ++k) {
        const std::size_t at = i + static_cast<std::size_t>(k);
        const auto b = at < s.size() ? static_cast<unsigned char>(s[at]) : 0;
        if ((b & 0xC0) != 0x80)
            ok = false;
        else
            cp = (cp << 6) | static_cast<char32_t>(b & 0x3F);
    }
    if (ok && cp >= minimum && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
        i += static_cast<std::size_t>(length);
        return cp;
    }
    i += 1;
    return 0xFFFD;
}

void appendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool useCodePage(int codePage) {
    if (codePage == g_table.codePage) return true;
    std::array<char32_t, 256> characters{};
    if (!systemCodePageCharacters(codePage, characters)) return false;
    fillTable(codePage, characters);
    return true;
}

int consoleCodePage() {
    ensureTable();
    return g_table.codePage;
}

std::string oemToUtf8(const std::string& oem) {
    ensureTable();
    std::string out;
    out.reserve(oem.size());
    for (const char c : oem) out += g_table.toUtf8[static_cast<unsigned char>(c)];
    return out;
}

std::string utf8ToOem(const std::string& utf8) {
    ensureTable();
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto it = g_table.fromUnicode.find(decodeUtf8(utf8, i));
        out += it == g_table.fromUnicode.end() ? '?' : static_cast<char>(it->second);
    }
    return out;
}

}  // namespace platform
