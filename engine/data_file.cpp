#include "engine/data_file.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "engine/extended.h"
#include "engine/key_codec.h"
#include "engine/settings.h"
#include "platform/coding.h"

namespace engine {
namespace {

Seek seekFor(GetOp op) {
    switch (op) {
        case GetOp::Equal: return Seek::Equal;
        case GetOp::Next: return Seek::After;
        case GetOp::Previous: return Seek::Before;
        case GetOp::Greater: return Seek::Greater;
        case GetOp::GreaterOrEqual: return Seek::GreaterOrEqual;
        case GetOp::Less: return Seek::Less;
        case GetOp::LessOrEqual: return Seek::LessOrEqual;
        case GetOp::First: return Seek::First;
        case GetOp::Last: return Seek::Last;
    }
    return Seek::First;
}

// The reads that only write the key buffer. A key length of 0 on them is
// taken as "not given" (the whole classic key buffer): callers that step
// through a file pass the length of what their buffer holds, 0 at first.
bool readsNoValue(GetOp op) {
    return op == GetOp::Next || op == GetOp::Previous || op == GetOp::First || op == GetOp::Last;
}

// The magnitude of a signed little-endian field of `n` bytes (2, 4 or 8).
std::uint64_t magnitude(const unsigned char* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    const unsigned bits = static_cast<unsigned>(8 * n);
    if (((v >> (bits - 1)) & 1) == 0) return v;
    const std::uint64_t mask = bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
    return (~v + 1) & mask;
}

bool allZero(const unsigned char* p, std::size_t n) {
    return std::all_of(p, p + n, [](unsigned char c) { return c == 0; });
}

// An autoincrement write that lost its number to another process tries
// again this often with a fresh one.
constexpr int autoIncrementAttempts = 64;

// Before trying again: a pause of random length, growing with the attempts
// (at most 8 ms). Without it two writers fall into step, and the one a round
// trip behind (on a server: the one that waited for the other's commit)
// reads the highest number just before the other takes the next one, again
// and again.
void pauseAfterLostNumber(int attempt) {
    static thread_local std::minstd_rand random(std::random_device{}());
    const int most = std::min(attempt, 8) * 1000;
    std::uniform_int_distribution<int> micros(0, most);
    std::this_thread::sleep_for(std::chrono::microseconds(micros(random)));
}

}  // namespace

ProcessTransaction& processTransaction() {
    static ProcessTransaction t;
    return t;
}

std::int16_t DataFile::open(Storage& storage, const std::string& programPath, OpenMode mode,
                            std::unique_ptr<DataFile>& out) {
    out.reset();
    std::unique_ptr<Table> table;
    if (const std::int16_t st = storage.open(programPath, mode, table); st != status::ok) {
        return st;
    }
    out.reset(new DataFile(std::move(table), mode));
    return status::ok;
}

DataFile::DataFile(std::unique_ptr<Table> table, OpenMode mode)
    : table_(std::move(table)),
      readOnly_(mode == OpenMode::ReadOnly),
      exclusive_(mode == OpenMode::Exclusive) {
    describe();
}

void DataFile::describe() {
    const FileDescription& d = table_->description();
    keyCount_ = d.keys.size();
    recordLength_ = d.recordLength;
    keyOffsets_.clear();
    autoFields_.clear();
    std::size_t offset = 0;
    for (const KeySpec& key : d.keys) {
        keyOffsets_.push_back(offset);
        offset += key.length;
    }
    keyBuffer_.assign(offset, 0);
    for (std::size_t k = 0; k < keyCount_; ++k) {
        for (std::size_t n = 0; n < d.keys[k].segments.size(); ++n) {
            const KeySegment& seg = d.keys[k].segments[n];
            if (seg.type != SegmentType::AutoIncrement) continue;
            auto it = std::find_if(autoFields_.begin(), autoFields_.end(),
                                   [&](const AutoField& f) { return f.position == seg.position; });
            if (it == autoFields_.end()) {
                autoFields_.push_back({seg.position, seg.length, -1, false});
                it = autoFields_.end() - 1;
            }
            if (n == 0 && it->key < 0) {
                it->key = static_cast<int>(k);
                it->descending = seg.descending;
            }
        }
    }
    recordBuffer_.assign(recordLength_, 0);
    statTemplate_ = statAnswer(d, 0);
}

DataFile::~DataFile() {
    unlockAll();
    auto& files = processTransaction().files;
    files.erase(std::remove(files.begin(), files.end(), this), files.end());
    // A table transaction still open is rolled back when the table closes.
}

bool DataFile::keyFits(int keyNumber, std::uint8_t keyLength) const {
    return keyLength >= table_->description().keys[static_cast<std::size_t>(keyNumber)].length;
}

void DataFile::encodeKeys() {
    const FileDescription& d = table_->description();
    for (std::size_t k = 0; k < keyCount_; ++k) {
        encodeRecordKey(d.keys[k], recordBuffer_.data(), keyBuffer_.data() + keyOffsets_[k]);
    }
}

std::int16_t DataFile::highestAutoIncrement(std::size_t field, std::uint64_t& out) {
    const AutoField& f = autoFields_[field];
    out = 0;
    FoundRow row;
    if (f.key >= 0) {
        // Along the key it leads, the highest value is at one end.
        const std::int16_t st =
            table_->seek(static_cast<std::size_t>(f.key), f.descending ? Seek::First : Seek::Last,
                         nullptr, 0, row);
        if (st != status::ok) return st;
        if (row.found) out = magnitude(row.record + f.position, f.length);
        return status::ok;
    }
    // A field that leads no key: every record is looked at.
    RowId from = 0;
    for (Step how = Step::First;; how = Step::Next) {
        if (const std::int16_t st = table_->step(how, from, row); st != status::ok) return st;
        if (!row.found) return status::ok;
        out = std::max(out, magnitude(row.record + f.position, f.length));
        from = row.id;
    }
}

std::int16_t DataFile::assignAutoIncrements(bool& assigned) {
    assigned = false;
    for (std::size_t i = 0; i < autoFields_.size(); ++i) {
        const AutoField& f = autoFields_[i];
        unsigned char* field = recordBuffer_.data() + f.position;
        if (!allZero(field, f.length)) continue;
        std::uint64_t highest = 0;
        if (const std::int16_t st = highestAutoIncrement(i, highest); st != status::ok) return st;
        const std::uint64_t limit = (std::uint64_t{1} << (8 * f.length - 1)) - 1;
        if (highest >= limit) return status::duplicateKey;
        const std::uint64_t next = highest + 1;
        for (std::size_t b = 0; b < f.length; ++b) {
            field[b] = static_cast<unsigned char>(next >> (8 * b));
        }
        assigned = true;
    }
    return status::ok;
}

void DataFile::returnAutoIncrements(unsigned char* record) const {
    for (const AutoField& f : autoFields_) {
        std::copy(recordBuffer_.begin() + f.position, recordBuffer_.begin() + f.position + f.length,
                  record + f.position);
    }
}

std::int16_t DataFile::prepareWrite(const unsigned char* record, bool& retry) {
    std::copy(record, record + recordLength_, recordBuffer_.begin());
    if (const std::int16_t st = assignAutoIncrements(retry); st != status::ok) return st;
    encodeKeys();
    return status::ok;
}

void DataFile::placeOn(int keyNumber, RowId id, const unsigned char* record,
                       const unsigned char* encoded) {
    position_.established = true;
    position_.onRecord = true;
    position_.id = id;
    position_.image.assign(reinterpret_cast<const char*>(record), recordLength_);
    if (keyNumber < 0) {
        position_.logical = false;
        return;
    }
    const KeySpec& key = table_->description().keys[static_cast<std::size_t>(keyNumber)];
    // A record out of the key's index has no place along it to step from.
    position_.logical = !keyIsNull(key, record);
    position_.key = keyNumber;
    position_.encodedKey.assign(reinterpret_cast<const char*>(encoded), key.length);
}

// Takes the record lock a read asked for. A single lock replaces the
// position block's earlier single lock; a multiple lock adds to the others.
std::int16_t DataFile::takeLock(RowId id, LockRequest lock) {
    if (lock.kind == LockKind::None) return status::ok;
    if (lock.kind == LockKind::Single ? !multipleLocks_.empty() : singleLock_ != 0) {
        return status::incompatibleLock;
    }
    if (lock.kind == LockKind::Single && singleLock_ == id) return status::ok;
    if (lock.kind == LockKind::Multiple &&
        std::find(multipleLocks_.begin(), multipleLocks_.end(), id) != multipleLocks_.end()) {
        return status::ok;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(settings().busyMilliseconds);
    while (!table_->lockRow(id)) {
        if (!lock.wait || std::chrono::steady_clock::now() >= deadline) return status::recordLocked;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (lock.kind == LockKind::Single) {
        if (singleLock_ != 0) table_->unlockRow(singleLock_);
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
            table_->unlockRow(singleLock_);
            singleLock_ = 0;
            return status::ok;
        case UnlockWhat::OneMultiple: {
            const auto it = std::find(multipleLocks_.begin(), multipleLocks_.end(),
                                      static_cast<RowId>(address));
            if (it == multipleLocks_.end()) return status::lockError;
            table_->unlockRow(*it);
            multipleLocks_.erase(it);
            return status::ok;
        }
        case UnlockWhat::AllMultiple:
            if (multipleLocks_.empty()) return status::lockError;
            for (const RowId id : multipleLocks_) table_->unlockRow(id);
            multipleLocks_.clear();
            return status::ok;
    }
    return status::lockError;
}

void DataFile::unlockAll() {
    if (singleLock_ != 0) table_->unlockRow(singleLock_);
    singleLock_ = 0;
    for (const RowId id : multipleLocks_) table_->unlockRow(id);
    multipleLocks_.clear();
}

// Hands a row found to the caller and makes it the position: along
// `keyNumber` (with the row's encoded key), or physical only when it is
// negative. The lock asked for is taken first; the record is delivered
// whatever its outcome.
std::int16_t DataFile::deliver(const FoundRow& row, int keyNumber, ReadBuffers& io,
                               LockRequest lock) {
    const std::int16_t locked = takeLock(row.id, lock);
    std::uint32_t copied = 0;
    if (!io.keyOnly) {
        copied = std::min<std::uint32_t>(io.offered, recordLength_);
        std::copy(row.record, row.record + copied, io.data);
        io.returned = copied;
    }
    const unsigned char* encoded = row.key;
    if (keyNumber >= 0) {
        const KeySpec& key = table_->description().keys[static_cast<std::size_t>(keyNumber)];
        extractKeyValue(key, row.record, io.key);
        if (encoded == nullptr) {
            encodeRecordKey(key, row.record, searchBuffer_.data());
            encoded = searchBuffer_.data();
        }
    }
    placeOn(keyNumber, row.id, row.record, encoded);
    if (locked != status::ok) return locked;
    return !io.keyOnly && copied < recordLength_ ? status::dataBufferTooShort : status::ok;
}

std::int16_t DataFile::get(GetOp op, int keyNumber, const unsigned char* keyValue, ReadBuffers& io,
                           LockRequest lock) {
    io.returned = 0;
    if (op == GetOp::Next || op == GetOp::Previous) {
        if (!position_.established || !position_.logical) return status::noCurrentRecord;
        if (keyNumber != position_.key) return status::differentKeyNumber;
    } else if (!isKey(keyNumber)) {
        return status::invalidKeyNumber;
    }
    if (!keyFits(keyNumber, io.keyLength) && !(io.keyLength == 0 && readsNoValue(op))) {
        return status::keyBufferMissing;
    }
    const auto k = static_cast<std::size_t>(keyNumber);
    const KeySpec& key = table_->description().keys[k];
    const unsigned char* value = nullptr;
    RowId from = 0;
    switch (op) {
        case GetOp::Equal:
        case GetOp::Greater:
        case GetOp::GreaterOrEqual:
        case GetOp::Less:
        case GetOp::LessOrEqual:
            encodeKeyValue(key, keyValue, searchBuffer_.data());
            value = searchBuffer_.data();
            break;
        case GetOp::Next:
        case GetOp::Previous:
            std::copy(position_.encodedKey.begin(), position_.encodedKey.end(),
                      searchBuffer_.begin());
            value = searchBuffer_.data();
            from = position_.id;
            break;
        case GetOp::First:
        case GetOp::Last: break;
    }
    FoundRow row;
    if (const std::int16_t st = table_->seek(k, seekFor(op), value, from, row); st != status::ok) {
        return st;
    }
    if (!row.found) return op == GetOp::Equal ? status::keyValueNotFound : status::endOfFile;
    return deliver(row, keyNumber, io, lock);
}

std::int16_t DataFile::step(Step how, ReadBuffers& io, LockRequest lock) {
    io.returned = 0;
    io.keyOnly = false;
    if ((how == Step::Next || how == Step::Previous) && !position_.established) {
        return status::noCurrentRecord;
    }
    FoundRow row;
    if (const std::int16_t st = table_->step(how, position_.id, row); st != status::ok) return st;
    if (!row.found) return status::endOfFile;
    return deliver(row, -1, io, lock);
}

std::int16_t DataFile::rowsAlong(std::size_t k, std::uint64_t& out) {
    out = 0;
    if (table_->description().keys[k].nulls == NullKey::None) {
        std::uint32_t count = 0;
        const std::int16_t st = table_->count(count);
        out = count;
        return st;
    }
    FoundRow last;
    if (const std::int16_t st = table_->seek(k, Seek::Last, nullptr, 0, last); st != status::ok) {
        return st;
    }
    if (!last.found) return status::ok;
    const std::string value(reinterpret_cast<const char*>(last.key),
                            table_->description().keys[k].length);
    const RowId id = last.id;
    if (const std::int16_t st =
            table_->rowsBefore(k, reinterpret_cast<const unsigned char*>(value.data()), id, out);
        st != status::ok) {
        return st;
    }
    ++out;
    return status::ok;
}

std::int16_t DataFile::physicalEnds(RowId& first, RowId& last) {
    first = last = 0;
    FoundRow row;
    if (const std::int16_t st = table_->step(Step::First, 0, row); st != status::ok) return st;
    if (!row.found) return status::ok;
    first = row.id;
    if (const std::int16_t st = table_->step(Step::Last, 0, row); st != status::ok) return st;
    last = row.found ? row.id : first;
    return status::ok;
}

std::int16_t DataFile::getByPercentage(std::uint16_t percentage, int keyNumber, ReadBuffers& io,
                                       LockRequest lock) {
    io.returned = 0;
    io.keyOnly = false;
    if (percentage > maxPercentage) return status::invalidOperation;
    FoundRow row;
    if (keyNumber == physicalPercentage) {
        RowId first = 0, last = 0;
        if (const std::int16_t st = physicalEnds(first, last); st != status::ok) return st;
        if (first == 0) return status::endOfFile;
        // The address that far between the ends, and the first record at or after it.
        const RowId target = first + static_cast<RowId>(static_cast<long double>(last - first) *
                                                        percentage / maxPercentage);
        if (const std::int16_t st = table_->step(Step::Next, target - 1, row); st != status::ok) {
            return st;
        }
        if (!row.found) return status::endOfFile;
        return deliver(row, -1, io, lock);
    }
    if (!isKey(keyNumber)) return status::invalidKeyNumber;
    const auto k = static_cast<std::size_t>(keyNumber);
    std::uint64_t rows = 0;
    if (const std::int16_t st = rowsAlong(k, rows); st != status::ok) return st;
    if (rows == 0) return status::endOfFile;
    const auto n = static_cast<std::uint64_t>(
        (static_cast<long double>(rows - 1) * percentage + maxPercentage / 2) / maxPercentage);
    if (const std::int16_t st = table_->seekNth(k, n, row); st != status::ok) return st;
    if (!row.found) return status::endOfFile;
    return deliver(row, keyNumber, io, lock);
}

std::int16_t DataFile::findPercentage(int keyNumber, const unsigned char* keyValue,
                                      std::uint8_t keyLength, std::uint32_t address,
                                      std::uint16_t& percentage) {
    percentage = 0;
    auto scaled = [](std::uint64_t at, std::uint64_t span) {
        return span == 0
                   ? std::uint16_t{0}
                   : static_cast<std::uint16_t>(std::min<std::uint64_t>(
                         maxPercentage,
                         static_cast<std::uint64_t>(static_cast<long double>(at) * maxPercentage /
                                                    static_cast<long double>(span))));
    };
    if (keyNumber == physicalPercentage) {
        FoundRow row;
        if (address == 0) return status::invalidRecordAddress;
        if (const std::int16_t st = table_->read(address, row); st != status::ok) return st;
        if (!row.found) return status::invalidRecordAddress;
        RowId first = 0, last = 0;
        if (const std::int16_t st = physicalEnds(first, last); st != status::ok) return st;
        percentage = scaled(static_cast<std::uint64_t>(static_cast<RowId>(address) - first),
                            static_cast<std::uint64_t>(last - first));
        return status::ok;
    }
    if (!isKey(keyNumber)) return status::invalidKeyNumber;
    if (!keyFits(keyNumber, keyLength)) return status::keyBufferMissing;
    const auto k = static_cast<std::size_t>(keyNumber);
    encodeKeyValue(table_->description().keys[k], keyValue, searchBuffer_.data());
    FoundRow row;
    if (const std::int16_t st = table_->seek(k, Seek::Equal, searchBuffer_.data(), 0, row);
        st != status::ok) {
        return st;
    }
    if (!row.found) return status::keyValueNotFound;
    const RowId id = row.id;
    std::uint64_t before = 0, rows = 0;
    if (const std::int16_t st = table_->rowsBefore(k, searchBuffer_.data(), id, before);
        st != status::ok) {
        return st;
    }
    if (const std::int16_t st = rowsAlong(k, rows); st != status::ok) return st;
    percentage = scaled(before, rows > 0 ? rows - 1 : 0);
    return status::ok;
}

std::int16_t DataFile::getExtended(bool physical, bool forward, int keyNumber, unsigned char* data,
                                   std::uint32_t offered, std::uint32_t& returned) {
    returned = 0;
    if (!position_.established || (!physical && !position_.logical)) {
        return status::noCurrentRecord;
    }
    if (!physical && keyNumber != position_.key) return status::differentKeyNumber;
    ExtendedDescriptor d;
    if (const std::int16_t st = parseExtendedDescriptor(data, offered, recordLength_, d);
        st != status::ok) {
        return st;
    }
    const auto k = static_cast<std::size_t>(physical ? 0 : position_.key);
    // The last record looked at: where the next step starts.
    RowId at = position_.id;
    std::string atKey = position_.encodedKey;
    std::string atRecord;
    bool looked = false;
    std::string answer(2, '\0');
    std::uint16_t count = 0;
    std::uint32_t rejects = 0;
    std::int16_t result = status::ok;
    bool current = d.fromCurrent && position_.onRecord;
    for (;;) {
        FoundRow row;
        std::int16_t st = status::ok;
        if (current) {
            current = false;
            st = table_->read(at, row);
            if (st == status::ok && !row.found) continue;  // gone: go on from where it was
        } else if (physical) {
            st = table_->step(forward ? Step::Next : Step::Previous, at, row);
        } else {
            std::copy(atKey.begin(), atKey.end(), searchBuffer_.begin());
            st = table_->seek(k, forward ? Seek::After : Seek::Before, searchBuffer_.data(), at,
                              row);
        }
        if (st != status::ok) return st;
        if (!row.found) {
            result = status::endOfFile;
            break;
        }
        looked = true;
        at = row.id;
        atRecord.assign(reinterpret_cast<const char*>(row.record), recordLength_);
        if (!physical) {
            const KeySpec& key = table_->description().keys[k];
            if (row.key != nullptr) {
                atKey.assign(reinterpret_cast<const char*>(row.key), key.length);
            } else {
                atKey.resize(key.length);
                encodeRecordKey(key, row.record, coding::bytes(atKey));
            }
        }
        if (filterMatches(d, row.record)) {
            const std::size_t start = answer.size();
            answer.resize(start + 6 + d.extractedLength);
            unsigned char* p = coding::bytes(answer) + start;
            coding::putU16(p, static_cast<std::uint16_t>(d.extractedLength));
            coding::putU16(p + 2, static_cast<std::uint16_t>(static_cast<std::uint32_t>(at) >> 16));
            coding::putU16(p + 4, static_cast<std::uint16_t>(at & 0xFFFF));
            extractFields(d, row.record, p + 6);
            if (++count == d.records) break;
        } else if (d.maxReject != 0 && ++rejects >= d.maxReject) {
            result = status::rejectCountReached;
            break;
        }
    }
    if (looked) {
        placeOn(physical ? -1 : keyNumber, at, coding::bytes(atRecord), coding::bytes(atKey));
    }
    coding::putU16(coding::bytes(answer), count);
    std::copy(answer.begin(), answer.end(), data);
    returned = static_cast<std::uint32_t>(answer.size());
    return result;
}

std::int16_t DataFile::getPosition(std::uint32_t& address) const {
    if (!position_.onRecord) return status::noCurrentRecord;
    address = static_cast<std::uint32_t>(position_.id);
    return status::ok;
}

std::int16_t DataFile::getDirect(std::uint32_t address, int keyNumber, ReadBuffers& io,
                                 LockRequest lock) {
    io.returned = 0;
    io.keyOnly = false;
    const bool dataOnly = keyCount_ == 0;
    if (!dataOnly && !isKey(keyNumber)) return status::invalidKeyNumber;
    if (!dataOnly && io.keyLength != 0 && !keyFits(keyNumber, io.keyLength)) {
        return status::keyBufferMissing;
    }
    if (address == 0) return status::invalidRecordAddress;
    FoundRow row;
    if (const std::int16_t st = table_->read(address, row); st != status::ok) return st;
    if (!row.found) return status::invalidRecordAddress;
    return deliver(row, dataOnly ? -1 : keyNumber, io, lock);
}

// Opens the table's transaction for the process's transaction, once: it
// holds the file's write lock until the transaction ends.
std::int16_t DataFile::joinTransaction() {
    if (inTransaction_ || !processTransaction().active) return status::ok;
    if (const std::int16_t st = table_->begin(); st != status::ok) return st;
    inTransaction_ = true;
    processTransaction().files.push_back(this);
    return status::ok;
}

std::int16_t DataFile::commit() {
    if (!inTransaction_) return status::ok;
    inTransaction_ = false;
    return table_->commit();
}

void DataFile::rollback() {
    if (!inTransaction_) return;
    inTransaction_ = false;
    table_->rollback();
}

std::int16_t DataFile::unchanged(const unsigned char* stored) const {
    if (position_.image.size() != recordLength_ ||
        !std::equal(position_.image.begin(), position_.image.end(),
                    reinterpret_cast<const char*>(stored))) {
        return status::conflict;
    }
    return status::ok;
}

std::int16_t DataFile::insertExtended(unsigned char* data, std::uint32_t offered, int keyNumber,
                                      unsigned char* keyOut, std::uint8_t keyLength,
                                      std::uint32_t& returned) {
    returned = 0;
    if (readOnly_) return status::accessDenied;
    if (offered < 2) return status::dataBufferTooShort;
    const std::uint16_t count = coding::getU16(data);
    // Every length is checked before anything is stored.
    std::vector<std::pair<std::size_t, std::uint16_t>> records;  // offset, length
    std::size_t at = 2;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (offered - at < 2) return status::dataBufferTooShort;
        const std::uint16_t length = coding::getU16(data + at);
        at += 2;
        if (offered - at < length || length < recordLength_) return status::dataBufferTooShort;
        records.emplace_back(at, length);
        at += length;
    }
    if (2 + std::size_t{4} * count > offered) return status::dataBufferTooShort;
    std::vector<unsigned char> record(recordLength_);
    std::vector<RowId> stored;
    std::int16_t result = status::ok;
    for (const auto& [offset, length] : records) {
        std::copy(data + offset, data + offset + recordLength_, record.begin());
        RowId id = 0;
        result = insert(record.data(), recordLength_, keyNumber, keyOut, keyLength, &id);
        if (result != status::ok) break;
        stored.push_back(id);
    }
    coding::putU16(data, static_cast<std::uint16_t>(stored.size()));
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const auto address = static_cast<std::uint32_t>(stored[i]);
        coding::putU16(data + 2 + 4 * i, static_cast<std::uint16_t>(address >> 16));
        coding::putU16(data + 4 + 4 * i, static_cast<std::uint16_t>(address & 0xFFFF));
    }
    returned = static_cast<std::uint32_t>(2 + 4 * stored.size());
    return result;
}

std::int16_t DataFile::insert(unsigned char* record, std::uint32_t length, int keyNumber,
                              unsigned char* keyOut, std::uint8_t keyLength, RowId* inserted) {
    if (readOnly_) return status::accessDenied;
    const bool dataOnly = keyCount_ == 0;
    const bool keepPosition = keyNumber == noCurrencyChange;
    if (!dataOnly && !keepPosition) {
        if (!isKey(keyNumber)) return status::invalidKeyNumber;
        if (!keyFits(keyNumber, keyLength)) return status::keyBufferMissing;
    }
    if (length < recordLength_) return status::dataBufferTooShort;
    if (const std::int16_t st = joinTransaction(); st != status::ok) return st;
    RowId id = 0;
    std::vector<unsigned char> numbered;
    for (int attempt = 1;; ++attempt) {
        bool retry = false;
        if (const std::int16_t st = prepareWrite(record, retry); st != status::ok) return st;
        const std::int16_t st = table_->insert(recordBuffer_.data(), keyBuffer_.data(), id);
        if (st == status::ok) break;
        // A 5 with the same numbers as the last attempt is a value held.
        if (st != status::duplicateKey || !retry || attempt == autoIncrementAttempts ||
            numbered == recordBuffer_) {
            return st;
        }
        numbered = recordBuffer_;
        pauseAfterLostNumber(attempt);
    }
    returnAutoIncrements(record);
    if (inserted != nullptr) *inserted = id;
    if (keepPosition) return status::ok;
    if (dataOnly) {
        placeOn(-1, id, recordBuffer_.data(), nullptr);
        return status::ok;
    }
    const auto k = static_cast<std::size_t>(keyNumber);
    placeOn(keyNumber, id, recordBuffer_.data(), keyBuffer_.data() + keyOffsets_[k]);
    extractKeyValue(table_->description().keys[k], recordBuffer_.data(), keyOut);
    return status::ok;
}

std::int16_t DataFile::update(unsigned char* record, std::uint32_t length, int keyNumber,
                              unsigned char* keyOut, std::uint8_t keyLength) {
    if (readOnly_) return status::accessDenied;
    const bool dataOnly = keyCount_ == 0;
    const bool keepPosition = keyNumber == noCurrencyChange;
    if (!dataOnly && !keepPosition) {
        if (!isKey(keyNumber)) return status::invalidKeyNumber;
        if (!keyFits(keyNumber, keyLength)) return status::keyBufferMissing;
    }
    if (!position_.onRecord) return status::noCurrentRecord;
    if (length < recordLength_) return status::dataBufferTooShort;
    if (table_->lockedElsewhere(position_.id)) return status::recordLocked;
    if (const std::int16_t st = joinTransaction(); st != status::ok) return st;
    const FileDescription& d = table_->description();
    // The record as stored, not as last read: another process may have
    // changed it since.
    const ReplaceGuard guard = [&](const unsigned char* stored) -> std::int16_t {
        if (const std::int16_t st = unchanged(stored); st != status::ok) return st;
        std::array<unsigned char, maxKeyLength> before{};
        for (std::size_t k = 0; k < keyCount_; ++k) {
            const KeySpec& key = d.keys[k];
            if (key.modifiable) continue;
            encodeRecordKey(key, stored, before.data());
            if (!std::equal(before.begin(), before.begin() + key.length,
                            keyBuffer_.begin() + static_cast<std::ptrdiff_t>(keyOffsets_[k]))) {
                return status::keyNotModifiable;
            }
        }
        return status::ok;
    };
    std::vector<unsigned char> numbered;
    for (int attempt = 1;; ++attempt) {
        bool retry = false;
        if (const std::int16_t st = prepareWrite(record, retry); st != status::ok) return st;
        const std::int16_t st =
            table_->replace(position_.id, recordBuffer_.data(), keyBuffer_.data(), guard);
        if (st == status::ok) break;
        if (st != status::duplicateKey || !retry || attempt == autoIncrementAttempts ||
            numbered == recordBuffer_) {
            return st;
        }
        numbered = recordBuffer_;
        pauseAfterLostNumber(attempt);
    }
    returnAutoIncrements(record);
    // A single lock ends with the update of its record; multiple locks stay.
    if (singleLock_ == position_.id) unlock(UnlockWhat::Single);
    if (keepPosition || dataOnly) {
        // The record written is the one this position block now knows.
        position_.image.assign(reinterpret_cast<const char*>(recordBuffer_.data()), recordLength_);
        if (dataOnly) position_.logical = false;
        return status::ok;
    }
    const auto k = static_cast<std::size_t>(keyNumber);
    placeOn(keyNumber, position_.id, recordBuffer_.data(), keyBuffer_.data() + keyOffsets_[k]);
    extractKeyValue(d.keys[k], recordBuffer_.data(), keyOut);
    return status::ok;
}

std::int16_t DataFile::remove() {
    if (readOnly_) return status::accessDenied;
    if (!position_.onRecord) return status::noCurrentRecord;
    if (table_->lockedElsewhere(position_.id)) return status::recordLocked;
    if (const std::int16_t st = joinTransaction(); st != status::ok) return st;
    const ReplaceGuard guard = [this](const unsigned char* stored) { return unchanged(stored); };
    if (const std::int16_t st = table_->remove(position_.id, guard); st != status::ok) return st;
    position_.onRecord = false;
    // The position block's locks on the record go with it.
    if (singleLock_ == position_.id) unlock(UnlockWhat::Single);
    if (std::find(multipleLocks_.begin(), multipleLocks_.end(), position_.id) !=
        multipleLocks_.end()) {
        unlock(UnlockWhat::OneMultiple, static_cast<std::uint32_t>(position_.id));
    }
    return status::ok;
}

std::int16_t DataFile::stat(unsigned char* out, std::uint32_t offered, std::uint32_t& returned,
                            bool withVersion) {
    returned = 0;
    std::uint32_t count = 0;
    if (const std::int16_t st = table_->count(count); st != status::ok) return st;
    unsigned char* answer = coding::bytes(statTemplate_);
    coding::putU32(answer + filespec::recordCount, count);
    answer[filespec::fileVersion] = withVersion ? fileVersionByte : 0;
    std::size_t offset = filespec::size;
    const FileDescription& d = table_->description();
    for (std::size_t k = 0; k < keyCount_; ++k) {
        // A key without duplicates has as many values as records.
        std::uint32_t distinct = count;
        if (d.keys[k].duplicates || d.keys[k].nulls != NullKey::None) {
            if (const std::int16_t st = table_->distinctValues(k, distinct); st != status::ok) {
                return st;
            }
        }
        for (std::size_t n = 0; n < d.keys[k].segments.size(); ++n) {
            coding::putU32(answer + offset + segspec::distinctValues, distinct);
            offset += segspec::size;
        }
    }
    const std::size_t copied = std::min<std::size_t>(offered, statTemplate_.size());
    std::copy(statTemplate_.begin(), statTemplate_.begin() + static_cast<std::ptrdiff_t>(copied),
              out);
    returned = static_cast<std::uint32_t>(copied);
    return copied < statTemplate_.size() ? status::dataBufferTooShort : status::ok;
}

}  // namespace engine

