// A screen kept in memory: a grid of cells (one character byte in the
// console code page and one colour attribute byte each), a cursor and the
// colours in force. It is what a console back end reads cells from when the
// display itself cannot be read back (a terminal), and the whole screen of
// the in-memory back end used by tests. Rows and columns are 1-based.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

struct ScreenModel {
    ScreenModel() { reset(25, 80); }

    int rows = 0;
    int columns = 0;
    std::vector<unsigned char> characters;  // row by row
    std::vector<unsigned char> attributes;  // row by row
    int cursorRow = 1;
    int cursorColumn = 1;
    unsigned char attribute = 7;  // colours of the text written next

    // A blank screen of rows x columns (each at least 1) in attribute 7
    // (grey on black), the cursor at 1,1 and attribute 7 in force.
    void reset(int rowCount, int columnCount);

    bool contains(int row, int column) const {
        return row >= 1 && row <= rows && column >= 1 && column <= columns;
    }

    // Moves the cursor, clamped to the screen.
    void moveCursor(int row, int column);

    // Sets the colours in force (each taken modulo 16).
    void setColours(int foreground, int background);

    // The cell's character and attribute; outside the screen a blank in 7.
    void cell(int row, int column, unsigned char& character, unsigned char& attribute) const;

    // Writes `text` at the cursor in the colours in force, one cell a byte,
    // cut at the last column. The cursor goes just after the text, or stays
    // on the last column when the text reaches it. Returns how many bytes
    // were placed.
    std::size_t write(const std::string& text);

    // The characters of one row (empty outside the screen).
    std::string rowText(int row) const;
};

}  // namespace platform
