// The issue run: for one issue date, the collections of the owners of a
// range of properties.
#pragma once

#include <cstdint>
#include <string>

// The run's parameters, read once from the work file "pent.tmp", and the run
// tables (indices from 1; index 0 is unused).
struct RunParameters {
    std::string issueDate = std::string(4, '\x80');  // packed date
    std::string ownerFrom = std::string(4, ' ');     // packed property (2) + owner (2)
    std::string ownerTo = std::string(4, ' ');
    std::string issueNumber;             // packed; one byte for two digits
    std::int16_t methodEnabled[4] = {};  // "A", "B", "F": -1 true, 0 false
    std::string seriesFrom[4];           // method letter + packed series (2)
    std::string seriesTo[4];
    std::int16_t conceptEnabled[11] = {};
    double conceptAmount[11] = {};
};
extern RunParameters runParameters;

// Empties the run tables (all methods and concepts off, no series, amounts 0).
void createRunTables();

// Fills runParameters from the 25 lines of `path`: CR or CR LF ends a line,
// a lone LF stays in it, Ctrl-Z ends the data; a missing file or missing
// lines read as empty.
void readRunParameters(const std::string& path);

// The month of runParameters.issueDate (0 for the zero date).
std::int16_t issueMonth();

// Whether runParameters.issueDate can be issued: -1 true, 0 false for the
// zero date (a date that could not be read) or a month outside 1 to 12. An
// issue date that cannot be issued bills nobody.
std::int16_t issueDateUsable();

// Reads "pent.tmp" from the work directory, then walks the properties of the
// range and their owners and bills every selected owner. Bills nobody when
// the issue date cannot be issued.
void runIssue();

// Walks the properties of runParameters' range and, property by property,
// their owners, and calls `visitOwner` with FinquesHRecord and
// PropietHRecord holding each owner read. A read that finds either file
// damaged (status 2) takes the fatal path naming that file.
void scanOwners(void (*visitOwner)());

// Why the owner in PropietHRecord, of the property in FinquesHRecord, does
// not take part, or kOwnerTakesPart. Replaces a seriesHigh byte below 128 by
// 128 in the record area first.
constexpr std::int16_t kOwnerTakesPart = 0;
constexpr std::int16_t kOwnerOutsideRange = 1;   // owner key outside ownerFrom..ownerTo
constexpr std::int16_t kOwnerNoCycle = 2;        // the property's cycleMonths is 0 or less
constexpr std::int16_t kOwnerMethodLeftOut = 3;  // method not A, B or F, or not enabled
constexpr std::int16_t kOwnerSeriesOutside = 4;  // series key outside the method's bounds
std::int16_t ownerSelection();

// Whether the owner takes part: -1 true, 0 false (ownerSelection's answer).
std::int16_t ownerSelected();

// Whether concept k (1 to 10) of the owner in PropietHRecord falls due in
// the issue month: its period is above 0, it is enabled, and its place in
// the period is the billing moment's offset. -1 true, 0 false.
std::int16_t conceptDue(int k);

// Sets conceptAmount(1..10) to the amounts of the owner's concepts due and
// returns their sum and the sum of those flagged "N".
void sumDueConcepts(double& totalAmount, double& flaggedAmount);

// Sums the concepts of the owner in PropietHRecord that fall due in the
// issue month and, when the total is not 0, writes its collection.
void billOwner();

// Sets the identity of the owner's collection (owner key, issue date, issue
// number) in the first nine bytes of CobramHRecord.
void setCollectionIdentity();

// The sum as a stored amount: rounded to the nearest integer, halves to the
// even neighbour. -1 true, 0 false when it lies outside the 32-bit range.
std::int16_t storedAmount(double sum, std::int32_t& amount);

// Inserts the owner's collection unless one with the same owner, issue date
// and issue number exists. A sum outside the 32-bit range is not stored: the
// insertion is skipped and logged with the data layer's status 1008.
void writeCollection(double totalAmount, double flaggedAmount);

// The whole program: session, data files, issue run, close. Returns the exit
// code, always 0.
int runMainSequence();
