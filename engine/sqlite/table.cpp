#include "engine/sqlite/table.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/api.h"
#include "engine/key_codec.h"
#include "engine/settings.h"
#include "engine/sqlite/create_file.h"
#include "engine/sqlite/schema.h"
#include "platform/coding.h"
#include "platform/platform.h"

namespace engine::sqlite {
namespace {

// Page cache of one open: bounded, so memory stays flat however large the
// file grows.
constexpr const char* cacheKibibytes = "2048";
// The write-ahead log is folded back into the file (a checkpoint: the log
// and the file are synced, then the log starts again from its beginning)
// after the commit that makes it hold this many bytes, and is cut back to
// this size when it grew beyond it.
constexpr int logCheckpointBytes = 16 * 1024 * 1024;

// The rows of every read: id, record, key in order-preserving form.
// A null key's column holds NULL for the rows out of its index: the ends
// skip them, every comparison leaves them out anyway.
std::string seekSql(const std::string& column, bool nullable, Seek how) {
    const std::string select = "SELECT id, data, " + column + " FROM records";
    const std::string present = nullable ? " WHERE " + column + " IS NOT NULL" : "";
    const std::string up = " ORDER BY " + column + ", id LIMIT 1";
    const std::string down = " ORDER BY " + column + " DESC, id DESC LIMIT 1";
    switch (how) {
        case Seek::Equal: return select + " WHERE " + column + " = ?1 ORDER BY id LIMIT 1";
        case Seek::Greater: return select + " WHERE " + column + " > ?1" + up;
        case Seek::GreaterOrEqual: return select + " WHERE " + column + " >= ?1" + up;
        case Seek::Less: return select + " WHERE " + column + " < ?1" + down;
        case Seek::LessOrEqual: return select + " WHERE " + column + " <= ?1" + down;
        case Seek::First: return select + present + up;
        case Seek::Last: return select + present + down;
        case Seek::After:
        case Seek::Before: break;  // walk() reads these
    }
    return {};
}

// A walk along a key from (value, row id): every following row in order
// (backward: every preceding one, nearest first), stepped one per call. With
// duplicates, in two parts: the later (earlier) rows of the same value,
// then the following (preceding) values. SQLite seeks both parts in the
// index, where a row-value comparison on (key, id) would scan; the limits
// keep each part's order.
std::string walkSql(const std::string& column, bool duplicates, bool forward) {
    const std::string select = "SELECT id, data, " + column + " FROM records";
    const std::string beyond = forward ? " > ?1 ORDER BY " + column + ", id"
                                       : " < ?1 ORDER BY " + column + " DESC, id DESC";
    if (!duplicates) return select + " WHERE " + column + beyond;
    constexpr const char* all = " LIMIT 9223372036854775807";
    const std::string same =
        forward ? " = ?1 AND id > ?2 ORDER BY id" : " = ?1 AND id < ?2 ORDER BY id DESC";
    return "SELECT * FROM (" + select + " WHERE " + column + same + all +
           ") UNION ALL SELECT * FROM (" + select + " WHERE " + column + beyond + all + ")";
}

// SQLite's database header (big-endian fields): the page size at 16 (1 for
// 65536), the change counter at 24, the page count at 28, valid when the
// counter at 92 equals the change counter.
constexpr std::size_t headerSize = 100;
constexpr unsigned char headerMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                           'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};

std::int16_t fromStep(int rc, std::int16_t whenDone) {
    if (rc == SQLITE_DONE) return whenDone;
    return statusFromSqlite(rc);
}

}  // namespace

std::int16_t SqliteTable::open(const std::string& programPath, OpenMode mode,
                               std::unique_ptr<Table>& out) {
    out.reset();
    std::unique_ptr<SqliteTable> file(new SqliteTable());
    const std::int16_t st = file->initialise(programPath, mode);
    if (st == status::ok) out = std::move(file);
    return st;
}

SqliteTable::~SqliteTable() {
    endWalk();
    walks_.clear();
    seeks_.clear();
    ranks_.clear();
    nths_.clear();
    distinct_.clear();
    for (Statement& s : steps_) s = Statement();
    for (Statement* s : {&insert_, &update_, &delete_, &readById_, &readCount_, &begin_, &commit_,
                         &rollback_, &readRow_}) {
        *s = Statement();
    }
    // A transaction left open is rolled back with the connection.
    // The connection closes before the open-mode lock goes: see file_lock.h.
    sqlite3_close_v2(db_);
    lock_.release();
}

std::int16_t SqliteTable::prepare(Statement& stmt, const std::string& sql) {
    const int rc = stmt.prepare(db_, sql);
    if (rc == SQLITE_OK) return status::ok;
    // A statement that does not fit the schema: the file is not one of ours.
    return (rc & 0xff) == SQLITE_ERROR ? status::notADataFile : statusFromSqlite(rc);
}

std::int16_t SqliteTable::initialise(const std::string& programPath, OpenMode mode) {
    if (programPath.empty() || !platform::pathExists(programPath)) return status::fileNotFound;
    removeStaleTemporaries(programPath);
    const std::string native = platform::nativePath(programPath);
    if (const std::int16_t st = lock_.acquire(programPath, native, mode == OpenMode::Exclusive);
        st != status::ok) {
        return st;
    }

    if (const std::int16_t st = checkLength(programPath); st != status::ok) return st;

    // Never creates: a file that vanished since the check is not made anew.
    const int rc = sqlite3_open_v2(sqlitePath(native).c_str(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        return platform::pathExists(programPath) ? systemCause(native) : status::fileNotFound;
    }
    for (auto step : {&SqliteTable::configure, &SqliteTable::readDescription,
                      &SqliteTable::configureCheckpoints, &SqliteTable::checkSchema,
                      &SqliteTable::prepareStatements}) {
        if (const std::int16_t st = (this->*step)(); st != status::ok) {
            return st == status::ioError ? systemCause(native) : st;
        }
    }
    // Reads the count, and so maps the wal-index the probe watches.
    std::uint32_t rows = 0;
    if (const std::int16_t st = count(rows); st != status::ok) return st;
    probe_.attach(db_);
    countKnown_ = false;
    return status::ok;
}

// An open that failed for a reason the system gave: a file system mounted
// read-only is status 46, as a read-only folder is (SQLite cannot make the
// log's index beside the file; the last cause it notes is then another);
// no file handle left is 87; anything else 2.
std::int16_t SqliteTable::systemCause(const std::string& native) {
    if (platform::onReadOnlyFileSystem(native)) return status::accessDenied;
    return statusFromSystem(db_ != nullptr ? sqlite3_system_errno(db_) : 0, status::ioError);
}

// SQLite reads the missing part of a page cut short as zero bytes and a
// page past the end as none, so a file cut short may answer as if it ended
// there. Its length must be a whole number of pages and hold every page its
// header counts; while the write-ahead log holds frames the file may be
// between two states of a checkpoint, and the log itself has every page.
std::int16_t SqliteTable::checkLength(const std::string& programPath) {
    platform::File* file = lock_.handle();
    unsigned char head[headerSize] = {};
    if (file == nullptr || !platform::seekFile(*file, 0)) return status::ioError;
    const std::int64_t got = platform::readFile(*file, head, sizeof head);
    const std::int64_t length = platform::fileSize(*file);
    if (got < 0 || length < 0) return status::ioError;
    // No database at all: the first read tells (status 30).
    if (static_cast<std::size_t>(got) < headerSize ||
        std::memcmp(head, headerMagic, sizeof headerMagic) != 0) {
        return status::ok;
    }
    {
        platform::ScopedFile log;
        if (platform::openFile(programPath + "-wal", platform::FileMode::ReadShared, log.get()) &&
            platform::fileSize(log.get()) > 0) {
            return status::ok;
        }
    }
    const std::uint16_t sizeField = coding::getBigU16(head + 16);
    const std::int64_t pageSize = sizeField == 1 ? 65536 : sizeField;
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) return status::ioError;
    if (length % pageSize != 0) return status::ioError;
    const std::uint32_t pages = coding::getBigU32(head + 28);
    const bool pagesValid = std::memcmp(head + 24, head + 92, 4) == 0;
    if (pagesValid && static_cast<std::int64_t>(pages) * pageSize > length) return status::ioError;
    return status::ok;
}

std::int16_t SqliteTable::configure() {
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, static_cast<int>(settings().busyMilliseconds));
    // The file may come from anywhere: nothing in it may reach beyond it.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    const std::string pragmas =
        std::string("PRAGMA synchronous = ") + (settings().fullSync ? "FULL" : "NORMAL") +
        "; PRAGMA cache_size = -" + cacheKibibytes +
        "; PRAGMA journal_size_limit = " + std::to_string(logCheckpointBytes) +
        // Every page is checked as it is read, so a damaged page is an
        // error, not an answer.
        "; PRAGMA cell_size_check = ON";
    const int rc = execute(db_, pragmas.c_str());
    // Some of them read the header: a file that is no database fails here.
    if ((rc & 0xff) == SQLITE_NOTADB) return status::notADataFile;
    return rc == SQLITE_OK ? status::ok : statusFromSqlite(rc);
}

