// Reading one value from an INI file.
#include <cstddef>

#include "platform/platform.h"
#include "session/session.h"
#include "session/upper_case.h"

namespace {

constexpr char kCtrlZ = 0x1A;

// Lines of an open file: a line ends at CR or CR LF; a lone LF stays in the
// line. Ctrl-Z, the end of the file and a read error all end the data.
struct LineReader {
    explicit LineReader(platform::File& f) : file(f) {}

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

std::string trimSpaces(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Searches the open file for `key` in the first section `section` (both
// already trimmed and upper-cased). True with `value` when found.
bool findValue(platform::File& file, const std::string& section, const std::string& key,
               std::string& value) {
    LineReader reader{file};
    std::string line;
    bool inSection = false;
    while (reader.nextLine(line)) {
        const std::size_t comment = line.find(';');
        if (comment != std::string::npos) line.erase(comment);
        const std::size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        line.erase(0, first);

        if (line[0] == '[') {
            if (inSection) return false;
            const std::size_t close = line.find(']');
            const std::string name =
                line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
            inSection = upperCaseText(trimSpaces(name)) == section;
            continue;
        }
        if (!inSection) continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string name = line.substr(0, equals);
        name.erase(name.find_last_not_of(' ') + 1);
        if (upperCaseText(name) == key) {
            value = line.substr(equals + 1);
            return true;
        }
    }
    return false;
}

}  // namespace

std::string readIniValue(const std::string& path, const std::string& section,
                         const std::string& key) {
    platform::File file;
    if (!platform::openFile(path, platform::FileMode::ReadShared, file)) return std::string();
    std::string value;
    findValue(file, upperCaseText(trimSpaces(section)), upperCaseText(trimSpaces(key)), value);
    platform::closeFile(file);

    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}
