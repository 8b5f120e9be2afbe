// Positions and frames relative to the current window.
#include <string>

#include "console/console.h"
#include "platform/console.h"

namespace {

struct FrameCharacters {
    char topLeft, topRight, bottomLeft, bottomRight, horizontal, vertical;
};

// Console code-page characters of frame styles 0 (blanks), 1 (single line)
// and 2 (double line).
constexpr FrameCharacters kFrameStyles[3] = {
    {' ', ' ', ' ', ' ', ' ', ' '},
    {'\xDA', '\xBF', '\xC0', '\xD9', '\xC4', '\xB3'},
    {'\xC9', '\xBB', '\xC8', '\xBC', '\xCD', '\xBA'},
};

// Writes `line` at (row, windowLeft), no wider than the window.
void writeRow(int row, std::string line, int windowWidth) {
    if (static_cast<int>(line.size()) > windowWidth)
        line.resize(static_cast<std::size_t>(windowWidth));
    const platform::ConsoleBackend& con = platform::console();
    con.setCursor(row, windowState.windowLeft);
    con.writeText(line);
}

}  // namespace

void locateInWindow(std::int16_t row, std::int16_t column) {
    if (windowState.windowDepth == 0) {
        platform::console().setCursor(row, column);
    } else {
        platform::console().setCursor(windowState.windowTop + row, windowState.windowLeft + column);
    }
}

void drawWindowFrame(std::int16_t frameStyle) {
    if (windowState.windowDepth == 0) return;
    if (frameStyle < 0 || frameStyle > 2) return;
    // A window restored from another program's frame may be no rectangle.
    if (windowState.windowTop < 1 || windowState.windowLeft < 1 ||
        windowState.windowBottom < windowState.windowTop ||
        windowState.windowRight < windowState.windowLeft)
        return;
    const FrameCharacters& f = kFrameStyles[frameStyle];
    const int windowWidth = windowState.windowRight - windowState.windowLeft + 1;
    const auto inner = static_cast<std::size_t>(windowWidth > 2 ? windowWidth - 2 : 0);
    const std::string edge(inner, f.horizontal);
    writeRow(windowState.windowTop, f.topLeft + edge + f.topRight, windowWidth);
    for (int row = windowState.windowTop + 1; row <= windowState.windowBottom - 1; ++row) {
        writeRow(row, f.vertical + std::string(inner, ' ') + f.vertical, windowWidth);
    }
    writeRow(windowState.windowBottom, f.bottomLeft + edge + f.bottomRight, windowWidth);
}
