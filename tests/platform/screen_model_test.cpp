#include <gtest/gtest.h>

#include <string>

#include "platform/memory_console.h"
#include "platform/platform.h"
#include "platform/screen_model.h"

namespace {

using platform::ScreenModel;

unsigned char attributeAt(const ScreenModel& s, int row, int column) {
    unsigned char c = 0, a = 0;
    s.cell(row, column, c, a);
    return a;
}

TEST(ScreenModel, StartsBlankInGreyOnBlackWithTheCursorHome) {
    ScreenModel s;
    s.reset(3, 4);
    EXPECT_EQ(s.rowText(1), "    ");
    EXPECT_EQ(s.rowText(3), "    ");
    EXPECT_EQ(attributeAt(s, 3, 4), 7);
    EXPECT_EQ(s.cursorRow, 1);
    EXPECT_EQ(s.cursorColumn, 1);
    EXPECT_EQ(s.attribute, 7);
}

TEST(ScreenModel, WritesAtTheCursorInTheColoursInForceAndCutsAtTheLastColumn) {
    ScreenModel s;
    s.reset(3, 10);
    s.setColours(14, 1);
    s.moveCursor(2, 4);
    EXPECT_EQ(s.write("abc"), 3u);
    EXPECT_EQ(s.cursorColumn, 7);
    EXPECT_EQ(s.write("defghij"), 4u);
    EXPECT_EQ(s.rowText(2), "   abcdefg");
    EXPECT_EQ(s.rowText(3), std::string(10, ' '));
    EXPECT_EQ(attributeAt(s, 2, 4), 0x1E);
    EXPECT_EQ(attributeAt(s, 2, 3), 7);
    // The cursor stays on the last column once the text reaches it.
    EXPECT_EQ(s.cursorRow, 2);
    EXPECT_EQ(s.cursorColumn, 10);
    EXPECT_EQ(s.write(std::string("\0\xFF", 2)), 1u);
    EXPECT_EQ(s.rowText(2).back(), '\0');
}

TEST(ScreenModel, CursorIsClampedAndCellsOutsideReadAsBlank) {
    ScreenModel s;
    s.reset(5, 6);
    s.moveCursor(0, 99);
    EXPECT_EQ(s.cursorRow, 1);
    EXPECT_EQ(s.cursorColumn, 6);
    s.moveCursor(-4, -4);
    EXPECT_EQ(s.cursorRow, 1);
    EXPECT_EQ(s.cursorColumn, 1);
    s.write("X");
    unsigned char c = 0, a = 0;
    s.cell(0, 1, c, a);
    EXPECT_EQ(c, ' ');
    EXPECT_EQ(a, 7);
    s.cell(6, 1, c, a);
    EXPECT_EQ(c, ' ');
    EXPECT_EQ(s.rowText(6), "");
}

TEST(ScreenModel, ColoursAreTakenModulo16) {
    ScreenModel s;
    s.setColours(17, 35);
    EXPECT_EQ(s.attribute, 0x31);
    s.setColours(-1, 16);
    EXPECT_EQ(s.attribute, 0x0F);
}

TEST(MemoryConsole, KeysTypedAheadAreDiscardedAndScriptedKeysComeInOrder) {
    platform::resetMemoryConsole(25, 80);
    const platform::ConsoleBackend& con = platform::memoryConsoleBackend();
    platform::MemoryConsole& m = platform::memoryConsole();
    m.typedAhead = "zz";
    m.keys = "ab";
    con.waitKey();  // typed ahead comes first
    con.discardKeys();
    con.waitKey();
    con.waitKey();
    con.waitKey();  // nothing left: returns at once
    con.beep();
    EXPECT_EQ(m.keysRead, "zab");
    EXPECT_EQ(m.beeps, 1);
    EXPECT_EQ(m.events, (std::vector<std::string>{"waitKey", "discardKeys", "waitKey", "waitKey",
                                                  "waitKey", "beep"}));
}

TEST(MemoryConsole, IsTheConsoleWhileChosenAndResetGivesABlankScreen) {
    platform::resetMemoryConsole(10, 20);
    platform::setConsoleBackend(&platform::memoryConsoleBackend());
    int rows = 0, columns = 0;
    platform::console().windowSize(rows, columns);
    platform::console().hideCursor();
    platform::console().setCursor(4, 5);
    platform::console().writeText("hi");
    platform::beep();
    platform::setConsoleBackend(nullptr);
    EXPECT_EQ(rows, 10);
    EXPECT_EQ(columns, 20);
    EXPECT_TRUE(platform::memoryConsole().cursorHidden);
    EXPECT_EQ(platform::memoryConsole().screen.rowText(4).substr(4, 2), "hi");
    EXPECT_EQ(platform::memoryConsole().beeps, 1);
    platform::resetMemoryConsole(2, 3);
    EXPECT_EQ(platform::memoryConsole().screen.rowText(1), "   ");
    EXPECT_TRUE(platform::memoryConsole().events.empty());
    EXPECT_FALSE(platform::memoryConsole().cursorHidden);
}

}  // namespace
