#include "engine/data_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/key_codec.h"
#include "engine/schema.h"
#include "engine/settings.h"
#include "engine/status.h"
#include "platform/coding.h"
#include "platform/platform.h"

namespace engine {
namespace {

// Page cache of one open: bounded, so memory stays flat however large the
// file grows.
constexpr const char* cacheKibibytes = "2048";
// Size the write-ahead log is cut back to after a checkpoint.
constexpr const char* logSizeLimit = "4194304";

// The rows of every read: id, record, key in order-preserving form.
std::string getSql(const std::string& column, bool duplicates, GetOp op) {
    const std::string select = "SELECT id, data, " + column + " FROM records";
    const std::string up = " ORDER BY " + column + ", id LIMIT 1";
    const std::string down = " ORDER BY " + column + " DESC, id DESC LIMIT 1";
    switch (op) {
        case GetOp::Equal:
            return select + " WHERE " + column + " = ?1 ORDER BY id LIMIT 1";
        case GetOp::Greater:
            return select + " WHERE " + column + " > ?1" + up;
        case GetOp::GreaterOrEqual:
            return select + " WHERE " + column + " >= ?1" + up;
        case GetOp::Less:
            return select + " WHERE " + column + " < ?1" + down;
        case GetOp::LessOrEqual:
            return select + " WHERE " + column + " <= ?1" + down;
        case GetOp::First:
            return select + up;
        case GetOp::Last:
            return select + down;
        case GetOp::Next:
            // With duplicates: the later records of the same value first,
            // then the following values. SQLite seeks both parts in the
            // index; a row-value comparison on (key, id) would scan.
            if (!duplicates) return select + " WHERE " + column + " > ?1" + up;
            return "SELECT * FROM (" + select + " WHERE " + column +
                   " = ?1 AND id > ?2 ORDER BY id LIMIT 1) UNION ALL SELECT * FROM (" + select +
                   " WHERE " + column + " > ?1" + up + ") LIMIT 1";
        case GetOp::Previous:
            if (!duplicates) return select + " WHERE " + column + " < ?1" + down;
            return "SELECT * FROM (" + select + " WHERE " + column +
                   " = ?1 AND id < ?2 ORDER BY id DESC LIMIT 1) UNION ALL SELECT * FROM (" +
                   select + " WHERE " + column + " < ?1" + down + ") LIMIT 1";
    }
    return {};
}

std::int16_t fromStep(int rc, std::int16_t whenDone) {
    if (rc == SQLITE_DONE) return whenDone;
    return statusFromSqlite(rc);
}

}  // namespace

std::int16_t DataFile::open(const std::string& programPath, OpenMode mode,
                            std::unique_ptr<DataFile>& out) {
    out.reset();
    std::unique_ptr<DataFile> file(new DataFile());
    const std::int16_t st = file->initialise(programPath, mode);
    if (st == status::ok) out = std::move(file);
    return st;
}

DataFile::~DataFile() {
    gets_.clear();
    for (Statement* s :
         {&insert_, &update_, &delete_, &readById_, &readCount_, &begin_, &commit_, &rollback_}) {
        *s = Statement();
    }
    // The connection closes before the open-mode lock goes: see file_lock.h.
    sqlite3_close_v2(db_);
    lock_.release();
}

std::int16_t DataFile::prepare(Statement& stmt, const std::string& sql) {
    const int rc = stmt.prepare(db_, sql);
    if (rc == SQLITE_OK) return status::ok;
    // A statement that does not fit the schema: the file is not one of ours.
    return (rc & 0xff) == SQLITE_ERROR ? status::notADataFile : statusFromSqlite(rc);
}

std::int16_t DataFile::initialise(const std::string& programPath, OpenMode mode) {
    if (programPath.empty() || !platform::pathExists(programPath)) return status::fileNotFound;
    const std::string native = platform::nativePath(programPath);
    if (const std::int16_t st = lock_.acquire(programPath, native, mode == OpenMode::Exclusive);
        st != status::ok) {
        return st;
    }
    readOnly_ = mode == OpenMode::ReadOnly;

    // Never creates: a file that vanished since the check is not made anew.
    const int rc = sqlite3_open_v2(sqlitePath(native).c_str(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        return platform::pathExists(programPath) ? status::ioError : status::fileNotFound;
    }
    for (auto step : {&DataFile::configure, &DataFile::readDescription, &DataFile::checkSchema,
                      &DataFile::prepareStatements}) {
        if (const std::int16_t st = (this->*step)(); st != status::ok) return st;
    }
    // Reads the count, and so maps the wal-index the probe watches.
    std::uint32_t count = 0;
    if (const std::int16_t st = recordCount(count); st != status::ok) return st;
    probe_.attach(db_);
    countKnown_ = false;
    return status::ok;
}

std::int16_t DataFile::configure() {
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, static_cast<int>(settings().busyMilliseconds));
    // The file may come from anywhere: nothing in it may reach beyond it.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    const std::string pragmas = std::string("PRAGMA synchronous = ") +
                                (settings().fullSync ? "FULL" : "NORMAL") +
                                "; PRAGMA cache_size = -" + cacheKibibytes +
                                "; PRAGMA journal_size_limit = " + logSizeLimit;
    const int rc = execute(db_, pragmas.c_str());
    return rc == SQLITE_OK ? status::ok : statusFromSqlite(rc);
}

// The first read of the file, so a file that is no database fails here.
std::int16_t DataFile::readDescription() {
    Statement head;
    if (const std::int16_t st =
            prepare(head, "SELECT format, description FROM nubo_file WHERE id = 1");
        st != status::ok) {
        return st;
    }
    ResetOnExit done(head.get());
    const int rc = sqlite3_step(head.get());
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
    statTemplate_ = statAnswer(description_, 0);
    gets_.resize(description_.keys.size());
    return status::ok;
}

std::int16_t DataFile::prepareStatements() {
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
    };
    for (const auto& [stmt, sql] : statements) {
        if (const std::int16_t st = prepare(*stmt, sql); st != status::ok) return st;
    }
    return status::ok;
}

