// Console code page on Windows: the console's output code page (the OEM
// code page when the process has no console), converted through wide
// characters with MultiByteToWideChar and WideCharToMultiByte.
//
// The conversion to and from UTF-8 goes through a table of the 256 code-page
// characters, so that it gives exactly the same results as on POSIX: every
// byte maps to one character, and a character outside the code page (or a
// malformed UTF-8 sequence) becomes "?".
#include <windows.h>

#include <array>
#include <map>
#include <string>

#include "platform/platform.h"
#include "platform/win32/text_win32.h"

namespace platform {
namespace {

struct CodePageTables {
    unsigned int codePage = 0;
    std::array<std::string, 256> toUtf8;
    std::map<char32_t, unsigned char> fromUnicode;
};

CodePageTables g_tables;

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

// Decodes one UTF-8 character at s[i] and moves i past it; a malformed or
// cut sequence gives U+FFFD and moves one byte on.
char32_t decodeOne(const std::string& s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](std::size_t k) -> int {
        if (i + k >= s.size()) return -1;
        const auto b = static_cast<unsigned char>(s[i + k]);
        return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
    };
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
        const int c = cont(static_cast<std::size_t>(k));
        if (c < 0) ok = false;
        else cp = (cp << 6) | static_cast<char32_t>(c);
    }
    if (ok && cp >= minimum && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
        i += static_cast<std::size_t>(length);
        return cp;
    }
    i += 1;
    return 0xFFFD;
}

void buildTables(unsigned int codePage) {
    g_tables.codePage = codePage;
    g_tables.fromUnicode.clear();
    for (int b = 0; b < 256; ++b) {
        const char in = static_cast<char>(b);
        wchar_t wide[4] = {};
        const int n = ::MultiByteToWideChar(codePage, 0, &in, 1, wide, 4);
        std::string& utf8 = g_tables.toUtf8[static_cast<std::size_t>(b)];
        utf8.clear();
        char32_t cp = '?';
        if (n == 1) cp = static_cast<char32_t>(wide[0]);
        appendUtf8(cp, utf8);
        g_tables.fromUnicode.emplace(cp, static_cast<unsigned char>(b));
    }
}

void ensureTables() {
    if (g_tables.codePage == 0) selectConsoleCodePage();
}

}  // namespace

void selectConsoleCodePage() {
    unsigned int wanted = ::GetConsoleOutputCP();
    if (wanted == 0) wanted = ::GetOEMCP();
    if (g_tables.codePage != wanted) buildTables(wanted);
}

int consoleCodePage() {
    ensureTables();
    return static_cast<int>(g_tables.codePage);
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

namespace win32 {

unsigned int codePage() { return static_cast<unsigned int>(consoleCodePage()); }

std::wstring toWide(const std::string& oem) {
    if (oem.empty()) return std::wstring();
    const int size = static_cast<int>(oem.size());
    std::wstring wide(oem.size(), L'\0');
    const int n = ::MultiByteToWideChar(codePage(), 0, oem.data(), size, wide.data(), size);
    if (n == size) return wide;
    // Not a one-byte code page, or a conversion failure: keep one character
    // per byte so that lengths stay as the program counted them.
    for (std::size_t i = 0; i < oem.size(); ++i) {
        wchar_t w = L'?';
        if (::MultiByteToWideChar(codePage(), 0, &oem[i], 1, &w, 1) != 1) w = L'?';
        wide[i] = w;
    }
    return wide;
}

std::string fromWide(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int size = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    const UINT cp = codePage();
    // Code pages such as UTF-7/UTF-8 refuse the default-character arguments.
    const bool plain = cp == CP_UTF7 || cp == CP_UTF8;
    const DWORD flags = plain ? 0 : WC_NO_BEST_FIT_CHARS;
    const int needed = ::WideCharToMultiByte(cp, flags, wide.data(), size, nullptr, 0,
                                             plain ? nullptr : "?", plain ? nullptr : &usedDefault);
    if (needed <= 0) return std::string(wide.size(), '?');
    std::string out(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(cp, flags, wide.data(), size, out.data(), needed, plain ? nullptr : "?",
                          plain ? nullptr : &usedDefault);
    return out;
}

}  // namespace win32
}  // namespace platform
