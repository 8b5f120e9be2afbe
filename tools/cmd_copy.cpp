// copy: one data file into a new one, whichever backend each is on (an
// SQLite file at its path, or a table on the server a map file names).
#include <string>

#include "tools/commands.h"
#include "tools/data_file.h"
#include "tools/error.h"

namespace nubodat {
namespace {

// The first difference between the two open files (the same description):
// along every key, then in physical order, record by record; empty when
// they hold the same records in the same orders.
std::string firstDifference(RecordFile& a, RecordFile& b, const Description& d) {
    std::string ra, rb, ka, kb;
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        const int key = static_cast<int>(k);
        std::uint16_t operation = op::kGetFirst;
        for (std::size_t n = 1;; ++n) {
            const std::int16_t sa = a.get(operation, key, ra, ka);
            const std::int16_t sb = b.get(operation, key, rb, kb);
            if (sa != sb) {
                return "along key " + std::to_string(k) + ", record " + std::to_string(n) + ": " +
                       statusText(sa) + " from the source, " + statusText(sb) + " from the copy";
            }
            if (sa == status::kEndOfFile) break;
            if (sa != status::kOk) {
                return "along key " + std::to_string(k) + ", record " + std::to_string(n) +
                       " cannot be read: " + statusText(sa);
            }
            if (ra != rb) {
                return "along key " + std::to_string(k) + ", record " + std::to_string(n) +
                       " differs";
            }
            operation = op::kGetNext;
        }
    }
    std::uint16_t operation = op::kStepFirst;
    for (std::size_t n = 1;; ++n) {
        const std::int16_t sa = a.step(operation, ra);
        const std::int16_t sb = b.step(operation, rb);
        if (sa != sb || (sa == status::kOk && ra != rb)) {
            return "in physical order, record " + std::to_string(n) + " differs";
        }
        if (sa == status::kEndOfFile) break;
        if (sa != status::kOk) {
            return "in physical order, record " + std::to_string(n) +
                   " cannot be read: " + statusText(sa);
        }
        operation = op::kStepNext;
    }
    return {};
}

// Deletes every record of `file`, in one transaction; false when the record
// manager refused.
bool emptyFile(RecordFile& file) {
    if (RecordFile::beginTransaction() != status::kOk) return false;
    std::string record;
    std::int16_t s;
    while ((s = file.step(op::kStepFirst, record)) == status::kOk) {
        if (file.remove() != status::kOk) {
            RecordFile::abortTransaction();
            return false;
        }
    }
    if (s != status::kEndOfFile) {
        RecordFile::abortTransaction();
        return false;
    }
    return RecordFile::endTransaction() == status::kOk;
}

}  // namespace

void commandCopy(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {}, {}, 2, 2);
    const std::string& source = p.positional[0];
    const std::string& target = p.positional[1];
    RecordFile from;
    Description d;
    // Exclusive: nobody changes the source while it is copied and compared.
    openWithDescription(from, source, d, engine::openmode::exclusive);
    if (const std::int16_t s = RecordFile::create(target, d); s != status::kOk) {
        throw Error(target + (s == status::kFileExists
                                  ? ": the file exists; copy makes a new file, nothing was copied"
                                  : ": cannot be created: " + statusText(s)));
    }
    RecordFile to;
    if (const std::int16_t s = to.open(target, engine::openmode::exclusive); s != status::kOk) {
        throw Error(target + ": the new file cannot be opened: " + statusText(s));
    }
    const std::string empty = "; nothing was copied (the new file is empty)";
    if (const std::int16_t s = RecordFile::beginTransaction(); s != status::kOk) {
        throw Error(target + ": no transaction: " + statusText(s) + empty);
    }
    // In physical order, so that records of equal key values keep their
    // order along every key.
    std::size_t copied = 0;
    std::string record;
    std::int16_t s = from.step(op::kStepFirst, record);
    for (; s == status::kOk; s = from.step(op::kStepNext, record)) {
        if (const std::int16_t w = to.insert(record); w != status::kOk) {
            RecordFile::abortTransaction();
            throw Error(target + ": record " + std::to_string(copied + 1) + " of " + source +
                        " was refused: " + statusText(w) + empty);
        }
        ++copied;
    }
    if (s != status::kEndOfFile) {
        RecordFile::abortTransaction();
        throw Error(source + ": reading record " + std::to_string(copied + 1) +
                    " failed: " + statusText(s) + empty);
    }
    if (const std::int16_t e = RecordFile::endTransaction(); e != status::kOk) {
        throw Error(target + ": the transaction did not commit: " + statusText(e) + empty);
    }
    const std::string difference = firstDifference(from, to, d);
    if (!difference.empty()) {
        const bool emptied = emptyFile(to);
        throw Error(target + ": the copy differs from " + source + " " + difference + "; " +
                    (emptied ? "the new file was emptied" : "the new file could not be emptied"));
    }
    out << target << ": " << copied << " records copied from " << source
        << ", verified record by record\n";
}

}  // namespace nubodat
