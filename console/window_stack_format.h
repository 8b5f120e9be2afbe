// The layout of "WinPush.tmp", the window stack shared by the programs of a
// session. Offsets are in bytes from the start of the file or of a frame.
//
// File:  0  4  next free position: 32-bit signed little-endian, counted from 1
//              (the file's first byte is position 1), just after the last
//              frame; 5 for an empty stack. A file of 3 bytes or fewer is an
//              empty stack.
//        4  .. the frames, oldest first, one after the other.
//
// Frame: ten numbers of 2 ASCII digits, zero-padded, then the region's cells
//        row by row (each one character byte in the console code page and
//        one attribute byte), then the frame's total length in 5 ASCII
//        digits, which lets a pop find the start of the top frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace windowstack {

constexpr char kFileName[] = "WinPush.tmp";

constexpr std::int64_t kHeaderOffset = 0;
constexpr std::size_t kHeaderSize = 4;
constexpr std::int64_t kSmallestStackFile = 4;  // shorter files are empty stacks
constexpr std::int32_t kEmptyNextFree = 5;

constexpr std::size_t kNumberWidth = 2;
constexpr std::size_t kCursorRow = 0;
constexpr std::size_t kCursorColumn = 2;
constexpr std::size_t kSavedTop = 4;
constexpr std::size_t kSavedLeft = 6;
constexpr std::size_t kSavedBottom = 8;
constexpr std::size_t kSavedRight = 10;
constexpr std::size_t kRegionTop = 12;
constexpr std::size_t kRegionLeft = 14;
constexpr std::size_t kRegionBottom = 16;
constexpr std::size_t kRegionRight = 18;
constexpr std::size_t kCells = 20;
constexpr std::size_t kCellSize = 2;  // character, then attribute
constexpr std::size_t kLengthWidth = 5;

// A frame without cells: the ten numbers and the length field.
constexpr std::size_t kFixedLength = kCells + kLengthWidth;

// What two and five digits can hold.
constexpr int kLargestNumber = 99;
constexpr std::size_t kLargestFrame = 99999;

constexpr std::size_t frameLength(std::size_t cellCount) {
    return kFixedLength + kCellSize * cellCount;
}

// A region of coordinates up to 99 always fits the length field.
static_assert(frameLength(static_cast<std::size_t>(kLargestNumber) * kLargestNumber) <=
              kLargestFrame);

}  // namespace windowstack