// The checkpoint size in pages of this file (read once it is known to be a
// data file).
std::int16_t SqliteTable::configureCheckpoints() {
    Statement pageSize;
    int rc = pageSize.prepare(db_, "PRAGMA page_size");
    if (rc == SQLITE_OK) rc = sqlite3_step(pageSize.get());
    if (rc != SQLITE_ROW) return statusFromSqlite(rc);
    const int page = std::max(512, sqlite3_column_int(pageSize.get(), 0));
    sqlite3_wal_autocheckpoint(db_, std::max(1, logCheckpointBytes / page));
    return status::ok;
}

// The first read of the file, so a file that is no database fails here.
std::int16_t SqliteTable::readDescription() {
    Statement head;
    // The schema is read here: a file that is no database fails already.
    if (const int rc = head.prepare(db_, "SELECT format, description FROM nubo_file WHERE id = 1");
        rc != SQLITE_OK) {
        return (rc & 0xff) == SQLITE_NOTADB || (rc & 0xff) == SQLITE_ERROR ? status::notADataFile
                                                                           : statusFromSqlite(rc);
    }
    ResetOnExit done(head.get());
    const int rc = sqlite3_step(head.get());
    // The first read: a file that is no database is no data file.
    if ((rc & 0xff) == SQLITE_NOTADB) return status::notADataFile;
    if (rc != SQLITE_ROW) return fromStep(rc, status::notADataFile);
    const auto* format = sqlite3_column_text(head.get(), 0);
    if (format == nullptr || std::strcmp(reinterpret_cast<const char*>(format), fileFormat) != 0) {
        return status::notADataFile;
    }
    const auto* stored = static_cast<const unsigned char*>(sqlite3_column_blob(head.get(), 1));
    const int storedSize = sqlite3_column_bytes(head.get(), 1);
    if (stored == nullptr || storedSize <= 0) return status::notADataFile;
    const std::string bytes(reinterpret_cast<const char*>(stored),
                            static_cast<std::size_t>(storedSize));
    // Only a description in its stored form, exactly, is taken.
    if (parseDescription(stored, bytes.size(), description_) != status::ok ||
        encodeDescription(description_) != bytes) {
        return status::notADataFile;
    }
    std::size_t offset = 0;
    for (const KeySpec& key : description_.keys) {
        keyOffsets_.push_back(offset);
        offset += key.length;
    }
    keyBuffer_.assign(offset, 0);
    recordBuffer_.assign(description_.recordLength, 0);
    foundRecord_.assign(description_.recordLength, 0);
    seeks_.resize(description_.keys.size());
    walks_.resize(description_.keys.size());
    return status::ok;
}

