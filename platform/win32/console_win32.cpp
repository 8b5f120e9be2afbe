// The Win32 console as the system console. Rows and columns are counted
// from the top-left cell of the visible window (srWindow) of the screen
// buffer; cells are read from and written to the real console, so what a
// saved frame holds is what the screen shows.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/platform.h"
#include "platform/win32/text_win32.h"

namespace platform {
namespace {

// The console's own buffers, even when the standard handles are redirected.
HANDLE consoleHandle(const wchar_t* name, DWORD standard) {
    const HANDLE h =
        ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    return h != INVALID_HANDLE_VALUE ? h : ::GetStdHandle(standard);
}

HANDLE output() {
    static const HANDLE h = consoleHandle(L"CONOUT$", STD_OUTPUT_HANDLE);
    return h;
}

HANDLE input() {
    static const HANDLE h = consoleHandle(L"CONIN$", STD_INPUT_HANDLE);
    return h;
}

WORD g_attribute = 7;

// The visible window and the cursor; false without a console.
bool screenInfo(CONSOLE_SCREEN_BUFFER_INFO& info) {
    return ::GetConsoleScreenBufferInfo(output(), &info) != 0 &&
           info.srWindow.Bottom >= info.srWindow.Top && info.srWindow.Right >= info.srWindow.Left;
}

void hideCursor() {
    CONSOLE_CURSOR_INFO cursor{};
    cursor.dwSize = 25;
    cursor.bVisible = FALSE;
    ::SetConsoleCursorInfo(output(), &cursor);
}

void windowSize(int& rows, int& columns) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (screenInfo(info)) {
        rows = info.srWindow.Bottom - info.srWindow.Top + 1;
        columns = info.srWindow.Right - info.srWindow.Left + 1;
    } else {
        rows = 25;
        columns = 80;
    }
}

void getCursor(int& row, int& column) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (screenInfo(info)) {
        row = info.dwCursorPosition.Y - info.srWindow.Top + 1;
        column = info.dwCursorPosition.X - info.srWindow.Left + 1;
    } else {
        row = 1;
        column = 1;
    }
}

// Moves the cursor to a window position, clamped to the window.
void placeCursor(const CONSOLE_SCREEN_BUFFER_INFO& info, int row, int column) {
    const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    row = row < 1 ? 1 : (row > rows ? rows : row);
    column = column < 1 ? 1 : (column > columns ? columns : column);
    COORD at{static_cast<SHORT>(info.srWindow.Left + column - 1),
             static_cast<SHORT>(info.srWindow.Top + row - 1)};
    ::SetConsoleCursorPosition(output(), at);
}

void setCursor(int row, int column) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (screenInfo(info)) placeCursor(info, row, column);
}

void readCell(int row, int column, unsigned char& character, unsigned char& attribute) {
    character = ' ';
    attribute = 7;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!screenInfo(info)) return;
    const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (row < 1 || row > rows || column < 1 || column > columns) return;
    CHAR_INFO cell{};
    const SHORT x = static_cast<SHORT>(info.srWindow.Left + column - 1);
    const SHORT y = static_cast<SHORT>(info.srWindow.Top + row - 1);
    SMALL_RECT region{x, y, x, y};
    if (!::ReadConsoleOutputW(output(), &cell, COORD{1, 1}, COORD{0, 0}, &region)) return;
    const std::string oem = win32::fromWide(std::wstring(1, cell.Char.UnicodeChar));
    character = oem.size() == 1 ? static_cast<unsigned char>(oem[0]) : '?';
    attribute = static_cast<unsigned char>(cell.Attributes & 0xFF);
}

void setColours(int foreground, int background) {
    g_attribute = static_cast<WORD>((foreground & 15) | ((background & 15) << 4));
    ::SetConsoleTextAttribute(output(), g_attribute);
}

void writeText(const std::string& oemText) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (oemText.empty() || !screenInfo(info)) return;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    const int row = info.dwCursorPosition.Y - info.srWindow.Top + 1;
    const int column = info.dwCursorPosition.X - info.srWindow.Left + 1;
    const int room = columns - column + 1;
    if (room <= 0) return;
    const int count =
        static_cast<int>(oemText.size()) < room ? static_cast<int>(oemText.size()) : room;
    const std::wstring wide = win32::toWide(oemText.substr(0, static_cast<std::size_t>(count)));
    std::wstring cells(wide);
    cells.resize(static_cast<std::size_t>(count), L' ');
    std::vector<CHAR_INFO> buffer(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        auto& cell = buffer[static_cast<std::size_t>(i)];
        cell.Char.UnicodeChar = cells[static_cast<std::size_t>(i)];
        cell.Attributes = g_attribute;
    }
    SMALL_RECT region{info.dwCursorPosition.X, info.dwCursorPosition.Y,
                      static_cast<SHORT>(info.dwCursorPosition.X + count - 1),
                      info.dwCursorPosition.Y};
    ::WriteConsoleOutputW(output(), buffer.data(), COORD{static_cast<SHORT>(count), 1}, COORD{0, 0},
                          &region);
    // Just after the text, or on the last column when the text reaches it.
    placeCursor(info, row, column + count);
}

void discardKeys() {
    INPUT_RECORD records[64];
    for (;;) {
        DWORD waiting = 0;
        if (!::PeekConsoleInputW(input(), records, 64, &waiting) || waiting == 0) return;
        DWORD taken = 0;
        if (!::ReadConsoleInputW(input(), records, waiting, &taken) || taken == 0) return;
    }
}

void waitKey() {
    for (;;) {
        INPUT_RECORD record{};
        DWORD taken = 0;
        // No console input: no key can ever come.
        if (!::ReadConsoleInputW(input(), &record, 1, &taken) || taken == 0) return;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}

void beepOnce() {
    ::MessageBeep(0xFFFFFFFF);
}

const ConsoleBackend kConsole = {hideCursor, windowSize, getCursor,   setCursor, readCell,
                                 setColours, writeText,  discardKeys, waitKey,   beepOnce};

}  // namespace

const ConsoleBackend& systemConsole() {
    return kConsole;
}

}  // namespace platform
