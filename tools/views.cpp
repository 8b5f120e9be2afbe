#include "tools/views.h"

#include "engine/postgres/names.h"

namespace nubodat {
namespace {

std::string byteAt(std::size_t offset) {
    return "get_byte(data, " + std::to_string(offset) + ")";
}

// The packed pair at `offset` (0..99); only used where isPacked holds.
std::string pairAt(std::size_t offset) {
    return "(" + byteAt(offset) + " - 128)";
}

std::string isPacked(std::size_t offset) {
    return byteAt(offset) + " BETWEEN 128 AND 227";
}

// A layout's column names are plain ASCII words: quoted as any identifier.
std::string quotedColumn(const char* name) {
    return "\"" + std::string(name) + "\"";
}

std::string columnExpression(const Field& f) {
    const std::size_t o = f.offset;
    switch (f.kind) {
        case FieldKind::Number:
            return "CASE WHEN " + isPacked(o) + " AND " + isPacked(o + 1) + " THEN " + pairAt(o) +
                   " * 100 + " + pairAt(o + 1) + " END";
        case FieldKind::Series:
            return "CASE WHEN " + isPacked(o) + " AND " + isPacked(f.offset2) + " THEN lpad((" +
                   pairAt(o) + " * 100 + " + pairAt(f.offset2) + ")::text, 4, '0') END";
        case FieldKind::Date: {
            const std::string y = "(" + pairAt(o) + " * 100 + " + pairAt(o + 1) + ")";
            const std::string m = pairAt(o + 2), d = pairAt(o + 3);
            // A calendar date only: the day checked against the month's
            // length before make_date, which refuses anything else.
            return "CASE WHEN " + isPacked(o) + " AND " + isPacked(o + 1) + " AND " +
                   isPacked(o + 2) + " AND " + isPacked(o + 3) + " AND " + y + " >= 1 AND " + m +
                   " BETWEEN 1 AND 12 AND " + d + " >= 1 AND " + d +
                   " <= extract(day FROM make_date(" + y + ", " + m +
                   ", 1) + interval '1 month - 1 day') THEN make_date(" + y + ", " + m + ", " + d +
                   ") END";
        }
        case FieldKind::Issue:
            return "CASE WHEN " + isPacked(o) + " THEN " + pairAt(o) + "::smallint END";
        case FieldKind::Int16:
            return "((" + byteAt(o) + " + 256 * " + byteAt(o + 1) + " + 32768) % 65536 - 32768)" +
                   "::smallint";
        case FieldKind::Int32:
            return "((" + byteAt(o) + "::bigint + 256 * " + byteAt(o + 1) + " + 65536 * " +
                   byteAt(o + 2) + " + 16777216::bigint * " + byteAt(o + 3) +
                   " + 2147483648) % 4294967296 - 2147483648)::integer";
        case FieldKind::Letter:
            return "CASE WHEN " + byteAt(o) + " BETWEEN 33 AND 126 THEN chr(" + byteAt(o) + ") END";
    }
    return "NULL";
}

}  // namespace

const char* viewColumnType(const Field& field) {
    switch (field.kind) {
        case FieldKind::Number: return "integer";
        case FieldKind::Series: return "text";
        case FieldKind::Date: return "date";
        case FieldKind::Issue: return "smallint";
        case FieldKind::Int16: return "smallint";
        case FieldKind::Int32: return "integer";
        case FieldKind::Letter: return "text";
    }
    return "text";
}

std::string viewName(const std::string& fileName, const Layout& layout) {
    return engine::pg::identifier(fileName, ":" + std::string(layout.name));
}

std::string viewStatement(const Layout& layout, const std::string& quotedView,
                          const std::string& quotedTable) {
    const std::string longEnough =
        "octet_length(data) >= " + std::to_string(layout.minRecordLength());
    std::string sql = "CREATE OR REPLACE VIEW " + quotedView + " AS SELECT id";
    for (const Field& f : layout.fields) {
        sql += ",\n  (CASE WHEN " + longEnough + " THEN " + columnExpression(f) +
               " END)::" + viewColumnType(f) + " AS " + quotedColumn(f.name);
    }
    sql += "\nFROM " + quotedTable;
    return sql;
}

}  // namespace nubodat