std::int16_t SqliteTable::prepareStatements() {
    const std::size_t keys = description_.keys.size();
    std::string insertSql = "INSERT INTO records (id, data";
    std::string values = ") VALUES (" + nextIdExpression() + ", ?1";
    std::string updateSql = "UPDATE records SET data = ?1";
    for (std::size_t k = 0; k < keys; ++k) {
        const std::string param = "?" + std::to_string(k + 2);
        insertSql += ", " + keyColumn(k);
        values += ", " + param;
        updateSql += ", " + keyColumn(k) + " = " + param;
    }
    updateSql += " WHERE id = ?" + std::to_string(keys + 2);
    const std::pair<Statement*, std::string> statements[] = {
        {&insert_, insertSql + values + ")"},
        {&update_, updateSql},
        {&delete_, "DELETE FROM records WHERE id = ?1"},
        {&readById_, "SELECT data FROM records WHERE id = ?1"},
        {&readCount_, recordCountQuery()},
        {&begin_, "BEGIN IMMEDIATE"},
        {&commit_, "COMMIT"},
        {&rollback_, "ROLLBACK"},
        {&readRow_, "SELECT id, data FROM records WHERE id = ?1"},
        {&steps_[static_cast<std::size_t>(Step::First)],
         "SELECT id, data FROM records ORDER BY id LIMIT 1"},
        {&steps_[static_cast<std::size_t>(Step::Last)],
         "SELECT id, data FROM records ORDER BY id DESC LIMIT 1"},
        {&steps_[static_cast<std::size_t>(Step::Next)],
         "SELECT id, data FROM records WHERE id > ?1 ORDER BY id LIMIT 1"},
        {&steps_[static_cast<std::size_t>(Step::Previous)],
         "SELECT id, data FROM records WHERE id < ?1 ORDER BY id DESC LIMIT 1"},
    };
    for (const auto& [stmt, sql] : statements) {
        if (const std::int16_t st = prepare(*stmt, sql); st != status::ok) return st;
    }
    distinct_.resize(keys);
    ranks_.resize(keys);
    nths_.resize(keys);
    distinctCount_.assign(keys, 0);
    return status::ok;
}

// Checks that the tables and indexes are the ones the description asks for,
// and reads the ends of the table and of every index: a file cut short or
// damaged there is found at the open.
std::int16_t SqliteTable::checkSchema() {
    Statement indexes;
    if (const std::int16_t st =
            prepare(indexes, "SELECT name, \"unique\" FROM pragma_index_list('records')");
        st != status::ok) {
        return st;
    }
    std::vector<std::pair<std::string, bool>> found;
    int rc;
    while ((rc = sqlite3_step(indexes.get())) == SQLITE_ROW) {
        const auto* name = sqlite3_column_text(indexes.get(), 0);
        found.emplace_back(name != nullptr ? reinterpret_cast<const char*>(name) : "",
                           sqlite3_column_int(indexes.get(), 1) != 0);
    }
    if (rc != SQLITE_DONE) return statusFromSqlite(rc);
    for (std::size_t k = 0; k < description_.keys.size(); ++k) {
        const std::pair<std::string, bool> wanted{keyIndex(k), !description_.keys[k].duplicates};
        if (std::find(found.begin(), found.end(), wanted) == found.end()) {
            return status::notADataFile;
        }
    }
    // Two lookups on the row id: max() and min() together in one select
    // would scan the table.
    std::vector<std::string> probes = {
        "SELECT (SELECT id FROM records ORDER BY id DESC LIMIT 1), "
        "(SELECT id FROM records ORDER BY id LIMIT 1)"};
    for (std::size_t k = 0; k < description_.keys.size(); ++k) {
        const std::string c = keyColumn(k);
        probes.push_back("SELECT (SELECT " + c + " FROM records ORDER BY " + c +
                         " DESC LIMIT 1), (SELECT " + c + " FROM records ORDER BY " + c +
                         " LIMIT 1)");
    }
    for (const std::string& sql : probes) {
        Statement probe;
        if (const std::int16_t st = prepare(probe, sql); st != status::ok) return st;
        rc = sqlite3_step(probe.get());
        if (rc != SQLITE_ROW) return fromStep(rc, status::ioError);
    }
    return status::ok;
}

