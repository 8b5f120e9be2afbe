#include "tools/work_file.h"

#include <cstdio>

#include "packed/packed.h"
#include "tools/commands.h"

namespace nubodat {
namespace {

constexpr std::size_t kLines = 25;

bool allDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

std::string trimmed(const std::string& s) {
    const std::size_t from = s.find_first_not_of(' ');
    if (from == std::string::npos) return "";
    return s.substr(from, s.find_last_not_of(' ') - from + 1);
}

// A number of 0 to `max` in digits alone; throws UsageError naming `option`.
int parseNumber(const std::string& text, const std::string& option, int max) {
    if (!allDigits(text) || text.size() > 4 || std::stoi(text) > max)
        throw UsageError("--" + option + " \"" + text + "\": a number of 0 to " +
                         std::to_string(max) + " in digits was expected");
    return std::stoi(text);
}

}  // namespace

std::string workFileText(const WorkFileSettings& s) {
    std::vector<std::string> lines;
    char date[16];
    std::snprintf(date, sizeof date, "%02d/%02d/%04d", s.day, s.month, s.year);
    lines.push_back(date);
    for (int n : {s.firstProperty, s.firstOwner, s.lastProperty, s.lastOwner})
        lines.push_back(std::to_string(n));
    char issue[4];
    std::snprintf(issue, sizeof issue, "%02d", s.issueNumber);
    lines.push_back(issue);
    for (std::size_t i = 0; i < 3; ++i) {
        lines.push_back(s.methods[i] ? "S" : "N");
        lines.push_back(std::to_string(s.seriesFrom[i]));
        lines.push_back(std::to_string(s.seriesTo[i]));
    }
    for (bool c : s.concepts) lines.push_back(c ? "S" : "N");
    std::string text;
    for (const std::string& l : lines) text += l + "\r\n";
    return text;
}

std::vector<std::string> workFileLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string line;
    bool open = false;
    for (std::size_t i = 0; i < bytes.size() && lines.size() < kLines; ++i) {
        const char c = bytes[i];
        if (c == '\x1a') break;
        if (c == '\r') {
            lines.push_back(line);
            line.clear();
            open = false;
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            continue;
        }
        line += c;
        open = true;
    }
    if (open && lines.size() < kLines) lines.push_back(line);
    return lines;
}

