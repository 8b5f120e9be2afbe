// A small program on the system console, run by the terminal tests under a
// pseudo-terminal or with pipes: it draws a framed box, checks that the
// screen reads back, sounds the bell, waits for one key, clears the box and
// ends. Exit codes: 0 done; 3 a cell did not read back; 4 the window size is
// not the one expected; 5 the line after the key was not "done".
//
//   terminal_driver ROWSxCOLUMNS [line]
//
// With "line", a line of input is read after the key (in the terminal's
// ordinary mode) and must be "done".
#include <iostream>
#include <string>

#include "platform/console.h"

int main(int argc, char** argv) {
    const platform::ConsoleBackend& con = platform::console();
    con.hideCursor();
    int rows = 0, columns = 0;
    con.windowSize(rows, columns);
    if (argc < 2 || std::to_string(rows) + "x" + std::to_string(columns) != argv[1]) return 4;

    con.setColours(0, 7);
    con.setCursor(2, 3);
    con.writeText("\xDA\xC4\xC4\xBF");
    con.setCursor(3, 3);
    con.writeText("\xB3\xE3\xD4\xB3");
    con.setCursor(4, 3);
    con.writeText("\xC0\xC4\xC4\xD9");
    unsigned char character = 0, attribute = 0;
    con.readCell(3, 4, character, attribute);
    if (character != 0xE3 || attribute != 0x70) return 3;

    con.beep();
    con.discardKeys();
    con.waitKey();

    con.setColours(7, 0);
    for (int row = 2; row <= 4; ++row) {
        con.setCursor(row, 3);
        con.writeText("    ");
    }
    if (argc > 2 && std::string(argv[2]) == "line") {
        std::string line;
        if (!std::getline(std::cin, line) || line != "done") return 5;
    }
    return 0;
}
