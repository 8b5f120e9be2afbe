#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/terminal_text.h"
#include "platform/screen_model.h"

namespace {

using namespace platform::terminal;

TEST(TerminalText, LocaleIsUtf8ByTheFirstVariableSet) {
    EXPECT_TRUE(localeIsUtf8(nullptr, nullptr, "ca_ES.UTF-8"));
    EXPECT_TRUE(localeIsUtf8(nullptr, nullptr, "C.utf8"));
    EXPECT_TRUE(localeIsUtf8(nullptr, "en_US.Utf8", "C"));
    EXPECT_FALSE(localeIsUtf8("C", "en_US.UTF-8", "en_US.UTF-8"));  // LC_ALL decides
    EXPECT_TRUE(localeIsUtf8("", "", "es_ES.UTF-8"));               // empty counts as unset
    EXPECT_FALSE(localeIsUtf8(nullptr, nullptr, "ca_ES.ISO-8859-1"));
    EXPECT_FALSE(localeIsUtf8(nullptr, nullptr, nullptr));
}

TEST(TerminalText, ConsoleColoursMapToAnsiColours) {
    struct Case {
        unsigned char attribute;
        const char* sequence;
    };
    for (const Case& c :
         {Case{0x07, "\x1b[37;40m"}, Case{0x70, "\x1b[30;47m"}, Case{0x1F, "\x1b[97;44m"},
          Case{0x4E, "\x1b[93;41m"}, Case{0x23, "\x1b[36;42m"}, Case{0x56, "\x1b[33;45m"},
          Case{0x8C, "\x1b[91;100m"}, Case{0xF9, "\x1b[94;107m"}, Case{0xDA, "\x1b[92;105m"},
          Case{0xB8, "\x1b[90;106m"}}) {
        EXPECT_EQ(colourSequence(c.attribute), c.sequence) << int{c.attribute};
    }
}

TEST(TerminalText, FrameCharactersAndAccentedLettersBecomeUtf8) {
    EXPECT_EQ(displayText("\xDA\xC4\xBF\xB3\xC0\xD9", true), "┌─┐│└┘");
    EXPECT_EQ(displayText("\xC9\xCD\xBB\xBA\xC8\xBC", true), "╔═╗║╚╝");
    EXPECT_EQ(displayText("NON SE P\xE3T ACCEDIR ATH FICH\xD4R ", true),
              "NON SE PÒT ACCEDIR ATH FICHÈR ");
}

TEST(TerminalText, WithoutUtf8TheTextStaysAscii) {
    EXPECT_EQ(displayText("\xDA\xC4\xBF\xB3\xC0\xD9", false), "+-+|++");
    EXPECT_EQ(displayText("\xC9\xCD\xBB\xBA", false), "+=+|");
    EXPECT_EQ(displayText("P\xE3T FICH\xD4R \x87", false), "POT FICHER c");
}

TEST(TerminalText, ControlCharactersCannotActOnTheTerminal) {
    EXPECT_EQ(displayText("\x1b[2J\a\x7f", true), "?[2J??");
    EXPECT_EQ(displayText(std::string("a\0b", 3), false), "a?b");
}

TEST(TerminalText, CursorSequence) {
    EXPECT_EQ(cursorSequence(10, 11), "\x1b[10;11H");
}

TEST(TerminalText, ChangedRowsBecomeReadableLines) {
    platform::ScreenModel s;
    s.reset(6, 12);
    std::vector<bool> changed(6, false);
    s.moveCursor(2, 3);
    s.write("\xDA\xC4\xC4\xBF");
    s.moveCursor(3, 3);
    s.write("\xB3\xE3\xD4\xB3");
    s.moveCursor(4, 3);
    s.write("\xC0\xC4\xC4\xD9");
    s.moveCursor(5, 1);
    s.write("    ");  // written but blank
    for (const int row : {4, 2, 3, 5}) changed[static_cast<std::size_t>(row - 1)] = true;
    EXPECT_EQ(readableRows(s, changed, true), "  ┌──┐\n  │ÒÈ│\n  └──┘\n");
    EXPECT_EQ(changed, std::vector<bool>(6, false));
    EXPECT_EQ(readableRows(s, changed, true), "");
    changed[2] = true;
    EXPECT_EQ(readableRows(s, changed, false), "  |OE|\n");
}

}  // namespace
