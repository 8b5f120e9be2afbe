// save and load: records to and from the sequential layout.
#include "tools/commands.h"
#include "tools/data_file.h"
#include "tools/error.h"
#include "tools/plain_files.h"
#include "tools/sequential.h"

namespace nubodat {

void commandSave(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {}, {}, 1, 2);
    RecordFile file;
    Description d;
    openWithDescription(file, p.positional[0], d);
    std::string bytes;
    const std::vector<std::string> records = readAllRecords(file, d);
    for (const std::string& r : records) appendSequentialRecord(bytes, r);
    bytes += kSequentialEnd;
    if (p.positional.size() == 2) {
        writePlainFile(p.positional[1], bytes);
        out << p.positional[1] << ": " << records.size() << " records saved\n";
    } else {
        out << bytes;
    }
}

void commandLoad(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {}, {}, 2, 2);
    RecordFile file;
    Description d;
    openWithDescription(file, p.positional[0], d);
    const std::string& source = p.positional[1];
    const std::vector<std::string> records = parseSequential(readPlainFile(source), d.recordLength, source);
    insertAllOrNothing(file, d, records, source,
                       [](std::size_t i) { return "record " + std::to_string(i + 1); });
    out << p.positional[0] << ": " << records.size() << " records loaded\n";
}

}  // namespace nubodat
