#include "tools/csv.h"

#include "tools/error.h"

namespace nubodat {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// "," unless the first non-blank line holds ";" and no "," (a spreadsheet
// writing for a locale whose decimal separator is the comma).
char separatorOf(const std::string& text, std::size_t at) {
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        return line.find(',') == std::string::npos && line.find(';') != std::string::npos ? ';'
                                                                                          : ',';
    }
    return ',';
}

}  // namespace

std::vector<CsvLine> parseCsv(const std::string& text, const std::string& origin) {
    std::vector<CsvLine> lines;
    std::size_t at = text.compare(0, 3, kByteOrderMark) == 0 ? 3 : 0;
    const char separator = separatorOf(text, at);
    long number = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        CsvLine out;
        out.number = number;
        std::string field;
        std::size_t i = 0;
        for (;;) {
            field.clear();
            if (i < line.size() && line[i] == '"') {
                ++i;
                for (;;) {
                    if (i >= line.size()) fail(origin, number, "a quoted field is not closed");
                    if (line[i] == '"') {
                        if (i + 1 < line.size() && line[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    field += line[i++];
                }
                if (i < line.size() && line[i] != separator)
                    fail(origin, number,
                         "text follows the closing quote of field " +
                             std::to_string(out.fields.size() + 1));
            } else {
                while (i < line.size() && line[i] != separator) field += line[i++];
            }
            out.fields.push_back(field);
            if (i >= line.size()) break;
            ++i;  // the separator
        }
        lines.push_back(out);
    }
    return lines;
}

std::string formatCsvLine(const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += ',';
        const std::string& f = fields[i];
        if (f.find_first_of(",\"\r\n") == std::string::npos) {
            out += f;
            continue;
        }
        out += '"';
        for (char c : f) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }
    out += '\n';
    return out;
}

}  // namespace nubodat
