#include "tools/data_file.h"

#include "tools/error.h"

namespace nubodat {

void openWithDescription(RecordFile& file, const std::string& path, Description& description,
                         int mode) {
    std::int16_t s = file.open(path, mode);
    if (s != status::kOk) throw Error(path + ": cannot be opened: " + statusText(s));
    s = file.stat(description);
    if (s != status::kOk) throw Error(path + ": Stat failed: " + statusText(s));
    if (description.keys.empty())
        throw Error(path + ": the file has no key to read its records by");
}

std::vector<std::string> readAllRecords(RecordFile& file, const Description& description,
                                        int keyNumber) {
    std::vector<std::string> records;
    std::string record, key;
    std::uint16_t operation = op::kGetFirst;
    for (;;) {
        const std::int16_t s = file.get(operation, keyNumber, record, key);
        if (s == status::kEndOfFile) break;
        if (s != status::kOk)
            throw Error(file.path() + ": reading record " + std::to_string(records.size() + 1) +
                        " by key " + std::to_string(keyNumber) + " failed: " + statusText(s));
        if (static_cast<int>(record.size()) != description.recordLength)
            throw Error(file.path() + ": record " + std::to_string(records.size() + 1) + " is " +
                        std::to_string(record.size()) + " bytes long, the file's records " +
                        std::to_string(description.recordLength));
        records.push_back(record);
        operation = op::kGetNext;
    }
    return records;
}

std::string keyValueOf(const Key& key, const std::string& record) {
    std::string value;
    for (const Segment& s : key.segments) {
        const std::size_t from = static_cast<std::size_t>(s.position - 1);
        if (from < record.size()) value += record.substr(from, static_cast<std::size_t>(s.length));
    }
    return value;
}

bool deleteRecord(RecordFile& file, const Description& description, const std::string& record) {
    // A unique key finds the record at once; otherwise walk the equal keys.
    int k = 0;
    for (std::size_t i = 0; i < description.keys.size(); ++i) {
        if (!description.keys[i].duplicates()) {
            k = static_cast<int>(i);
            break;
        }
    }
    const Key& key = description.keys[static_cast<std::size_t>(k)];
    const std::string value = keyValueOf(key, record);
    std::string buffer = value, found, foundKey;
    std::int16_t s = file.getEqual(k, buffer, found);
    while (s == status::kOk) {
        if (found == record) return file.remove() == status::kOk;
        s = file.get(op::kGetNext, k, found, foundKey);
        if (s == status::kOk && keyValueOf(key, found) != value) return false;
    }
    return false;
}

FileTransaction::FileTransaction(RecordFile& file, const std::string& origin)
    : file_(file), origin_(origin) {
    const std::int16_t s = file_.begin();
    if (s != status::kOk) {
        open_ = false;
        throw Error(origin_ + ": the record manager cannot begin a transaction: " + statusText(s) +
                    "; nothing was written");
    }
}

FileTransaction::~FileTransaction() {
    if (open_) file_.abort();
}

void FileTransaction::commit() {
    open_ = false;
    const std::int16_t s = file_.end();
    if (s != status::kOk)
        throw Error(origin_ + ": the record manager could not end the transaction: " +
                    statusText(s) + "; nothing was written");
}

void changeAllOrNothing(RecordFile& file, const Description& description,
                        const std::vector<std::string>& removals,
                        const std::vector<std::string>& insertions, const std::string& origin) {
    FileTransaction transaction(file, origin);
    for (std::size_t i = 0; i < removals.size(); ++i)
        if (!deleteRecord(file, description, removals[i]))
            throw Error(origin + ": record " + std::to_string(i + 1) +
                        " to remove could not be removed; nothing was changed");
    for (std::size_t i = 0; i < insertions.size(); ++i) {
        const std::int16_t s = file.insert(insertions[i]);
        if (s != status::kOk)
            throw Error(origin + ": record " + std::to_string(i + 1) +
                        " to insert was refused: " + statusText(s) + "; nothing was changed");
    }
    transaction.commit();
}

}  // namespace nubodat
