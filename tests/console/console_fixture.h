// A console test runs on the in-memory screen, with a temporary work
// directory for "WinPush.tmp" and colour slots that tell each other apart.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "console/console.h"
#include "platform/console.h"
#include "platform/memory_console.h"
#include "session/session.h"
#include "tests/support/temp_dir.h"

namespace console_test {

// Slot i: foreground and background chosen so that every slot differs.
constexpr std::int16_t kSlotColours[5][2] = {{15, 0}, {7, 1}, {0, 7}, {14, 2}, {12, 3}};

inline unsigned char slotAttribute(int slot) {
    return static_cast<unsigned char>(kSlotColours[slot][0] | (kSlotColours[slot][1] << 4));
}

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        useScreen(25, 80);
        platform::setConsoleBackend(&platform::memoryConsoleBackend());
        sessionSettings = SessionSettings{};
        sessionSettings.tmpDir = work.dir();
        for (int s = 0; s < 5; ++s) {
            sessionSettings.screenColours[s][0] = kSlotColours[s][0];
            sessionSettings.screenColours[s][1] = kSlotColours[s][1];
        }
        windowState = WindowState{};
        textStyleState = TextStyleState{};
    }
    void TearDown() override { platform::setConsoleBackend(nullptr); }

    static void useScreen(int rows, int columns) { platform::resetMemoryConsole(rows, columns); }
    static platform::ScreenModel& screen() { return platform::memoryConsole().screen; }

    // Fills every cell with a pattern of characters and attributes that
    // differ from cell to cell.
    static void fillScreen() {
        platform::ScreenModel& s = screen();
        for (std::size_t i = 0; i < s.characters.size(); ++i) {
            s.characters[i] = static_cast<unsigned char>(33 + i % 200);
            s.attributes[i] = static_cast<unsigned char>(i * 7 % 256);
        }
    }

    // `count` characters of row `row` from `column` on.
    static std::string textAt(int row, int column, int count) {
        return screen().rowText(row).substr(static_cast<std::size_t>(column - 1),
                                            static_cast<std::size_t>(count));
    }
    static unsigned char attributeAt(int row, int column) {
        unsigned char c = 0, a = 0;
        screen().cell(row, column, c, a);
        return a;
    }

    bool stackExists() const { return work.exists("WinPush.tmp"); }
    std::string stackFile() const { return work.read("WinPush.tmp"); }
    void writeStackFile(const std::string& bytes) const { work.write("WinPush.tmp", bytes); }

    testing_support::TempDir work;
};

}  // namespace console_test

inline bool operator==(const WindowState& a, const WindowState& b) {
    return a.windowDepth == b.windowDepth && a.windowTop == b.windowTop &&
           a.windowLeft == b.windowLeft && a.windowBottom == b.windowBottom &&
           a.windowRight == b.windowRight;
}

inline void PrintTo(const WindowState& w, std::ostream* os) {
    *os << "{depth " << w.windowDepth << ", " << w.windowTop << "," << w.windowLeft << " - "
        << w.windowBottom << "," << w.windowRight << "}";
}
