// Names on the server: identifiers of a data file's table and indexes, and
// their quoted form.
//
// A data file's table is named after the file's name on the server
// ("dades/finquesh.dat"), so a person querying the server finds it. Names
// longer than the server keeps (63 bytes) are cut at a character boundary
// and end in "~" and eight hexadecimal digits of a hash of the whole name, so
// two long names stay apart. Every identifier enters SQL text quoted, and
// only in DDL and in statements the engine prepares; data never does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace engine::pg {

inline constexpr std::size_t maxIdentifierLength = 63;

// `name` followed by `suffix`, shortened as above when longer than 63 bytes
// (the suffix is always kept whole; it must be ASCII and at most 20 bytes).
std::string identifier(std::string_view name, std::string_view suffix = {});

// `name` as a quoted SQL identifier: in double quotes, each double quote
// doubled. Empty when `name` is empty, holds a zero byte or is not UTF-8.
std::string quoteIdentifier(std::string_view name);

// A 32-bit hash of `text` (FNV-1a): stable across runs and machines.
std::uint32_t nameHash(std::string_view text);

// True when `text` is well-formed UTF-8 without zero bytes.
bool validUtf8(std::string_view text);

}  // namespace engine::pg
