#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "tests/console/console_fixture.h"

namespace {

using console_test::ConsoleTest;

std::string digits(int value, int width) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
    return buffer;
}

std::string le32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF),
            static_cast<char>((u >> 16) & 0xFF), static_cast<char>((u >> 24) & 0xFF)};
}

// A frame as the window stack holds it: ten two-digit numbers, the cells
// (character, attribute, ...) and the five-digit length.
std::string frame(std::initializer_list<int> numbers, const std::string& cells) {
    std::string f;
    for (const int n : numbers) f += digits(n, 2);
    f += cells;
    f += digits(static_cast<int>(f.size()) + 5, 5);
    return f;
}

// A stack file whose header points just after `frames`.
std::string stackOf(const std::string& frames) {
    return le32(static_cast<std::int32_t>(5 + frames.size())) + frames;
}

std::int32_t headerOf(const std::string& file) {
    EXPECT_GE(file.size(), 4u);
    if (file.size() < 4) return 0;
    const auto b = [&](int i) {
        return static_cast<std::uint32_t>(
            static_cast<unsigned char>(file[static_cast<std::size_t>(i)]));
    };
    return static_cast<std::int32_t>(b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24));
}

struct Snapshot {
    std::vector<unsigned char> characters, attributes;
    int row, column;
};

Snapshot snapshot() {
    const platform::ScreenModel& s = platform::memoryConsole().screen;
    return {s.characters, s.attributes, s.cursorRow, s.cursorColumn};
}

void expectScreen(const Snapshot& expected) {
    const platform::ScreenModel& s = platform::memoryConsole().screen;
    EXPECT_EQ(s.characters, expected.characters);
    EXPECT_EQ(s.attributes, expected.attributes);
    EXPECT_EQ(s.cursorRow, expected.row);
    EXPECT_EQ(s.cursorColumn, expected.column);
}

// Covers the region with X in attribute 0x4E and moves the cursor away.
void scribble(int top, int left, int bottom, int right) {
    const platform::ConsoleBackend& con = platform::console();
    con.setColours(14, 4);
    for (int r = top; r <= bottom; ++r) {
        con.setCursor(r, left);
        con.writeText(std::string(static_cast<std::size_t>(right - left + 1), 'X'));
    }
    con.setCursor(20, 5);
}

struct Region {
    int rows, columns;  // the console window
    int top, left, bottom, right;
};

void PrintTo(const Region& r, std::ostream* os) {
    *os << r.rows << "x" << r.columns << " console, region " << r.top << "," << r.left << " - "
        << r.bottom << "," << r.right;
}

class RefusedRegion : public ConsoleTest, public ::testing::WithParamInterface<Region> {};

TEST_P(RefusedRegion, SavesNothingAndLeavesTheWindowAlone) {
    const Region r = GetParam();
    useScreen(r.rows, r.columns);
    pushWindow(static_cast<std::int16_t>(r.top), static_cast<std::int16_t>(r.left),
               static_cast<std::int16_t>(r.bottom), static_cast<std::int16_t>(r.right));
    EXPECT_FALSE(stackExists());
    EXPECT_EQ(windowState, WindowState{});
}

INSTANTIATE_TEST_SUITE_P(
    WindowStack, RefusedRegion,
    ::testing::Values(Region{25, 80, 1, 1, 26, 80},    // bottom below the last row
                      Region{25, 80, 26, 1, 26, 1},    // top below the last row
                      Region{25, 80, 0, 1, 3, 80},     // top above row 1
                      Region{25, 80, 1, 0, 3, 80},     // left before column 1
                      Region{25, 80, 1, 1, 3, 81},     // right past the last column
                      Region{25, 80, -3, -3, -1, -1},  // all negative
                      Region{25, 80, 5, 1, 3, 80},     // top below bottom
                      Region{25, 80, 1, 10, 3, 5},     // left after right
                      Region{120, 120, 1, 1, 3, 100},  // column 100: beyond two digits
                      Region{120, 120, 100, 1, 100, 1}));

TEST_F(ConsoleTest, PushAcceptsCoordinate99OnALargeConsole) {
    useScreen(120, 120);
    pushWindow(99, 98, 99, 99);
    EXPECT_TRUE(stackExists());
    EXPECT_EQ(windowState, (WindowState{1, 99, 98, 99, 99}));
}

