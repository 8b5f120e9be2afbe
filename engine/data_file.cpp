#include "engine/data_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>

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

// The reads that only write the key buffer. A key length of 0 on them is
// taken as "not given" (the whole classic key buffer): callers that step
// through a file pass the length of what their buffer holds, 0 at first.
bool readsNoValue(GetOp op) {
    return op == GetOp::Next || op == GetOp::Previous || op == GetOp::First || op == GetOp::Last;
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
    unlockAll();
    gets_.clear();
    distinct_.clear();
    for (Statement& s : steps_) s = Statement();
    for (Statement* s : {&insert_, &update_, &delete_, &readById_, &readCount_, &begin_, &commit_,
                         &rollback_, &readFullById_}) {
        *s = Statement();
    }
    // An open transaction that was not committed ends with the connection.
    auto& files = processTransaction().files;
    files.erase(std::remove(files.begin(), files.end(), this), files.end());
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
        {&readFullById_, "SELECT id, data FROM records WHERE id = ?1"},
        {&steps_[static_cast<std::size_t>(StepOp::First)],
         "SELECT id, data FROM records ORDER BY id LIMIT 1"},
        {&steps_[static_cast<std::size_t>(StepOp::Last)],
         "SELECT id, data FROM records ORDER BY id DESC LIMIT 1"},
        {&steps_[static_cast<std::size_t>(StepOp::Next)],
         "SELECT id, data FROM records WHERE id > ?1 ORDER BY id LIMIT 1"},
        {&steps_[static_cast<std::size_t>(StepOp::Previous)],
         "SELECT id, data FROM records WHERE id < ?1 ORDER BY id DESC LIMIT 1"},
    };
    for (const auto& [stmt, sql] : statements) {
        if (const std::int16_t st = prepare(*stmt, sql); st != status::ok) return st;
    }
    distinct_.resize(keys);
    distinctValues_.assign(keys, 0);
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
    position_.established = true;
    position_.onRecord = true;
    position_.id = id;
    position_.image.assign(reinterpret_cast<const char*>(record), description_.recordLength);
    if (keyNumber < 0) {
        position_.logical = false;
        return;
    }
    const KeySpec& key = description_.keys[static_cast<std::size_t>(keyNumber)];
    position_.logical = true;
    position_.key = keyNumber;
    position_.encodedKey.resize(key.length);
    encodeRecordKey(key, record, coding::bytes(position_.encodedKey));
}

bool DataFile::lockedElsewhere(std::int64_t id) const { return lock_.lockedElsewhere(id); }