// Checks that the tables and indexes are the ones the description asks for,
// and reads the ends of the table and of every index: a file cut short or
// damaged there is found at the open.
std::int16_t DataFile::checkSchema() {
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
    std::vector<std::string> probes = {"SELECT max(id), min(id) FROM records"};
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

std::int16_t DataFile::getStatement(int key, GetOp op, sqlite3_stmt*& out) {
    Statement& stmt = gets_[static_cast<std::size_t>(key)][static_cast<std::size_t>(op)];
    if (!stmt.prepared()) {
        const std::int16_t st =
            prepare(stmt, getSql(keyColumn(static_cast<std::size_t>(key)),
                                 description_.keys[static_cast<std::size_t>(key)].duplicates, op));
        if (st != status::ok) return st;
    }
    out = stmt.get();
    return status::ok;
}

void DataFile::placeOn(int keyNumber, std::int64_t id, const unsigned char* record) {
    const KeySpec& key = description_.keys[static_cast<std::size_t>(keyNumber)];
    position_.established = true;
    position_.onRecord = true;
    position_.key = keyNumber;
    position_.id = id;
    position_.encodedKey.resize(key.length);
    encodeRecordKey(key, record, coding::bytes(position_.encodedKey));
}

std::int16_t DataFile::get(GetOp op, int keyNumber, const unsigned char* keyValue,
                           unsigned char* data, std::uint32_t offered, std::uint32_t& returned,
                           unsigned char* keyOut) {
    returned = 0;
    if (op == GetOp::Next || op == GetOp::Previous) {
        if (!position_.established) return status::noCurrentRecord;
        keyNumber = position_.key;
    } else if (keyNumber < 0 || static_cast<std::size_t>(keyNumber) >= description_.keys.size()) {
        return status::invalidKeyNumber;
    }
    const KeySpec& key = description_.keys[static_cast<std::size_t>(keyNumber)];
    sqlite3_stmt* stmt = nullptr;
    if (const std::int16_t st = getStatement(keyNumber, op, stmt); st != status::ok) return st;
    ResetOnExit done(stmt);

    int rc = SQLITE_OK;
    switch (op) {
        case GetOp::Equal:
        case GetOp::Greater:
        case GetOp::GreaterOrEqual:
        case GetOp::Less:
        case GetOp::LessOrEqual:
            encodeKeyValue(key, keyValue, searchBuffer_.data());
            rc = sqlite3_bind_blob(stmt, 1, searchBuffer_.data(), key.length, SQLITE_STATIC);
            break;
        case GetOp::Next:
        case GetOp::Previous:
            std::copy(position_.encodedKey.begin(), position_.encodedKey.end(),
                      searchBuffer_.begin());
            rc = sqlite3_bind_blob(stmt, 1, searchBuffer_.data(), key.length, SQLITE_STATIC);
            if (rc == SQLITE_OK && sqlite3_bind_parameter_count(stmt) >= 2) {
                rc = sqlite3_bind_int64(stmt, 2, position_.id);
            }
            break;
        case GetOp::First:
        case GetOp::Last:
            break;
    }
    if (rc != SQLITE_OK) return statusFromSqlite(rc);

    rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW) {
        return fromStep(rc, op == GetOp::Equal ? status::keyValueNotFound : status::endOfFile);
    }
    const std::int64_t id = sqlite3_column_int64(stmt, 0);
    const auto* record = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, 1));
    const int recordSize = sqlite3_column_bytes(stmt, 1);
    const auto* encoded = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, 2));
    const int encodedSize = sqlite3_column_bytes(stmt, 2);
    if (record == nullptr || recordSize != description_.recordLength || encoded == nullptr ||
        encodedSize != key.length) {
        return status::ioError;
    }
    const std::uint32_t copied = std::min<std::uint32_t>(offered, description_.recordLength);
    std::copy(record, record + copied, data);
    returned = copied;
    extractKeyValue(key, record, keyOut);
    position_.established = true;
    position_.onRecord = true;
    position_.key = keyNumber;
    position_.id = id;
    position_.encodedKey.assign(reinterpret_cast<const char*>(encoded), key.length);
    return copied < description_.recordLength ? status::dataBufferTooShort : status::ok;
}

