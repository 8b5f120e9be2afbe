// Upper-casing of 8-bit console code-page text.
#include "session/upper_case.h"

#include <array>

#include "platform/platform.h"

namespace {

using CaseTable = std::array<unsigned char, 256>;

struct LetterPair {
    unsigned char small;
    unsigned char capital;
};

// Accented letters with their capitals, the same in code pages 437 and 850.
constexpr LetterPair sharedLetters[] = {
    {0x81, 0x9A}, {0x82, 0x90}, {0x84, 0x8E}, {0x86, 0x8F},
    {0x87, 0x80}, {0x91, 0x92}, {0x94, 0x99}, {0xA4, 0xA5},
};

// Letters whose capitals only code page 850 holds.
constexpr LetterPair letters850[] = {
    {0x83, 0xB6}, {0x85, 0xB7}, {0x88, 0xD2}, {0x89, 0xD3}, {0x8A, 0xD4}, {0x8B, 0xD8},
    {0x8C, 0xD7}, {0x8D, 0xDE}, {0x93, 0xE2}, {0x95, 0xE3}, {0x96, 0xEA}, {0x97, 0xEB},
    {0x9B, 0x9D}, {0xA0, 0xB5}, {0xA1, 0xD6}, {0xA2, 0xE0}, {0xA3, 0xE9}, {0xC6, 0xC7},
    {0xD0, 0xD1}, {0xE4, 0xE5}, {0xE7, 0xE8}, {0xEC, 0xED},
};

CaseTable buildTable(int codePage) {
    CaseTable table{};
    for (int b = 0; b < 256; ++b) table[b] = static_cast<unsigned char>(b);
    for (int b = 'a'; b <= 'z'; ++b) table[b] = static_cast<unsigned char>(b - 'a' + 'A');
    if (codePage == 437 || codePage == 850) {
        for (const auto& p : sharedLetters) table[p.small] = p.capital;
    }
    if (codePage == 850) {
        for (const auto& p : letters850) table[p.small] = p.capital;
    }
    return table;
}

}  // namespace

std::string upperCaseText(const std::string& text) {
    static const CaseTable table437 = buildTable(437);
    static const CaseTable table850 = buildTable(850);
    static const CaseTable tableAscii = buildTable(0);
    const int codePage = platform::consoleCodePage();
    const CaseTable& table = codePage == 850 ? table850 : codePage == 437 ? table437 : tableAscii;
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
    return upper;
}
