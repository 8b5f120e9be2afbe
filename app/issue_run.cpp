// The scan of the issue run: properties of the range, their owners, and the
// selection of the owners that take part.
#include <cstring>

#include "app/issue_run.h"
#include "app/records.h"
#include "data/data.h"
#include "platform/coding.h"
#include "session/session.h"

namespace {

std::string recordBytes(const unsigned char* area, std::size_t offset, std::size_t width) {
    return std::string(reinterpret_cast<const char*>(area) + offset, width);
}

// The method's index in the run tables: 1 "A", 2 "B", 3 "F"; 0 for any other.
int methodIndex(unsigned char method) {
    switch (method) {
        case 'A': return 1;
        case 'B': return 2;
        case 'F': return 3;
        default: return 0;
    }
}

}  // namespace

std::int16_t ownerSelection() {
    if (PropietHRecord[propiet::seriesHigh] < 128) PropietHRecord[propiet::seriesHigh] = 128;

    const std::string ownerKey = recordBytes(PropietHRecord, propiet::ownerKey, 4);
    if (ownerKey < runParameters.ownerFrom || ownerKey > runParameters.ownerTo)
        return kOwnerOutsideRange;
    if (coding::getI16(FinquesHRecord + finques::cycleMonths) <= 0) return kOwnerNoCycle;

    const int i = methodIndex(PropietHRecord[propiet::paymentMethod]);
    if (i == 0 || runParameters.methodEnabled[i] == 0) return kOwnerMethodLeftOut;
    std::string seriesKey(3, ' ');
    seriesKey[0] = static_cast<char>(PropietHRecord[propiet::paymentMethod]);
    seriesKey[1] = static_cast<char>(PropietHRecord[propiet::seriesHigh]);
    seriesKey[2] = static_cast<char>(PropietHRecord[propiet::seriesLow]);
    if (seriesKey < runParameters.seriesFrom[i] || seriesKey > runParameters.seriesTo[i])
        return kOwnerSeriesOutside;
    return kOwnerTakesPart;
}

std::int16_t ownerSelected() {
    return ownerSelection() == kOwnerTakesPart ? -1 : 0;
}

namespace {

void issueOwner() {
    if (ownerSelected() != 0) billOwner();
}

}  // namespace

void runIssue() {
    readRunParameters(sessionSettings.tmpDir + "pent.tmp");
    if (issueDateUsable() == 0) return;
    scanOwners(issueOwner);
}

void scanOwners(void (*visitOwner)()) {
    const std::string lastProperty = runParameters.ownerTo.substr(0, 2);
    std::int16_t propertyStatus = 0;
    seekByKey(kPropertiesFile, 0, runParameters.ownerFrom.substr(0, 2), 1, propertyStatus);
    stopOnDamagedFile(kPropertiesFile, propertyStatus);
    while (propertyStatus == 0) {
        const std::string propertyNumber = recordBytes(FinquesHRecord, finques::propertyNumber, 2);
        if (propertyNumber > lastProperty) break;

        std::int16_t ownerStatus = 0;
        seekByKey(kOwnersFile, 0, propertyNumber, 1, ownerStatus);
        stopOnDamagedFile(kOwnersFile, ownerStatus);
        while (ownerStatus == 0 &&
               recordBytes(PropietHRecord, propiet::ownerKey, 2) == propertyNumber) {
            visitOwner();
            stepRecords(kOwnersFile, 1, ownerStatus);
            stopOnDamagedFile(kOwnersFile, ownerStatus);
        }
        stepRecords(kPropertiesFile, 1, propertyStatus);
        stopOnDamagedFile(kPropertiesFile, propertyStatus);
    }
}
