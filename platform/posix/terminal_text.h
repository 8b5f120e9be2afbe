// What the POSIX console back end sends to a terminal or to plain output,
// worked out without touching either: colour sequences, the code-page
// characters in the terminal's character set, and the screen rows in
// readable form for an output that is not a terminal.
#pragma once

#include <string>
#include <vector>

#include "platform/screen_model.h"

namespace platform::terminal {

// True when the locale is UTF-8: the first of LC_ALL, LC_CTYPE and LANG that
// is set and not empty names "UTF-8" or "utf8" (in any letter case). Null
// pointers stand for unset variables.
bool localeIsUtf8(const char* lcAll, const char* lcCtype, const char* lang);

// The ANSI colour (0-7, black red green yellow blue magenta cyan white) of a
// console colour's low three bits (blue green red, in that bit order).
int ansiColour(int consoleColour);

// The select-graphic-rendition sequence for a console attribute: foreground
// 30-37 or, for the bright colours 8-15, 90-97; background 40-47 or 100-107.
std::string colourSequence(unsigned char attribute);

// The sequence that moves the cursor to (row, column).
std::string cursorSequence(int row, int column);

// Code-page text as the terminal shows it, one character per byte: in UTF-8
// when `utf8`, else in ASCII (frame characters as "+", "-", "=", "|",
// accented letters without their accent, anything else as "?"). Control
// characters (codes below 32 and 127) become "?" so that they cannot act on
// the terminal.
std::string displayText(const std::string& oem, bool utf8);

// The rows marked in `changed` (index 0 is row 1), top to bottom, each as one
// line of displayText without trailing blanks; rows left blank are skipped.
// Clears the marks.
std::string readableRows(const ScreenModel& screen, std::vector<bool>& changed, bool utf8);

}  // namespace platform::terminal
