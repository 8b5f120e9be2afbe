#include "engine/schema.h"

namespace engine {

std::string keyColumn(std::size_t key) { return "k" + std::to_string(key); }

std::string keyIndex(std::size_t key) { return "records_" + keyColumn(key); }

std::string schemaStatements(const FileDescription& d) {
    std::string sql =
        "CREATE TABLE nubo_file (\n"
        "  id INTEGER PRIMARY KEY CHECK (id = 1),\n"
        "  format TEXT NOT NULL,\n"
        "  description BLOB NOT NULL,\n"
        "  record_count INTEGER NOT NULL\n"
        ");\n"
        "CREATE TABLE records (\n"
        "  id INTEGER PRIMARY KEY,\n"
        "  data BLOB NOT NULL CHECK (typeof(data) = 'blob' AND length(data) = " +
        std::to_string(d.recordLength) + ")";
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        sql += ",\n  " + keyColumn(k) + " BLOB NOT NULL";
    }
    sql += "\n);\n";
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        sql += std::string(d.keys[k].duplicates ? "CREATE INDEX " : "CREATE UNIQUE INDEX ") +
               keyIndex(k) + " ON records (" + keyColumn(k) + ");\n";
    }
    sql +=
        "CREATE TRIGGER records_counted_insert AFTER INSERT ON records BEGIN\n"
        "  UPDATE nubo_file SET record_count = record_count + 1 WHERE id = 1;\n"
        "END;\n"
        "CREATE TRIGGER records_counted_delete AFTER DELETE ON records BEGIN\n"
        "  UPDATE nubo_file SET record_count = record_count - 1 WHERE id = 1;\n"
        "END;\n";
    return sql;
}

}  // namespace engine