std::int16_t SqliteTable::seekStatement(std::size_t key, Seek how, sqlite3_stmt*& out) {
    Statement& stmt = seeks_[key][static_cast<std::size_t>(how)];
    if (!stmt.prepared()) {
        const std::int16_t st = prepare(
            stmt, seekSql(keyColumn(key), description_.keys[key].nulls != NullKey::None, how));
        if (st != status::ok) return st;
    }
    out = stmt.get();
    return status::ok;
}

std::int16_t SqliteTable::seek(std::size_t key, Seek how, const unsigned char* value, RowId from,
                               FoundRow& out) {
    if (how == Seek::After || how == Seek::Before) {
        return walk(key, how == Seek::After, value, from, out);
    }
    endWalk();
    out = FoundRow{};
    const KeySpec& spec = description_.keys[key];
    sqlite3_stmt* stmt = nullptr;
    if (const std::int16_t st = seekStatement(key, how, stmt); st != status::ok) return st;
    ResetOnExit done(stmt);

    int rc = SQLITE_OK;
    if (how != Seek::First && how != Seek::Last) {
        std::copy(value, value + spec.length, searchBuffer_.begin());
        rc = sqlite3_bind_blob(stmt, 1, searchBuffer_.data(), spec.length, SQLITE_STATIC);
    }
    if (rc != SQLITE_OK) return statusFromSqlite(rc);

    rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) return fromStep(rc, status::ok);
    return takeKeyedRow(stmt, spec, out);
}

// Copies the row out (id, record, its key along `spec`): the statement may be reset or
// stepped on before the caller reads it.
std::int16_t SqliteTable::takeKeyedRow(sqlite3_stmt* stmt, const KeySpec& spec, FoundRow& out) {
    const std::int64_t id = sqlite3_column_int64(stmt, 0);
    const auto* record = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, 1));
    const int recordSize = sqlite3_column_bytes(stmt, 1);
    const auto* encoded = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, 2));
    const int encodedSize = sqlite3_column_bytes(stmt, 2);
    if (record == nullptr || recordSize != description_.recordLength || encoded == nullptr ||
        encodedSize != spec.length) {
        return status::ioError;
    }
    std::copy(record, record + recordSize, foundRecord_.begin());
    std::copy(encoded, encoded + encodedSize, foundKey_.begin());
    out.found = true;
    out.id = id;
    out.record = foundRecord_.data();
    out.key = foundKey_.data();
    return status::ok;
}

void SqliteTable::endWalk() {
    if (walk_.stmt == nullptr) return;
    sqlite3_reset(walk_.stmt);
    walk_.stmt = nullptr;
}

// A walk goes on only from the row it gave last, along the same key and in
// the same direction, outside a transaction over calls, and while no
// connection has committed since it began: its read then sees exactly what
// a fresh one would. Otherwise it starts again from (value, from), with the
// header taken before its first step, so that a commit from then on ends it
// at the next call. It is kept open after a call only when no commit came
// since the walk's previous call: while other connections write, every call
// reads afresh and holds nothing, so the log can be folded back between
// calls; on a quiet file a kept read holds back at most the one write that
// ends it.
std::int16_t SqliteTable::walk(std::size_t key, bool forward, const unsigned char* value,
                               RowId from, FoundRow& out) {
    out = FoundRow{};
    const KeySpec& spec = description_.keys[key];
    ChangeProbe::Header now{};
    const bool watched = probe_.snapshot(now);
    const bool quiet = watched && walk_.seen && now == walk_.seenHeader;
    walk_.seen = watched;
    walk_.seenHeader = now;
    const bool goesOn = walk_.stmt != nullptr && quiet && !inTransaction_ && walk_.key == key &&
                        walk_.forward == forward && walk_.last == from && now == walk_.header &&
                        std::equal(value, value + spec.length, walk_.lastKey.begin());
    if (!goesOn) {
        endWalk();
        Statement& stmt = walks_[key][forward ? 0 : 1];
        if (!stmt.prepared()) {
            if (const std::int16_t st =
                    prepare(stmt, walkSql(keyColumn(key), spec.duplicates, forward));
                st != status::ok) {
                return st;
            }
        }
        std::copy(value, value + spec.length, walkValue_.begin());
        int rc = sqlite3_bind_blob(stmt.get(), 1, walkValue_.data(), spec.length, SQLITE_STATIC);
        if (rc == SQLITE_OK && spec.duplicates) rc = sqlite3_bind_int64(stmt.get(), 2, from);
        if (rc != SQLITE_OK) return statusFromSqlite(rc);
        walk_.stmt = stmt.get();
        walk_.key = key;
        walk_.forward = forward;
        walk_.header = now;
    }
    const int rc = sqlite3_step(walk_.stmt);
    std::int16_t st =
        rc == SQLITE_ROW ? takeKeyedRow(walk_.stmt, spec, out) : fromStep(rc, status::ok);
    // Kept only where a change can be seen, and never inside a transaction
    // over calls, whose commit must find no read still open.
    if (st != status::ok || !out.found || !quiet || inTransaction_) {
        endWalk();
        return st;
    }
    walk_.last = out.id;
    std::copy(out.key, out.key + spec.length, walk_.lastKey.begin());
    return status::ok;
}