namespace engine {

std::int16_t DataFile::createIndex(const unsigned char* specs, std::uint32_t length,
                                   int keyNumber) {
    if (!exclusive_) return status::fileLocked;
    if (processTransaction().active) return status::operationNotAllowed;
    const FileDescription& d = table_->description();
    if (d.keys.size() >= maxKeys) return status::invalidNumberOfKeys;
    // The new key's segments: up to the first without the segmented flag.
    std::size_t segments = 0;
    for (;;) {
        if (specs == nullptr || length < (segments + 1) * segspec::size) {
            return status::dataBufferTooShort;
        }
        const unsigned char* seg = specs + segments * segspec::size;
        ++segments;
        if (d.segmentCount() + segments > maxSegments) return status::invalidNumberOfKeys;
        if ((coding::getU16(seg + segspec::flags) & keyflag::segmented) == 0) break;
    }
    // The number asked for (the key number's bias) must be the next one:
    // key numbers here have no gaps.
    if ((keyNumber & keyNumberBias) != 0 && specs[segspec::keyNumber] != d.keys.size()) {
        return status::invalidKeyNumber;
    }
    // The description with the new key after the others, checked as Create
    // checks one; the file's own alternate collating sequences serve it.
    const std::string stored = encodeDescription(d);
    const std::size_t segmentBytes = filespec::size + segspec::size * d.segmentCount();
    std::string bytes = stored.substr(0, segmentBytes);
    bytes.append(reinterpret_cast<const char*>(specs), segments * segspec::size);
    // A key this operation adds is supplemental by its nature: the flag
    // asks for nothing more here, and is not kept.
    for (std::size_t n = 0; n < segments; ++n) {
        auto* seg =
            reinterpret_cast<unsigned char*>(bytes.data()) + segmentBytes + n * segspec::size;
        coding::putU16(seg + segspec::flags,
                       static_cast<std::uint16_t>(coding::getU16(seg + segspec::flags) &
                                                  ~keyflag::supplemental));
    }
    bytes.append(stored, segmentBytes, std::string::npos);
    bytes[filespec::keyCount] = static_cast<char>(d.keys.size() + 1);
    FileDescription next;
    if (const std::int16_t st = parseDescription(
            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), next);
        st != status::ok) {
        return st;
    }
    if (next.keys.size() != d.keys.size() + 1 || next.collations.size() != d.collations.size()) {
        return status::invalidKeyDefinition;
    }
    const KeySpec key = next.keys.back();
    const std::int16_t st =
        table_->addKey(next, [&key](const unsigned char* record, unsigned char* encoded) {
            if (key.nulls != NullKey::None && keyIsNull(key, record)) return false;
            encodeRecordKey(key, record, encoded);
            return true;
        });
    if (st != status::ok) return st;
    describe();
    return status::ok;
}

