#include "engine/postgres/table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/key_codec.h"
#include "engine/postgres/names.h"

namespace engine::pg {
namespace {

// Replace gives up after this many rounds of another machine changing the
// row between the read and the write, with status 85.
constexpr int replaceRounds = 8;

std::string keyColumn(std::size_t k) {
    return "k" + std::to_string(k);
}

// The rows of every seek: id, record, key in order-preserving form.
// A null key's column holds NULL for the rows out of its index: the ends
// skip them, every comparison leaves them out anyway.
std::string seekSql(const std::string& table, const std::string& column, bool duplicates,
                    bool nullable, Seek how, int limit = 1) {
    const std::string select = "SELECT id, data, " + column + " FROM " + table;
    const std::string present = nullable ? " WHERE " + column + " IS NOT NULL" : "";
    const std::string up = " ORDER BY " + column + ", id LIMIT " + std::to_string(limit);
    const std::string down =
        " ORDER BY " + column + " DESC, id DESC LIMIT " + std::to_string(limit);
    switch (how) {
        case Seek::Equal: return select + " WHERE " + column + " = $1" + up;
        case Seek::Greater: return select + " WHERE " + column + " > $1" + up;
        case Seek::GreaterOrEqual: return select + " WHERE " + column + " >= $1" + up;
        case Seek::Less: return select + " WHERE " + column + " < $1" + down;
        case Seek::LessOrEqual: return select + " WHERE " + column + " <= $1" + down;
        case Seek::First: return select + present + up;
        case Seek::Last: return select + present + down;
        case Seek::After:
            // A row-value comparison seeks the (key, id) index of a key with
            // duplicates; a unique key has one row per value, so the value
            // alone tells where to go on.
            if (!duplicates) return select + " WHERE " + column + " > $1" + up;
            return select + " WHERE (" + column + ", id) > ($1, $2::bigint)" + up;
        case Seek::Before:
            if (!duplicates) return select + " WHERE " + column + " < $1" + down;
            return select + " WHERE (" + column + ", id) < ($1, $2::bigint)" + down;
    }
    return {};
}

bool takesValue(Seek how) {
    return how != Seek::First && how != Seek::Last;
}
bool takesRow(Seek how, bool duplicates) {
    return duplicates && (how == Seek::After || how == Seek::Before);
}

}  // namespace

std::vector<std::string> catalogStatements(const std::string& s) {
    return {
        "CREATE SCHEMA IF NOT EXISTS " + s,
        "CREATE TABLE IF NOT EXISTS " + s +
            ".nubo_files (\n"
            "  name text PRIMARY KEY,\n"
            "  id integer GENERATED ALWAYS AS IDENTITY UNIQUE,\n"
            "  table_name text NOT NULL UNIQUE,\n"
            "  format text NOT NULL,\n"
            "  description bytea NOT NULL,\n"
            "  records bigint NOT NULL DEFAULT 0,\n"
            "  changes bigint NOT NULL DEFAULT 0\n"
            ")",
        // The schema comes from the function's own search path, so the body
        // names nothing from outside; pg_temp last, so no temporary table
        // of the caller's can stand in for the catalog.
        "CREATE OR REPLACE FUNCTION " + s +
            ".nubo_count() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER\n"
            "SET search_path = " +
            s +
            ", pg_temp AS $body$\n"
            "BEGIN\n"
            "  IF TG_OP = 'INSERT' THEN\n"
            "    UPDATE nubo_files SET records = records + 1, changes = changes + 1\n"
            "      WHERE id = TG_ARGV[0]::integer;\n"
            "  ELSIF TG_OP = 'DELETE' THEN\n"
            "    UPDATE nubo_files SET records = records - 1, changes = changes + 1\n"
            "      WHERE id = TG_ARGV[0]::integer;\n"
            "  ELSIF TG_OP = 'UPDATE' THEN\n"
            "    UPDATE nubo_files SET changes = changes + 1 WHERE id = TG_ARGV[0]::integer;\n"
            "  ELSIF TG_OP = 'TRUNCATE' THEN\n"
            "    UPDATE nubo_files SET records = 0, changes = changes + 1\n"
            "      WHERE id = TG_ARGV[0]::integer;\n"
            "  END IF;\n"
            "  RETURN NULL;\n"
            "END\n"
            "$body$",
        "REVOKE ALL ON FUNCTION " + s + ".nubo_count() FROM PUBLIC",
    };
}

std::vector<std::string> tableStatements(const std::string& s, const std::string& tableName,
                                         std::int32_t fileId, const FileDescription& d) {
    const std::string t = s + "." + quoteIdentifier(tableName);
    std::string create = "CREATE TABLE " + t +
                         " (\n  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,\n"
                         "  data bytea NOT NULL CHECK (length(data) = " +
                         std::to_string(d.recordLength) + ")";
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        create += ",\n  " + keyColumn(k) +
                  (d.keys[k].nulls == NullKey::None ? " bytea NOT NULL" : " bytea") +
                  " CHECK (length(" + keyColumn(k) + ") = " + std::to_string(d.keys[k].length) +
                  ")";
    }
    create += "\n)";
    std::vector<std::string> out{create};
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        const std::string index = quoteIdentifier(identifier(tableName, ":" + keyColumn(k)));
        out.push_back(std::string(d.keys[k].duplicates ? "CREATE INDEX " : "CREATE UNIQUE INDEX ") +
                      index + " ON " + t + " (" + keyColumn(k) +
                      (d.keys[k].duplicates ? ", id)" : ")"));
    }
    const std::string id = "'" + std::to_string(fileId) + "'";
    out.push_back("CREATE TRIGGER nubo_count_rows AFTER INSERT OR UPDATE OR DELETE ON " + t +
                  " FOR EACH ROW EXECUTE FUNCTION " + s + ".nubo_count(" + id + ")");
    out.push_back("CREATE TRIGGER nubo_count_truncate AFTER TRUNCATE ON " + t +
                  " FOR EACH STATEMENT EXECUTE FUNCTION " + s + ".nubo_count(" + id + ")");
    return out;
}