std::int16_t SqliteTable::rowsBefore(std::size_t key, const unsigned char* value, RowId from,
                                     std::uint64_t& out) {
    endWalk();
    out = 0;
    const KeySpec& spec = description_.keys[key];
    Statement& stmt = ranks_[key];
    if (!stmt.prepared()) {
        // Two counts, each a range of the index.
        const std::string c = keyColumn(key);
        const std::string sql = "SELECT (SELECT count(*) FROM records WHERE " + c +
                                " < ?1) + (SELECT count(*) FROM records WHERE " + c +
                                " = ?1 AND id < ?2)";
        if (const std::int16_t st = prepare(stmt, sql); st != status::ok) return st;
    }
    ResetOnExit done(stmt.get());
    std::copy(value, value + spec.length, searchBuffer_.begin());
    int rc = sqlite3_bind_blob(stmt.get(), 1, searchBuffer_.data(), spec.length, SQLITE_STATIC);
    if (rc == SQLITE_OK) rc = sqlite3_bind_int64(stmt.get(), 2, from);
    if (rc != SQLITE_OK) return statusFromSqlite(rc);
    rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) return fromStep(rc, status::ioError);
    out =
        static_cast<std::uint64_t>(std::max<std::int64_t>(0, sqlite3_column_int64(stmt.get(), 0)));
    return status::ok;
}

