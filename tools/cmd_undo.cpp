// undo: removes the collections of one issue (date and issue number),
// optionally within a range of owners, all or nothing.
//
// The removals are not noted in "db.log": that log holds one line per
// insertion made by the issue run, which the suite reads as such, and its
// line carries no identity, so a removal line would tell nothing of what was
// removed. The command lists every collection it removes instead.
#include <cstdio>
#include <iostream>

#include "app/issue_run.h"
#include "app/records.h"
#include "packed/packed.h"
#include "platform/coding.h"
#include "tools/commands.h"
#include "tools/data_file.h"
#include "tools/error.h"
#include "tools/plain_files.h"
#include "tools/work_file.h"

namespace nubodat {
namespace {

constexpr int kOpenExclusive = -4;

std::string packed4(int a, int b) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d%04d", a, b);
    return packDigits(digits);
}

std::string unpackedDate(const std::string& packed) {
    if (packed == std::string(4, '\x80')) return "(none)";
    const std::string d = unpackDigits(packed);
    return d.substr(6, 2) + "/" + d.substr(4, 2) + "/" + d.substr(0, 4);
}

bool confirmed(std::ostream& out, std::size_t count) {
    out << "Remove these " << count << " collections? Type yes to remove them: ";
    out.flush();
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        out << "\n";
        return false;
    }
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    return answer == "yes" || answer == "y" || answer == "YES";
}

}  // namespace

void commandUndo(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {"date", "issue", "from", "to", "work"}, {"yes"}, 1, 1);
    const std::string& path = p.positional[0];
    std::string date, number, from = packed4(0, 0), to = packed4(9999, 9999);
    if (p.has("work")) {
        if (p.has("date") || p.has("issue") || p.has("from") || p.has("to"))
            throw UsageError("--work gives the date, issue number and range: leave out the others");
        // The work file read as the issue run reads it, so the same bytes are found.
        createRunTables();
        readRunParameters(p.option("work"));
        if (issueDateUsable() == 0)
            fail(p.option("work"), 1, "the issue date cannot be issued: the run made nothing");
        date = runParameters.issueDate;
        number = runParameters.issueNumber.empty() ? std::string(" ")
                                                   : runParameters.issueNumber.substr(0, 1);
        from = runParameters.ownerFrom;
        to = runParameters.ownerTo;
    } else {
        if (!p.has("date") || !p.has("issue"))
            throw UsageError("--date and --issue (or --work) are required");
        int day = 0, month = 0, year = 0;
        parseIssueDate(p.option("date"), "date", day, month, year);
        char digits[16];
        std::snprintf(digits, sizeof digits, "%04d%02d%02d", year, month, day);
        date = packDigits(digits);
        std::snprintf(digits, sizeof digits, "%02d", parseIssueNumber(p.option("issue"), "issue"));
        number = packDigits(digits);
        int prop = 0, owner = 0;
        if (p.has("from")) {
            parsePropertyOwner(p.option("from"), "from", prop, owner);
            from = packed4(prop, owner);
        }
        if (p.has("to")) {
            parsePropertyOwner(p.option("to"), "to", prop, owner);
            to = packed4(prop, owner);
        }
    }

    // Alone on the file while removing: no other program sees the half state
    // or writes meanwhile.
    RecordFile file;
    Description d;
    openWithDescription(file, path, d, kOpenExclusive);
    if (d.recordLength != kCobramHRecordSize)
        throw Error(path + ": records of " + std::to_string(d.recordLength) +
                    " bytes: not a collections file (22 bytes)");
    std::vector<std::string> removals;
    for (const std::string& r : readAllRecords(file, d)) {
        const std::string key = r.substr(cobram::ownerKey, 4);
        if (r.compare(cobram::issueDate, 4, date) == 0 &&
            r.compare(cobram::issueNumber, 1, number) == 0 && key >= from && key <= to)
            removals.push_back(r);
    }
    const std::string issue = number == " " ? "blank" : unpackDigits(number);
    const std::string what = "issue of " + unpackedDate(date) + ", issue number " + issue;
    if (removals.empty()) {
        out << path << ": no collection of the " << what << " in the range; nothing removed\n";
        return;
    }
    std::string list = "Collections of the " + what + ":\nproperty  owner  total  flagged  state\n";
    for (const std::string& r : removals) {
        const auto* b = reinterpret_cast<const unsigned char*>(r.data());
        char line[128];
        std::snprintf(line, sizeof line, "%-8d  %-5d  %-5d  %-7d  %c\n",
                      static_cast<int>(leadingNumber(unpackDigits(r.substr(0, 2)))),
                      static_cast<int>(leadingNumber(unpackDigits(r.substr(2, 2)))),
                      coding::getI32(b + cobram::totalAmount),
                      coding::getI32(b + cobram::flaggedAmount), r[cobram::state]);
        list += line;
    }
    writeStandardOutput(out, list);
    if (!p.has("yes") && !confirmed(out, removals.size())) {
        out << "Nothing removed.\n";
        return;
    }
    changeAllOrNothing(file, d, removals, {}, path);
    out << path << ": " << removals.size() << " collections of the " << what << " removed\n";
}

}  // namespace nubodat
