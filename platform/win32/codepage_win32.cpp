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
#include <string>

#include "platform/codepage_table.h"
#include "platform/platform.h"
#include "platform/win32/text_win32.h"

namespace platform {

bool systemCodePageCharacters(int codePage, std::array<char32_t, 256>& characters) {
    CPINFO info;
    if (!::GetCPInfo(static_cast<UINT>(codePage), &info)) return false;
    for (int b = 0; b < 256; ++b) {
        const char in = static_cast<char>(b);
        wchar_t wide[4] = {};
        const int n = ::MultiByteToWideChar(static_cast<UINT>(codePage), 0, &in, 1, wide, 4);
        characters[static_cast<std::size_t>(b)] = n == 1 ? static_cast<char32_t>(wide[0]) : U'?';
    }
    return true;
}

void selectConsoleCodePage() {
    unsigned int wanted = ::GetConsoleOutputCP();
    if (wanted == 0) wanted = ::GetOEMCP();
    useCodePage(static_cast<int>(wanted));
}

namespace win32 {

unsigned int codePage() {
    return static_cast<unsigned int>(consoleCodePage());
}

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