std::vector<std::string> workFileWarnings(const std::string& bytes) {
    std::vector<std::string> w;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        w.push_back(
            "line 1: the file begins with a byte-order mark (an editor's UTF-8 signature): "
            "the issue date cannot be read; save it without one");
    const bool lineFeeds = bytes.find('\n') != std::string::npos;
    if (lineFeeds && bytes.find('\r') == std::string::npos) {
        w.push_back(
            "the lines end in LF alone: the program reads the whole file as one line and "
            "bills nobody; lines must end in CR LF (nubodat workfile writes them so)");
        return w;
    }
    std::vector<std::string> lines = workFileLines(bytes);
    if (lines.size() < kLines)
        w.push_back("only " + std::to_string(lines.size()) + " lines: lines " +
                    std::to_string(lines.size() + 1) + " to 25 read as empty");
    lines.resize(kLines);
    for (std::size_t i = 0; i < kLines; ++i)
        if (lines[i].find('\n') != std::string::npos)
            w.push_back("line " + std::to_string(i + 1) +
                        ": holds a lone LF, which is part of the line");

    const std::string date = packDateText(lines[0]);
    if (date == std::string(4, '\x80')) {
        w.push_back("line 1: the issue date \"" + lines[0] +
                    "\" cannot be read (day, month and year, such as 15/06/2026): the program "
                    "bills nobody");
    } else {
        const int month = static_cast<int>(leadingNumber(unpackDigits(date.substr(2, 1))));
        if (month < 1 || month > 12)
            w.push_back("line 1: the issue date \"" + lines[0] + "\" has month " +
                        std::to_string(month) +
                        ", not 1 to 12 (the day comes first): the program bills nobody");
    }

    const std::string issue = lines[5];
    if (issue.empty())
        w.push_back("line 6: no issue number: the collections get a blank one");
    else if (!allDigits(issue) || issue.size() > 2)
        w.push_back("line 6: the issue number \"" + issue + "\" is not one or two digits");
    else if (issue.size() == 1)
        w.push_back("line 6: the issue number \"" + issue +
                    "\" is one digit, which packs as the tens: issue " + issue + "0; write \"0" +
                    issue + "\" for issue " + issue);

    static const struct {
        std::size_t line;
        const char* what;
    } numbers[] = {{2, "first property"},  {3, "first owner"},    {4, "last property"},
                   {5, "last owner"},      {8, "first series A"}, {9, "last series A"},
                   {11, "first series B"}, {12, "last series B"}, {14, "first series F"},
                   {15, "last series F"}};
    for (const auto& n : numbers) {
        const std::string& text = lines[n.line - 1];
        const std::string t = trimmed(text);
        const std::string where = "line " + std::to_string(n.line) + " (" + n.what + "): ";
        if (t.empty()) {
            if (n.line <= 5) w.push_back(where + "empty");
        } else if (!allDigits(t)) {
            w.push_back(where + "\"" + text + "\" is not a number in digits");
        } else if (t.size() > 4) {
            w.push_back(where + t + " has " + std::to_string(t.size()) +
                        " digits: only the last four count (" + t.substr(t.size() - 4) + ")");
        }
    }

    for (std::size_t i : {6u, 9u, 12u, 15u, 16u, 17u, 18u, 19u, 20u, 21u, 22u, 23u, 24u}) {
        const std::string& t = lines[i];
        if (t != "S" && t != "N" && !t.empty() &&
            (trimmed(t) == "S" || trimmed(t) == "s" || t == "s"))
            w.push_back("line " + std::to_string(i + 1) + ": \"" + t +
                        "\" counts as no: only the one letter S, alone, is yes");
    }
    if (lines[6] != "S" && lines[9] != "S" && lines[12] != "S")
        w.push_back("lines 7, 10 and 13: no payment method takes part: nobody is billed");

    bool plain = true;
    int bound[4] = {};
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string t = trimmed(lines[i + 1]);
        plain = plain && allDigits(t) && t.size() <= 4;
        if (plain) bound[i] = std::stoi(t);
    }
    if (plain && bound[0] * 10000 + bound[1] > bound[2] * 10000 + bound[3])
        w.push_back(
            "lines 2 to 5: the first property and owner come after the last: nobody is billed");
    return w;
}

void parsePropertyOwner(const std::string& text, const std::string& option, int& property,
                        int& owner) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos)
        throw UsageError("--" + option + " \"" + text +
                         "\": a property and owner number, such as 12/3, was expected");
    property = parseNumber(text.substr(0, slash), option, 9999);
    owner = parseNumber(text.substr(slash + 1), option, 9999);
}

void parseIssueDate(const std::string& text, const std::string& option, int& day, int& month,
                    int& year) {
    const std::size_t a = text.find_first_of("/.-");
    const std::size_t b = a == std::string::npos ? a : text.find_first_of("/.-", a + 1);
    const auto bad = [&](const std::string& why) {
        return UsageError("--" + option + " \"" + text + "\": " + why +
                          " (a date such as 15/06/2026, day first)");
    };
    if (b == std::string::npos) throw bad("not a date");
    const std::string d = text.substr(0, a), m = text.substr(a + 1, b - a - 1),
                      y = text.substr(b + 1);
    if (!allDigits(d) || !allDigits(m) || !allDigits(y) || d.size() > 2 || m.size() > 2 ||
        y.size() != 4)
        throw bad("not a date");
    day = std::stoi(d);
    month = std::stoi(m);
    year = std::stoi(y);
    if (month < 1 || month > 12) throw bad("month " + m + " is not 1 to 12");
    if (day < 1 || day > 31) throw bad("day " + d + " is not 1 to 31");
}

int parseIssueNumber(const std::string& text, const std::string& option) {
    if (!allDigits(text) || text.size() > 2)
        throw UsageError("--" + option + " \"" + text +
                         "\": an issue number of 0 to 99 was expected");
    return std::stoi(text);
}

}  // namespace nubodat
