// Console code page on POSIX: a table of the 256 code-page characters in
// UTF-8, built once from the C library's iconv, and its reverse.
#include <iconv.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

struct CodePageTables {
    int codePage = 0;
    std::array<std::string, 256> toUtf8;
    std::map<char32_t, unsigned char> fromUnicode;
};

CodePageTables g_tables;

char32_t decodeOne(const std::string& s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](std::size_t k) -> int {
        if (i + k >= s.size()) return -1;
        const auto b = static_cast<unsigned char>(s[i + k]);
        return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
    };
    if (b0 < 0x80) {
        i += 1;
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0) {
        const int c1 = cont(1);
        if (c1 >= 0) {
            const char32_t cp = (static_cast<char32_t>(b0 & 0x1F) << 6) | static_cast<char32_t>(c1);
            if (cp >= 0x80) {
                i += 2;
                return cp;
            }
        }
    } else if ((b0 & 0xF0) == 0xE0) {
        const int c1 = cont(1), c2 = c1 >= 0 ? cont(2) : -1;
        if (c2 >= 0) {
            const char32_t cp = (static_cast<char32_t>(b0 & 0x0F) << 12) |
                                (static_cast<char32_t>(c1) << 6) | static_cast<char32_t>(c2);
            if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
                i += 3;
                return cp;
            }
        }
    } else if ((b0 & 0xF8) == 0xF0) {
        const int c1 = cont(1), c2 = c1 >= 0 ? cont(2) : -1, c3 = c2 >= 0 ? cont(3) : -1;
        if (c3 >= 0) {
            const char32_t cp = (static_cast<char32_t>(b0 & 0x07) << 18) |
                                (static_cast<char32_t>(c1) << 12) |
                                (static_cast<char32_t>(c2) << 6) | static_cast<char32_t>(c3);
            if (cp >= 0x10000 && cp <= 0x10FFFF) {
                i += 4;
                return cp;
            }
        }
    }
    i += 1;
    return 0xFFFD;
}

bool buildTables(int codePage, CodePageTables& t) {
    const std::string name = "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    t.codePage = codePage;
    t.fromUnicode.clear();
    for (int b = 0; b < 256; ++b) {
        char in[1] = {static_cast<char>(b)};
        char out[8] = {};
        char* inp = in;
        char* outp = out;
        std::size_t inLeft = 1, outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1)) {
            // Not expected for the supported code pages; keep the byte readable.
            t.toUtf8[b] = "?";
            continue;
        }
        t.toUtf8[b].assign(out, sizeof out - outLeft);
        std::size_t i = 0;
        const char32_t cp = decodeOne(t.toUtf8[b], i);
        t.fromUnicode.emplace(cp, static_cast<unsigned char>(b));
    }
    iconv_close(cd);
    return true;
}

void ensureTables() {
    if (g_tables.codePage == 0) buildTables(850, g_tables);
}

}  // namespace

void selectConsoleCodePage() {
    int wanted = 850;
    if (const char* v = std::getenv("NUBO_CODEPAGE"); v != nullptr && std::strcmp(v, "437") == 0)
        wanted = 437;
    if (g_tables.codePage != wanted) buildTables(wanted, g_tables);
}

int consoleCodePage() {
    ensureTables();
    return g_tables.codePage;
}

std::string oemToUtf8(const std::string& oem) {
    ensureTables();
    std::string out;
    out.reserve(oem.size());
    for (const char c : oem) out += g_tables.toUtf8[static_cast<unsigned char>(c)];
    return out;
}

std::string utf8ToOem(const std::string& utf8) {
    ensureTables();
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t cp = decodeOne(utf8, i);
        const auto it = g_tables.fromUnicode.find(cp);
        out += it == g_tables.fromUnicode.end() ? '?' : static_cast<char>(it->second);
    }
    return out;
}

}  // namespace platform
