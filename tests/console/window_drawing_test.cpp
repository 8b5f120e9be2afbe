#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/console/console_fixture.h"

namespace {

using console_test::ConsoleTest;

TEST_F(ConsoleTest, LocateIsAbsoluteWithNoWindowAndRelativeOtherwise) {
    locateInWindow(3, 4);
    EXPECT_EQ(screen().cursorRow, 3);
    EXPECT_EQ(screen().cursorColumn, 4);
    for (const std::int16_t depth : {1, -1}) {
        windowState = WindowState{depth, 9, 9, 11, 72};
        locateInWindow(1, 2);
        EXPECT_EQ(screen().cursorRow, 10);
        EXPECT_EQ(screen().cursorColumn, 11);
    }
}

struct FrameCase {
    int style;
    std::string top, middle, bottom;  // rows 2, 3 and 4 of columns 3 to 7
};

void PrintTo(const FrameCase& c, std::ostream* os) {
    *os << "style " << c.style;
}

class Frame : public ConsoleTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(Frame, IsDrawnInItsCharactersAndClearsTheInside) {
    const FrameCase& c = GetParam();
    fillScreen();
    const std::string rowOneBefore = screen().rowText(1);
    windowState = WindowState{1, 2, 3, 4, 7};
    platform::console().setColours(1, 6);
    drawWindowFrame(static_cast<std::int16_t>(c.style));
    EXPECT_EQ(textAt(2, 3, 5), c.top);
    EXPECT_EQ(textAt(3, 3, 5), c.middle);
    EXPECT_EQ(textAt(4, 3, 5), c.bottom);
    for (int row = 2; row <= 4; ++row) {
        for (int column = 3; column <= 7; ++column) EXPECT_EQ(attributeAt(row, column), 0x61);
    }
    // Nothing outside the window.
    EXPECT_EQ(screen().rowText(1), rowOneBefore);
    EXPECT_NE(attributeAt(3, 2), 0x61);
    EXPECT_NE(attributeAt(3, 8), 0x61);
}

INSTANTIATE_TEST_SUITE_P(
    Console, Frame,
    ::testing::Values(FrameCase{0, "     ", "     ", "     "},
                      FrameCase{1, "\xDA\xC4\xC4\xC4\xBF", "\xB3   \xB3", "\xC0\xC4\xC4\xC4\xD9"},
                      FrameCase{2, "\xC9\xCD\xCD\xCD\xBB", "\xBA   \xBA", "\xC8\xCD\xCD\xCD\xBC"}));

TEST_F(ConsoleTest, NoFrameIsDrawnWithoutAWindowForAnUnknownStyleOrANonRectangle) {
    fillScreen();
    const auto before = screen().characters;
    drawWindowFrame(1);  // no window open
    windowState = WindowState{1, 2, 3, 4, 7};
    drawWindowFrame(3);
    drawWindowFrame(-1);
    windowState = WindowState{-1, 0, 0, 0, 0};  // left by popping another program's frame
    drawWindowFrame(1);
    windowState = WindowState{1, 5, 3, 4, 7};
    drawWindowFrame(1);
    EXPECT_EQ(screen().characters, before);
}

TEST_F(ConsoleTest, AFrameOneColumnWideStaysInsideItsWindow) {
    fillScreen();
    const std::string rowBefore = screen().rowText(2);
    windowState = WindowState{1, 2, 5, 3, 5};
    drawWindowFrame(1);
    EXPECT_EQ(textAt(2, 5, 1), "\xDA");
    EXPECT_EQ(textAt(3, 5, 1), "\xC0");
    EXPECT_EQ(screen().rowText(2).substr(5), rowBefore.substr(5));
}

}  // namespace
