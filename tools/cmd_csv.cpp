// export and import: records of the three known layouts as CSV.
#include <algorithm>
#include <cctype>

#include "tools/commands.h"
#include "tools/csv.h"
#include "tools/data_file.h"
#include "tools/error.h"
#include "tools/layouts.h"
#include "tools/plain_files.h"

namespace nubodat {
namespace {

const Layout& chooseLayout(const ParsedArgs& p, const std::string& path) {
    if (p.has("layout")) {
        const Layout* l = findLayout(p.option("layout"));
        if (l == nullptr)
            throw UsageError("unknown layout \"" + p.option("layout") +
                             "\" (properties, owners or collections)");
        return *l;
    }
    const Layout* l = layoutForPath(path);
    if (l == nullptr)
        throw Error(path +
                    ": no CSV layout for this file's name; name one with --layout "
                    "properties, owners or collections");
    return *l;
}

void checkLength(const Layout& layout, const Description& d, const std::string& path) {
    if (static_cast<std::size_t>(d.recordLength) < layout.minRecordLength())
        throw Error(path + ": records of " + std::to_string(d.recordLength) +
                    " bytes are too short for the " + layout.name + " layout, which needs " +
                    std::to_string(layout.minRecordLength()));
}

std::vector<std::string> rowOf(const Layout& layout, const std::string& record) {
    std::vector<std::string> row;
    for (const Field& f : layout.fields) row.push_back(renderField(f, record));
    const std::string other = otherBytes(layout, record);
    row.push_back(other.find_first_not_of(' ') == std::string::npos ? "" : toHex(other));
    return row;
}

// Columns padded to their widest value, two blanks apart.
std::string table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> width;
    for (const auto& r : rows)
        for (std::size_t i = 0; i < r.size(); ++i) {
            if (width.size() <= i) width.push_back(0);
            width[i] = std::max(width[i], r[i].size());
        }
    std::string out;
    for (const auto& r : rows) {
        std::string line;
        for (std::size_t i = 0; i < r.size(); ++i) {
            line += r[i];
            if (i + 1 < r.size()) line += std::string(width[i] - r[i].size() + 2, ' ');
        }
        out += line + "\n";
    }
    return out;
}

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// The header must name the layout's columns in order, "other" optional.
std::size_t checkHeader(const Layout& layout, const CsvLine& header, const std::string& origin) {
    const std::vector<std::string> columns = layoutColumns(layout);
    const std::size_t n = header.fields.size();
    bool ok = n == columns.size() || n == columns.size() - 1;
    for (std::size_t i = 0; ok && i < n; ++i) {
        std::string h = header.fields[i];
        h.erase(0, h.find_first_not_of(" \t"));
        h.erase(h.find_last_not_of(" \t") + 1);
        ok = sameName(h, columns[i]);
    }
    if (!ok) {
        std::string expected;
        for (const std::string& c : columns) expected += (expected.empty() ? "" : ",") + c;
        fail(origin, header.number,
             std::string("the header does not match the ") + layout.name + " layout: expected " +
                 expected + " (\"other\" may be left out)");
    }
    return n;
}

std::string recordOf(const Layout& layout, const CsvLine& line, std::size_t columns,
                     int recordLength, const std::string& origin) {
    if (line.fields.size() != columns)
        fail(origin, line.number,
             std::to_string(line.fields.size()) + " fields, but the header has " +
                 std::to_string(columns));
    std::string record(static_cast<std::size_t>(recordLength), ' ');
    for (std::size_t i = 0; i < layout.fields.size(); ++i)
        parseField(layout.fields[i], line.fields[i], record, origin, line.number);
    if (columns > layout.fields.size()) {
        const std::string& text = line.fields.back();
        const std::size_t size = otherBytes(layout, record).size();
        std::string bytes;
        if (!text.empty() && (!fromHex(text, bytes) || bytes.size() != size))
            fail(origin, line.number,
                 "field \"other\": not empty and not the " + std::to_string(2 * size) +
                     " hexadecimal digits of the bytes outside the fields");
        if (!text.empty()) putOtherBytes(layout, bytes, record);
    }
    return record;
}

}  // namespace

