// The window stack: screen regions saved to and restored from "WinPush.tmp".
//
// The file is shared by every program of a session and may be damaged or
// written meanwhile by another one, so every number read from it is checked
// against the file's length and the frame's own size before it is used: a
// pop never reads outside the file, never allocates from an unchecked length
// and never writes outside the screen.
#include <algorithm>
#include <cstdint>
#include <string>

#include "console/console.h"
#include "console/window_stack_format.h"
#include "packed/packed.h"
#include "platform/coding.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "session/session.h"

WindowState windowState;

namespace {

using namespace windowstack;

std::string stackPath() {
    return sessionSettings.tmpDir + kFileName;
}

bool readAt(platform::File& file, std::int64_t offset, std::string& bytes, std::size_t size) {
    bytes.assign(size, '\0');
    if (!platform::seekFile(file, offset)) return false;
    std::size_t done = 0;
    while (done < size) {
        const std::int64_t n = platform::readFile(file, bytes.data() + done, size - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool writeAt(platform::File& file, std::int64_t offset, const std::string& bytes) {
    return platform::seekFile(file, offset) &&
           platform::writeFile(file, bytes.data(), bytes.size());
}

bool writeNextFree(platform::File& file, std::int32_t nextFree) {
    std::string header(kHeaderSize, '\0');
    coding::putI32(coding::bytes(header), nextFree);
    return writeAt(file, kHeaderOffset, header);
}

// The next free position the file records, or kEmptyNextFree for an empty
// stack; -1 when it cannot be read.
std::int64_t storedNextFree(platform::File& file, std::int64_t size) {
    if (size < kSmallestStackFile) return kEmptyNextFree;
    std::string header;
    if (!readAt(file, kHeaderOffset, header, kHeaderSize)) return -1;
    return coding::getI32(coding::bytes(header));
}

// The number in `width` ASCII digits at `offset`; -1 unless all are digits.
long digitsAt(const std::string& bytes, std::size_t offset, std::size_t width) {
    long value = 0;
    for (std::size_t i = offset; i < offset + width; ++i) {
        const char c = bytes[i];
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string number(int value, std::size_t width) {
    return zeroPad(static_cast<double>(value), static_cast<std::int16_t>(width));
}

struct Frame {
    std::int64_t start = 0;  // position of its first byte, counted from 1
    int cursorRow = 0, cursorColumn = 0;
    int savedTop = 0, savedLeft = 0, savedBottom = 0, savedRight = 0;
    int top = 0, left = 0, bottom = 0, right = 0;
    std::string bytes;  // the whole frame
};

// Reads the frame that ends just before `nextFree`. False when the frame
// does not lie whole inside the file or its numbers do not agree.
bool readTopFrame(platform::File& file, std::int64_t size, std::int64_t nextFree, Frame& frame) {
    const std::int64_t end = nextFree - 1;  // offset just after the frame
    if (end > size || end < static_cast<std::int64_t>(kHeaderSize + kFixedLength)) return false;
    std::string lengthField;
    if (!readAt(file, end - static_cast<std::int64_t>(kLengthWidth), lengthField, kLengthWidth))
        return false;
    const long length = digitsAt(lengthField, 0, kLengthWidth);
    if (length < static_cast<long>(kFixedLength) ||
        length > end - static_cast<std::int64_t>(kHeaderSize))
        return false;
    const std::int64_t offset = end - length;
    if (!readAt(file, offset, frame.bytes, static_cast<std::size_t>(length))) return false;

    long fields[10];
    for (std::size_t i = 0; i < 10; ++i) {
        fields[i] = digitsAt(frame.bytes, i * kNumberWidth, kNumberWidth);
        if (fields[i] < 0) return false;
    }
    frame.start = offset + 1;
    frame.cursorRow = static_cast<int>(fields[kCursorRow / kNumberWidth]);
    frame.cursorColumn = static_cast<int>(fields[kCursorColumn / kNumberWidth]);
    frame.savedTop = static_cast<int>(fields[kSavedTop / kNumberWidth]);
    frame.savedLeft = static_cast<int>(fields[kSavedLeft / kNumberWidth]);
    frame.savedBottom = static_cast<int>(fields[kSavedBottom / kNumberWidth]);
    frame.savedRight = static_cast<int>(fields[kSavedRight / kNumberWidth]);
    frame.top = static_cast<int>(fields[kRegionTop / kNumberWidth]);
    frame.left = static_cast<int>(fields[kRegionLeft / kNumberWidth]);
    frame.bottom = static_cast<int>(fields[kRegionBottom / kNumberWidth]);
    frame.right = static_cast<int>(fields[kRegionRight / kNumberWidth]);
    if (frame.top < 1 || frame.left < 1 || frame.top > frame.bottom || frame.left > frame.right)
        return false;
    const auto cellCount = static_cast<std::size_t>(frame.bottom - frame.top + 1) *
                           static_cast<std::size_t>(frame.right - frame.left + 1);
    return frameLength(cellCount) == static_cast<std::size_t>(length);
}

// Writes the frame's cells back, each in its own colours; cells that fall
// outside this console's window are left out.
void restoreCells(const Frame& frame) {
    const platform::ConsoleBackend& con = platform::console();
    int rows = 0, columns = 0;
    con.windowSize(rows, columns);
    std::size_t cell = kCells;
    for (int row = frame.top; row <= frame.bottom; ++row) {
        for (int column = frame.left; column <= frame.right; ++column, cell += kCellSize) {
            if (row > rows || column > columns) continue;
            const auto attribute = static_cast<unsigned char>(frame.bytes[cell + 1]);
            con.setColours(attribute % 16, attribute / 16);
            con.setCursor(row, column);
            con.writeText(frame.bytes.substr(cell, 1));
        }
    }
    con.setCursor(frame.cursorRow, frame.cursorColumn);
}

}  // namespace

void pushWindow(std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right) {
    const platform::ConsoleBackend& con = platform::console();
    int rows = 0, columns = 0;
    con.windowSize(rows, columns);
    const auto within = [](int value, int last) {
        return value >= 1 && value <= last && value <= kLargestNumber;
    };
    if (!within(top, rows) || !within(bottom, rows) || !within(left, columns) ||
        !within(right, columns))
        return;
    if (top > bottom || left > right) return;

    const auto cellCount =
        static_cast<std::size_t>(bottom - top + 1) * static_cast<std::size_t>(right - left + 1);
    const std::size_t length = frameLength(cellCount);
    std::string frame;
    frame.reserve(length);
    int cursorRow = 0, cursorColumn = 0;
    con.getCursor(cursorRow, cursorColumn);
    // A cursor beyond what two digits hold is saved as near as they allow.
    for (const int value :
         {std::clamp(cursorRow, 0, kLargestNumber), std::clamp(cursorColumn, 0, kLargestNumber),
          int{windowState.windowTop}, int{windowState.windowLeft}, int{windowState.windowBottom},
          int{windowState.windowRight}, int{top}, int{left}, int{bottom}, int{right}}) {
        frame += number(value, kNumberWidth);
    }
    for (int row = top; row <= bottom; ++row) {
        for (int column = left; column <= right; ++column) {
            unsigned char character = ' ', attribute = 7;
            con.readCell(row, column, character, attribute);
            frame += static_cast<char>(character);
            frame += static_cast<char>(attribute);
        }
    }
    frame += number(static_cast<int>(length), kLengthWidth);

    platform::File file;
    if (!platform::openFile(stackPath(), platform::FileMode::ReadWriteShared, file)) return;
    const std::int64_t size = platform::fileSize(file);
    std::int64_t nextFree = size < 0 ? -1 : storedNextFree(file, size);
    // A next free position outside the file belongs to a damaged stack,
    // which no pop could unwind: the new frame starts a new stack.
    if (nextFree < kEmptyNextFree || nextFree - 1 > size) nextFree = kEmptyNextFree;
    const std::int64_t newNextFree = nextFree + static_cast<std::int64_t>(length);
    const bool saved = size >= 0 && newNextFree <= INT32_MAX &&
                       writeAt(file, nextFree - 1, frame) &&
                       writeNextFree(file, static_cast<std::int32_t>(newNextFree));
    platform::closeFile(file);
    if (!saved) return;

    windowState.windowTop = top;
    windowState.windowLeft = left;
    windowState.windowBottom = bottom;
    windowState.windowRight = right;
    ++windowState.windowDepth;
}

void popWindow() {
    const std::string path = stackPath();
    platform::File file;
    if (!platform::openFile(path, platform::FileMode::ReadWriteShared, file)) return;
    std::int64_t nextFree = kEmptyNextFree;
    const std::int64_t size = platform::fileSize(file);
    if (size >= kSmallestStackFile) {
        Frame frame;
        const std::int64_t stored = storedNextFree(file, size);
        // Anything but a sound top frame (including an empty stack recorded
        // as such) leaves the screen and windowState alone and empties the
        // stack: nothing under a damaged top frame can be reached.
        if (stored > kEmptyNextFree && readTopFrame(file, size, stored, frame)) {
            --windowState.windowDepth;
            windowState.windowTop = static_cast<std::int16_t>(frame.savedTop);
            windowState.windowLeft = static_cast<std::int16_t>(frame.savedLeft);
            windowState.windowBottom = static_cast<std::int16_t>(frame.savedBottom);
            windowState.windowRight = static_cast<std::int16_t>(frame.savedRight);
            restoreCells(frame);
            nextFree = frame.start;
        }
        // Recorded before the delete, so that a file that cannot be deleted
        // (another program holds it) still reads as what is left.
        writeNextFree(file, static_cast<std::int32_t>(nextFree));
    }
    platform::closeFile(file);
    if (nextFree <= kEmptyNextFree) platform::deleteFile(path);
}
