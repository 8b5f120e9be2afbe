// Views for reports on a PostgreSQL server: for each data file of a known
// layout (tools/layouts.h), a view with one named, typed column per field
// of the layout, decoded on the server from the record bytes, so any SQL
// client can query the data.
//
// The view of the file "dades/cobramh.dat" (layout "collections") is
// "dades/cobramh.dat:collections", in the file's schema. Its columns: "id"
// (the row's insertion order), then every field of the layout under its
// layout name, typed:
//
//   number    integer 0..9999
//   series    text, four digits ("0012")
//   date      date; NULL for the zero date
//   issue     smallint 0..99; NULL for a blank byte
//   int16     smallint
//   int32     integer
//   letter    text, one character; NULL for a blank
//
// A field whose bytes are no value of its kind (what the CSV export shows
// as "#" and hexadecimal digits), and every field of a record shorter than
// the layout, is NULL: the view never fails on a record.
#pragma once

#include <string>

#include "tools/layouts.h"

namespace nubodat {

// The SQL type of a field's view column.
const char* viewColumnType(const Field& field);

// The view's name for the file named `fileName` on the server (unquoted;
// cut with a hash like every name on the server when long).
std::string viewName(const std::string& fileName, const Layout& layout);

// "CREATE OR REPLACE VIEW <view> AS SELECT ... FROM <table>": the arguments
// are already quoted identifiers (schema-qualified). Only they, the layout's
// own column names (quoted here) and numbers enter the text.
std::string viewStatement(const Layout& layout, const std::string& quotedView,
                          const std::string& quotedTable);

}  // namespace nubodat
