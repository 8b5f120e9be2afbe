// dict, create and stat: descriptions of data files.
#include <iomanip>
#include <sstream>

#include "tools/commands.h"
#include "tools/description.h"
#include "tools/error.h"
#include "tools/plain_files.h"
#include "tools/record_file.h"

namespace nubodat {
namespace {

constexpr std::size_t kMaxDictionaryBytes = 1 << 20;

bool isDictionaryName(const std::string& path) {
    return path.size() >= 4 && (path.compare(path.size() - 4, 4, ".xdf") == 0 ||
                                path.compare(path.size() - 4, 4, ".XDF") == 0);
}

// A description from a dictionary (".xdf") or its readable source.
Description loadDescription(const std::string& path) {
    const std::string bytes = readPlainFile(path, kMaxDictionaryBytes);
    if (!isDictionaryName(path)) return parseDescriptionText(bytes, path);
    Description d = decodeDictionary(bytes, path);
    validateDescription(d, path);
    return d;
}

std::string hex16(std::uint16_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << std::setw(4) << std::setfill('0') << v;
    return s.str();
}

std::string typeName(const Segment& s) {
    if ((s.flags & spec::kExtendedType) != 0) {
        if (s.extendedType == spec::kTypeInteger) return "integer";
        if (s.extendedType == spec::kTypeUnsigned) return "unsigned";
        if (s.extendedType == spec::kTypeString) return "string (extended)";
        return "extended type " + std::to_string(s.extendedType);
    }
    return (s.flags & spec::kBinary) != 0 ? "binary" : "string";
}

}  // namespace

void commandDict(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {"out"}, {}, 1, 1);
    const std::string& source = p.positional[0];
    const Description d = loadDescription(source);
    if (p.has("out")) {
        writePlainFile(p.option("out"), encodeDictionary(d));
        out << p.option("out") << ": dictionary written, record length " << d.recordLength << ", "
            << d.keys.size() << (d.keys.size() == 1 ? " key\n" : " keys\n");
    } else {
        out << formatDescriptionText(d);
    }
}

void commandCreate(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {"from"}, {}, 1, 1);
    if (!p.has("from")) throw UsageError("create needs --from DICT");
    const std::string& path = p.positional[0];
    const Description d = loadDescription(p.option("from"));
    const std::int16_t s = RecordFile::create(path, d);
    if (s == status::kFileExists)
        throw Error(path + ": the file already exists; nothing was changed");
    if (s != status::kOk) throw Error(path + ": cannot be created: " + statusText(s));
    out << path << ": created, empty, record length " << d.recordLength << "\n";
}

void commandStat(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {}, {}, 1, 1);
    RecordFile file;
    const std::int16_t s = file.open(p.positional[0]);
    if (s != status::kOk) throw Error(p.positional[0] + ": cannot be opened: " + statusText(s));
    Description d;
    const std::int16_t st = file.stat(d);
    if (st != status::kOk) throw Error(p.positional[0] + ": Stat failed: " + statusText(st));
    out << "Record length  " << d.recordLength << "\n"
        << "Page size      " << d.pageSize << "\n"
        << "Records        " << d.recordCount << "\n"
        << "File flags     " << hex16(d.fileFlags) << "\n"
        << "Keys           " << d.keys.size() << "\n";
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        const Key& key = d.keys[k];
        out << "\nKey " << k << ": " << key.length() << " bytes, "
            << (key.duplicates() ? "duplicates allowed" : "unique") << ", "
            << (key.modifiable() ? "modifiable" : "not modifiable") << "\n";
        out << "  Segment  Position  Length  Flags   Type\n";
        for (std::size_t i = 0; i < key.segments.size(); ++i) {
            const Segment& seg = key.segments[i];
            std::uint16_t flags = seg.flags;
            if (i + 1 < key.segments.size()) flags |= spec::kSegmented;
            std::string type = typeName(seg);
            if ((seg.flags & spec::kDescending) != 0) type += ", descending";
            if ((seg.flags & spec::kNoCase) != 0) type += ", case-insensitive";
            out << "  " << std::left << std::setw(9) << (i + 1) << std::setw(10) << seg.position
                << std::setw(8) << seg.length << std::setw(8) << hex16(flags) << type << "\n";
        }
    }
}

}  // namespace nubodat