std::int16_t SqliteTable::seekNth(std::size_t key, std::uint64_t n, FoundRow& out) {
    endWalk();
    out = FoundRow{};
    const KeySpec& spec = description_.keys[key];
    Statement& stmt = nths_[key];
    if (!stmt.prepared()) {
        const std::string c = keyColumn(key);
        const std::string sql =
            "SELECT id, data, " + c + " FROM records" +
            (spec.nulls != NullKey::None ? " WHERE " + c + " IS NOT NULL" : "") + " ORDER BY " + c +
            ", id LIMIT 1 OFFSET ?1";
        if (const std::int16_t st = prepare(stmt, sql); st != status::ok) return st;
    }
    ResetOnExit done(stmt.get());
    const auto offset = static_cast<std::int64_t>(std::min<std::uint64_t>(
        n, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
    int rc = sqlite3_bind_int64(stmt.get(), 1, offset);
    if (rc != SQLITE_OK) return statusFromSqlite(rc);
    rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) return fromStep(rc, status::ok);
    return takeKeyedRow(stmt.get(), spec, out);
}

std::int16_t SqliteTable::bindRow(sqlite3_stmt* stmt, const unsigned char* record,
                                  const unsigned char* keys) {
    std::copy(record, record + description_.recordLength, recordBuffer_.begin());
    std::copy(keys, keys + keyBuffer_.size(), keyBuffer_.begin());
    int rc =
        sqlite3_bind_blob(stmt, 1, recordBuffer_.data(), description_.recordLength, SQLITE_STATIC);
    for (std::size_t k = 0; k < description_.keys.size() && rc == SQLITE_OK; ++k) {
        const KeySpec& key = description_.keys[k];
        rc = keyIsNull(key, recordBuffer_.data())
                 ? sqlite3_bind_null(stmt, static_cast<int>(k + 2))
                 : sqlite3_bind_blob(stmt, static_cast<int>(k + 2),
                                     keyBuffer_.data() + keyOffsets_[k], key.length, SQLITE_STATIC);
    }
    return rc == SQLITE_OK ? status::ok : statusFromSqlite(rc);
}

bool SqliteTable::countStillKnown(ChangeProbe::Header& before) const {
    return countKnown_ && !inTransaction_ && count_ < std::numeric_limits<std::uint32_t>::max() &&
           probe_.snapshot(before) && before == countHeader_;
}

// The header shows how many transactions committed since `before`: none
// leaves the count as it was, only this write's moves it by `delta`; with
// any other the count is read again at the next call.
void SqliteTable::afterOwnWrite(bool known, const ChangeProbe::Header& before, std::int16_t st,
                                int delta) {
    ChangeProbe::Header after{};
    countKnown_ = false;
    if (!known || !probe_.snapshot(after)) return;
    const std::uint32_t commits = ChangeProbe::commits(after) - ChangeProbe::commits(before);
    const std::int64_t moved = static_cast<std::int64_t>(count_) + (commits == 1 ? delta : 0);
    if ((commits == 0 || (commits == 1 && st == status::ok)) && moved >= 0) {
        count_ = static_cast<std::uint32_t>(moved);
        countHeader_ = after;
        countKnown_ = true;
    }
}

std::int16_t SqliteTable::insert(const unsigned char* record, const unsigned char* keys,
                                 RowId& id) {
    endWalk();
    if (const std::int16_t st = bindRow(insert_.get(), record, keys); st != status::ok) return st;
    ChangeProbe::Header before{};
    const bool known = countStillKnown(before);
    std::int16_t st = status::ok;
    {
        ResetOnExit done(insert_.get());
        // One statement in its own transaction; the count trigger runs inside it.
        const int rc = sqlite3_step(insert_.get());
        if (rc != SQLITE_DONE) st = statusFromSqlite(rc);
    }
    afterOwnWrite(known, before, st, 1);
    if (st != status::ok) return afterWrite(st);
    id = sqlite3_last_insert_rowid(db_);
    return afterWrite(status::ok);
}

// Another process that holds the file's write lock for longer than the busy
// wait is likely to hold it much longer (a long transaction, a stuck
// program): once a write has waited it out in vain, the next writes try
// once without waiting, and the first that gets through brings the wait
// back. So a caller that goes on writing is refused at once, each write with
// status 85, instead of waiting the whole busy time again and again.
std::int16_t SqliteTable::afterWrite(std::int16_t st) {
    const bool refused = st == status::fileLocked;
    if (st != status::ok && !refused) return st;
    if (refused != waitsCut_) {
        waitsCut_ = refused;
        sqlite3_busy_timeout(db_, refused ? 0 : static_cast<int>(settings().busyMilliseconds));
    }
    return st;
}

std::int16_t SqliteTable::run(Statement& stmt) {
    const int rc = sqlite3_step(stmt.get());
    sqlite3_reset(stmt.get());
    return rc == SQLITE_DONE ? status::ok : statusFromSqlite(rc);
}

// Runs a read-then-write in one write transaction: its own, or the one
// begin() opened. Inside begin()'s the work writes only with its last
// statement, so a refusal leaves the transaction's earlier work whole.
std::int16_t SqliteTable::inWriteTransaction(const std::function<std::int16_t()>& work) {
    if (inTransaction_) return work();
    if (const std::int16_t st = run(begin_); st != status::ok) return st;
    std::int16_t st = work();
    if (st == status::ok) st = run(commit_);
    if (st != status::ok && sqlite3_get_autocommit(db_) == 0) run(rollback_);
    return st;
}

// Hands the stored row `id` to `guard`: 8 when it is gone.
std::int16_t SqliteTable::checkStored(RowId id, const ReplaceGuard& guard) {
    ResetOnExit done(readById_.get());
    int rc = sqlite3_bind_int64(readById_.get(), 1, id);
    if (rc != SQLITE_OK) return statusFromSqlite(rc);
    rc = sqlite3_step(readById_.get());
    if (rc != SQLITE_ROW) return fromStep(rc, status::noCurrentRecord);
    const auto* old = static_cast<const unsigned char*>(sqlite3_column_blob(readById_.get(), 0));
    if (old == nullptr || sqlite3_column_bytes(readById_.get(), 0) != description_.recordLength) {
        return status::ioError;
    }
    return guard(old);
}

std::int16_t SqliteTable::replaceInTransaction(RowId id, const ReplaceGuard& guard) {
    if (const std::int16_t st = checkStored(id, guard); st != status::ok) return st;
    ResetOnExit done(update_.get());
    const int rc = sqlite3_step(update_.get());
    if (rc != SQLITE_DONE) return statusFromSqlite(rc);
    return sqlite3_changes(db_) == 1 ? status::ok : status::noCurrentRecord;
}

std::int16_t SqliteTable::replace(RowId id, const unsigned char* record, const unsigned char* keys,
                                  const ReplaceGuard& guard) {
    endWalk();
    if (const std::int16_t st = bindRow(update_.get(), record, keys); st != status::ok) return st;
    const int idParam = static_cast<int>(description_.keys.size() + 2);
    if (const int rc = sqlite3_bind_int64(update_.get(), idParam, id); rc != SQLITE_OK) {
        return statusFromSqlite(rc);
    }
    ChangeProbe::Header before{};
    const bool known = countStillKnown(before);
    const std::int16_t st = inWriteTransaction([&] { return replaceInTransaction(id, guard); });
    afterOwnWrite(known, before, st, 0);
    return afterWrite(st);
}

std::int16_t SqliteTable::removeInTransaction(RowId id, const ReplaceGuard& guard) {
    if (const std::int16_t st = checkStored(id, guard); st != status::ok) return st;
    ResetOnExit done(delete_.get());
    int rc = sqlite3_bind_int64(delete_.get(), 1, id);
    if (rc == SQLITE_OK) rc = sqlite3_step(delete_.get());
    if (rc != SQLITE_DONE) return statusFromSqlite(rc);
    return sqlite3_changes(db_) == 1 ? status::ok : status::noCurrentRecord;
}

std::int16_t SqliteTable::remove(RowId id, const ReplaceGuard& guard) {
    endWalk();
    ChangeProbe::Header before{};
    const bool known = countStillKnown(before);
    const std::int16_t st = inWriteTransaction([&] { return removeInTransaction(id, guard); });
    afterOwnWrite(known, before, st, -1);
    return afterWrite(st);
}

std::int16_t SqliteTable::takeRow(sqlite3_stmt* stmt, FoundRow& out) {
    const auto* record = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, 1));
    if (record == nullptr || sqlite3_column_bytes(stmt, 1) != description_.recordLength) {
        return status::ioError;
    }
    std::copy(record, record + description_.recordLength, foundRecord_.begin());
    out.found = true;
    out.id = sqlite3_column_int64(stmt, 0);
    out.record = foundRecord_.data();
    out.key = nullptr;
    return status::ok;
}