std::int16_t PgTable::open(std::shared_ptr<Session> session, const std::string& schema,
                           const std::string& name, OpenMode mode, std::unique_ptr<Table>& out) {
    out.reset();
    const std::string qs = quoteIdentifier(schema);
    if (qs.empty()) return status::fileNotFound;
    Connection& conn = session->connection();
    const Statement head{
        "nubo_head_" + std::to_string(Session::schemaKey(schema)),
        "SELECT id, table_name, format, description FROM " + qs + ".nubo_files WHERE name = $1", 1};
    const Result r = conn.run(head, {Param::text(name)});
    if (!r) {
        const std::string& state = conn.fault().sqlState;
        // No catalog (no schema, no table): no file of that name.
        if (state == "42P01" || state == "3F000") return status::fileNotFound;
        return conn.fault().status;
    }
    if (r.rows() == 0) return status::fileNotFound;
    std::unique_ptr<PgTable> table(new PgTable());
    table->session_ = std::move(session);
    table->schema_ = schema;
    std::int64_t id = 0;
    if (!r.int64(0, 0, id)) {
        // integer, not bigint: 4 bytes.
        const auto b = r.bytes(0, 0);
        if (b.size() != 4) return status::notADataFile;
        id = static_cast<std::int32_t>((std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                                       (std::uint32_t{b[2]} << 8) | b[3]);
    }
    if (id <= 0 || id > std::numeric_limits<std::int32_t>::max()) return status::notADataFile;
    table->fileId_ = static_cast<std::int32_t>(id);
    table->rowLockFile_ =
        static_cast<std::int32_t>(nameHash(schema + "/" + std::to_string(table->fileId_)));
    const std::string tableName(r.text(0, 1));
    if (r.text(0, 2) != fileFormat || tableName.empty() || !validUtf8(tableName)) {
        return status::notADataFile;
    }
    const auto stored = r.bytes(0, 3);
    // Only a description in its stored form, exactly, is taken.
    if (stored.empty() ||
        parseDescription(stored.data(), stored.size(), table->description_) != status::ok ||
        encodeDescription(table->description_) !=
            std::string(reinterpret_cast<const char*>(stored.data()), stored.size())) {
        return status::notADataFile;
    }
    if (const std::int16_t st =
            table->session_->lockFile(schema, table->fileId_, mode == OpenMode::Exclusive);
        st != status::ok) {
        return st;
    }
    table->locked_ = true;
    table->tableName_ = tableName;
    if (const std::int16_t st = table->prepareStatements(tableName); st != status::ok) return st;
    out = std::move(table);
    return status::ok;
}

PgTable::~PgTable() {
    // A transaction still open is rolled back when the table closes.
    rollback();
    if (locked_) session_->unlockFile(schema_, fileId_);
}

std::int16_t PgTable::prepareStatements(const std::string& tableName) {
    const std::string qs = quoteIdentifier(schema_);
    const std::string t = qs + "." + quoteIdentifier(tableName);
    const std::size_t keys = description_.keys.size();
    keyOffsets_.clear();
    std::size_t offset = 0;
    for (const KeySpec& key : description_.keys) {
        keyOffsets_.push_back(offset);
        offset += key.length;
    }
    foundRecord_.assign(description_.recordLength, 0);
    // Names unique per schema and file; a file made anew gets a new id, so
    // a name never stands for another statement on one connection.
    // The description's hash in the names: the statements of a file whose
    // keys changed are others.
    char keys16[9];
    std::snprintf(keys16, sizeof keys16, "%08x",
                  static_cast<unsigned>(nameHash(encodeDescription(description_))));
    const std::string prefix = "nubo_" + std::to_string(Session::schemaKey(schema_)) + "_" +
                               std::to_string(fileId_) + "_" + keys16 + "_";
    std::string columns = "data";
    std::string values = "$1";
    std::string sets = "data = $1";
    for (std::size_t k = 0; k < keys; ++k) {
        const std::string p = "$" + std::to_string(k + 2);
        columns += ", " + keyColumn(k);
        values += ", " + p;
        sets += ", " + keyColumn(k) + " = " + p;
    }
    const std::string idParam = "$" + std::to_string(keys + 2);
    const int rowParams = static_cast<int>(keys + 1);
    insert_ = {prefix + "insert",
               "INSERT INTO " + t + " (" + columns + ") VALUES (" + values +
                   ") ON CONFLICT DO NOTHING RETURNING id",
               rowParams};
    readById_ = {prefix + "read", "SELECT " + columns + " FROM " + t + " WHERE id = $1", 1};
    readRow_ = {prefix + "row", "SELECT id, data FROM " + t + " WHERE id = $1", 1};
    replace_ = {prefix + "replace",
                "UPDATE " + t + " SET " + sets + " WHERE id = " + idParam + " AND data = $" +
                    std::to_string(keys + 3),
                rowParams + 2};
    remove_ = {prefix + "remove", "DELETE FROM " + t + " WHERE id = $1 AND data = $2", 2};
    count_ = {prefix + "count", "SELECT records, changes FROM " + qs + ".nubo_files WHERE id = $1",
              1};
    const std::string physical = "SELECT id, data FROM " + t;
    physical_[static_cast<std::size_t>(Step::First)] = {prefix + "pf",
                                                        physical + " ORDER BY id LIMIT 1", 0};
    physical_[static_cast<std::size_t>(Step::Last)] = {prefix + "pl",
                                                       physical + " ORDER BY id DESC LIMIT 1", 0};
    physical_[static_cast<std::size_t>(Step::Next)] = {
        prefix + "pn", physical + " WHERE id > $1 ORDER BY id LIMIT 1", 1};
    physical_[static_cast<std::size_t>(Step::Previous)] = {
        prefix + "pp", physical + " WHERE id < $1 ORDER BY id DESC LIMIT 1", 1};
    distinctStatements_.resize(keys);
    distinct_.assign(keys, Distinct{});
    for (std::size_t k = 0; k < keys; ++k) {
        distinctStatements_[k] = {prefix + "d" + std::to_string(k),
                                  "SELECT count(DISTINCT " + keyColumn(k) + ") FROM " + t, 0};
    }
    seeks_.resize(keys);
    steps_.resize(keys);
    ranks_.resize(keys);
    nths_.resize(keys);
    for (std::size_t k = 0; k < keys; ++k) {
        const bool dup = description_.keys[k].duplicates;
        const bool nullable = description_.keys[k].nulls != NullKey::None;
        const int params = dup ? 2 : 1;
        steps_[k][0] = {prefix + "a" + std::to_string(k),
                        seekSql(t, keyColumn(k), dup, nullable, Seek::After, readAheadRows),
                        params};
        steps_[k][1] = {prefix + "b" + std::to_string(k),
                        seekSql(t, keyColumn(k), dup, nullable, Seek::Before, readAheadRows),
                        params};
        for (std::size_t h = 0; h < seekCount; ++h) {
            const auto how = static_cast<Seek>(h);
            seeks_[k][h] = {prefix + "s" + std::to_string(k) + "_" + std::to_string(h),
                            seekSql(t, keyColumn(k), dup, nullable, how),
                            takesRow(how, dup) ? 2 : (takesValue(how) ? 1 : 0)};
        }
        const std::string c = keyColumn(k);
        ranks_[k] = {prefix + "r" + std::to_string(k),
                     "SELECT (SELECT count(*) FROM " + t + " WHERE " + c +
                         " < $1) + (SELECT count(*) FROM " + t + " WHERE " + c +
                         " = $1 AND id < $2::bigint)",
                     2};
        nths_[k] = {prefix + "n" + std::to_string(k),
                    "SELECT id, data, " + c + " FROM " + t +
                        (nullable ? " WHERE " + c + " IS NOT NULL" : "") + " ORDER BY " + c +
                        ", id LIMIT 1 OFFSET $1::bigint",
                    1};
    }
    // The first read of the table: one that names every column, so a
    // table that does not fit the description fails the open.
    const Statement probe{prefix + "probe",
                          "SELECT id, " + columns + " FROM " + t + " ORDER BY id DESC LIMIT 1", 0};
    const Result r = conn().run(probe, std::span<const Param>());
    if (!r) {
        const std::int16_t st = failed();
        return (st == status::ioError) ? status::notADataFile : st;
    }
    return status::ok;
}

std::vector<Param> PgTable::rowParams(const unsigned char* record,
                                      const unsigned char* keys) const {
    std::vector<Param> params;
    params.reserve(description_.keys.size() + 3);
    params.push_back(Param::bytes(record, description_.recordLength));
    for (std::size_t k = 0; k < description_.keys.size(); ++k) {
        const KeySpec& key = description_.keys[k];
        params.push_back(keyIsNull(key, record) ? Param::null()
                                                : Param::bytes(keys + keyOffsets_[k], key.length));
    }
    return params;
}

void PgTable::serve(std::size_t row, FoundRow& out) {
    const std::size_t keyLength = description_.keys[ahead_.key].length;
    const unsigned char* at = ahead_.rows.data() + row * (description_.recordLength + keyLength);
    std::copy(at, at + description_.recordLength, foundRecord_.begin());
    std::copy(at + description_.recordLength, at + description_.recordLength + keyLength,
              foundKey_.begin());
    out.found = true;
    out.id = ahead_.ids[row];
    out.record = foundRecord_.data();
    out.key = foundKey_.data();
}

// A step from the row the last step gave, while the rows read with it are
// fresh and nothing was written since.
bool PgTable::stepFromReadAhead(std::size_t key, Seek how, const unsigned char* value, RowId from,
                                FoundRow& out) {
    if (!ahead_.valid || ahead_.key != key || ahead_.how != how || ahead_.next == 0 ||
        ahead_.next >= ahead_.ids.size() || ahead_.writes != session_->writes(rowLockFile_)) {
        return false;
    }
    const auto age = std::chrono::steady_clock::now() - ahead_.taken;
    if (age > std::chrono::milliseconds(session_->readAheadMilliseconds())) return false;
    const std::size_t last = ahead_.next - 1;
    const std::size_t keyLength = description_.keys[key].length;
    const unsigned char* lastKey = ahead_.rows.data() +
                                   last * (description_.recordLength + keyLength) +
                                   description_.recordLength;
    if (ahead_.ids[last] != from || !std::equal(lastKey, lastKey + keyLength, value)) return false;
    serve(ahead_.next++, out);
    return true;
}

std::int16_t PgTable::readAhead(std::size_t key, Seek how, const unsigned char* value, RowId from,
                                FoundRow& out) {
    ahead_.valid = false;
    const KeySpec& spec = description_.keys[key];
    std::vector<Param> params{Param::bytes(value, spec.length)};
    if (spec.duplicates) params.push_back(Param::int64(from));
    // Taken before the exchange: the rows are at least as fresh as this.
    const auto taken = std::chrono::steady_clock::now();
    const std::uint64_t writes = session_->writes(rowLockFile_);
    const Result r = conn().run(steps_[key][how == Seek::After ? 0 : 1], params);
    if (!r) return failed();
    const int n = r.rows();
    if (n == 0) return status::ok;
    const std::size_t rowSize = description_.recordLength + spec.length;
    ahead_.ids.assign(static_cast<std::size_t>(n), 0);
    ahead_.rows.assign(static_cast<std::size_t>(n) * rowSize, 0);
    for (int i = 0; i < n; ++i) {
        const auto record = r.bytes(i, 1);
        const auto encoded = r.bytes(i, 2);
        if (!r.int64(i, 0, ahead_.ids[static_cast<std::size_t>(i)]) ||
            record.size() != description_.recordLength || encoded.size() != spec.length) {
            return status::ioError;
        }
        unsigned char* at = ahead_.rows.data() + static_cast<std::size_t>(i) * rowSize;
        std::copy(record.begin(), record.end(), at);
        std::copy(encoded.begin(), encoded.end(), at + description_.recordLength);
    }
    ahead_.valid = true;
    ahead_.key = key;
    ahead_.how = how;
    ahead_.taken = taken;
    ahead_.writes = writes;
    ahead_.next = 1;
    serve(0, out);
    return status::ok;
}

std::int16_t PgTable::seek(std::size_t key, Seek how, const unsigned char* value, RowId from,
                           FoundRow& out) {
    out = FoundRow{};
    if (key >= description_.keys.size()) return status::invalidKeyNumber;
    if ((how == Seek::After || how == Seek::Before) && session_->readAheadMilliseconds() > 0) {
        if (stepFromReadAhead(key, how, value, from, out)) return status::ok;
        return readAhead(key, how, value, from, out);
    }
    ahead_.valid = false;
    const KeySpec& spec = description_.keys[key];
    std::vector<Param> params;
    if (takesValue(how)) params.push_back(Param::bytes(value, spec.length));
    if (takesRow(how, spec.duplicates)) params.push_back(Param::int64(from));
    const Result r = conn().run(seeks_[key][static_cast<std::size_t>(how)], params);
    if (!r) return failed();
    if (r.rows() == 0) return status::ok;
    return takeKeyedRow(r, spec, out);
}

std::int16_t PgTable::takeKeyedRow(const Result& r, const KeySpec& spec, FoundRow& out) {
    std::int64_t id = 0;
    const auto record = r.bytes(0, 1);
    const auto encoded = r.bytes(0, 2);
    if (!r.int64(0, 0, id) || record.size() != description_.recordLength ||
        encoded.size() != spec.length) {
        return status::ioError;
    }
    std::copy(record.begin(), record.end(), foundRecord_.begin());
    std::copy(encoded.begin(), encoded.end(), foundKey_.begin());
    out.found = true;
    out.id = id;
    out.record = foundRecord_.data();
    out.key = foundKey_.data();
    return status::ok;
}

std::int16_t PgTable::insert(const unsigned char* record, const unsigned char* keys, RowId& id) {
    session_->noteWrite(rowLockFile_);
    const std::vector<Param> params = rowParams(record, keys);
    const Result r = conn().run(insert_, params);
    if (!r) return failed();
    // No row back: a key without duplicates already holds its value.
    if (r.rows() == 0) return status::duplicateKey;
    if (!r.int64(0, 0, id)) return status::ioError;
    return status::ok;
}

std::int16_t PgTable::readStored(RowId id, std::vector<unsigned char>& stored) {
    const Result r = conn().run(readById_, {Param::int64(id)});
    if (!r) return failed();
    if (r.rows() == 0) return status::noCurrentRecord;
    stored.clear();
    for (int column = 0; column < r.columns(); ++column) {
        const std::size_t wanted =
            column == 0 ? description_.recordLength
                        : description_.keys[static_cast<std::size_t>(column - 1)].length;
        // A row out of a null key's index: its key's bytes are to be ignored.
        if (column > 0 &&
            description_.keys[static_cast<std::size_t>(column - 1)].nulls != NullKey::None &&
            r.isNull(0, column)) {
            stored.insert(stored.end(), wanted, 0);
            continue;
        }
        const auto data = r.bytes(0, column);
        if (data.size() != wanted) return status::ioError;
        stored.insert(stored.end(), data.begin(), data.end());
    }
    return status::ok;
}

std::int16_t PgTable::replace(RowId id, const unsigned char* record, const unsigned char* keys,
                              const ReplaceGuard& guard) {
    session_->noteWrite(rowLockFile_);
    std::vector<unsigned char> stored;
    for (int round = 0; round < replaceRounds; ++round) {
        if (const std::int16_t st = readStored(id, stored); st != status::ok) return st;
        if (guard) {
            if (const std::int16_t st = guard(stored.data()); st != status::ok) return st;
        }
        // Inside the caller's transaction an error of the server would end
        // its work; only a new value of a unique key can meet one (5), and
        // that write runs under a savepoint.
        bool uniqueChanges = false;
        for (std::size_t k = 0; k < description_.keys.size(); ++k) {
            const unsigned char* before =
                stored.data() + description_.recordLength + keyOffsets_[k];
            // A null key's stored bytes say nothing: taken as changing.
            if (!description_.keys[k].duplicates &&
                (description_.keys[k].nulls != NullKey::None ||
                 !std::equal(before, before + description_.keys[k].length,
                             keys + keyOffsets_[k]))) {
                uniqueChanges = true;
            }
        }
        const bool savepoint = uniqueChanges && inTransaction_ && session_->inTransaction();
        if (savepoint && !conn().runOnce("SAVEPOINT nubo_replace")) return failed();
        std::vector<Param> params = rowParams(record, keys);
        params.push_back(Param::int64(id));
        params.push_back(Param::bytes(stored.data(), description_.recordLength));
        const Result r = conn().run(replace_, params);
        if (!r) {
            const std::int16_t st = failed();
            if (savepoint && st != status::sessionLost) {
                conn().runOnce("ROLLBACK TO SAVEPOINT nubo_replace");
                conn().runOnce("RELEASE SAVEPOINT nubo_replace");
            }
            return st;
        }
        if (savepoint && !conn().runOnce("RELEASE SAVEPOINT nubo_replace")) return failed();
        if (r.changed() == 1) return status::ok;
        // Changed or removed meanwhile: read it again.
    }
    return status::fileLocked;
}

std::int16_t PgTable::remove(RowId id, const ReplaceGuard& guard) {
    session_->noteWrite(rowLockFile_);
    std::vector<unsigned char> stored;
    for (int round = 0; round < replaceRounds; ++round) {
        if (const std::int16_t st = readStored(id, stored); st != status::ok) return st;
        if (guard) {
            if (const std::int16_t st = guard(stored.data()); st != status::ok) return st;
        }
        const Result r = conn().run(
            remove_, {Param::int64(id), Param::bytes(stored.data(), description_.recordLength)});
        if (!r) return failed();
        if (r.changed() == 1) return status::ok;
    }
    return status::fileLocked;
}

std::int16_t PgTable::takeRow(const Result& r, FoundRow& out) {
    std::int64_t id = 0;
    const auto record = r.bytes(0, 1);
    if (!r.int64(0, 0, id) || record.size() != description_.recordLength) return status::ioError;
    std::copy(record.begin(), record.end(), foundRecord_.begin());
    out.found = true;
    out.id = id;
    out.record = foundRecord_.data();
    out.key = nullptr;
    return status::ok;
}

std::int16_t PgTable::step(Step how, RowId from, FoundRow& out) {
    out = FoundRow{};
    ahead_.valid = false;
    const Statement& s = physical_[static_cast<std::size_t>(how)];
    const Result r = (how == Step::Next || how == Step::Previous)
                         ? conn().run(s, {Param::int64(from)})
                         : conn().run(s, std::span<const Param>());
    if (!r) return failed();
    if (r.rows() == 0) return status::ok;
    return takeRow(r, out);
}

std::int16_t PgTable::read(RowId id, FoundRow& out) {
    out = FoundRow{};
    const Result r = conn().run(readRow_, {Param::int64(id)});
    if (!r) return failed();
    if (r.rows() == 0) return status::ok;
    return takeRow(r, out);
}

std::int16_t PgTable::readCounters(std::int64_t& records, std::int64_t& changes) {
    const Result r = conn().run(count_, {Param::int32(fileId_)});
    if (!r) return failed();
    if (r.rows() != 1 || !r.int64(0, 0, records) || !r.int64(0, 1, changes)) {
        return status::ioError;
    }
    return status::ok;
}

std::int16_t PgTable::distinctValues(std::size_t key, std::uint32_t& out) {
    out = 0;
    if (key >= description_.keys.size()) return status::invalidKeyNumber;
    // A unique key has a value per record, but a null key's records out of
    // its index have none.
    if (!description_.keys[key].duplicates && description_.keys[key].nulls == NullKey::None) {
        return count(out);
    }
    std::int64_t records = 0;
    std::int64_t changes = 0;
    if (const std::int16_t st = readCounters(records, changes); st != status::ok) return st;
    Distinct& d = distinct_[key];
    const bool inTransaction = inTransaction_ || session_->inTransaction();
    if (!(d.known && d.changes == changes && !inTransaction)) {
        const Result r = conn().run(distinctStatements_[key], std::span<const Param>());
        if (!r) return failed();
        std::int64_t n = 0;
        if (r.rows() != 1 || !r.int64(0, 0, n)) return status::ioError;
        d.value = static_cast<std::uint32_t>(
            std::clamp<std::int64_t>(n, 0, std::numeric_limits<std::uint32_t>::max()));
        // The counter was read before the count: a change in between makes
        // it differ next time.
        d.known = !inTransaction;
        d.changes = changes;
    }
    out = d.value;
    return status::ok;
}

std::int16_t PgTable::rowsBefore(std::size_t key, const unsigned char* value, RowId from,
                                 std::uint64_t& out) {
    out = 0;
    if (key >= description_.keys.size()) return status::invalidKeyNumber;
    ahead_.valid = false;
    const Result r = conn().run(
        ranks_[key], {Param::bytes(value, description_.keys[key].length), Param::int64(from)});
    if (!r) return failed();
    std::int64_t n = 0;
    if (r.rows() != 1 || !r.int64(0, 0, n)) return status::ioError;
    out = static_cast<std::uint64_t>(std::max<std::int64_t>(0, n));
    return status::ok;
}

std::int16_t PgTable::seekNth(std::size_t key, std::uint64_t n, FoundRow& out) {
    out = FoundRow{};
    if (key >= description_.keys.size()) return status::invalidKeyNumber;
    ahead_.valid = false;
    const auto offset = static_cast<std::int64_t>(std::min<std::uint64_t>(
        n, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
    const Result r = conn().run(nths_[key], {Param::int64(offset)});
    if (!r) return failed();
    if (r.rows() == 0) return status::ok;
    return takeKeyedRow(r, description_.keys[key], out);
}

std::int16_t PgTable::begin() {
    if (inTransaction_) return status::ok;
    if (const std::int16_t st = session_->begin(transaction_); st != status::ok) return st;
    inTransaction_ = true;
    return status::ok;
}

std::int16_t PgTable::commit() {
    if (!inTransaction_) return status::ok;
    inTransaction_ = false;
    return session_->commit(transaction_);
}

void PgTable::rollback() {
    if (!inTransaction_) return;
    inTransaction_ = false;
    session_->rollback(transaction_);
}

std::int64_t PgTable::rowLockKey(RowId id) const {
    return static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(rowLockFile_)) << 32) |
        static_cast<std::uint32_t>(id));
}

