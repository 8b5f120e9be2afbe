// The preview of an issue: what the program would do with a work file on an
// installation, owner by owner, found by the issue run's own scan,
// selection and billing, with nothing written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nubodat {

enum class PreviewOutcome {
    NotSelected,  // the selection leaves the owner out (see `selection`)
    NothingDue,   // takes part; the concepts due add up to 0
    Exists,       // a collection of this issue exists already
    OutOfRange,   // a sum beyond 32 bits: not stored, logged with 1008
    Insert,       // a new collection
};

struct OwnerPreview {
    int property = 0, owner = 0;
    char method = ' ';
    int series = 0;
    std::int16_t selection = 0;  // kOwnerTakesPart or the reason (app/issue_run.h)
    std::vector<int> due;        // the concepts due
    double total = 0, flagged = 0;
    char state = ' ';  // of an inserted collection: "P" or "I"
    PreviewOutcome outcome = PreviewOutcome::NotSelected;
};

struct IssuePreview {
    std::vector<std::string> warnings;  // what looks like a mistake in the work file
    bool dateUsable = false;            // false: the program bills nobody
    std::string issueDate;              // DD/MM/YYYY as packed, or "" for the zero date
    std::string issueNumber;            // its two digits, or "" when blank
    std::vector<OwnerPreview> owners;   // every owner the scan read, in key order
};

// Reads the work file `workFile` and the data files under `root` (ending
// with the separator) and tells what the program would insert. Opens the
// data files without creating any; a missing collections file counts as
// empty. Throws Error naming a file that is missing or cannot be opened.
IssuePreview previewIssue(const std::string& root, const std::string& workFile);

// The reason of a selection in words ("outside the range", ...).
std::string selectionText(std::int16_t selection);

}  // namespace nubodat
