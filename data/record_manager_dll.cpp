// Loading the installed record manager's entry. The DLL's entry has the
// record manager's own calling convention (__stdcall on 32-bit Windows),
// which the data layer's entry type carries, so it is set as it is.
#include "data/record_manager_dll.h"

#include "data/data.h"
#include "data/internal.h"
#include "platform/library.h"
#include "platform/platform.h"

void loadRecordManagerDll(std::string& dllName, std::int16_t& status) {
    dllName = platform::getEnvironmentVariable(kRecordManagerDllVariable);
    if (dllName.empty()) dllName = kRecordManagerDll;
    const platform::LibraryEntry entry = platform::loadLibraryEntry(dllName, "BTRCALL");
    if (entry == nullptr) {
        status = kStatusRecordManagerInactive;
        return;
    }
    setRecordManager(reinterpret_cast<RecordManagerEntry>(entry));
    status = 0;
}

void useRecordManagerDll() {
    std::string dllName;
    std::int16_t status = 0;
    loadRecordManagerDll(dllName, status);
    if (status != 0) failOpen(dllName, status);
}