bool PgTable::lockRow(RowId id) {
    return session_->lockRow(rowLockKey(id));
}
void PgTable::unlockRow(RowId id) {
    session_->unlockRow(rowLockKey(id));
}
bool PgTable::lockedElsewhere(RowId id) {
    return session_->heldElsewhere(rowLockKey(id));
}

std::int16_t PgTable::count(std::uint32_t& out) {
    out = 0;
    std::int64_t records = 0;
    std::int64_t changes = 0;
    if (const std::int16_t st = readCounters(records, changes); st != status::ok) return st;
    out = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(records, 0, std::numeric_limits<std::uint32_t>::max()));
    return status::ok;
}

}  // namespace engine::pg

namespace engine::pg {

std::string PgTable::quotedTable() const {
    return quoteIdentifier(schema_) + "." + quoteIdentifier(tableName_);
}

std::string PgTable::indexName(std::size_t key) const {
    return quoteIdentifier(schema_) + "." +
           quoteIdentifier(identifier(tableName_, ":" + keyColumn(key)));
}

namespace {

std::string createIndexSql(const std::string& index, const std::string& table, const KeySpec& key,
                           std::size_t number) {
    // The index name is given unqualified: it lives in the table's schema.
    return std::string(key.duplicates ? "CREATE INDEX " : "CREATE UNIQUE INDEX ") + index + " ON " +
           table + " (" + keyColumn(number) + (key.duplicates ? ", id)" : ")");
}

}  // namespace

std::int16_t PgTable::changeKeys(const FileDescription& next,
                                 const std::function<std::int16_t()>& work) {
    if (inTransaction_) return status::invalidOperation;
    ahead_.valid = false;
    std::uint64_t which = 0;
    if (const std::int16_t st = session_->begin(which); st != status::ok) return st;
    std::int16_t st = work();
    if (st == status::ok) {
        const std::string stored = encodeDescription(next);
        const Param params[] = {Param::bytes(stored), Param::int32(fileId_)};
        if (!conn().runOnce("UPDATE " + quoteIdentifier(schema_) +
                                ".nubo_files SET description = $1 WHERE id = $2",
                            params)) {
            st = failed();
        }
    }
    if (st != status::ok) {
        session_->rollback(which);
        return st;
    }
    if (const std::int16_t committed = session_->commit(which); committed != status::ok) {
        return committed;
    }
    description_ = next;
    return prepareStatements(tableName_);
}

std::int16_t PgTable::addKey(const FileDescription& next, const KeyEncoder& encode) {
    const std::size_t number = description_.keys.size();
    if (next.keys.size() != number + 1) return status::invalidOperation;
    const KeySpec& key = next.keys.back();
    const std::string t = quotedTable();
    const std::string column = keyColumn(number);
    return changeKeys(next, [&]() -> std::int16_t {
        if (!conn().runOnce("ALTER TABLE " + t + " ADD COLUMN " + column + " bytea CHECK (length(" +
                            column + ") = " + std::to_string(key.length) + ")")) {
            return failed();
        }
        // Every row's value, in batches along the ids.
        const std::string batch = "SELECT id, data FROM " + t +
                                  " WHERE id > $1 ORDER BY id LIMIT " +
                                  std::to_string(readAheadRows * 16);
        const std::string write = "UPDATE " + t + " SET " + column + " = $1 WHERE id = $2";
        std::vector<unsigned char> value(key.length, 0);
        for (RowId last = 0;;) {
            const Param from[] = {Param::int64(last)};
            const Result rows = conn().runOnce(batch, from);
            if (!rows) return failed();
            if (rows.rows() == 0) break;
            for (int r = 0; r < rows.rows(); ++r) {
                const auto data = rows.bytes(r, 1);
                if (!rows.int64(r, 0, last) || data.size() != description_.recordLength) {
                    return status::ioError;
                }
                const bool present = encode(data.data(), value.data());
                const Param params[] = {
                    present ? Param::bytes(value.data(), value.size()) : Param::null(),
                    Param::int64(last)};
                if (!conn().runOnce(write, params)) return failed();
            }
        }
        if (key.nulls == NullKey::None &&
            !conn().runOnce("ALTER TABLE " + t + " ALTER COLUMN " + column + " SET NOT NULL")) {
            return failed();
        }
        if (!conn().runOnce(createIndexSql(quoteIdentifier(identifier(tableName_, ":" + column)), t,
                                           key, number))) {
            return failed();
        }
        return status::ok;
    });
}

std::int16_t PgTable::dropKey(std::size_t key, const FileDescription& next) {
    const std::size_t keys = description_.keys.size();
    if (key >= keys || next.keys.size() != keys - 1) return status::invalidOperation;
    const std::string t = quotedTable();
    return changeKeys(next, [&]() -> std::int16_t {
        std::vector<std::string> statements;
        for (std::size_t k = key; k < keys; ++k) statements.push_back("DROP INDEX " + indexName(k));
        statements.push_back("ALTER TABLE " + t + " DROP COLUMN " + keyColumn(key));
        for (std::size_t k = key + 1; k < keys; ++k) {
            statements.push_back("ALTER TABLE " + t + " RENAME COLUMN " + keyColumn(k) + " TO " +
                                 keyColumn(k - 1));
            statements.push_back(
                createIndexSql(quoteIdentifier(identifier(tableName_, ":" + keyColumn(k - 1))), t,
                               next.keys[k - 1], k - 1));
        }
        for (const std::string& sql : statements) {
            if (!conn().runOnce(sql)) return failed();
        }
        return status::ok;
    });
}

}  // namespace engine::pg
