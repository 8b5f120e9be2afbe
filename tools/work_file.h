// The work file "pent.tmp" as the operator meets it: written from named
// settings, and read back with the mistakes the program would not notice.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace nubodat {

// The settings of one issue, as numbers.
struct WorkFileSettings {
    int day = 0, month = 0, year = 0;  // the issue date
    int issueNumber = 0;               // 0 to 99
    int firstProperty = 0, firstOwner = 0, lastProperty = 9999, lastOwner = 9999;
    std::array<bool, 3> methods{};  // "A", "B", "F"
    std::array<int, 3> seriesFrom{0, 0, 0};
    std::array<int, 3> seriesTo{9999, 9999, 9999};
    std::array<bool, 10> concepts{};  // concepts 1 to 10
};

// The 25 lines of the work file, each ending in CR LF: the date as
// DD/MM/YYYY, the issue number in two digits, numbers without leading zeros
// and truth lines "S" or "N".
std::string workFileText(const WorkFileSettings& settings);

// The lines of a work file as the program reads them (CR or CR LF ends a
// line, a lone LF stays in it, Ctrl-Z ends the data), at most 25.
std::vector<std::string> workFileLines(const std::string& bytes);

// What looks like a mistake in the bytes of a work file, one text each,
// beginning with the line it concerns: LF line endings, a byte-order mark,
// an issue date that cannot be read or whose month is not 1 to 12, an issue
// number of one digit, a number of more than four digits, a truth line that
// is almost "S", fewer than 25 lines, an empty range.
std::vector<std::string> workFileWarnings(const std::string& bytes);

// Parses "P/O" (property and owner number, 0 to 9999 each) into its numbers;
// throws UsageError naming `option`.
void parsePropertyOwner(const std::string& text, const std::string& option, int& property,
                        int& owner);

// Parses a day-first date "DD/MM/YYYY" (also "." or "-"), with a month of 1
// to 12 and a day of 1 to 31; throws UsageError naming `option`.
void parseIssueDate(const std::string& text, const std::string& option, int& day, int& month,
                    int& year);

// Parses an issue number of one or two digits; throws UsageError.
int parseIssueNumber(const std::string& text, const std::string& option);

}  // namespace nubodat
