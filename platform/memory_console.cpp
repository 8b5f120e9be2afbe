// The in-memory console back end.
#include "platform/memory_console.h"

namespace platform {
namespace {

MemoryConsole g_console;

void hideCursor() {
    g_console.cursorHidden = true;
    g_console.events.emplace_back("hideCursor");
}
void windowSize(int& rows, int& columns) {
    rows = g_console.screen.rows;
    columns = g_console.screen.columns;
}
void getCursor(int& row, int& column) {
    row = g_console.screen.cursorRow;
    column = g_console.screen.cursorColumn;
}
void setCursor(int row, int column) {
    g_console.screen.moveCursor(row, column);
}
void readCell(int row, int column, unsigned char& character, unsigned char& attribute) {
    g_console.screen.cell(row, column, character, attribute);
}
void setColours(int foreground, int background) {
    g_console.screen.setColours(foreground, background);
}
void writeText(const std::string& oemText) {
    g_console.screen.write(oemText);
}
void discardKeys() {
    g_console.typedAhead.clear();
    g_console.events.emplace_back("discardKeys");
}
void waitKey() {
    g_console.events.emplace_back("waitKey");
    std::string& queue = g_console.typedAhead.empty() ? g_console.keys : g_console.typedAhead;
    if (queue.empty()) return;
    g_console.keysRead += queue.front();
    queue.erase(0, 1);
}
void beepOnce() {
    ++g_console.beeps;
    g_console.events.emplace_back("beep");
}

const ConsoleBackend kMemory = {hideCursor, windowSize, getCursor,   setCursor, readCell,
                                setColours, writeText,  discardKeys, waitKey,   beepOnce};

}  // namespace

MemoryConsole& memoryConsole() {
    return g_console;
}

void resetMemoryConsole(int rows, int columns) {
    g_console = MemoryConsole{};
    g_console.screen.reset(rows, columns);
}

const ConsoleBackend& memoryConsoleBackend() {
    return kMemory;
}

}  // namespace platform
