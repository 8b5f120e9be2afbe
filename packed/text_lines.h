// Line splitting of the suite's text files (INI files, the work file).
#pragma once

#include <string>
#include <vector>

// Splits `data` into lines: a line ends at CR or at CR LF (a lone LF stays in
// the line as an ordinary character), and a Ctrl-Z byte ends the data. A
// last line without an end is a line; an empty text has no lines. At most
// `maxLines` lines are returned (all when maxLines is 0).
std::vector<std::string> splitTextLines(const std::string& data, std::size_t maxLines = 0);
