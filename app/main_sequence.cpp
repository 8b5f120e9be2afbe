// The main sequence: the whole life of the process.
#include "app/issue_run.h"
#include "app/records.h"
#include "app/record_manager_choice.h"
#include "data/data.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "session/session.h"

int runMainSequence() {
    platform::console().hideCursor();
    startSession();
    if (!sessionSettings.rootDir.empty()) platform::setCurrentDirectory(sessionSettings.rootDir);
    createRunTables();
    chooseRecordManager();

    struct DataFile {
        std::int16_t fileNumber;
        const char* name;
        unsigned char* area;
        std::int32_t areaSize;
    };
    const DataFile files[] = {
        {kReceiptsFile, "DADES\\THRebut", THRebutRecord, kTHRebutRecordSize},
        {kRemittancesFile, "DADES\\TRemeses", TRemesesRecord, kTRemesesRecordSize},
        {kPropertiesFile, "DADES\\FinquesH", FinquesHRecord, kFinquesHRecordSize},
        {kOwnersFile, "DADES\\PropietH", PropietHRecord, kPropietHRecordSize},
        {kCollectionsFile, "DADES\\CobramH", CobramHRecord, kCobramHRecordSize},
    };
    for (const DataFile& f : files) {
        std::int16_t status = 0;
        openDataFile(f.fileNumber, sessionSettings.rootDir + f.name, f.area, f.areaSize, status);
        // The run looks a collection's identity up before inserting it: only
        // a key 0 that refuses a second identity keeps a collection from
        // being issued twice, or refused under another collection's identity.
        if (f.fileNumber == kCollectionsFile) {
            requireIdentityKey(f.fileNumber, sessionSettings.rootDir + f.name,
                               static_cast<std::int16_t>(cobram::identitySize), status);
        }
    }

    runIssue();

    std::int16_t status = 0;
    closeAllDataFiles(status);
    return 0;
}
