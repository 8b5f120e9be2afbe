// Creation of an empty data file.
#pragma once

#include <cstdint>
#include <string>

#include "engine/description.h"

namespace engine::sqlite {

// Creates an empty data file with `description` at `programPath` (program
// form: "\" separators, console code page). The file is built under a
// temporary name beside the target and then put in place whole, so a
// failure or a crash never leaves a half-made data file (stale temporary
// files of earlier creations are removed first); leftovers of an
// earlier file of that name (its write-ahead log) are removed. Without
// `overwrite` an existing file is kept and the status is 59, also when
// another process creates the file at the same moment. Statuses: 59; 85 when
// the file to be replaced is open (here or in another process); 25 when the
// file cannot be written (missing folder, no access, disk full).
// Removes what creations of the file at `programPath` (program form) left
// behind when they were killed: temporary files that no creator holds any
// more, and their SQLite companions. A temporary file whose creator is at
// work (it holds a lock on it) is left alone, as is every other file. Does
// nothing while this process has the file open.
void removeStaleTemporaries(const std::string& programPath);

std::int16_t createDataFile(const std::string& programPath, const FileDescription& description,
                            bool overwrite);

}  // namespace engine::sqlite
