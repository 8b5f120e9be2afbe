// A complete installation in a temporary folder, for running the real
// program: a root with "DADES\" and the "ddf\" dictionaries, a work folder
// with "NuboTerm.ini" and "pent.tmp", properties and owners stored through
// the record manager's entry, and readers for what the program left.
#pragma once

#include <array>
#include <memory>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace e2e {

struct ConceptEntry {
    char flag = ' ';
    std::int16_t periodMonths = 0;
    std::int32_t amount = 0;
    std::int16_t code = 0;  // concepts 9 and 10 only
};

struct Property {
    int number = 1;
    std::int16_t cycleStartMonth = 1;
    std::int16_t cycleMonths = 12;
};

struct Owner {
    int property = 1;
    int owner = 1;
    char paymentMethod = 'A';
    unsigned char seriesHigh = 128;  // packed "00"
    unsigned char seriesLow = 129;   // packed "01"
    char billingMoment = ' ';
    std::array<ConceptEntry, 11> concepts{};  // index 1..10
};

// The 25 lines of the work file, with a run that selects everyone.
struct WorkFile {
    std::string issueDate = "15/03/2026";
    std::string firstProperty = "1", firstOwner = "0", lastProperty = "9999", lastOwner = "9999";
    std::string issueNumber = "01";
    std::array<std::string, 3> methodEnabled{"S", "S", "S"};
    std::array<std::string, 3> seriesFrom{"0", "0", "0"};
    std::array<std::string, 3> seriesTo{"9999", "9999", "9999"};
    std::array<std::string, 10> conceptEnabled{"S", "S", "S", "S", "S", "S", "S", "S", "S", "S"};
    std::string text() const;  // lines joined with CR LF
};

// A collection record as the program writes it.
struct Collection {
    std::string ownerKey;  // 4 packed bytes
    std::string issueDate;
    unsigned char issueNumber = 0;
    std::string collectedDate;
    std::int32_t totalAmount = 0;
    std::int32_t flaggedAmount = 0;
    char state = ' ';
    std::string bytes() const;
};

// Packed 4-digit number (2 bytes) and a packed owner key (4 bytes).
std::string packedNumber(int n);
std::string ownerKey(int property, int owner);

class Installation {
public:
    Installation();
    // An installation in `folder` (made when missing) rather than a temporary one.
    explicit Installation(const std::string& folder);
    std::string root() const { return base_ + "root/"; }
    std::string work() const { return base_ + "work/"; }

    void addProperties(const std::vector<Property>& properties);
    void addOwners(const std::vector<Owner>& owners);
    // Adds `count` owners, `ownerAt(i)` for i from 0, all within one open of
    // the owners file: the time grows with the count alone.
    void addOwners(std::size_t count, const std::function<Owner(std::size_t)>& ownerAt);
    void writeWorkFile(const WorkFile& work);
    void writeWorkFileText(const std::string& text);
    void removeWorkFile();

    // Runs `program` with JOBROOT and JOBTMP set and standard input empty;
    // its output goes to "program.out" in the folder.
    struct RunResult {
        int exitCode = -1;  // -1 when it did not exit normally
        double seconds = 0;
        long peakResidentKb = 0;
    };
    RunResult run(const std::string& program) const;

    // Every record of the collections file in key order.
    std::vector<std::string> collections() const;
    std::string operationsLog() const;

    std::string folder() const { return base_; }

    // Places the installation's data files on a PostgreSQL server: a map
    // file "nubodb.server" in the root naming `conninfo` (no password: the
    // password file gives it) and `schema`. From then on every data file of
    // the root is a table there; call it before adding anything.
    void mapToServer(const std::string& conninfo, const std::string& schema);

private:
    void layOut();
    void write(const std::string& name, const std::string& bytes) const;
    std::unique_ptr<testing_support::TempDir> temp_;
    std::string base_;  // ends in "/"
};

// The operations-log line for one insertion into file 514.
std::string logLine(int status);

}  // namespace e2e