TEST_F(ConsoleTest, PushWritesTheFrameByteForByteAtOffset4AndTheHeaderAfterIt) {
    platform::ScreenModel& s = screen();
    const char* rowA = "ab\x01";
    const char* rowB = "\xDA\xC4\xBF";
    for (int c = 0; c < 3; ++c) {
        s.characters[static_cast<std::size_t>(3 * 80 + 4 + c)] =
            static_cast<unsigned char>(rowA[c]);
        s.attributes[static_cast<std::size_t>(3 * 80 + 4 + c)] =
            static_cast<unsigned char>(0x10 + c);
        s.characters[static_cast<std::size_t>(4 * 80 + 4 + c)] =
            static_cast<unsigned char>(rowB[c]);
        s.attributes[static_cast<std::size_t>(4 * 80 + 4 + c)] =
            static_cast<unsigned char>(0xF0 + c);
    }
    platform::console().setCursor(2, 3);
    windowState = WindowState{1, 3, 4, 22, 77};

    pushWindow(4, 5, 5, 7);

    const std::string cells = std::string("a\x10") + "b\x11" + std::string("\x01\x12", 2) +
                              "\xDA\xF0" + "\xC4\xF1" + "\xBF\xF2";
    const std::string expected = le32(42) +
                                 "02"
                                 "03"
                                 "03"
                                 "04"
                                 "22"
                                 "77"
                                 "04"
                                 "05"
                                 "05"
                                 "07" +
                                 cells + "00037";
    EXPECT_EQ(stackFile(), expected);
    EXPECT_EQ(windowState, (WindowState{2, 4, 5, 5, 7}));
}

TEST_F(ConsoleTest, ThreeRowsBy80ColumnsMakeAFrameOf505Bytes) {
    pushWindow(1, 1, 3, 80);
    const std::string file = stackFile();
    ASSERT_EQ(file.size(), 4u + 505u);
    EXPECT_EQ(headerOf(file), 510);
    EXPECT_EQ(file.substr(4 + 500), "00505");
}

TEST_F(ConsoleTest, PushThenPopRestoresEveryCellItsColoursTheCursorAndTheWindow) {
    fillScreen();
    platform::console().setCursor(7, 33);
    platform::console().setColours(3, 5);
    const Snapshot before = snapshot();

    pushWindow(9, 9, 11, 72);
    EXPECT_EQ(windowState, (WindowState{1, 9, 9, 11, 72}));
    scribble(9, 9, 11, 72);
    popWindow();

    expectScreen(before);
    EXPECT_EQ(windowState, WindowState{});
    EXPECT_FALSE(stackExists());
    // The colours of the region's last cell stay in force.
    EXPECT_EQ(screen().attribute, attributeAt(11, 72));
}

TEST_F(ConsoleTest, TwoPushesAndOnePopLeaveTheFirstFrameOnTheStack) {
    fillScreen();
    const Snapshot original = snapshot();
    pushWindow(9, 9, 11, 72);
    const std::string afterFirst = stackFile();
    const std::size_t firstLength = 25 + 2 * 3 * 64;
    ASSERT_EQ(afterFirst.size(), 4 + firstLength);

    scribble(9, 9, 11, 72);
    const Snapshot underInner = snapshot();
    pushWindow(10, 20, 10, 30);
    EXPECT_EQ(windowState, (WindowState{2, 10, 20, 10, 30}));
    scribble(10, 20, 10, 30);
    popWindow();

    EXPECT_EQ(windowState, (WindowState{1, 9, 9, 11, 72}));
    EXPECT_EQ(screen().characters, underInner.characters);
    EXPECT_EQ(screen().attributes, underInner.attributes);
    const std::string file = stackFile();
    EXPECT_EQ(headerOf(file), static_cast<std::int32_t>(5 + firstLength));
    EXPECT_EQ(file.substr(4, firstLength), afterFirst.substr(4));
    // The popped frame's bytes stay behind the header's position.
    EXPECT_EQ(file.size(), 4 + firstLength + 25 + 2 * 11);

    popWindow();
    EXPECT_EQ(screen().characters, original.characters);
    EXPECT_EQ(screen().attributes, original.attributes);
    EXPECT_EQ(windowState, WindowState{});
    EXPECT_FALSE(stackExists());
}

TEST_F(ConsoleTest, APushAfterAPopOverwritesThePoppedFrame) {
    pushWindow(1, 1, 1, 10);  // 45 bytes
    pushWindow(2, 1, 2, 10);  // 45 bytes
    popWindow();
    pushWindow(3, 1, 3, 2);  // 29 bytes
    const std::string file = stackFile();
    EXPECT_EQ(headerOf(file), 5 + 45 + 29);
    EXPECT_EQ(file.size(), 4u + 45u + 45u);
    EXPECT_EQ(file.substr(4 + 45 + 12, 8), "03010302");
}

