// Console primitives: the screen as a grid of cells, each one character byte
// in the console code page and one colour attribute byte (low four bits the
// foreground colour 0-15, high four bits the background colour), and the
// keyboard. Rows and columns are 1-based: row 1, column 1 is the top-left
// cell of the visible window.
//
// The primitives go through a back end chosen at start-up: the system
// console by default, or another one (an in-memory screen in tests) set with
// setConsoleBackend. The back end is a plain table of functions.
#pragma once

#include <string>

namespace platform {

struct ConsoleBackend {
    // Hides the text cursor.
    void (*hideCursor)();
    // The visible window's size. Always at least 1 by 1.
    void (*windowSize)(int& rows, int& columns);
    // The cursor position.
    void (*getCursor)(int& row, int& column);
    // Moves the cursor; a position outside the window is clamped to it.
    void (*setCursor)(int row, int column);
    // The character and attribute of one cell; a cell outside the window
    // reads as a blank in attribute 7.
    void (*readCell)(int row, int column, unsigned char& character, unsigned char& attribute);
    // Sets the colours of the text written from now on (0-15 each; other
    // values are taken modulo 16).
    void (*setColours)(int foreground, int background);
    // Writes the text at the cursor in the current colours, one cell per
    // byte, and leaves the cursor just after it (on the last column when the
    // text reaches it); what would fall past the last column is cut.
    void (*writeText)(const std::string& oemText);
    // Throws away key presses that are waiting.
    void (*discardKeys)();
    // Waits for one key press. Ends without a key when no key can ever come
    // (the input is not interactive and at its end).
    void (*waitKey)();
    // Sounds the bell once.
    void (*beep)();
};

// The system console of this platform.
const ConsoleBackend& systemConsole();

// Chooses the back end for every primitive below; nullptr restores the
// system console. The back end must outlive its use.
void setConsoleBackend(const ConsoleBackend* backend);

// The back end in force.
const ConsoleBackend& console();

}  // namespace platform
