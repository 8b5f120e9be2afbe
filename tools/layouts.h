// The CSV layouts of the three data files whose record fields are known:
// properties ("FinquesH"), owners ("PropietH") and collections ("CobramH").
// A row holds the fields in the order of the layout, then "other": the
// bytes of the record outside every field, as hexadecimal digits, or empty
// when they are all blanks (the usual case; an import fills them with
// blanks). The "other" column may be left out of a CSV file altogether.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/fields.h"

namespace nubodat {

struct Layout {
    const char* name;      // "properties", "owners", "collections"
    const char* baseName;  // base name of the data file it belongs to
    std::vector<Field> fields;
    std::size_t minRecordLength() const;  // one past the last field byte
};

constexpr const char* kOtherColumn = "other";

// The layout named `name` (a layout name, or a file's base name, compared
// without regard to case); nullptr when there is none.
const Layout* findLayout(const std::string& name);

// The layout for a data file path: by its base name (the last component
// without extension). nullptr when the base name is not one of the three.
const Layout* layoutForPath(const std::string& path);

// The names of the CSV columns: every field, then "other".
std::vector<std::string> layoutColumns(const Layout& layout);

// The bytes of a record of `recordLength` outside every field.
std::string otherBytes(const Layout& layout, const std::string& record);
// Stores `bytes` (as many as otherBytes gives) back outside the fields.
void putOtherBytes(const Layout& layout, const std::string& bytes, std::string& record);

}  // namespace nubodat
