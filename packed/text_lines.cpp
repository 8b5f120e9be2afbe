#include "packed/text_lines.h"

std::vector<std::string> splitTextLines(const std::string& data, std::size_t maxLines) {
    std::vector<std::string> lines;
    std::string line;
    bool open = false;  // a line has started and not ended yet
    for (std::size_t i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c == '\x1A') break;
        if (c == '\r') {
            lines.push_back(line);
            line.clear();
            open = false;
            if (i + 1 < data.size() && data[i + 1] == '\n') ++i;
            if (maxLines != 0 && lines.size() == maxLines) return lines;
            continue;
        }
        line += c;
        open = true;
    }
    if (open && (maxLines == 0 || lines.size() < maxLines)) lines.push_back(line);
    return lines;
}
