// preview: an issue run on an installation with nothing written, through
// the issue run's own scan, selection and due rule.
#include "tools/preview.h"

#include <cstdio>
#include <map>

#include "app/issue_run.h"
#include "app/records.h"
#include "data/data.h"
#include "engine/btrcall.h"
#include "packed/packed.h"
#include "platform/coding.h"
#include "platform/platform.h"
#include "tools/commands.h"
#include "tools/error.h"
#include "tools/plain_files.h"
#include "tools/record_file.h"
#include "tools/work_file.h"

namespace nubodat {
namespace {

// The owners the scan hands over; the scan calls a plain function.
std::vector<OwnerPreview>* previewed = nullptr;

int packedNumber(const unsigned char* bytes, std::size_t n) {
    const std::string digits = unpackDigits(std::string(reinterpret_cast<const char*>(bytes), n));
    return static_cast<int>(leadingNumber(digits));
}

void previewOwner() {
    OwnerPreview o;
    o.selection = ownerSelection();  // also settles a seriesHigh byte below 128, as for the run
    o.property = packedNumber(PropietHRecord + propiet::ownerKey, 2);
    o.owner = packedNumber(PropietHRecord + propiet::ownerKey + 2, 2);
    o.method = static_cast<char>(PropietHRecord[propiet::paymentMethod]);
    o.series = packedNumber(PropietHRecord + propiet::seriesHigh, 1) * 100 +
               packedNumber(PropietHRecord + propiet::seriesLow, 1);
    if (o.selection == kOwnerTakesPart) {
        for (int k = 1; k <= 10; ++k)
            if (conceptDue(k) != 0) o.due.push_back(k);
        sumDueConcepts(o.total, o.flagged);
        if (o.total == 0) {
            o.outcome = PreviewOutcome::NothingDue;
        } else {
            setCollectionIdentity();
            std::int16_t status = 0;
            seekByKey(
                kCollectionsFile, 0,
                std::string(reinterpret_cast<const char*>(CobramHRecord), cobram::identitySize), 0,
                status);
            std::int32_t stored = 0;
            if (status == 0)
                o.outcome = PreviewOutcome::Exists;
            else if (storedAmount(o.total, stored) == 0 || storedAmount(o.flagged, stored) == 0)
                o.outcome = PreviewOutcome::OutOfRange;
            else
                o.outcome = PreviewOutcome::Insert;
            o.state = o.method == 'B' ? 'I' : 'P';
        }
    }
    previewed->push_back(o);
}

// Confirms that the data file opens, through the utility's own client, so
// that the data layer's open (which would create a missing file, or end the
// process with the program's message) is only asked for a sound file.
bool opens(const std::string& path, bool required) {
    RecordFile f;
    const std::int16_t s = f.open(path, engine::openmode::readOnly);
    if (s == status::kOk) return true;
    if (s == status::kFileNotFound && !required) return false;
    throw Error(path + ": cannot be opened: " + statusText(s) + "; nothing to preview");
}

std::string dateText(const std::string& packed) {
    if (packed == std::string(4, '\x80')) return "";
    const std::string d = unpackDigits(packed);
    return d.substr(6, 2) + "/" + d.substr(4, 2) + "/" + d.substr(0, 4);
}

std::string amount(double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.0f", v);
    return b;
}

}  // namespace

std::string selectionText(std::int16_t selection) {
    switch (selection) {
        case kOwnerTakesPart: return "takes part";
        case kOwnerOutsideRange: return "outside the owner range";
        case kOwnerNoCycle: return "the property's billing cycle is 0 months";
        case kOwnerMethodLeftOut: return "payment method not taking part";
        case kOwnerSeriesOutside: return "series outside the method's bounds";
        default: return "left out";
    }
}

IssuePreview previewIssue(const std::string& root, const std::string& workFile) {
    IssuePreview result;
    const std::string bytes = readPlainFile(workFile);
    result.warnings = workFileWarnings(bytes);

    createRunTables();
    readRunParameters(workFile);
    result.dateUsable = issueDateUsable() != 0;
    result.issueDate = dateText(runParameters.issueDate);
    if (!runParameters.issueNumber.empty() && runParameters.issueNumber[0] != ' ')
        result.issueNumber = unpackDigits(runParameters.issueNumber.substr(0, 1));
    if (!result.dateUsable) return result;

    const std::string data = root + "DADES/";
    opens(data + "FinquesH.dat", true);
    opens(data + "PropietH.dat", true);
    const bool collections = opens(data + "CobramH.dat", false);

    setRecordManager(BTRCALL);
    std::int16_t status = 0;
    openDataFile(kPropertiesFile, data + "FinquesH", FinquesHRecord, kFinquesHRecordSize, status);
    openDataFile(kOwnersFile, data + "PropietH", PropietHRecord, kPropietHRecordSize, status);
    if (collections)
        openDataFile(kCollectionsFile, data + "CobramH", CobramHRecord, kCobramHRecordSize, status);
    previewed = &result.owners;
    scanOwners(previewOwner);
    previewed = nullptr;
    closeAllDataFiles(status);
    return result;
}

void commandPreview(const Args& args, std::ostream& out) {
    const ParsedArgs p = parseArgs(args, {"unit"}, {"selected"}, 2, 2);
    std::string root = p.positional[0];
    if (root.back() != '/' && root.back() != '\\') root += '/';
    const IssuePreview r = previewIssue(root, p.positional[1]);
    const std::string unit = p.has("unit") ? " (" + p.option("unit") + ")" : "";

    std::string text = "Work file " + p.positional[1] + ": issue date " +
                       (r.issueDate.empty() ? "none (zero date)" : r.issueDate) +
                       ", issue number " + (r.issueNumber.empty() ? "blank" : r.issueNumber) + "\n";
    for (const std::string& w : r.warnings) text += "  warning: " + w + "\n";
    if (r.warnings.empty()) text += "  no mistakes found in the work file\n";
    if (!r.dateUsable) {
        text +=
            "\nThe issue date cannot be issued: the program bills nobody and inserts nothing.\n";
        writeStandardOutput(out, text);
        return;
    }

    text +=
        "\nproperty  owner  method  series  takes part                                      "
        "concepts due  total" +
        unit + "  flagged" + unit + "  collection\n";
    std::size_t selected = 0, toInsert = 0;
    struct Sums {
        std::size_t count = 0;
        double total = 0, flagged = 0;
    };
    std::map<std::string, Sums> byMethodState;
    for (const OwnerPreview& o : r.owners) {
        if (o.selection == kOwnerTakesPart) ++selected;
        if (p.has("selected") && o.selection != kOwnerTakesPart) continue;
        std::string due;
        for (int k : o.due) due += (due.empty() ? "" : ",") + std::to_string(k);
        std::string outcome;
        switch (o.outcome) {
            case PreviewOutcome::NotSelected: outcome = "-"; break;
            case PreviewOutcome::NothingDue: outcome = "none: nothing due"; break;
            case PreviewOutcome::Exists: outcome = "exists already"; break;
            case PreviewOutcome::OutOfRange:
                outcome = "not stored: sum beyond 32 bits (db.log status 1008)";
                break;
            case PreviewOutcome::Insert: outcome = std::string("insert, state ") + o.state; break;
        }
        if (o.outcome == PreviewOutcome::Insert) {
            ++toInsert;
            Sums& s = byMethodState[std::string(1, o.method) + "/" + o.state];
            ++s.count;
            s.total += o.total;
            s.flagged += o.flagged;
        }
        char line[512];
        const bool part = o.selection == kOwnerTakesPart;
        std::snprintf(line, sizeof line, "%-8d  %-5d  %-6c  %04d    %-46s  %-12s  %-*s  %-*s  %s\n",
                      o.property, o.owner, o.method == '\0' ? ' ' : o.method, o.series,
                      (part ? "yes" : "no: " + selectionText(o.selection)).c_str(),
                      part ? (due.empty() ? "none" : due.c_str()) : "-",
                      static_cast<int>(5 + unit.size()), part ? amount(o.total).c_str() : "-",
                      static_cast<int>(7 + unit.size()), part ? amount(o.flagged).c_str() : "-",
                      outcome.c_str());
        text += line;
    }
    text += "\nOwners seen " + std::to_string(r.owners.size()) + ", taking part " +
            std::to_string(selected) + ", collections to insert " + std::to_string(toInsert) + "\n";
    for (const auto& [key, s] : byMethodState)
        text += "  method " + key.substr(0, 1) + ", state " + key.substr(2) + ": " +
                std::to_string(s.count) + (s.count == 1 ? " collection" : " collections") +
                ", total " + amount(s.total) + unit + ", flagged " + amount(s.flagged) + unit +
                "\n";
    text += "Nothing was written.\n";
    writeStandardOutput(out, text);
}

}  // namespace nubodat
