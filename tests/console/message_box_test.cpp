#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/console/console_fixture.h"

namespace {

using console_test::ConsoleTest;
using console_test::slotAttribute;

std::string sixtyCharacters() {
    return "NO ES POT ACCEDIR AL FITXER " + std::string(27, 'F') + " (20)";
}

std::string tenNineLetterWords() {
    std::string text;
    for (int i = 0; i < 10; ++i)
        text += (i ? " " : "") + std::string(9, static_cast<char>('A' + i));
    return text;
}

std::string pathOf90() {
    std::string path;
    for (int i = 0; i < 90; ++i) path += i % 10 == 0 ? '\\' : static_cast<char>('a' + i % 26);
    return path;
}

std::string eightLongWords() {
    std::string text;
    for (int i = 0; i < 8; ++i)
        text += (i ? " " : "") + std::string(70, static_cast<char>('A' + i));
    return text;
}

struct BoxCase {
    const char* what;
    std::string text;
    int centreRow;
    int rows, columns;
    int top, left, bottom, right;
    std::vector<std::string> lines;  // as shown, from row top + 1 and column left + 2
};

std::vector<BoxCase> boxCases() {
    const std::string words = tenNineLetterWords();
    const std::string path = pathOf90();
    std::vector<std::string> eight;
    for (int i = 0; i < 8; ++i) eight.push_back(std::string(70, static_cast<char>('A' + i)));
    return {
        {"SixtyCharactersAtRow12",
         sixtyCharacters(),
         12,
         25,
         80,
         9,
         9,
         11,
         72,
         {sixtyCharacters()}},
        {"TenWordsOnTwoLines",
         words,
         12,
         25,
         80,
         9,
         4,
         12,
         76,
         {words.substr(0, 69), words.substr(70)}},
        {"PathCutAfter76", path, 12, 25, 80, 9, 1, 12, 80, {path.substr(0, 76), path.substr(76)}},
        {"HeldAtTheTopRow", sixtyCharacters(), 1, 25, 80, 1, 9, 3, 72, {sixtyCharacters()}},
        {"HeldAtTheLastRow", sixtyCharacters(), 30, 25, 80, 23, 9, 25, 72, {sixtyCharacters()}},
        {"AsManyLinesAsRowsMinus2", eightLongWords(), 5, 10, 80, 1, 4, 10, 77, eight},
        {"EmptyText", "", 12, 25, 80, 10, 39, 11, 42, {}},
    };
}

void PrintTo(const BoxCase& c, std::ostream* os) {
    *os << c.what;
}

class MessageBox : public ConsoleTest, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(MessageBox, IsFramedAroundItsLinesInSlot2) {
    const BoxCase& c = GetParam();
    useScreen(c.rows, c.columns);
    fillScreen();
    const platform::ScreenModel before = screen();

    std::string text = c.text;
    showMessageBox(static_cast<std::int16_t>(c.centreRow), text);

    EXPECT_EQ(
        windowState,
        (WindowState{1, static_cast<std::int16_t>(c.top), static_cast<std::int16_t>(c.left),
                     static_cast<std::int16_t>(c.bottom), static_cast<std::int16_t>(c.right)}));
    EXPECT_EQ(textAt(c.top, c.left, 1), "\xDA");
    EXPECT_EQ(textAt(c.top, c.right, 1), "\xBF");
    EXPECT_EQ(textAt(c.bottom, c.left, 1), "\xC0");
    EXPECT_EQ(textAt(c.bottom, c.right, 1), "\xD9");
    EXPECT_EQ(textAt(c.top, c.left + 1, c.right - c.left - 1),
              std::string(static_cast<std::size_t>(c.right - c.left - 1), '\xC4'));
    const int inside = c.right - c.left - 1;
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
        const int row = c.top + 1 + static_cast<int>(i);
        const std::string& line = c.lines[i];
        EXPECT_EQ(textAt(row, c.left, 1), "\xB3");
        EXPECT_EQ(textAt(row, c.left + 1, inside),
                  " " + line + std::string(static_cast<std::size_t>(inside - 1) - line.size(), ' '))
            << "row " << row;
        EXPECT_EQ(textAt(row, c.right, 1), "\xB3");
    }
    EXPECT_EQ(c.top + 1 + static_cast<int>(c.lines.size()), c.bottom);
    for (int row = 1; row <= c.rows; ++row) {
        for (int column = 1; column <= c.columns; ++column) {
            const bool inBox =
                row >= c.top && row <= c.bottom && column >= c.left && column <= c.right;
            unsigned char wasCharacter = 0, wasAttribute = 0;
            before.cell(row, column, wasCharacter, wasAttribute);
            if (inBox) {
                ASSERT_EQ(attributeAt(row, column), slotAttribute(2)) << row << "," << column;
            } else {
                ASSERT_EQ(attributeAt(row, column), wasAttribute) << row << "," << column;
            }
        }
    }
    // The slot in force before the call is in force again.
    EXPECT_EQ(textStyleState.currentSlot, 0);
    EXPECT_EQ(textStyleState.slotStack, "");
    EXPECT_EQ(screen().attribute, slotAttribute(0));
}

