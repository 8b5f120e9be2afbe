// Terminal sequences and text for the POSIX console back end.
#include "platform/posix/terminal_text.h"

#include <cctype>
#include <string_view>

#include "platform/platform.h"

namespace platform::terminal {
namespace {

bool mentionsUtf8(std::string_view value) {
    std::string folded;
    for (const char c : value) {
        if (c != '-') folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return folded.find("utf8") != std::string::npos;
}

// One UTF-8 character to its code point (the conversion table yields
// well-formed sequences of up to three bytes).
char32_t codePoint(const std::string& utf8) {
    const auto b = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(utf8[i]));
    };
    if (utf8.size() == 1) return b(0);
    if (utf8.size() == 2) return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    if (utf8.size() == 3) return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    return 0xFFFD;
}

// U+00C0 to U+00FF without their accents.
constexpr std::string_view kLatin1Letters =
    "AAAAAAACEEEEIIIIDNOOOOOxOUUUUYTsaaaaaaaceeeeiiiidnooooo/ouuuuyty";
static_assert(kLatin1Letters.size() == 64);

char asciiFor(char32_t cp) {
    if (cp >= 0x20 && cp < 0x7F) return static_cast<char>(cp);
    if (cp == 0xA0) return ' ';
    if (cp >= 0xC0 && cp <= 0xFF) return kLatin1Letters[cp - 0xC0];
    if (cp == 0x2500 || cp == 0x2501) return '-';
    if (cp == 0x2550) return '=';
    if (cp == 0x2502 || cp == 0x2503 || cp == 0x2551) return '|';
    if (cp >= 0x2500 && cp <= 0x257F) return '+';
    if (cp >= 0x2580 && cp <= 0x259F) return '#';
    return '?';
}

}  // namespace

bool localeIsUtf8(const char* lcAll, const char* lcCtype, const char* lang) {
    for (const char* v : {lcAll, lcCtype, lang}) {
        if (v != nullptr && *v != '\0') return mentionsUtf8(v);
    }
    return false;
}

int ansiColour(int consoleColour) {
    static constexpr int kAnsi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    return kAnsi[consoleColour & 7];
}

std::string colourSequence(unsigned char attribute) {
    const int fg = attribute & 15;
    const int bg = (attribute >> 4) & 15;
    const int fgCode = (fg >= 8 ? 90 : 30) + ansiColour(fg);
    const int bgCode = (bg >= 8 ? 100 : 40) + ansiColour(bg);
    return "\x1b[" + std::to_string(fgCode) + ";" + std::to_string(bgCode) + "m";
}

std::string cursorSequence(int row, int column) {
    return "\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "H";
}

std::string displayText(const std::string& oem, bool utf8) {
    std::string out;
    out.reserve(oem.size());
    for (const char c : oem) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 32 || b == 127) {
            out += '?';
        } else if (b < 127) {
            out += c;
        } else if (utf8) {
            out += oemToUtf8(std::string(1, c));
        } else {
            out += asciiFor(codePoint(oemToUtf8(std::string(1, c))));
        }
    }
    return out;
}

std::string readableRows(const ScreenModel& screen, std::vector<bool>& changed, bool utf8) {
    std::string out;
    for (std::size_t i = 0; i < changed.size(); ++i) {
        if (!changed[i]) continue;
        changed[i] = false;
        std::string row = screen.rowText(static_cast<int>(i) + 1);
        const auto last = row.find_last_not_of(' ');
        if (last == std::string::npos) continue;
        row.erase(last + 1);
        out += displayText(row, utf8);
        out += '\n';
    }
    return out;
}

}  // namespace platform::terminal
