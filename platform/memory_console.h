// A console back end held in memory, for tests: a screen of a chosen size
// that starts blank, a scripted keyboard, and a record of what the program
// did that leaves no mark on the screen (bell, discarded keys, waits).
//
//   platform::resetMemoryConsole(25, 80);
//   platform::setConsoleBackend(&platform::memoryConsoleBackend());
//   ... code under test ...
//   platform::setConsoleBackend(nullptr);
#pragma once

#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/screen_model.h"

namespace platform {

struct MemoryConsole {
    ScreenModel screen;
    bool cursorHidden = false;
    // Keys pressed before anything waits for one; discardKeys drops them,
    // waitKey takes them first.
    std::string typedAhead;
    // Keys pressed while the program waits, in order. When both queues are
    // empty, waitKey returns at once, as at the end of non-interactive input.
    std::string keys;
    // What waitKey took, in order.
    std::string keysRead;
    // "hideCursor", "beep", "discardKeys" and "waitKey", in the order called.
    std::vector<std::string> events;
    int beeps = 0;
};

// The one in-memory console.
MemoryConsole& memoryConsole();

// Makes it a blank screen of rows x columns (cells blank in attribute 7,
// cursor at 1,1, attribute 7 in force) with no keys and an empty record.
void resetMemoryConsole(int rows = 25, int columns = 80);

// The back end that works on memoryConsole().
const ConsoleBackend& memoryConsoleBackend();

}  // namespace platform