std::int16_t SqliteTable::step(Step how, RowId from, FoundRow& out) {
    endWalk();
    out = FoundRow{};
    Statement& stmt = steps_[static_cast<std::size_t>(how)];
    ResetOnExit done(stmt.get());
    if (how == Step::Next || how == Step::Previous) {
        if (const int rc = sqlite3_bind_int64(stmt.get(), 1, from); rc != SQLITE_OK) {
            return statusFromSqlite(rc);
        }
    }
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) return fromStep(rc, status::ok);
    return takeRow(stmt.get(), out);
}

std::int16_t SqliteTable::read(RowId id, FoundRow& out) {
    endWalk();
    out = FoundRow{};
    ResetOnExit done(readRow_.get());
    if (const int rc = sqlite3_bind_int64(readRow_.get(), 1, id); rc != SQLITE_OK) {
        return statusFromSqlite(rc);
    }
    const int rc = sqlite3_step(readRow_.get());
    if (rc != SQLITE_ROW) return fromStep(rc, status::ok);
    return takeRow(readRow_.get(), out);
}

std::int16_t SqliteTable::distinctValues(std::size_t key, std::uint32_t& out) {
    endWalk();
    const KeySpec& spec = description_.keys[key];
    // A unique key has a value per record, but a null key's records out of
    // its index have none.
    if (!spec.duplicates && spec.nulls == NullKey::None) return count(out);
    ChangeProbe::Header now{};
    const bool watched = probe_.snapshot(now);
    if (!(distinctKnown_ && watched && now == distinctHeader_ && !inTransaction_)) {
        // Every key at once, with the header taken before the reads.
        for (std::size_t k = 0; k < description_.keys.size(); ++k) {
            if (!description_.keys[k].duplicates && description_.keys[k].nulls == NullKey::None) {
                continue;
            }
            if (!distinct_[k].prepared()) {
                const std::string c = keyColumn(k);
                if (const std::int16_t st =
                        prepare(distinct_[k], "SELECT count(DISTINCT " + c + ") FROM records");
                    st != status::ok) {
                    return st;
                }
            }
            ResetOnExit done(distinct_[k].get());
            const int rc = sqlite3_step(distinct_[k].get());
            if (rc != SQLITE_ROW) return fromStep(rc, status::ioError);
            distinctCount_[k] = static_cast<std::uint32_t>(
                std::clamp<std::int64_t>(sqlite3_column_int64(distinct_[k].get(), 0), 0,
                                         std::numeric_limits<std::uint32_t>::max()));
        }
        distinctKnown_ = watched && !inTransaction_;
        distinctHeader_ = now;
    }
    out = distinctCount_[key];
    return status::ok;
}

std::int16_t SqliteTable::begin() {
    endWalk();
    if (inTransaction_) return status::ok;
    if (const std::int16_t st = afterWrite(run(begin_)); st != status::ok) return st;
    inTransaction_ = true;
    return status::ok;
}

std::int16_t SqliteTable::commit() {
    endWalk();
    if (!inTransaction_) return status::ok;
    inTransaction_ = false;
    countKnown_ = false;
    distinctKnown_ = false;
    const std::int16_t st = run(commit_);
    if (st != status::ok && sqlite3_get_autocommit(db_) == 0) run(rollback_);
    return st;
}

void SqliteTable::rollback() {
    endWalk();
    if (!inTransaction_) return;
    inTransaction_ = false;
    countKnown_ = false;
    distinctKnown_ = false;
    if (sqlite3_get_autocommit(db_) == 0) run(rollback_);
}

std::int16_t SqliteTable::count(std::uint32_t& out) {
    endWalk();
    ChangeProbe::Header now{};
    const bool watched = probe_.snapshot(now);
    if (countKnown_ && watched && now == countHeader_) {
        out = count_;
        return status::ok;
    }
    ResetOnExit done(readCount_.get());
    const int rc = sqlite3_step(readCount_.get());
    if (rc != SQLITE_ROW) return fromStep(rc, status::ioError);
    const std::int64_t stored = sqlite3_column_int64(readCount_.get(), 0);
    count_ = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(stored, 0, std::numeric_limits<std::uint32_t>::max()));
    // The header was taken before the read, so a commit in between makes it
    // differ next time and the count is read again.
    countKnown_ = watched;
    countHeader_ = now;
    out = count_;
    return status::ok;
}

}  // namespace engine::sqlite

