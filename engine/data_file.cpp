#include "engine/data_file.h"

#include <algorithm>
#include <chrono>
#include <thread>

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
    out.reset(new DataFile(std::move(table), mode == OpenMode::ReadOnly));
    return status::ok;
}

DataFile::DataFile(std::unique_ptr<Table> table, bool readOnly)
    : table_(std::move(table)), readOnly_(readOnly) {
    const FileDescription& d = table_->description();
    keyCount_ = d.keys.size();
    recordLength_ = d.recordLength;
    std::size_t offset = 0;
    for (const KeySpec& key : d.keys) {
        keyOffsets_.push_back(offset);
        offset += key.length;
    }
    keyBuffer_.assign(offset, 0);
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

void DataFile::takeRecord(const unsigned char* record) {
    std::copy(record, record + recordLength_, recordBuffer_.begin());
    const FileDescription& d = table_->description();
    for (std::size_t k = 0; k < keyCount_; ++k) {
        encodeRecordKey(d.keys[k], recordBuffer_.data(), keyBuffer_.data() + keyOffsets_[k]);
    }
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
    position_.logical = true;
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

std::int16_t DataFile::insert(const unsigned char* record, std::uint32_t length, int keyNumber,
                              unsigned char* keyOut, std::uint8_t keyLength) {
    if (readOnly_) return status::accessDenied;
    const bool dataOnly = keyCount_ == 0;
    const bool keepPosition = keyNumber == noCurrencyChange;
    if (!dataOnly && !keepPosition) {
        if (!isKey(keyNumber)) return status::invalidKeyNumber;
        if (!keyFits(keyNumber, keyLength)) return status::keyBufferMissing;
    }
    if (length < recordLength_) return status::dataBufferTooShort;
    if (const std::int16_t st = joinTransaction(); st != status::ok) return st;
    takeRecord(record);
    RowId id = 0;
    if (const std::int16_t st = table_->insert(recordBuffer_.data(), keyBuffer_.data(), id);
        st != status::ok) {
        return st;
    }
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

std::int16_t DataFile::update(const unsigned char* record, std::uint32_t length, int keyNumber,
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
    takeRecord(record);
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
    if (const std::int16_t st =
            table_->replace(position_.id, recordBuffer_.data(), keyBuffer_.data(), guard);
        st != status::ok) {
        return st;
    }
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
        if (d.keys[k].duplicates) {
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