TEST_F(ConsoleTest, PopWithoutAFileChangesNothingAndLeavesNoFile) {
    fillScreen();
    platform::console().setCursor(4, 4);
    windowState = WindowState{1, 9, 9, 11, 72};
    const Snapshot before = snapshot();
    popWindow();
    expectScreen(before);
    EXPECT_EQ(windowState, (WindowState{1, 9, 9, 11, 72}));
    EXPECT_FALSE(stackExists());
}

TEST_F(ConsoleTest, AFileOfThreeBytesOrFewerIsAnEmptyStack) {
    for (const std::string& bytes :
         {std::string(), std::string("\x05", 1), std::string("\x40\x00\x00", 3)}) {
        fillScreen();
        const Snapshot before = snapshot();
        writeStackFile(bytes);
        popWindow();
        expectScreen(before);
        EXPECT_EQ(windowState, WindowState{});
        EXPECT_FALSE(stackExists()) << bytes.size() << " bytes";
    }
}

TEST_F(ConsoleTest, PopRestoresFramesLeftByAnotherProgram) {
    // Two frames pushed elsewhere: the lower one saved no window, the upper
    // one saved the window (2,2)-(20,60).
    const std::string lower = frame({1, 1, 0, 0, 0, 0, 5, 5, 5, 5}, "Q\x07");
    const std::string upper = frame({4, 6, 2, 2, 20, 60, 3, 3, 3, 4},
                                    "A\x1E"
                                    "B\x2F");
    writeStackFile(stackOf(lower + upper));

    popWindow();
    EXPECT_EQ(windowState, (WindowState{-1, 2, 2, 20, 60}));
    EXPECT_EQ(textAt(3, 3, 2), "AB");
    EXPECT_EQ(attributeAt(3, 3), 0x1E);
    EXPECT_EQ(attributeAt(3, 4), 0x2F);
    EXPECT_EQ(screen().cursorRow, 4);
    EXPECT_EQ(screen().cursorColumn, 6);
    EXPECT_EQ(headerOf(stackFile()), static_cast<std::int32_t>(5 + lower.size()));

    popWindow();
    EXPECT_EQ(windowState, (WindowState{-2, 0, 0, 0, 0}));
    EXPECT_EQ(textAt(5, 5, 1), "Q");
    EXPECT_FALSE(stackExists());
}

TEST_F(ConsoleTest, CellsOfAFrameFromALargerConsoleOutsideThisOneAreLeftOut) {
    fillScreen();
    Snapshot expected = snapshot();
    // Rows 24 to 26 of column 80, and a cursor beyond this console.
    writeStackFile(stackOf(frame({30, 90, 0, 0, 0, 0, 24, 80, 26, 80},
                                 "A\x01"
                                 "B\x02"
                                 "C\x03")));
    popWindow();
    expected.characters[23 * 80 + 79] = 'A';
    expected.attributes[23 * 80 + 79] = 1;
    expected.characters[24 * 80 + 79] = 'B';
    expected.attributes[24 * 80 + 79] = 2;
    expected.row = 25;
    expected.column = 80;
    expectScreen(expected);
    EXPECT_EQ(windowState.windowDepth, -1);
}

struct DamagedStack {
    const char* what;
    std::string bytes;
};

// A sound frame of region (3,3)-(3,4), 29 bytes, for the cases to damage.
const std::string kFrame = frame({4, 6, 2, 2, 20, 60, 3, 3, 3, 4},
                                 "A\x1E"
                                 "B\x2F");

std::string withLengthField(const std::string& f, const std::string& field) {
    return f.substr(0, f.size() - 5) + field;
}

