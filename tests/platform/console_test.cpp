#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/console.h"

namespace {

// The system console of Windows, read back cell by cell. It needs a real
// console, which the test runs of the Windows build give it in a
// pseudo-terminal (scripts/test.d/windows.sh sets NUBO_TEST_REAL_CONSOLE).
class SystemConsole : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        GTEST_SKIP() << "the terminal back end of POSIX does not read cells back";
#else
        const char* real = std::getenv("NUBO_TEST_REAL_CONSOLE");
        if (real == nullptr || std::string(real) != "1")
            GTEST_SKIP() << "needs a real console (run in a pseudo-terminal by the Windows tests)";
#endif
        con().windowSize(rows, columns);
    }
    static const platform::ConsoleBackend& con() {
        return platform::systemConsole();
    }
    int rows = 0, columns = 0;
};

TEST_F(SystemConsole, WrittenCellsReadBackWithTheirColours) {
    ASSERT_GE(rows, 5);
    ASSERT_GE(columns, 20);
    con().hideCursor();
    con().setColours(14, 1);
    con().setCursor(3, 5);
    con().writeText("FITXER \xD4\xE3");  // "È" and "Ò" in code page 850
    int row = 0, column = 0;
    con().getCursor(row, column);
    EXPECT_EQ(row, 3);
    EXPECT_EQ(column, 14);
    const std::string expected = "FITXER \xD4\xE3";
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
        unsigned char character = 0, attribute = 0;
        con().readCell(3, 5 + i, character, attribute);
        EXPECT_EQ(character, static_cast<unsigned char>(expected[static_cast<std::size_t>(i)]))
            << i;
        EXPECT_EQ(attribute, 0x1E) << i;
    }
    // Colours taken modulo 16.
    con().setColours(16 + 2, 16 + 4);
    con().setCursor(4, 1);
    con().writeText("x");
    unsigned char character = 0, attribute = 0;
    con().readCell(4, 1, character, attribute);
    EXPECT_EQ(character, 'x');
    EXPECT_EQ(attribute, 0x42);
    con().setColours(7, 0);
}

TEST_F(SystemConsole, TextPastTheLastColumnIsCut) {
    con().setColours(7, 0);
    con().setCursor(5, 1);
    con().writeText(std::string(static_cast<std::size_t>(columns), '.'));
    con().setCursor(5, columns - 1);
    con().writeText("ABC");
    unsigned char character = 0, attribute = 0;
    con().readCell(5, columns - 1, character, attribute);
    EXPECT_EQ(character, 'A');
    con().readCell(5, columns, character, attribute);
    EXPECT_EQ(character, 'B');
    con().readCell(6, 1, character, attribute);
    EXPECT_NE(character, 'C');
    // The cursor stays on the last column.
    int row = 0, column = 0;
    con().getCursor(row, column);
    EXPECT_EQ(row, 5);
    EXPECT_EQ(column, columns);
}

TEST_F(SystemConsole, PositionsOutsideTheWindowAreClampedOrReadBlank) {
    con().setCursor(rows + 5, columns + 5);
    int row = 0, column = 0;
    con().getCursor(row, column);
    EXPECT_EQ(row, rows);
    EXPECT_EQ(column, columns);
    con().setCursor(0, -3);
    con().getCursor(row, column);
    EXPECT_EQ(row, 1);
    EXPECT_EQ(column, 1);
    unsigned char character = 0, attribute = 0;
    con().readCell(rows + 1, 1, character, attribute);
    EXPECT_EQ(character, ' ');
    EXPECT_EQ(attribute, 7);
    con().readCell(1, 0, character, attribute);
    EXPECT_EQ(character, ' ');
    EXPECT_EQ(attribute, 7);
}

TEST_F(SystemConsole, DiscardingWithNoKeysWaitingReturns) {
    con().discardKeys();
}

}  // namespace
