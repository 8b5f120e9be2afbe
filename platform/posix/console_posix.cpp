// The terminal as the system console on POSIX: ANSI sequences on standard
// output, one byte of standard input as a key.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/console.h"
#include "platform/platform.h"

namespace platform {
namespace {

void put(const std::string& s) {
    if (!s.empty() && ::write(STDOUT_FILENO, s.data(), s.size()) < 0) {
        // Nothing to do: the terminal is gone.
    }
}

int g_row = 1, g_column = 1;

void hideCursor() {
    if (::isatty(STDOUT_FILENO)) put("\x1b[?25l");
}
void windowSize(int& rows, int& columns) {
    struct winsize ws {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
        rows = ws.ws_row;
        columns = ws.ws_col;
    } else {
        rows = 25;
        columns = 80;
    }
}
void getCursor(int& row, int& column) {
    row = g_row;
    column = g_column;
}
void setCursor(int row, int column) {
    g_row = row;
    g_column = column;
    if (::isatty(STDOUT_FILENO)) put("\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "H");
}
void readCell(int, int, unsigned char& character, unsigned char& attribute) {
    character = ' ';
    attribute = 7;
}
void setColours(int, int) {}
void writeText(const std::string& oemText) {
    put(oemToUtf8(oemText));
    g_column += static_cast<int>(oemText.size());
}
void discardKeys() {}
void waitKey() {
    char c;
    while (::read(STDIN_FILENO, &c, 1) < 0) {
    }
}
void beepOnce() { put("\a"); }

const ConsoleBackend kTerminal = {hideCursor, windowSize, getCursor, setCursor, readCell,
                                  setColours, writeText, discardKeys, waitKey, beepOnce};

}  // namespace

const ConsoleBackend& systemConsole() { return kTerminal; }

}  // namespace platform
