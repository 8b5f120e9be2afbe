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
    if (p.positional.size() == 2 && p.positional[1] != kStandardStream) {
        writePlainFile(p.positional[1], bytes);
        out << p.positional[1] << ": " << records.size() << " records saved\n";
    } else {
        writeStandardOutput(out, bytes);
    }
}

void commandLoad(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {}, {"no-end-mark"}, 2, 2);
    RecordFile file;
    Description d;
    openWithDescription(file, p.positional[0], d);
    const std::string& source = p.positional[1];
    const std::string bytes = readPlainFile(source);
    const std::vector<std::string> records = parseSequential(bytes, d.recordLength, source);
    // A save always ends with the end mark: without it the file may have
    // been cut short at a record boundary, which no record shows.
    if ((bytes.empty() || bytes.back() != kSequentialEnd) && !p.has("no-end-mark"))
        fail(source, 0,
             "the end mark (Ctrl-Z) is missing after record " + std::to_string(records.size()) +
                 ": the file may be cut short; nothing was loaded (--no-end-mark loads it as it "
                 "is)");
    insertAllOrNothing(file, d, records, source,
                       [](std::size_t i) { return "record " + std::to_string(i + 1); });
    out << p.positional[0] << ": " << records.size() << " records loaded\n";
}

}  // namespace nubodat
