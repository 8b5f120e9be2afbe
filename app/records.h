// Layouts of the records the issue run reads and writes: offsets from 0 and
// widths in bytes. Integers are little-endian and signed; numbers and dates
// in keys are packed digits.
#pragma once

#include <cstddef>

// The record areas: one per data file, registered with the data layer at
// open. The sizes of the three files whose records the run does not lay out
// are the largest record the data layer can move.
constexpr int kTHRebutRecordSize = 1536;
constexpr int kTRemesesRecordSize = 1536;
constexpr int kFinquesHRecordSize = 1536;
constexpr int kPropietHRecordSize = 428;
constexpr int kCobramHRecordSize = 22;

extern unsigned char THRebutRecord[kTHRebutRecordSize];
extern unsigned char TRemesesRecord[kTRemesesRecordSize];
extern unsigned char FinquesHRecord[kFinquesHRecordSize];
extern unsigned char PropietHRecord[kPropietHRecordSize];
extern unsigned char CobramHRecord[kCobramHRecordSize];

// File numbers under which the data files are registered.
constexpr short kReceiptsFile = 504;     // "DADES\THRebut"
constexpr short kRemittancesFile = 502;  // "DADES\TRemeses"
constexpr short kPropertiesFile = 511;   // "DADES\FinquesH"
constexpr short kOwnersFile = 513;       // "DADES\PropietH"
constexpr short kCollectionsFile = 514;  // "DADES\CobramH"

// Properties file (FinquesH).
namespace finques {
constexpr std::size_t propertyNumber = 0;     // 2: packed four-digit number; key 0
constexpr std::size_t cycleStartMonth = 106;  // 2: month the billing cycle starts
constexpr std::size_t cycleMonths = 108;      // 2: cycle length in months
}  // namespace finques

// Owners file (PropietH), 428 bytes.
namespace propiet {
constexpr std::size_t ownerKey = 0;         // 4: packed property (2) + owner (2); key 0
constexpr std::size_t paymentMethod = 159;  // 1: "A", "B" or "F"
constexpr std::size_t seriesLow = 160;      // 1: packed low digit pair of the series
constexpr std::size_t conceptBlock = 239;   // 74: concepts 1-8 (7 bytes), 9-10 (9 bytes)
constexpr std::size_t billingMoment = 313;  // 1: "M" middle, "V" last, else first month
constexpr std::size_t seriesHigh = 314;     // 1: packed high digit pair of the series

// Concepts 1 to 8: 7-byte entries from conceptBlock.
constexpr std::size_t shortConceptSize = 7;
constexpr std::size_t shortConcept(int k) {
    return conceptBlock + shortConceptSize * (k - 1);
}
constexpr std::size_t shortFlag = 0;    // 1: "N" counts in the flagged amount
constexpr std::size_t shortPeriod = 1;  // 2: period in months
constexpr std::size_t shortAmount = 3;  // 4: amount per period

// Concepts 9 and 10: 9-byte entries.
constexpr std::size_t longConcept(int k) {
    return k == 9 ? 295 : 304;
}
constexpr std::size_t longCode = 0;    // 2: code of the concept; 0 or less: none
constexpr std::size_t longFlag = 2;    // 1
constexpr std::size_t longPeriod = 3;  // 2
constexpr std::size_t longAmount = 5;  // 4
}  // namespace propiet

// Collections file (CobramH), 22 bytes; the first nine are its identity.
namespace cobram {
constexpr std::size_t ownerKey = 0;     // 4
constexpr std::size_t issueDate = 4;    // 4: packed date
constexpr std::size_t issueNumber = 8;  // 1
constexpr std::size_t identitySize = 9;
constexpr std::size_t collectedDate = 9;   // 4: packed date; zero date while pending
constexpr std::size_t totalAmount = 13;    // 4
constexpr std::size_t flaggedAmount = 17;  // 4
constexpr std::size_t state = 21;          // 1: "P" pending, "I" issued
}  // namespace cobram