std::int16_t DataFile::bindRecord(sqlite3_stmt* stmt, const unsigned char* record) {
    std::copy(record, record + description_.recordLength, recordBuffer_.begin());
    int rc =
        sqlite3_bind_blob(stmt, 1, recordBuffer_.data(), description_.recordLength, SQLITE_STATIC);
    for (std::size_t k = 0; k < description_.keys.size() && rc == SQLITE_OK; ++k) {
        const KeySpec& key = description_.keys[k];
        unsigned char* encoded = keyBuffer_.data() + keyOffsets_[k];
        encodeRecordKey(key, recordBuffer_.data(), encoded);
        rc = sqlite3_bind_blob(stmt, static_cast<int>(k + 2), encoded, key.length, SQLITE_STATIC);
    }
    return rc == SQLITE_OK ? status::ok : statusFromSqlite(rc);
}

std::int16_t DataFile::insert(const unsigned char* record, std::uint32_t length, int keyNumber,
                              unsigned char* keyOut) {
    if (readOnly_) return status::accessDenied;
    if (keyNumber < 0 || static_cast<std::size_t>(keyNumber) >= description_.keys.size()) {
        return status::invalidKeyNumber;
    }
    if (length < description_.recordLength) return status::dataBufferTooShort;
    if (const std::int16_t st = bindRecord(insert_.get(), record); st != status::ok) return st;
    ResetOnExit done(insert_.get());
    // One statement in its own transaction; the count trigger runs inside it.
    const int rc = sqlite3_step(insert_.get());
    countKnown_ = false;
    if (rc != SQLITE_DONE) return statusFromSqlite(rc);
    placeOn(keyNumber, sqlite3_last_insert_rowid(db_), recordBuffer_.data());
    extractKeyValue(description_.keys[static_cast<std::size_t>(keyNumber)], recordBuffer_.data(),
                    keyOut);
    return status::ok;
}