INSTANTIATE_TEST_SUITE_P(Console, MessageBox, ::testing::ValuesIn(boxCases()),
                         [](const ::testing::TestParamInfo<BoxCase>& info) {
                             return std::string(info.param.what);
                         });

TEST_F(ConsoleTest, MessageBoxReplacesTheTextByItsLaidOutLines) {
    std::string text = tenNineLetterWords();
    showMessageBox(12, text);
    const std::string words = tenNineLetterWords();
    EXPECT_EQ(text,
              words.substr(0, 69) + std::string(7, ' ') + words.substr(70) + std::string(47, ' '));
}

TEST_F(ConsoleTest, MessageBoxKeepsTheCallersTextStyle) {
    std::string letters = "n";
    setTextStyle(letters);
    letters = "+u";
    setTextStyle(letters);
    std::string text = sixtyCharacters();
    showMessageBox(12, text);
    EXPECT_EQ(textStyleState.currentSlot, 4);
    EXPECT_EQ(textStyleState.slotStack, std::string(1, '\1'));
    EXPECT_EQ(screen().attribute, slotAttribute(4));
}

TEST_F(ConsoleTest, AMessageWithMoreLinesThanRowsMinus2IsNotShown) {
    useScreen(10, 80);
    fillScreen();
    const auto before = screen().characters;
    const auto attributesBefore = screen().attributes;
    std::string text = eightLongWords() + " " + std::string(70, 'Z');  // nine lines
    showMessageBox(5, text);
    EXPECT_EQ(screen().characters, before);
    EXPECT_EQ(screen().attributes, attributesBefore);
    EXPECT_FALSE(stackExists());
    EXPECT_EQ(windowState, WindowState{});
    EXPECT_EQ(textStyleState.currentSlot, 0);
    EXPECT_EQ(textStyleState.slotStack, "");
}

TEST_F(ConsoleTest, OnAConsoleNarrowerThanTheBoxTheLinesGoToRow1WithoutAFrame) {
    useScreen(25, 60);
    std::string text = tenNineLetterWords();
    showMessageBox(12, text);
    EXPECT_FALSE(stackExists());
    EXPECT_EQ(windowState, WindowState{});
    const std::string words = tenNineLetterWords();
    EXPECT_EQ(textAt(1, 1, 60), " " + words.substr(0, 59));  // cut at the last column
    EXPECT_EQ(textAt(2, 1, 31), " " + words.substr(70) + " ");
    EXPECT_EQ(attributeAt(1, 2), slotAttribute(2));
    EXPECT_EQ(textAt(9, 1, 60), std::string(60, ' '));
}

TEST_F(ConsoleTest, PoppingTheMessageBoxGivesTheScreenBack) {
    fillScreen();
    platform::console().setCursor(3, 7);
    const platform::ScreenModel before = screen();
    std::string text = tenNineLetterWords();
    showMessageBox(12, text);
    EXPECT_TRUE(stackExists());
    popWindow();
    EXPECT_EQ(screen().characters, before.characters);
    EXPECT_EQ(screen().attributes, before.attributes);
    EXPECT_EQ(screen().cursorRow, 3);
    EXPECT_EQ(screen().cursorColumn, 7);
    EXPECT_EQ(windowState, WindowState{});
    EXPECT_FALSE(stackExists());
}

}  // namespace
