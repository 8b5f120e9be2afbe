#include "engine/data_file.h"

#include <algorithm>

#include "engine/key_codec.h"
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

}  // namespace

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

void DataFile::takeRecord(const unsigned char* record) {
    std::copy(record, record + recordLength_, recordBuffer_.begin());
    const FileDescription& d = table_->description();
    for (std::size_t k = 0; k < keyCount_; ++k) {
        encodeRecordKey(d.keys[k], recordBuffer_.data(), keyBuffer_.data() + keyOffsets_[k]);
    }
}

void DataFile::placeOn(int keyNumber, RowId id) {
    const auto k = static_cast<std::size_t>(keyNumber);
    const KeySpec& key = table_->description().keys[k];
    position_.established = true;
    position_.onRecord = true;
    position_.key = keyNumber;
    position_.id = id;
    const unsigned char* encoded = keyBuffer_.data() + keyOffsets_[k];
    position_.encodedKey.assign(reinterpret_cast<const char*>(encoded), key.length);
}

std::int16_t DataFile::get(GetOp op, int keyNumber, const unsigned char* keyValue,
                           unsigned char* data, std::uint32_t offered, std::uint32_t& returned,
                           unsigned char* keyOut) {
    returned = 0;
    if (op == GetOp::Next || op == GetOp::Previous) {
        if (!position_.established) return status::noCurrentRecord;
        keyNumber = position_.key;
    } else if (!isKey(keyNumber)) {
        return status::invalidKeyNumber;
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
        case GetOp::Last:
            break;
    }
    FoundRow row;
    if (const std::int16_t st = table_->seek(k, seekFor(op), value, from, row); st != status::ok) {
        return st;
    }
    if (!row.found) return op == GetOp::Equal ? status::keyValueNotFound : status::endOfFile;
    const std::uint32_t copied = std::min<std::uint32_t>(offered, recordLength_);
    std::copy(row.record, row.record + copied, data);
    returned = copied;
    extractKeyValue(key, row.record, keyOut);
    position_.established = true;
    position_.onRecord = true;
    position_.key = keyNumber;
    position_.id = row.id;
    position_.encodedKey.assign(reinterpret_cast<const char*>(row.key), key.length);
    return copied < recordLength_ ? status::dataBufferTooShort : status::ok;
}

std::int16_t DataFile::insert(const unsigned char* record, std::uint32_t length, int keyNumber,
                              unsigned char* keyOut) {
    if (readOnly_) return status::accessDenied;
    if (!isKey(keyNumber)) return status::invalidKeyNumber;
    if (length < recordLength_) return status::dataBufferTooShort;
    takeRecord(record);
    RowId id = 0;
    if (const std::int16_t st = table_->insert(recordBuffer_.data(), keyBuffer_.data(), id);
        st != status::ok) {
        return st;
    }
    placeOn(keyNumber, id);
    extractKeyValue(table_->description().keys[static_cast<std::size_t>(keyNumber)],
                    recordBuffer_.data(), keyOut);
    return status::ok;
}

std::int16_t DataFile::update(const unsigned char* record, std::uint32_t length, int keyNumber,
                              unsigned char* keyOut) {
    if (readOnly_) return status::accessDenied;
    if (!isKey(keyNumber)) return status::invalidKeyNumber;
    if (!position_.onRecord) return status::noCurrentRecord;
    if (length < recordLength_) return status::dataBufferTooShort;
    takeRecord(record);
    const FileDescription& d = table_->description();
    // The record as stored, not as last read: another process may have
    // changed it since.
    const ReplaceGuard keepFixedKeys = [&](const unsigned char* stored) -> std::int16_t {
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
            table_->replace(position_.id, recordBuffer_.data(), keyBuffer_.data(), keepFixedKeys);
        st != status::ok) {
        return st;
    }
    placeOn(keyNumber, position_.id);
    extractKeyValue(d.keys[static_cast<std::size_t>(keyNumber)], recordBuffer_.data(), keyOut);
    return status::ok;
}

std::int16_t DataFile::remove() {
    if (readOnly_) return status::accessDenied;
    if (!position_.onRecord) return status::noCurrentRecord;
    if (const std::int16_t st = table_->remove(position_.id); st != status::ok) return st;
    position_.onRecord = false;
    return status::ok;
}

std::int16_t DataFile::stat(unsigned char* out, std::uint32_t offered, std::uint32_t& returned) {
    returned = 0;
    std::uint32_t count = 0;
    if (const std::int16_t st = table_->count(count); st != status::ok) return st;
    coding::putU32(coding::bytes(statTemplate_) + filespec::recordCount, count);
    const std::size_t copied = std::min<std::size_t>(offered, statTemplate_.size());
    std::copy(statTemplate_.begin(), statTemplate_.begin() + static_cast<std::ptrdiff_t>(copied),
              out);
    returned = static_cast<std::uint32_t>(copied);
    return copied < statTemplate_.size() ? status::dataBufferTooShort : status::ok;
}

}  // namespace engine