std::int16_t DataFile::updateInTransaction() {
    {
        ResetOnExit done(readById_.get());
        int rc = sqlite3_bind_int64(readById_.get(), 1, position_.id);
        if (rc != SQLITE_OK) return statusFromSqlite(rc);
        rc = sqlite3_step(readById_.get());
        if (rc != SQLITE_ROW) return fromStep(rc, status::noCurrentRecord);
        const auto* old =
            static_cast<const unsigned char*>(sqlite3_column_blob(readById_.get(), 0));
        if (old == nullptr ||
            sqlite3_column_bytes(readById_.get(), 0) != description_.recordLength) {
            return status::ioError;
        }
        std::array<unsigned char, maxKeyLength> before{};
        for (std::size_t k = 0; k < description_.keys.size(); ++k) {
            const KeySpec& key = description_.keys[k];
            if (key.modifiable) continue;
            encodeRecordKey(key, old, before.data());
            if (!std::equal(before.begin(), before.begin() + key.length,
                            keyBuffer_.begin() + static_cast<std::ptrdiff_t>(keyOffsets_[k]))) {
                return status::keyNotModifiable;
            }
        }
    }
    ResetOnExit done(update_.get());
    const int rc = sqlite3_step(update_.get());
    if (rc != SQLITE_DONE) return statusFromSqlite(rc);
    return sqlite3_changes(db_) == 1 ? status::ok : status::noCurrentRecord;
}

std::int16_t DataFile::update(const unsigned char* record, std::uint32_t length, int keyNumber,
                              unsigned char* keyOut) {
    if (readOnly_) return status::accessDenied;
    if (keyNumber < 0 || static_cast<std::size_t>(keyNumber) >= description_.keys.size()) {
        return status::invalidKeyNumber;
    }
    if (!position_.onRecord) return status::noCurrentRecord;
    if (length < description_.recordLength) return status::dataBufferTooShort;
    std::int16_t st = bindRecord(update_.get(), record);
    if (st != status::ok) return st;
    const int idParam = static_cast<int>(description_.keys.size() + 2);
    if (const int rc = sqlite3_bind_int64(update_.get(), idParam, position_.id); rc != SQLITE_OK) {
        return statusFromSqlite(rc);
    }
    int rc = sqlite3_step(begin_.get());
    sqlite3_reset(begin_.get());
    if (rc != SQLITE_DONE) return statusFromSqlite(rc);
    st = updateInTransaction();
    if (st == status::ok) {
        rc = sqlite3_step(commit_.get());
        sqlite3_reset(commit_.get());
        if (rc != SQLITE_DONE) st = statusFromSqlite(rc);
    }
    if (st != status::ok) {
        if (sqlite3_get_autocommit(db_) == 0) {
            sqlite3_step(rollback_.get());
            sqlite3_reset(rollback_.get());
        }
        return st;
    }
    countKnown_ = false;
    placeOn(keyNumber, position_.id, recordBuffer_.data());
    extractKeyValue(description_.keys[static_cast<std::size_t>(keyNumber)], recordBuffer_.data(),
                    keyOut);
    return status::ok;
}

std::int16_t DataFile::remove() {
    if (readOnly_) return status::accessDenied;
    if (!position_.onRecord) return status::noCurrentRecord;
    ResetOnExit done(delete_.get());
    int rc = sqlite3_bind_int64(delete_.get(), 1, position_.id);
    if (rc == SQLITE_OK) rc = sqlite3_step(delete_.get());
    countKnown_ = false;
    if (rc != SQLITE_DONE) return statusFromSqlite(rc);
    if (sqlite3_changes(db_) != 1) return status::noCurrentRecord;
    position_.onRecord = false;
    return status::ok;
}

std::int16_t DataFile::recordCount(std::uint32_t& count) {
    ChangeProbe::Header now{};
    const bool watched = probe_.snapshot(now);
    if (countKnown_ && watched && now == countHeader_) {
        count = count_;
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
    count = count_;
    return status::ok;
}

std::int16_t DataFile::stat(unsigned char* out, std::uint32_t offered, std::uint32_t& returned) {
    returned = 0;
    std::uint32_t count = 0;
    if (const std::int16_t st = recordCount(count); st != status::ok) return st;
    coding::putU32(coding::bytes(statTemplate_) + filespec::recordCount, count);
    const std::size_t copied = std::min<std::size_t>(offered, statTemplate_.size());
    std::copy(statTemplate_.begin(), statTemplate_.begin() + static_cast<std::ptrdiff_t>(copied),
              out);
    returned = static_cast<std::uint32_t>(copied);
    return copied < statTemplate_.size() ? status::dataBufferTooShort : status::ok;
}

}  // namespace engine
