// The SQLite schema of a data file.
//
//   nubo_file     one row (id 1): format, the creation description in its
//                 stored form, and two numbers from which the record count
//                 follows (below)
//   records       one row per record: id (insertion order), data (the
//                 record, exactly the record length), and per key a column
//                 k<n> holding the key's value in order-preserving form
//   records_k<n>  one index per key, UNIQUE unless the key allows duplicates;
//                 SQLite appends the id to every index entry, so duplicates
//                 come in insertion order
//   record_count  a view: the number of records
//
// The record count without a write per insert. Let top be the larger of
// id_floor and the highest id present. Every delete adds one to "removed"
// and lifts id_floor to the deleted id, so top never drops and the count is
// top - removed: two lookups however large the file. The engine gives a new
// record the id top + 1, which keeps the count right without touching
// nubo_file, so an insert writes only the pages of the record and its index
// entries. Triggers correct "removed" for rows written by other means (the
// sqlite3 shell) with any other id (one below top fills a gap; one beyond
// top + 1 leaves a gap) and for changed ids.
#pragma once

#include <cstddef>
#include <string>

#include "engine/description.h"

namespace engine::sqlite {

// The format name in nubo_file.format that marks a data file of this engine.
inline constexpr const char* fileFormat = "nubo-engine 1";

// The column of key `key` in table records ("k0", "k1", ...).
std::string keyColumn(std::size_t key);

// The index of key `key` ("records_k0", ...).
std::string keyIndex(std::size_t key);

// The statements that create the tables, indexes, triggers and the view of
// a new file (the nubo_file row is left to the caller).
std::string schemaStatements(const FileDescription& description);

// The id the next inserted record gets (an SQL expression).
std::string nextIdExpression();

// The number of records (a query of one row and column).
std::string recordCountQuery();

}  // namespace engine::sqlite
