// Whole plain files (dictionaries, readable sources, CSV and sequential
// files) read and written through the platform layer.
#pragma once

#include <string>

namespace nubodat {

// The whole content of `path`; throws Error when it cannot be read or is
// larger than `limit` bytes.
std::string readPlainFile(const std::string& path, std::size_t limit = std::size_t(1) << 30);

// Replaces `path` with `bytes`. On a failed write the file is deleted, so
// no half-written file stays behind; throws Error.
void writePlainFile(const std::string& path, const std::string& bytes);

}  // namespace nubodat