// Takes the record lock a read asked for. A single lock replaces the
// position block's earlier single lock; a multiple lock adds to its others.
std::int16_t DataFile::takeLock(std::int64_t id, LockRequest lock) {
    if (lock.kind == LockKind::None) return status::ok;
    if (lock.kind == LockKind::Single ? !multipleLocks_.empty() : singleLock_ != 0) {
        return status::incompatibleLock;
    }
    if (lock.kind == LockKind::Single && singleLock_ == id) return status::ok;
    if (lock.kind == LockKind::Multiple &&
        std::find(multipleLocks_.begin(), multipleLocks_.end(), id) != multipleLocks_.end()) {
        return status::ok;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(settings().busyMilliseconds);
    while (!lock_.lockRecord(id)) {
        if (!lock.wait || std::chrono::steady_clock::now() >= deadline) return status::recordLocked;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (lock.kind == LockKind::Single) {
        if (singleLock_ != 0) lock_.unlockRecord(singleLock_);
        singleLock_ = id;
    } else {
        multipleLocks_.push_back(id);
    }
    return status::ok;
}

std::int16_t DataFile::unlock(UnlockWhat what, std::uint32_t address) {
    switch (what) {
        case UnlockWhat::Single:
            if (singleLock_ == 0) return status::lockError;
            lock_.unlockRecord(singleLock_);
            singleLock_ = 0;
            return status::ok;
        case UnlockWhat::OneMultiple: {
            const auto it = std::find(multipleLocks_.begin(), multipleLocks_.end(),
                                      static_cast<std::int64_t>(address));
            if (it == multipleLocks_.end()) return status::lockError;
            lock_.unlockRecord(*it);
            multipleLocks_.erase(it);
            return status::ok;
        }
        case UnlockWhat::AllMultiple:
            if (multipleLocks_.empty()) return status::lockError;
            for (const std::int64_t id : multipleLocks_) lock_.unlockRecord(id);
            multipleLocks_.clear();
            return status::ok;
    }
    return status::lockError;
}

void DataFile::unlockAll() {
    if (singleLock_ != 0) lock_.unlockRecord(singleLock_);
    singleLock_ = 0;
    for (const std::int64_t id : multipleLocks_) lock_.unlockRecord(id);
    multipleLocks_.clear();
}

// Hands the row a read found (id, data, and for a read by key its key in
// order-preserving form) to the caller and makes it the position.
std::int16_t DataFile::deliver(sqlite3_stmt* stmt, int keyNumber, bool logical, ReadBuffers& io,
                               LockRequest lock) {
    const std::int64_t id = sqlite3_column_int64(stmt, 0);
    const auto* record = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, 1));
    const int recordSize = sqlite3_column_bytes(stmt, 1);
    if (record == nullptr || recordSize != description_.recordLength) return status::ioError;
    const KeySpec* key =
        keyNumber >= 0 ? &description_.keys[static_cast<std::size_t>(keyNumber)] : nullptr;
    if (logical) {
        const auto* encoded = static_cast<const unsigned char*>(sqlite3_column_blob(stmt, 2));
        if (encoded == nullptr || sqlite3_column_bytes(stmt, 2) != key->length) {
            return status::ioError;
        }
    }
    const std::int16_t locked = takeLock(id, lock);
    std::uint32_t copied = 0;
    if (!io.keyOnly) {
        copied = std::min<std::uint32_t>(io.offered, description_.recordLength);
        std::copy(record, record + copied, io.data);
        io.returned = copied;
    }
    if (key != nullptr) extractKeyValue(*key, record, io.key);
    placeOn(logical ? keyNumber : -1, id, record);
    if (locked != status::ok) return locked;
    return !io.keyOnly && copied < description_.recordLength ? status::dataBufferTooShort
                                                             : status::ok;
}

std::int16_t DataFile::get(GetOp op, int keyNumber, const unsigned char* keyValue, ReadBuffers& io,
                           LockRequest lock) {
    io.returned = 0;
    if (op == GetOp::Next || op == GetOp::Previous) {
        if (!position_.established || !position_.logical) return status::noCurrentRecord;
        if (keyNumber != position_.key) return status::differentKeyNumber;
    } else if (keyNumber < 0 || static_cast<std::size_t>(keyNumber) >= description_.keys.size()) {
        return status::invalidKeyNumber;
    }
    const KeySpec& key = description_.keys[static_cast<std::size_t>(keyNumber)];
    if (io.keyLength < key.length && !(io.keyLength == 0 && readsNoValue(op))) {
        return status::keyBufferMissing;
    }
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
    return deliver(stmt, keyNumber, true, io, lock);
}

std::int16_t DataFile::step(StepOp op, ReadBuffers& io, LockRequest lock) {
    io.returned = 0;
    Statement& stmt = steps_[static_cast<std::size_t>(op)];
    ResetOnExit done(stmt.get());
    if (op == StepOp::Next || op == StepOp::Previous) {
        if (!position_.established) return status::noCurrentRecord;
        if (const int rc = sqlite3_bind_int64(stmt.get(), 1, position_.id); rc != SQLITE_OK) {
            return statusFromSqlite(rc);
        }
    }
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) return fromStep(rc, status::endOfFile);
    io.keyOnly = false;
    return deliver(stmt.get(), -1, false, io, lock);
}

std::int16_t DataFile::getPosition(std::uint32_t& address) const {
    if (!position_.onRecord) return status::noCurrentRecord;
    address = static_cast<std::uint32_t>(position_.id);
    return status::ok;
}

