// Reading one value from an INI file.
#include <cstddef>

#include "platform/platform.h"
#include "platform/text_lines.h"
#include "session/session.h"
#include "session/upper_case.h"

namespace {

std::string trimSpaces(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Searches the open file for `key` in the first section `section` (both
// already trimmed and upper-cased). True with `value` when found.
bool findValue(platform::File& file, const std::string& section, const std::string& key,
               std::string& value) {
    platform::TextLineReader reader{file};
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
