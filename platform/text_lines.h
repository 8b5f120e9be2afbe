// Lines of the suite's text files (INI files, the work file), read from an
// open file: a line ends at CR or at CR LF, a lone LF stays in the line as an
// ordinary character, and a Ctrl-Z byte, the end of the file or a read error
// ends the data. A last line without an end is a line.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace platform {

constexpr char kCtrlZ = 0x1A;

// Lines of an open file: a line ends at CR or CR LF; a lone LF stays in the
// line. Ctrl-Z, the end of the file and a read error all end the data.
struct TextLineReader {
    explicit TextLineReader(platform::File& f) : file(f) {}

    platform::File& file;
    char buffer[4096];
    std::size_t length = 0;
    std::size_t position = 0;
    bool ended = false;
    bool skipLineFeed = false;  // the last line ended at a CR

    // The next byte into `c`; false at the end of the data.
    bool nextByte(char& c) {
        if (ended) return false;
        if (position == length) {
            const std::int64_t got = platform::readFile(file, buffer, sizeof buffer);
            if (got <= 0) {
                ended = true;
                return false;
            }
            length = static_cast<std::size_t>(got);
            position = 0;
        }
        c = buffer[position++];
        if (c == kCtrlZ) {
            ended = true;
            return false;
        }
        return true;
    }

    // The next line into `line`; false when the data has ended before it.
    bool nextLine(std::string& line) {
        line.clear();
        char c = 0;
        if (!nextByte(c)) return false;
        if (skipLineFeed) {
            skipLineFeed = false;
            if (c == '\n' && !nextByte(c)) return false;
        }
        do {
            if (c == '\r') {
                skipLineFeed = true;
                return true;
            }
            line.push_back(c);
        } while (nextByte(c));
        return true;
    }
};

}  // namespace platform
