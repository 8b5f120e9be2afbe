// Whole plain files (dictionaries, readable sources, CSV and sequential
// files) read and written through the platform layer. The name "-" stands
// for standard input (reading) or standard output (writing).
#pragma once

#include <ostream>
#include <string>

namespace nubodat {

// The name that stands for standard input or output.
constexpr const char* kStandardStream = "-";

// The whole content of `path` (standard input for "-"); throws Error naming
// the reason when it cannot be read or is larger than `limit` bytes.
std::string readPlainFile(const std::string& path, std::size_t limit = std::size_t(1) << 30);

// Replaces `path` with `bytes`: they are written to a temporary file beside
// it, flushed to the disk, and put in the place of `path` only when whole,
// so a failed write leaves an existing `path` as it was and no half-written
// file behind; throws Error naming the reason.
void writePlainFile(const std::string& path, const std::string& bytes);

// Writes `bytes` to `out` (standard output) and flushes it; throws Error
// when they could not all be written (a full disk, a closed pipe, a file
// size limit).
void writeStandardOutput(std::ostream& out, const std::string& bytes);

// Writes `bytes` to `path`, or to `out` when `path` is "-".
void writeOutput(const std::string& path, const std::string& bytes, std::ostream& out);

}  // namespace nubodat
