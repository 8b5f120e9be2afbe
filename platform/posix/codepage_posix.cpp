// Console code page on POSIX: 850, or 437 when NUBO_CODEPAGE says so; the
// characters of its bytes come from the C library's iconv.
#include <iconv.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/codepage_table.h"
#include "platform/platform.h"

namespace platform {

bool systemCodePageCharacters(int codePage, std::array<char32_t, 256>& characters) {
    const std::string name = "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    for (int b = 0; b < 256; ++b) {
        char in[1] = {static_cast<char>(b)};
        char out[8] = {};
        char* inp = in;
        char* outp = out;
        std::size_t inLeft = 1, outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char32_t cp = '?';
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1)) {
            const std::string utf8(out, sizeof out - outLeft);
            std::size_t i = 0;
            cp = decodeUtf8(utf8, i);
        }
        characters[static_cast<std::size_t>(b)] = cp;
    }
    iconv_close(cd);
    return true;
}

void selectConsoleCodePage() {
    int wanted = 850;
    if (const char* v = std::getenv("NUBO_CODEPAGE"); v != nullptr && std::strcmp(v, "437") == 0)
        wanted = 437;
    useCodePage(wanted);
}

}  // namespace platform
