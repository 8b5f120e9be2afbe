// Console windows and messages: the stack of saved screen regions kept in
// "WinPush.tmp" in the work directory (sessionSettings.tmpDir), and the
// framed message box. Screen rows and columns are 1-based; the console is
// reached through platform::console().
#pragma once

#include <cstdint>
#include <string>

struct WindowState {
    std::int16_t windowDepth = 0;  // pushes minus pops of this process; 0: no window open
    std::int16_t windowTop = 0;    // the current (innermost) window
    std::int16_t windowLeft = 0;
    std::int16_t windowBottom = 0;
    std::int16_t windowRight = 0;
};
extern WindowState windowState;

struct TextStyleState {
    std::int16_t currentSlot = 0;  // colour slot in force
    std::string slotStack;         // saved slots, one character each (its code), last at the end
};
extern TextStyleState textStyleState;

// Saves the region (1-based, inclusive) with its cells and the cursor as a
// new frame on top of the window stack and makes it the current window
// (windowDepth + 1). Refused silently, with no file touched and windowState
// unchanged: a region outside the console window or not a rectangle (top >
// bottom, left > right), or with a coordinate above 99, which the frame
// cannot hold. When the file cannot be opened or written the push is refused
// the same way (a frame written but not yet recorded in the header stays
// invisible). A next free position that does not lie inside the file marks a
// damaged stack: the frame then starts a new stack at the file's start. A
// cursor beyond row or column 99 is saved as 99.
void pushWindow(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right);

// Takes the top frame off the window stack and restores it: every cell with
// its colours (the colours of the last cell stay in force), the cursor, and
// the window that was current before its push (windowDepth - 1, possibly
// below 0 for frames pushed by another program). Cells outside this
// console's window are left out. The file is deleted when the stack becomes
// empty. With no frame (no file, a file of 3 bytes or fewer, or an empty
// stack) nothing changes on the screen or in windowState, and no file is
// left behind. A top frame that does not lie whole inside the file or whose
// numbers disagree (length field, coordinates, cell count) is not restored:
// nothing changes on the screen or in windowState, and the stack is emptied,
// since nothing under it can be reached.
void popWindow();

// Selects a colour slot of sessionSettings.screenColours by letters and sets
// the console colours from it: "+" first saves the slot in force; then "-"
// takes the last saved one back (slot 0 when none is saved), else "U" gives
// slot 4, else "R" gives 2 plus "N" 1 (0 to 3); other letters are ignored.
// Upper-cases `letters` in place; empty or all-blank letters change nothing.
void setTextStyle(std::string& letters);

// Moves the cursor to (row, column) of the screen when no window is open
// (windowDepth 0), else to (windowTop + row, windowLeft + column).
void locateInWindow(std::int16_t row, std::int16_t column);

// Draws the current window's frame in style 0 (blanks), 1 (single line) or
// 2 (double line) in the colours in force and clears its inside to blanks.
// Nothing is drawn when no window is open, for any other style, or when the
// current window is no rectangle on the screen; nothing is written outside
// the window.
void drawWindowFrame(std::int16_t frameStyle);

// Word-wraps `text` into lines of `width` characters and replaces it by the
// lines joined without separators. The first line is indented by `indent`
// blanks when positive, each later one by -indent when negative. A word
// longer than a line is cut. Control characters (codes below 32) stay in the
// text but take no room. Alignment, upper-cased and compared whole: "E",
// "L", "I" left (blank-filled), "N" left (dash-filled), "D", "R" right, "C"
// centred: each line then exactly width characters plus its control
// characters; "A", "B" justified (gaps widened left to right, round by
// round; not the last line, nor a line without a gap); any other: lines as
// they are. A line always has room for at least one character, also when
// the indent takes the whole width.
void layoutParagraph(std::string& text, std::int16_t indent, std::int16_t width,
                     const std::string& alignment);

// Shows `text` word-wrapped to 76 columns (replacing `text` by its laid-out
// form) in a single-line box in colour slot 2: its rows around `centreRow`
// (moved down to row 1 or up to the last row when needed), its columns
// centred on column 41, one blank between the frame and the text. The
// screen under the box is saved first with pushWindow; the caller removes
// the box with popWindow. A text with more lines than the console has rows
// minus 2 is not shown at all. When the push is refused and no window is
// open, the lines are written at rows 1 to n, column 2, with no frame.
// textStyleState is the same after the call as before.
void showMessageBox(std::int16_t centreRow, std::string& text);
