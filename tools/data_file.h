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

// Removes every record of `removals` (each found by key), then inserts every
// record of `insertions`, all or nothing: when the record manager refuses
// one, what was done is undone (inserted records removed, removed ones put
// back) and Error names `origin`, the record and the status, and says
// whether the file is as it was. Without transactions in the record
// manager, a process killed in the middle leaves the part done.
void changeAllOrNothing(RecordFile& file, const Description& description,
                        const std::vector<std::string>& removals,
                        const std::vector<std::string>& insertions, const std::string& origin);

// Every record in the order of key `keyNumber`. Throws Error on any status
// other than end of file, or a record whose length differs from the file's.
std::vector<std::string> readAllRecords(RecordFile& file, const Description& description,
                                        int keyNumber = 0);

// The value of `key` in `record`: its segments' bytes, joined.
std::string keyValueOf(const Key& key, const std::string& record);

// Inserts every record; when one is refused, deletes the ones inserted
// before it and throws Error naming `origin`, `where(index)` and the status.
// `where` says where the refused record came from ("line 7", "record 3").
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
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::int16_t s = file.insert(records[i]);
        if (s == status::kOk) continue;
        std::size_t undone = 0;
        for (std::size_t j = i; j-- > 0;)
            if (deleteRecord(file, description, records[j])) ++undone;
        std::string message = origin + ", " + where(i) +
                              ": the record manager refused the record: " + statusText(s) + "; ";
        message += undone == i ? "nothing was written"
                               : std::to_string(i - undone) +
                                     " records inserted before it could not be removed";
        throw Error(message);
    }
}

}  // namespace nubodat
