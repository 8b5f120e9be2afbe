#include "engine/sqlite/schema.h"

namespace engine::sqlite {
namespace {

// The highest id given so far.
constexpr const char* topId =
    "max((SELECT id_floor FROM nubo_file WHERE id = 1), "
    "coalesce((SELECT max(id) FROM records), 0))";

// The highest id given before the row NEW came (inside a trigger on it).
constexpr const char* topBeforeNew =
    "max((SELECT id_floor FROM nubo_file WHERE id = 1), "
    "coalesce((SELECT id FROM records WHERE id <> NEW.id ORDER BY id DESC LIMIT 1), 0))";

// True when the new row NEW did not take the next id.
std::string newRowOutOfTurn() {
    return std::string("NEW.id <> 1 + ") + topBeforeNew;
}

// Counts the new row NEW, when it did not take the next id, into "removed":
// one that fills a gap makes one fewer removed, one beyond the next leaves a
// gap of removed ids.
std::string countNewRow(const std::string& condition) {
    return std::string("  UPDATE nubo_file SET removed = removed + CASE WHEN NEW.id <= ") +
           topBeforeNew + " THEN -1 ELSE NEW.id - 1 - " + topBeforeNew + " END WHERE id = 1" +
           condition + ";\n";
}

constexpr const char* countRemovedRow =
    "  UPDATE nubo_file SET removed = removed + 1, id_floor = max(id_floor, OLD.id) "
    "WHERE id = 1;\n";

}  // namespace

std::string keyColumn(std::size_t key) {
    return "k" + std::to_string(key);
}

std::string keyIndex(std::size_t key) {
    return "records_" + keyColumn(key);
}

std::string nextIdExpression() {
    return std::string("1 + ") + topId;
}

std::string recordCountQuery() {
    return std::string("SELECT ") + topId + " - (SELECT removed FROM nubo_file WHERE id = 1)";
}

std::string schemaStatements(const FileDescription& d) {
    std::string sql =
        "CREATE TABLE nubo_file (\n"
        "  id INTEGER PRIMARY KEY CHECK (id = 1),\n"
        "  format TEXT NOT NULL,\n"
        "  description BLOB NOT NULL,\n"
        "  id_floor INTEGER NOT NULL,\n"
        "  removed INTEGER NOT NULL\n"
        ");\n"
        "CREATE TABLE records (\n"
        "  id INTEGER PRIMARY KEY,\n"
        "  data BLOB NOT NULL CHECK (typeof(data) = 'blob' AND length(data) = " +
        std::to_string(d.recordLength) + ")";
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        // NULL: the row is out of a null key's index.
        sql += ",\n  " + keyColumn(k) +
               (d.keys[k].nulls == NullKey::None ? " BLOB NOT NULL" : " BLOB");
    }
    sql += "\n);\n";
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        sql += std::string(d.keys[k].duplicates ? "CREATE INDEX " : "CREATE UNIQUE INDEX ") +
               keyIndex(k) + " ON records (" + keyColumn(k) + ");\n";
    }
    // The engine's own inserts take the next id and leave nubo_file alone.
    sql += "CREATE TRIGGER records_counted_insert AFTER INSERT ON records WHEN " +
           newRowOutOfTurn() + " BEGIN\n" + countNewRow("") + "END;\n";
    sql += std::string("CREATE TRIGGER records_counted_delete AFTER DELETE ON records BEGIN\n") +
           countRemovedRow + "END;\n";
    sql += std::string("CREATE TRIGGER records_counted_renumber AFTER UPDATE OF id ON records ") +
           "WHEN OLD.id <> NEW.id BEGIN\n" + countRemovedRow +
           countNewRow(" AND " + newRowOutOfTurn()) + "END;\n";
    sql += "CREATE VIEW record_count AS " + recordCountQuery() + " AS records;\n";
    return sql;
}

}  // namespace engine::sqlite
