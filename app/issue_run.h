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
    std::string issueNumber;                         // packed; one byte for two digits
    std::int16_t methodEnabled[4] = {};              // "A", "B", "F": -1 true, 0 false
    std::string seriesFrom[4];                       // method letter + packed series (2)
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

// Reads "pent.tmp" from the work directory, then walks the properties of the
// range and their owners and bills every selected owner.
void runIssue();

// Whether the owner in PropietHRecord, of the property in FinquesHRecord,
// takes part: -1 true, 0 false. Replaces a seriesHigh byte below 128 by 128
// in the record area first.
std::int16_t ownerSelected();

// Sums the concepts of the owner in PropietHRecord that fall due in the
// issue month and, when the total is not 0, writes its collection.
void billOwner();

// Inserts the owner's collection unless one with the same owner, issue date
// and issue number exists. A sum outside the 32-bit range is not stored: the
// insertion is skipped and logged with the data layer's status 1008.
void writeCollection(double totalAmount, double flaggedAmount);

// The whole program: session, data files, issue run, close. Returns the exit
// code, always 0.
int runMainSequence();
