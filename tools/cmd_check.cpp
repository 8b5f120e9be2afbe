// check: reads the file along every key, both ways, and confirms that every
// key holds the same records as the Stat count says, that each index entry
// agrees with its record, and that unique keys find each record by itself;
// then runs the storage's own check of the file (every page and index).
#include <algorithm>

#include "engine/front.h"
#include "tools/commands.h"
#include "tools/data_file.h"
#include "tools/error.h"

namespace nubodat {
namespace {

struct Walk {
    std::vector<std::string> records;
    std::vector<std::string> problems;
};

Walk walk(RecordFile& file, const Description& d, int k, bool forward) {
    Walk w;
    const Key& key = d.keys[static_cast<std::size_t>(k)];
    const std::size_t keyLength = static_cast<std::size_t>(key.length());
    const std::string direction = forward ? "forward" : "backward";
    std::string record, keyValue, previous;
    std::uint16_t operation = forward ? op::kGetFirst : op::kGetLast;
    for (;;) {
        const std::int16_t s = file.get(operation, k, record, keyValue);
        if (s == status::kEndOfFile) break;
        const std::string where = "key " + std::to_string(k) + " " + direction + ", record " +
                                  std::to_string(w.records.size() + 1);
        if (s != status::kOk) {
            w.problems.push_back(where + ": " + statusText(s));
            break;
        }
        if (static_cast<int>(record.size()) != d.recordLength)
            w.problems.push_back(where + ": " + std::to_string(record.size()) + " bytes, not " +
                                 std::to_string(d.recordLength));
        const std::string value = keyValueOf(key, record);
        if (keyValue.compare(0, keyLength, value) != 0)
            w.problems.push_back(where + ": the index entry differs from the record's key");
        if (!key.duplicates() && !w.records.empty() && value == previous)
            w.problems.push_back(where + ": a unique key value appears twice");
        previous = value;
        w.records.push_back(record);
        operation = forward ? op::kGetNext : op::kGetPrevious;
    }
    return w;
}

}  // namespace

void commandCheck(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {}, {}, 1, 1);
    const std::string& path = p.positional[0];
    RecordFile file;
    Description d;
    openWithDescription(file, path, d);
    std::vector<std::string> problems;
    std::vector<std::string> reference;
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        const int key = static_cast<int>(k);
        Walk forward = walk(file, d, key, true);
        Walk backward = walk(file, d, key, false);
        problems.insert(problems.end(), forward.problems.begin(), forward.problems.end());
        problems.insert(problems.end(), backward.problems.begin(), backward.problems.end());
        const std::string name = "key " + std::to_string(k);
        if (static_cast<std::int64_t>(forward.records.size()) != d.recordCount)
            problems.push_back(name + ": " + std::to_string(forward.records.size()) +
                               " records forward, Stat counts " + std::to_string(d.recordCount));
        std::reverse(backward.records.begin(), backward.records.end());
        if (backward.records != forward.records)
            problems.push_back(name +
                               ": the backward walk does not give the forward records reversed");
        std::sort(forward.records.begin(), forward.records.end());
        if (k == 0) {
            reference = forward.records;
        } else if (forward.records != reference) {
            problems.push_back(name + ": does not hold the same records as key 0");
        }
        if (!d.keys[k].duplicates()) {
            for (const std::string& r : forward.records) {
                std::string value = keyValueOf(d.keys[k], r), found;
                if (file.getEqual(key, value, found) != status::kOk || found != r) {
                    problems.push_back(name + ": a record is not found by its own key value");
                    break;
                }
            }
        }
    }
    std::vector<std::string> findings;
    const std::int16_t checked = engine::currentStorage().verify(path, findings);
    if (checked != status::kOk) problems.push_back("storage check: " + statusText(checked));
    for (const std::string& f : findings) problems.push_back("storage check: " + f);
    if (!problems.empty()) {
        std::string message = path + ": NOT consistent:";
        for (const std::string& s : problems) message += "\n  " + s;
        throw Error(message);
    }
    out << path << ": consistent: " << d.recordCount << " records; " << d.keys.size()
        << (d.keys.size() == 1 ? " key" : " keys")
        << " read forward and backward, every index entry matching its record; the storage's "
           "own check finds nothing\n";
}

}  // namespace nubodat
