// What the commands do with a data file, on top of RecordFile: open it with
// its description, read every record in key order, and insert a batch of
// records all or nothing.
#pragma once

#include <string>
#include <vector>

#include "tools/description.h"
#include "tools/error.h"
#include "tools/record_file.h"

namespace nubodat {

// Opens `path` and reads its description; throws Error on a failed Open or
// Stat, or when the file has no key to read it by.
void openWithDescription(RecordFile& file, const std::string& path, Description& description,
                         int mode = 0);

// A transaction of the record manager on `file` for the life of the
// object: begun by the constructor (Error naming `origin` when it cannot
// be), ended by commit(), and aborted when the object goes without one.
class FileTransaction {
public:
    FileTransaction(RecordFile& file, const std::string& origin);
    ~FileTransaction();
    FileTransaction(const FileTransaction&) = delete;
    FileTransaction& operator=(const FileTransaction&) = delete;

    // Ends the transaction; Error when the record manager cannot (and then
    // nothing of it was written).
    void commit();

private:
    RecordFile& file_;
    std::string origin_;
    bool open_ = true;
};

// Removes every record of `removals` (each found by key), then inserts every
// record of `insertions`, all or nothing, in one transaction of the record
// manager: other processes see every change at once or none, also when the
// process is killed in the middle. When the record manager refuses one,
// nothing is written and Error names `origin`, the record and the status.
void changeAllOrNothing(RecordFile& file, const Description& description,
                        const std::vector<std::string>& removals,
                        const std::vector<std::string>& insertions, const std::string& origin);

// Every record in the order of key `keyNumber`. Throws Error on any status
// other than end of file, or a record whose length differs from the file's.
std::vector<std::string> readAllRecords(RecordFile& file, const Description& description,
                                        int keyNumber = 0);

// The value of `key` in `record`: its segments' bytes, joined.
std::string keyValueOf(const Key& key, const std::string& record);

// Inserts every record in one transaction of the record manager, all or
// nothing as changeAllOrNothing; when one is refused, throws Error naming
// `origin`, `where(index)` and the status, and nothing is written. `where`
// says where the refused record came from ("line 7", "record 3").
template <typename Where>
void insertAllOrNothing(RecordFile& file, const Description& description,
                        const std::vector<std::string>& records, const std::string& origin,
                        Where where);

// Deletes one record equal to `record`, found by key; false when none is.
bool deleteRecord(RecordFile& file, const Description& description, const std::string& record);

template <typename Where>
void insertAllOrNothing(RecordFile& file, const Description& description,
                        const std::vector<std::string>& records, const std::string& origin,
                        Where where) {
    (void)description;
    FileTransaction transaction(file, origin);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::int16_t s = file.insert(records[i]);
        if (s == status::kOk) continue;
        throw Error(origin + ", " + where(i) + ": the record manager refused the record: " +
                    statusText(s) + "; nothing was written");
    }
    transaction.commit();
}

}  // namespace nubodat
