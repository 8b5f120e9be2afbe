// Due concepts of one owner and its collection record.
#include <cmath>
#include <cstring>
#include <limits>

#include "app/issue_run.h"
#include "app/records.h"
#include "data/data.h"
#include "platform/coding.h"

namespace {

struct Concept {
    std::int16_t periodMonths = 0;
    std::int32_t amount = 0;
    unsigned char flag = ' ';
    bool hasCode = true;  // concepts 9 and 10 hold a concept only with a code above 0
};

Concept readConcept(int k) {
    Concept c;
    if (k <= 8) {
        const unsigned char* e = PropietHRecord + propiet::shortConcept(k);
        c.flag = e[propiet::shortFlag];
        c.periodMonths = coding::getI16(e + propiet::shortPeriod);
        c.amount = coding::getI32(e + propiet::shortAmount);
    } else {
        const unsigned char* e = PropietHRecord + propiet::longConcept(k);
        c.hasCode = coding::getI16(e + propiet::longCode) > 0;
        c.flag = e[propiet::longFlag];
        c.periodMonths = coding::getI16(e + propiet::longPeriod);
        c.amount = coding::getI32(e + propiet::longAmount);
    }
    return c;
}

}  // namespace

std::int16_t storedAmount(double sum, std::int32_t& amount) {
    const double rounded = std::nearbyint(sum);
    if (!(rounded >= static_cast<double>(std::numeric_limits<std::int32_t>::min()) &&
          rounded <= static_cast<double>(std::numeric_limits<std::int32_t>::max())))
        return 0;
    amount = static_cast<std::int32_t>(rounded);
    return -1;
}

std::int16_t conceptDue(int k) {
    const Concept c = readConcept(k);
    const int p = c.periodMonths;
    if (p <= 0 || runParameters.conceptEnabled[k] == 0) return 0;
    const int month = issueMonth();
    const int cycleStart = coding::getI16(FinquesHRecord + finques::cycleStartMonth);
    const unsigned char moment = PropietHRecord[propiet::billingMoment];
    const int r = (month - cycleStart + 12) % p;  // remainder takes the dividend's sign
    const int offset = moment == 'M' ? p / 2 : moment == 'V' ? p - 1 : 0;
    return r == offset ? -1 : 0;
}

void sumDueConcepts(double& totalAmount, double& flaggedAmount) {
    totalAmount = 0;
    flaggedAmount = 0;
    for (int k = 1; k <= 10; ++k) {
        runParameters.conceptAmount[k] = 0;
        if (conceptDue(k) == 0) continue;
        const Concept c = readConcept(k);
        if (c.hasCode) runParameters.conceptAmount[k] = c.amount;
        totalAmount += runParameters.conceptAmount[k];
        if (c.flag == 'N') flaggedAmount += runParameters.conceptAmount[k];
    }
}

void billOwner() {
    double totalAmount = 0;
    double flaggedAmount = 0;
    sumDueConcepts(totalAmount, flaggedAmount);
    if (totalAmount == 0) return;
    writeCollection(totalAmount, flaggedAmount);
}

void setCollectionIdentity() {
    std::memcpy(CobramHRecord + cobram::ownerKey, PropietHRecord + propiet::ownerKey, 4);
    std::memcpy(CobramHRecord + cobram::issueDate, runParameters.issueDate.data(), 4);
    CobramHRecord[cobram::issueNumber] =
        runParameters.issueNumber.empty()
            ? ' '
            : static_cast<unsigned char>(runParameters.issueNumber[0]);
}

void writeCollection(double totalAmount, double flaggedAmount) {
    setCollectionIdentity();

    std::int16_t status = 0;
    const std::string identity(reinterpret_cast<const char*>(CobramHRecord), cobram::identitySize);
    seekByKey(kCollectionsFile, 0, identity, 0, status);
    if (status == 0) return;
    // A lookup that met damage cannot tell whether the collection exists.
    stopOnDamagedFile(kCollectionsFile, status);

    // The lookup may have left other bytes in the area: set the identity again.
    std::memcpy(CobramHRecord, identity.data(), cobram::identitySize);
    std::int32_t total = 0, flagged = 0;
    if (storedAmount(totalAmount, total) == 0 || storedAmount(flaggedAmount, flagged) == 0) {
        appendOperationsLog(kCollectionsFile, 2, kStatusAmountOutOfRange);
        return;
    }
    std::memset(CobramHRecord + cobram::collectedDate, 128, 4);
    coding::putI32(CobramHRecord + cobram::totalAmount, total);
    coding::putI32(CobramHRecord + cobram::flaggedAmount, flagged);
    CobramHRecord[cobram::state] = 'P';
    if (PropietHRecord[propiet::paymentMethod] == 'B') {
        std::memcpy(CobramHRecord + cobram::collectedDate, CobramHRecord + cobram::issueDate, 4);
        CobramHRecord[cobram::state] = 'I';
    }
    insertRecord(kCollectionsFile, status);
}
