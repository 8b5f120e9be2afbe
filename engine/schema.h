// The SQLite schema of a data file.
//
//   nubo_file   one row (id 1): format, the creation description in its
//               stored form, and the record count, kept by triggers in the
//               transaction of every insert and delete
//   records     one row per record: id (insertion order), data (the record,
//               exactly the record length), and per key a column k<n> holding
//               the key's value in order-preserving form
//   records_k<n>  one index per key, UNIQUE unless the key allows duplicates;
//               SQLite appends the id to every index entry, so duplicates
//               come in insertion order
#pragma once

#include <cstddef>
#include <string>

#include "engine/description.h"

namespace engine {

// The format name in nubo_file.format that marks a data file of this engine.
inline constexpr const char* fileFormat = "nubo-engine 1";

// The column of key `key` in table records ("k0", "k1", ...).
std::string keyColumn(std::size_t key);

// The index of key `key` ("records_k0", ...).
std::string keyIndex(std::size_t key);

// The statements that create the tables, indexes and triggers of a new file
// (without the nubo_file row).
std::string schemaStatements(const FileDescription& description);

}  // namespace engine
