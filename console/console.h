// Console windows and messages: the stack of saved screen regions kept in
// "WinPush.tmp" in the work directory, and the framed message box.
#pragma once

#include <cstdint>
#include <string>

struct WindowState {
    std::int16_t windowDepth = 0;  // pushes minus pops of this process
    std::int16_t windowTop = 0;
    std::int16_t windowLeft = 0;
    std::int16_t windowBottom = 0;
    std::int16_t windowRight = 0;
};
extern WindowState windowState;

struct TextStyleState {
    std::int16_t currentSlot = 0;  // colour slot in force
    std::string slotStack;         // saved slots, one character each, last at the end
};
extern TextStyleState textStyleState;

// Saves the region (1-based, inclusive) with its cells and the cursor as a
// new frame on the window stack and makes it the current window. A region
// outside the console window, or one the frame format cannot hold, is
// refused silently: no file is touched and windowState is unchanged.
void pushWindow(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right);

// Restores the top frame of the window stack to the screen, the cursor and
// the window before it; deletes the file when the stack becomes empty. With
// no frame nothing changes on the screen. A damaged frame is not restored.
void popWindow();

// Selects a colour slot by letters: "+" saves the slot in force, "-" takes
// the last saved one back (0 when none), "U" slot 4, else "R" 2 plus "N" 1.
// Upper-cases `letters` in place; empty or blank letters change nothing.
void setTextStyle(std::string& letters);

// Moves the cursor to (row, column), relative to the current window when one
// is open.
void locateInWindow(std::int16_t row, std::int16_t column);

// Draws the current window's frame in style 0 (blanks), 1 (single line) or
// 2 (double line) and clears its inside; nothing when no window is open.
void drawWindowFrame(std::int16_t frameStyle);

// Word-wraps `text` into lines of `width` characters with the first line
// indented by `indent` (> 0) or the later ones by -indent (< 0), aligned by
// `alignment` ("E"/"L"/"I" left, "D"/"R" right, "C" centred, "N" dash-filled,
// "A"/"B" justified); replaces `text` by the lines joined without separators.
void layoutParagraph(std::string& text, std::int16_t indent, std::int16_t width,
                     const std::string& alignment);

// Shows `text` word-wrapped to 76 columns in a single-line box around
// `centreRow`, centred on column 41, after saving the screen under it with
// pushWindow. Replaces `text` by its laid-out form. The caller removes the
// box with popWindow. A text with more lines than fit is not shown.
void showMessageBox(std::int16_t centreRow, std::string& text);
