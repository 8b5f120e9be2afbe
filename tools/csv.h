// Comma-separated values: one record a line, fields separated by commas, a
// field in double quotes when it holds a comma or a quote (a quote inside
// doubled). Lines end in LF or CR LF.
// Spreadsheet programs may write ";" instead: see parseCsv.
#pragma once

#include <string>
#include <vector>

namespace nubodat {

struct CsvLine {
    long number = 0;  // 1-based line number in the file
    std::vector<std::string> fields;
};

// Every non-blank line of `text`. A UTF-8 byte-order mark at the start is
// skipped; when the first non-blank line holds ";" and no ",", ";" separates
// the fields of every line instead of ",". Throws Error naming `origin` and the line
// for a quote that is not closed on its line or text after a closing quote.
std::vector<CsvLine> parseCsv(const std::string& text, const std::string& origin);

// One line of fields, quoted where needed, ending in LF.
std::string formatCsvLine(const std::vector<std::string>& fields);

}  // namespace nubodat