std::int16_t DataFile::getDirect(std::uint32_t address, int keyNumber, ReadBuffers& io,
                                 LockRequest lock) {
    io.returned = 0;
    const bool dataOnly = description_.keys.empty();
    if (!dataOnly &&
        (keyNumber < 0 || static_cast<std::size_t>(keyNumber) >= description_.keys.size())) {
        return status::invalidKeyNumber;
    }
    if (!dataOnly && io.keyLength != 0 &&
        io.keyLength < description_.keys[static_cast<std::size_t>(keyNumber)].length) {
        return status::keyBufferMissing;
    }
    if (address == 0) return status::invalidRecordAddress;
    ResetOnExit done(readFullById_.get());
    if (const int rc = sqlite3_bind_int64(readFullById_.get(), 1, address); rc != SQLITE_OK) {
        return statusFromSqlite(rc);
    }
    const int rc = sqlite3_step(readFullById_.get());
    if (rc != SQLITE_ROW) return fromStep(rc, status::invalidRecordAddress);
    io.keyOnly = false;
    if (dataOnly) return deliver(readFullById_.get(), -1, false, io, lock);
    // The key of a record read by its address is taken from the record.
    const std::int64_t id = sqlite3_column_int64(readFullById_.get(), 0);
    const auto* record =
        static_cast<const unsigned char*>(sqlite3_column_blob(readFullById_.get(), 1));
    if (record == nullptr || sqlite3_column_bytes(readFullById_.get(), 1) != description_.recordLength) {
        return status::ioError;
    }
    const std::int16_t locked = takeLock(id, lock);
    const std::uint32_t copied = std::min<std::uint32_t>(io.offered, description_.recordLength);
    std::copy(record, record + copied, io.data);
    io.returned = copied;
    extractKeyValue(description_.keys[static_cast<std::size_t>(keyNumber)], record, io.key);
    placeOn(keyNumber, id, record);
    if (locked != status::ok) return locked;
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

std::int16_t DataFile::run(Statement& stmt) {
    const int rc = sqlite3_step(stmt.get());
    sqlite3_reset(stmt.get());
    return rc == SQLITE_DONE ? status::ok : statusFromSqlite(rc);
}

// Opens the SQLite write transaction of the process's transaction on this
// file, once: it holds the file's write lock until commit or rollback.
std::int16_t DataFile::openTransaction() {
    if (transactionOpen_ || !processTransaction().active) return status::ok;
    if (const std::int16_t st = run(begin_); st != status::ok) return st;
    transactionOpen_ = true;
    processTransaction().files.push_back(this);
    return status::ok;
}

std::int16_t DataFile::commit() {
    if (!transactionOpen_) return status::ok;
    transactionOpen_ = false;
    countKnown_ = false;
    const std::int16_t st = run(commit_);
    if (st != status::ok && sqlite3_get_autocommit(db_) == 0) run(rollback_);
    return st;
}

void DataFile::rollback() {
    if (!transactionOpen_) return;
    transactionOpen_ = false;
    countKnown_ = false;
    if (sqlite3_get_autocommit(db_) == 0) run(rollback_);
}

// Runs a read-then-write in one SQLite transaction: its own, or the
// process's transaction on this file. A failure inside the process's
// transaction leaves that transaction's earlier work in place, since the
// work writes only with its last statement.
std::int16_t DataFile::writeTransaction(std::int16_t (DataFile::*work)()) {
    if (processTransaction().active) {
        if (const std::int16_t st = openTransaction(); st != status::ok) return st;
        return (this->*work)();
    }
    if (const std::int16_t st = run(begin_); st != status::ok) return st;
    std::int16_t st = (this->*work)();
    if (st == status::ok) st = run(commit_);
    if (st != status::ok && sqlite3_get_autocommit(db_) == 0) run(rollback_);
    return st;
}

std::int16_t DataFile::insert(const unsigned char* record, std::uint32_t length, int keyNumber,
                              unsigned char* keyOut, std::uint8_t keyLength) {
    if (readOnly_) return status::accessDenied;
    const bool dataOnly = description_.keys.empty();
    const bool keepPosition = keyNumber == noCurrencyChange;
    if (!dataOnly && !keepPosition &&
        (keyNumber < 0 || static_cast<std::size_t>(keyNumber) >= description_.keys.size())) {
        return status::invalidKeyNumber;
    }
    if (!dataOnly && !keepPosition &&
        keyLength < description_.keys[static_cast<std::size_t>(keyNumber)].length) {
        return status::keyBufferMissing;
    }
    if (length < description_.recordLength) return status::dataBufferTooShort;
    if (const std::int16_t st = openTransaction(); st != status::ok) return st;
    if (const std::int16_t st = bindRecord(insert_.get(), record); st != status::ok) return st;
    ResetOnExit done(insert_.get());
    // One statement in its own transaction; the count trigger runs inside it.
    const int rc = sqlite3_step(insert_.get());
    countKnown_ = false;
    if (rc != SQLITE_DONE) return statusFromSqlite(rc);
    if (keepPosition) return status::ok;
    placeOn(dataOnly ? -1 : keyNumber, sqlite3_last_insert_rowid(db_), recordBuffer_.data());
    if (!dataOnly) {
        extractKeyValue(description_.keys[static_cast<std::size_t>(keyNumber)],
                        recordBuffer_.data(), keyOut);
    }
    return status::ok;
}

// The stored record against the one this position block read: 80 when
// another position block or process changed it meanwhile.
std::int16_t DataFile::checkUnchanged(const unsigned char* stored, int storedSize) const {
    if (stored == nullptr || storedSize != description_.recordLength) return status::ioError;
    if (position_.image.size() != description_.recordLength ||
        !std::equal(position_.image.begin(), position_.image.end(),
                    reinterpret_cast<const char*>(stored))) {
        return status::conflict;
    }
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
        if (const std::int16_t st = checkUnchanged(old, sqlite3_column_bytes(readById_.get(), 0));
            st != status::ok) {
            return st;
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
                              unsigned char* keyOut, std::uint8_t keyLength) {
    if (readOnly_) return status::accessDenied;
    const bool dataOnly = description_.keys.empty();
    const bool keepPosition = keyNumber == noCurrencyChange;
    if (!dataOnly && !keepPosition &&
        (keyNumber < 0 || static_cast<std::size_t>(keyNumber) >= description_.keys.size())) {
        return status::invalidKeyNumber;
    }
    if (!dataOnly && !keepPosition &&
        keyLength < description_.keys[static_cast<std::size_t>(keyNumber)].length) {
        return status::keyBufferMissing;
    }
    if (!position_.onRecord) return status::noCurrentRecord;
    if (length < description_.recordLength) return status::dataBufferTooShort;
    if (lockedElsewhere(position_.id)) return status::recordLocked;
    std::int16_t st = bindRecord(update_.get(), record);
    if (st != status::ok) return st;
    const int idParam = static_cast<int>(description_.keys.size() + 2);
    if (const int rc = sqlite3_bind_int64(update_.get(), idParam, position_.id); rc != SQLITE_OK) {
        return statusFromSqlite(rc);
    }
    st = writeTransaction(&DataFile::updateInTransaction);
    countKnown_ = false;
    if (st != status::ok) return st;
    // A single lock ends with the update of its record; multiple locks stay.
    if (singleLock_ == position_.id) unlock(UnlockWhat::Single);
    // The record written is the one this position block now knows.
    if (keepPosition || dataOnly) {
        position_.image.assign(reinterpret_cast<const char*>(recordBuffer_.data()),
                               description_.recordLength);
        if (!keepPosition) position_.logical = false;
        return status::ok;
    }
    placeOn(keyNumber, position_.id, recordBuffer_.data());
    extractKeyValue(description_.keys[static_cast<std::size_t>(keyNumber)], recordBuffer_.data(),
                    keyOut);
    return status::ok;
}

std::int16_t DataFile::removeInTransaction() {
    {
        ResetOnExit done(readById_.get());
        int rc = sqlite3_bind_int64(readById_.get(), 1, position_.id);
        if (rc != SQLITE_OK) return statusFromSqlite(rc);
        rc = sqlite3_step(readById_.get());
        if (rc != SQLITE_ROW) return fromStep(rc, status::noCurrentRecord);
        if (const std::int16_t st =
                checkUnchanged(static_cast<const unsigned char*>(sqlite3_column_blob(readById_.get(), 0)),
                               sqlite3_column_bytes(readById_.get(), 0));
            st != status::ok) {
            return st;
        }
    }
    ResetOnExit done(delete_.get());
    int rc = sqlite3_bind_int64(delete_.get(), 1, position_.id);
    if (rc == SQLITE_OK) rc = sqlite3_step(delete_.get());
    if (rc != SQLITE_DONE) return statusFromSqlite(rc);
    return sqlite3_changes(db_) == 1 ? status::ok : status::noCurrentRecord;
}

std::int16_t DataFile::remove() {
    if (readOnly_) return status::accessDenied;
    if (!position_.onRecord) return status::noCurrentRecord;
    if (lockedElsewhere(position_.id)) return status::recordLocked;
    const std::int16_t st = writeTransaction(&DataFile::removeInTransaction);
    countKnown_ = false;
    if (st != status::ok) return st;
    position_.onRecord = false;
    // A deleted record's locks of this position block go with it.
    if (singleLock_ == position_.id) unlock(UnlockWhat::Single);
    if (std::find(multipleLocks_.begin(), multipleLocks_.end(), position_.id) !=
        multipleLocks_.end()) {
        unlock(UnlockWhat::OneMultiple, static_cast<std::uint32_t>(position_.id));
    }
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

std::int16_t DataFile::distinctCounts() {
    ChangeProbe::Header now{};
    const bool watched = probe_.snapshot(now);
    if (distinctKnown_ && watched && now == distinctHeader_ && !transactionOpen_) {
        return status::ok;
    }
    for (std::size_t k = 0; k < description_.keys.size(); ++k) {
        if (!description_.keys[k].duplicates) {
            distinctValues_[k] = count_;
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
        distinctValues_[k] = static_cast<std::uint32_t>(std::clamp<std::int64_t>(
            sqlite3_column_int64(distinct_[k].get(), 0), 0,
            std::numeric_limits<std::uint32_t>::max()));
    }
    distinctKnown_ = watched && !transactionOpen_;
    distinctHeader_ = now;
    return status::ok;
}

std::int16_t DataFile::stat(unsigned char* out, std::uint32_t offered, std::uint32_t& returned,
                            bool withVersion) {
    returned = 0;
    std::uint32_t count = 0;
    if (const std::int16_t st = recordCount(count); st != status::ok) return st;
    if (const std::int16_t st = distinctCounts(); st != status::ok) return st;
    unsigned char* answer = coding::bytes(statTemplate_);
    coding::putU32(answer + filespec::recordCount, count);
    answer[filespec::fileVersion] = withVersion ? fileVersionByte : 0;
    std::size_t offset = filespec::size;
    for (std::size_t k = 0; k < description_.keys.size(); ++k) {
        for (std::size_t n = 0; n < description_.keys[k].segments.size(); ++n) {
            coding::putU32(answer + offset + segspec::distinctValues, distinctValues_[k]);
            offset += segspec::size;
        }
    }
    const std::size_t copied = std::min<std::size_t>(offered, statTemplate_.size());
    std::copy(statTemplate_.begin(), statTemplate_.begin() + static_cast<std::ptrdiff_t>(copied),
              out);
    returned = static_cast<std::uint32_t>(copied);
    return copied < statTemplate_.size() ? status::dataBufferTooShort : status::ok;
}

ProcessTransaction& processTransaction() {
    static ProcessTransaction t;
    return t;
}

}  // namespace engine