void commandExport(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {"layout"}, {"table"}, 1, 2);
    const std::string& path = p.positional[0];
    const Layout& layout = chooseLayout(p, path);
    RecordFile file;
    Description d;
    openWithDescription(file, path, d);
    checkLength(layout, d, path);
    std::vector<std::vector<std::string>> rows = {layoutColumns(layout)};
    for (const std::string& r : readAllRecords(file, d)) rows.push_back(rowOf(layout, r));
    std::string text;
    if (p.has("table")) {
        const bool anyOther = std::any_of(rows.begin() + 1, rows.end(),
                                          [](const auto& r) { return !r.back().empty(); });
        if (!anyOther)
            for (auto& r : rows) r.pop_back();
        text = table(rows);
    } else {
        for (const auto& r : rows) text += formatCsvLine(r);
    }
    if (p.positional.size() == 2 && p.positional[1] != kStandardStream) {
        writePlainFile(p.positional[1], text);
        out << p.positional[1] << ": " << rows.size() - 1 << " records exported\n";
    } else {
        writeStandardOutput(out, text);
    }
}

namespace {

constexpr int kOpenExclusive = -4;

// The records of the CSV file `source` in the layout of `path`.
std::vector<std::string> csvRecords(const ParsedArgs& p, const std::string& path,
                                    const std::string& source, RecordFile& file, Description& d,
                                    int mode, std::vector<long>* lineNumbers) {
    const Layout& layout = chooseLayout(p, path);
    openWithDescription(file, path, d, mode);
    checkLength(layout, d, path);
    const std::vector<CsvLine> lines = parseCsv(readPlainFile(source), source);
    if (lines.empty()) fail(source, 0, "no header line");
    const std::size_t columns = checkHeader(layout, lines[0], source);
    std::vector<std::string> records;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        records.push_back(recordOf(layout, lines[i], columns, d.recordLength, source));
        if (lineNumbers != nullptr) lineNumbers->push_back(lines[i].number);
    }
    return records;
}

// The record of the file whose key 0 equals that of `record`, found by a
// unique key 0; false when there is none.
bool recordWithKeyOf(RecordFile& file, const Description& d, const std::string& record,
                     std::string& found) {
    std::string key = keyValueOf(d.keys[0], record);
    const std::int16_t s = file.getEqual(0, key, found);
    if (s == status::kOk) return true;
    if (s == status::kKeyNotFound) return false;
    throw Error(file.path() + ": reading by key 0 failed: " + statusText(s));
}

void requireUniqueKey0(const Description& d, const std::string& path, const char* what) {
    if (d.keys[0].duplicates())
        throw Error(path + ": key 0 allows duplicates, so a row does not name one record to " +
                    what);
}

}  // namespace

void commandImport(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {"layout"}, {"replace"}, 2, 2);
    const std::string& path = p.positional[0];
    const std::string& source = p.positional[1];
    const bool replace = p.has("replace");
    RecordFile file;
    Description d;
    std::vector<long> numbers;
    const std::vector<std::string> records =
        csvRecords(p, path, source, file, d, replace ? kOpenExclusive : 0, &numbers);
    if (!replace) {
        insertAllOrNothing(file, d, records, source,
                           [&](std::size_t i) { return "line " + std::to_string(numbers[i]); });
        out << path << ": " << records.size() << " records imported\n";
        return;
    }
    // Opened alone: the records replaced are put back if any insert is refused.
    requireUniqueKey0(d, path, "replace");
    std::vector<std::string> replaced;
    for (const std::string& r : records) {
        std::string old;
        if (recordWithKeyOf(file, d, r, old)) replaced.push_back(old);
    }
    changeAllOrNothing(file, d, replaced, records, source);
    out << path << ": " << records.size() << " records imported, " << replaced.size()
        << " of them in the place of a record with the same key 0\n";
}

void commandDelete(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {"layout"}, {}, 2, 2);
    const std::string& path = p.positional[0];
    const std::string& source = p.positional[1];
    RecordFile file;
    Description d;
    std::vector<long> numbers;
    const std::vector<std::string> rows =
        csvRecords(p, path, source, file, d, kOpenExclusive, &numbers);
    requireUniqueKey0(d, path, "delete");
    std::vector<std::string> removals;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::string found;
        if (!recordWithKeyOf(file, d, rows[i], found))
            fail(source, numbers[i], "no record has this row's key 0; nothing was deleted");
        if (std::find(removals.begin(), removals.end(), found) == removals.end())
            removals.push_back(found);
    }
    changeAllOrNothing(file, d, removals, {}, source);
    out << path << ": " << removals.size() << " records deleted\n";
}

}  // namespace nubodat
