// The run's parameters from the work file "pent.tmp".
#include <vector>

#include "app/issue_run.h"
#include "packed/packed.h"
#include "platform/platform.h"
#include "platform/text_lines.h"

RunParameters runParameters;

namespace {

constexpr std::size_t kWorkFileLines = 25;

// The first 25 lines of the work file; missing lines (or a missing file)
// read as empty.
std::vector<std::string> readWorkFile(const std::string& path) {
    std::vector<std::string> lines(kWorkFileLines);
    platform::File file;
    if (!platform::openFile(path, platform::FileMode::ReadShared, file)) return lines;
    platform::TextLineReader reader{file};
    for (std::string& line : lines)
        if (!reader.nextLine(line)) break;
    platform::closeFile(file);
    return lines;
}

// A fixed field of `width` bytes holding the start of `value`, blanks after.
std::string fixedField(const std::string& value, std::size_t width) {
    std::string field = value.substr(0, width);
    field.resize(width, ' ');
    return field;
}

std::int16_t truth(const std::string& line) {
    return line == "S" ? -1 : 0;
}

// A series bound: the method letter and the number filled on the left with
// zeros to four digits, its rightmost four characters packed.
std::string seriesBound(char method, const std::string& line) {
    std::string digits = line;
    if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
    digits = digits.substr(digits.size() - 4);
    return std::string(1, method) + packDigits(digits);
}

}  // namespace

void createRunTables() {
    for (int i = 1; i <= 3; ++i) {
        runParameters.methodEnabled[i] = 0;
        runParameters.seriesFrom[i] = std::string(3, ' ');
        runParameters.seriesTo[i] = std::string(3, ' ');
    }
    for (int k = 1; k <= 10; ++k) {
        runParameters.conceptEnabled[k] = 0;
        runParameters.conceptAmount[k] = 0;
    }
}

void readRunParameters(const std::string& path) {
    const std::vector<std::string> lines = readWorkFile(path);
    RunParameters& p = runParameters;
    p.issueDate = packDateText(lines[0]);
    p.ownerFrom = fixedField(packDottedCode(lines[1]), 2) + fixedField(packDottedCode(lines[2]), 2);
    p.ownerTo = fixedField(packDottedCode(lines[3]), 2) + fixedField(packDottedCode(lines[4]), 2);
    p.issueNumber = packDigits(lines[5]);
    const char methods[4] = {' ', 'A', 'B', 'F'};
    for (int i = 1; i <= 3; ++i) {
        const std::size_t first = 6 + 3 * static_cast<std::size_t>(i - 1);
        p.methodEnabled[i] = truth(lines[first]);
        p.seriesFrom[i] = seriesBound(methods[i], lines[first + 1]);
        p.seriesTo[i] = seriesBound(methods[i], lines[first + 2]);
    }
    for (int k = 1; k <= 10; ++k)
        p.conceptEnabled[k] = truth(lines[15 + static_cast<std::size_t>(k - 1)]);
}

std::int16_t issueMonth() {
    const std::string digits = unpackDigits(runParameters.issueDate.substr(2, 1));
    return roundToInt16(leadingNumber(digits));
}

std::int16_t issueDateUsable() {
    if (runParameters.issueDate.size() != 4 || runParameters.issueDate == std::string(4, '\x80'))
        return 0;
    const std::int16_t month = issueMonth();
    return month >= 1 && month <= 12 ? -1 : 0;
}
