// The unformatted sequential layout that moves records between
// installations: for each record its length in decimal, a comma, the record
// bytes and CR LF; the file ends with one Ctrl-Z byte (optional on reading).
#pragma once

#include <string>
#include <vector>

namespace nubodat {

// Appends one record in the sequential layout to `out`.
void appendSequentialRecord(std::string& out, const std::string& record);

// The end mark written after the last record.
constexpr char kSequentialEnd = '\x1a';

// Reads every record of a sequential file. Every record must be
// `recordLength` bytes long. Throws Error naming `origin`, the record number
// (as the line) and what is wrong: a length that is no number, a missing
// comma, a record shorter than its length, a length other than the file's,
// a missing CR LF, bytes after the end mark.
std::vector<std::string> parseSequential(const std::string& bytes, int recordLength,
                                         const std::string& origin);

}  // namespace nubodat
