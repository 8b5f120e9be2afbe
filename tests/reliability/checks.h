// What the reliability tests check after a run, and the installations they
// run on.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "tests/support/installation.h"

namespace reliability {

// The program under test.
std::string programPath();

// True in the sanitizer build, where runs are several times slower and the
// tests use smaller installations.
constexpr bool kSmallRuns =
#ifdef NUBO_RELIABILITY_SMALL
    true;
#else
    false;
#endif

// Lays out `properties` properties of `ownersPerProperty` owners each, every
// owner with one monthly concept, paying by "A", "B" and "F" in turn, so that
// a run of the default work file bills every one of them.
void populate(e2e::Installation& installation, int properties, int ownersPerProperty);

// SQLite's own check of the data file at `path`: "ok" when sound, else its
// findings (or why the file could not be opened).
std::string integrityCheck(const std::string& path);

// The checks of every data file under the installation's "DADES": the file
// names with a finding, empty when all are sound.
std::vector<std::string> damagedDataFiles(const e2e::Installation& installation);

// The operations log, read line by line.
struct OperationsLog {
    std::size_t lines = 0;
    std::size_t malformed = 0;            // lines not in the exact format of file 514, Insert
    std::map<int, std::size_t> byStatus;  // status -> lines
    bool endsWithLineEnd = true;          // no torn last line
    std::size_t with(int status) const {
        const auto found = byStatus.find(status);
        return found == byStatus.end() ? 0 : found->second;
    }
};
OperationsLog readOperationsLog(const std::string& text);

// The owner keys of the collections, with how often each one occurs.
std::map<std::string, int> ownerCounts(const std::vector<std::string>& collections);

// Another work folder for the same installation, with its own "pent.tmp".
std::string addWorkFolder(const e2e::Installation& installation, const std::string& name,
                          const e2e::WorkFile& work);

// Copies the installation's folder to `folder` (data files, dictionaries,
// work folder), for a run that serves as the reference.
void copyInstallation(const e2e::Installation& installation, const std::string& folder);

}  // namespace reliability