std::vector<DamagedStack> damagedStacks() {
    return {
        {"next free one past the end", le32(35) + kFrame},
        {"next free far past the end", le32(0x7FFFFFFF) + kFrame},
        {"next free negative", le32(-20) + kFrame},
        {"next free inside the header", le32(3) + kFrame},
        {"next free leaves no room for a frame", le32(20) + kFrame},
        {"empty stack recorded, bytes after it", le32(5) + kFrame},
        {"frame cut short", stackOf(kFrame).substr(0, 30)},
        {"length field not digits", stackOf(withLengthField(kFrame, "00a29"))},
        {"length field with a blank", stackOf(withLengthField(kFrame, " 0029"))},
        {"length field past the file's start", stackOf(withLengthField(kFrame, "99999"))},
        {"length field reaches into the header", stackOf(withLengthField(kFrame, "00031"))},
        {"length field below a frame's size", stackOf(withLengthField(kFrame, "00010"))},
        {"length disagrees with the region", stackOf(frame({4, 6, 2, 2, 20, 60, 3, 3, 3, 5},
                                                           "A\x1E"
                                                           "B\x2F"))},
        {"coordinate not digits", stackOf("0406020220600x0303" + kFrame.substr(18))},
        {"region upside down", stackOf(frame({4, 6, 2, 2, 20, 60, 5, 3, 3, 4},
                                             "A\x1E"
                                             "B\x2F"))},
        {"region at row 0", stackOf(frame({4, 6, 2, 2, 20, 60, 0, 3, 0, 4},
                                          "A\x1E"
                                          "B\x2F"))},
        {"region at column 0", stackOf(frame({4, 6, 2, 2, 20, 60, 3, 0, 3, 1},
                                             "A\x1E"
                                             "B\x2F"))},
        {"header alone", le32(34)},
        {"garbage", std::string(64, '\xFF')},
    };
}

void PrintTo(const DamagedStack& d, std::ostream* os) {
    *os << d.what;
}

class DamagedStackFile : public ConsoleTest, public ::testing::WithParamInterface<DamagedStack> {};

TEST_P(DamagedStackFile, IsNotRestoredAndTheStackIsEmptied) {
    fillScreen();
    platform::console().setCursor(8, 8);
    windowState = WindowState{1, 9, 9, 11, 72};
    const Snapshot before = snapshot();
    writeStackFile(GetParam().bytes);

    popWindow();

    expectScreen(before);
    EXPECT_EQ(windowState, (WindowState{1, 9, 9, 11, 72}));
    EXPECT_FALSE(stackExists());
}

INSTANTIATE_TEST_SUITE_P(WindowStack, DamagedStackFile, ::testing::ValuesIn(damagedStacks()),
                         [](const ::testing::TestParamInfo<DamagedStack>& info) {
                             std::string name;
                             for (const char* p = info.param.what; *p != '\0'; ++p) {
                                 if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                             }
                             return name;
                         });

TEST_F(ConsoleTest, ASoundFrameAboveADamagedOneIsStillRestored) {
    // Garbage where an older frame should be: the top frame is read from
    // its own length field, and only the pop that reaches the garbage fails.
    const std::string garbage(40, '#');
    writeStackFile(stackOf(garbage + kFrame));
    popWindow();
    EXPECT_EQ(textAt(3, 3, 2), "AB");
    EXPECT_EQ(windowState.windowDepth, -1);
    EXPECT_EQ(headerOf(stackFile()), 5 + 40);

    fillScreen();
    const Snapshot before = snapshot();
    popWindow();
    expectScreen(before);
    EXPECT_EQ(windowState.windowDepth, -1);
    EXPECT_FALSE(stackExists());
}

TEST_F(ConsoleTest, PushOntoAHeaderOutsideTheFileStartsANewStack) {
    writeStackFile(le32(1000) + std::string(10, '#'));
    pushWindow(1, 1, 1, 2);
    const std::string file = stackFile();
    EXPECT_EQ(headerOf(file), 5 + 29);
    EXPECT_EQ(file.substr(4, 20), "01010000000001010102");
    EXPECT_EQ(windowState, (WindowState{1, 1, 1, 1, 2}));
    popWindow();
    EXPECT_FALSE(stackExists());
    EXPECT_EQ(windowState, WindowState{});
}

TEST_F(ConsoleTest, PushIsRefusedWhenTheStackFileCannotBeOpened) {
    sessionSettings.tmpDir = work.dir() + "missing/";
    pushWindow(1, 1, 3, 80);
    EXPECT_EQ(windowState, WindowState{});
    EXPECT_FALSE(work.exists("missing"));
}

TEST_F(ConsoleTest, ACursorBeyondColumn99IsSavedAs99) {
    useScreen(30, 120);
    platform::console().setCursor(5, 110);
    pushWindow(1, 1, 1, 1);
    EXPECT_EQ(stackFile().substr(4, 4), "0599");
    popWindow();
    EXPECT_EQ(screen().cursorRow, 5);
    EXPECT_EQ(screen().cursorColumn, 99);
}

}  // namespace