namespace engine::sqlite {
namespace {

// The SQL function that gives each row its value of a key being added.
constexpr const char* newKeyFunction = "nubo_new_key";

struct NewKey {
    const Table::KeyEncoder* encode = nullptr;
    std::uint16_t recordLength = 0;
    std::vector<unsigned char> value;
};

void newKeyValue(sqlite3_context* context, int, sqlite3_value** args) {
    auto* key = static_cast<NewKey*>(sqlite3_user_data(context));
    const auto* record = static_cast<const unsigned char*>(sqlite3_value_blob(args[0]));
    if (record == nullptr || sqlite3_value_bytes(args[0]) != key->recordLength) {
        sqlite3_result_error(context, "record of another length", -1);
        return;
    }
    if (!(*key->encode)(record, key->value.data())) {
        sqlite3_result_null(context);
        return;
    }
    sqlite3_result_blob(context, key->value.data(), static_cast<int>(key->value.size()),
                        SQLITE_TRANSIENT);
}

std::string createIndexStatement(const KeySpec& key, std::size_t number) {
    return std::string(key.duplicates ? "CREATE INDEX " : "CREATE UNIQUE INDEX ") +
           keyIndex(number) + " ON records (" + keyColumn(number) + ")";
}

}  // namespace

std::int16_t SqliteTable::addKey(const FileDescription& next, const KeyEncoder& encode) {
    const std::size_t number = description_.keys.size();
    if (inTransaction_ || next.keys.size() != number + 1) return status::invalidOperation;
    const KeySpec& key = next.keys.back();
    NewKey values{&encode, description_.recordLength, std::vector<unsigned char>(key.length, 0)};
    if (sqlite3_create_function_v2(db_, newKeyFunction, 1, SQLITE_UTF8 | SQLITE_DIRECTONLY, &values,
                                   &newKeyValue, nullptr, nullptr, nullptr) != SQLITE_OK) {
        return status::ioError;
    }
    // A null key's column holds NULL for the rows out of its index.
    const std::vector<std::string> statements = {
        "ALTER TABLE records ADD COLUMN " + keyColumn(number) +
            (key.nulls == NullKey::None ? " BLOB NOT NULL DEFAULT x''" : " BLOB"),
        "UPDATE records SET " + keyColumn(number) + " = " + newKeyFunction + "(data)",
        createIndexStatement(key, number),
    };
    const std::int16_t st = changeKeys(next, statements);
    sqlite3_create_function_v2(db_, newKeyFunction, 1, SQLITE_UTF8, nullptr, nullptr, nullptr,
                               nullptr, nullptr);
    return st;
}

std::int16_t SqliteTable::dropKey(std::size_t key, const FileDescription& next) {
    const std::size_t keys = description_.keys.size();
    if (inTransaction_ || key >= keys || next.keys.size() != keys - 1) {
        return status::invalidOperation;
    }
    std::vector<std::string> statements;
    for (std::size_t k = key; k < keys; ++k) statements.push_back("DROP INDEX " + keyIndex(k));
    statements.push_back("ALTER TABLE records DROP COLUMN " + keyColumn(key));
    for (std::size_t k = key + 1; k < keys; ++k) {
        statements.push_back("ALTER TABLE records RENAME COLUMN " + keyColumn(k) + " TO " +
                             keyColumn(k - 1));
        statements.push_back(createIndexStatement(next.keys[k - 1], k - 1));
    }
    return changeKeys(next, statements);
}

std::int16_t SqliteTable::changeKeys(const FileDescription& next,
                                     const std::vector<std::string>& statements) {
    endWalk();
    std::int16_t st = run(begin_);
    if (st != status::ok) return afterWrite(st);
    for (const std::string& sql : statements) {
        const int rc = execute(db_, sql.c_str());
        if (rc != SQLITE_OK) {
            st = statusFromSqlite(rc);
            break;
        }
    }
    if (st == status::ok) {
        const std::string stored = encodeDescription(next);
        Statement write;
        int rc = write.prepare(db_, "UPDATE nubo_file SET description = ?1 WHERE id = 1");
        if (rc == SQLITE_OK) {
            rc = sqlite3_bind_blob(write.get(), 1, stored.data(), static_cast<int>(stored.size()),
                                   SQLITE_TRANSIENT);
        }
        if (rc == SQLITE_OK) rc = sqlite3_step(write.get());
        if (rc != SQLITE_DONE) st = statusFromSqlite(rc);
    }
    if (st == status::ok) st = run(commit_);
    if (st != status::ok) {
        if (sqlite3_get_autocommit(db_) == 0) run(rollback_);
        // The schema as it was: the statements prepared for it stand.
        return afterWrite(st);
    }
    return reload();
}

std::int16_t SqliteTable::reload() {
    endWalk();
    walks_.clear();
    seeks_.clear();
    ranks_.clear();
    nths_.clear();
    distinct_.clear();
    keyOffsets_.clear();
    description_ = FileDescription{};
    countKnown_ = false;
    distinctKnown_ = false;
    for (auto step : {&SqliteTable::readDescription, &SqliteTable::checkSchema,
                      &SqliteTable::prepareStatements}) {
        if (const std::int16_t st = (this->*step)(); st != status::ok) return st;
    }
    return status::ok;
}

}  // namespace engine::sqlite
