// The framed message box.
#include <algorithm>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/paragraph.h"
#include "platform/console.h"

namespace {

constexpr std::int16_t kLineWidth = 76;

std::string withoutTrailingBlanks(const std::string& line) {
    const auto last = line.find_last_not_of(' ');
    return last == std::string::npos ? std::string() : line.substr(0, last + 1);
}

void restoreStyle() {
    std::string letters = "-";
    setTextStyle(letters);
}

}  // namespace

void showMessageBox(std::int16_t centreRow, std::string& text) {
    std::string letters = "+rh";
    setTextStyle(letters);
    const std::vector<std::string> lines = layoutLines(text, 0, kLineWidth, "i");
    text.clear();
    for (const std::string& line : lines) text += line;

    const long n = static_cast<long>(lines.size());
    int rows = 0, columns = 0;
    platform::console().windowSize(rows, columns);
    long top = std::max<long>(centreRow - (n + 1) / 2 - 2, 1);
    long bottom = top + n + 1;
    if (bottom > rows) {
        bottom = rows;
        top = bottom - n - 1;
    }
    if (top < 1) {
        restoreStyle();
        return;
    }

    std::vector<std::string> shown;
    long longest = 0;
    for (const std::string& line : lines) {
        shown.push_back(withoutTrailingBlanks(line));
        longest = std::max(longest, static_cast<long>(shown.back().size()));
    }
    const long left = 39 - (longest + 1) / 2;
    const long right = 42 + longest / 2;
    // Values beyond what a region can be are refused by pushWindow; they are
    // kept out of the 16-bit range's wrap-around here.
    const auto region = [](long v) {
        return static_cast<std::int16_t>(std::clamp<long>(v, -1, 32767));
    };
    pushWindow(region(top), region(left), region(bottom), region(right));
    drawWindowFrame(1);
    for (long i = 1; i <= n; ++i) {
        locateInWindow(static_cast<std::int16_t>(i), 2);
        platform::console().writeText(shown[static_cast<std::size_t>(i - 1)]);
    }
    restoreStyle();
}