std::int16_t DataFile::dropIndex(int keyNumber) {
    if (!exclusive_) return status::fileLocked;
    if (processTransaction().active) return status::operationNotAllowed;
    const FileDescription& d = table_->description();
    const bool keepNumbers = (keyNumber & keyNumberBias) != 0;
    const std::size_t k = static_cast<std::size_t>(keyNumber & (keyNumberBias - 1));
    if (k >= d.keys.size()) return status::invalidKeyNumber;
    if (keepNumbers && k + 1 != d.keys.size()) return status::invalidOperation;
    FileDescription next = d;
    next.keys.erase(next.keys.begin() + static_cast<std::ptrdiff_t>(k));
    // Only the collating sequences a remaining segment uses stay, numbered
    // in their order.
    std::vector<int> renumbered(next.collations.size(), -1);
    std::vector<std::string> kept;
    for (KeySpec& key : next.keys) {
        for (KeySegment& seg : key.segments) {
            if (seg.collation < 0) continue;
            int& to = renumbered[static_cast<std::size_t>(seg.collation)];
            if (to < 0) {
                to = static_cast<int>(kept.size());
                kept.push_back(next.collations[static_cast<std::size_t>(seg.collation)]);
            }
            seg.collation = to;
        }
    }
    next.collations = std::move(kept);
    if (const std::int16_t st = table_->dropKey(k, next); st != status::ok) return st;
    describe();
    const int dropped = static_cast<int>(k);
    if (position_.logical && position_.key == dropped) {
        position_.logical = false;
    } else if (position_.logical && position_.key > dropped) {
        --position_.key;
    }
    return status::ok;
}

}  // namespace engine
