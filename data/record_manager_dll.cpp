// Loading the installed record manager's entry. The DLL's entry has the
// record manager's own calling convention (__stdcall on 32-bit Windows),
// which the data layer's entry type carries, so it is called directly.
#include "data/record_manager_dll.h"

#include "data/data.h"
#include "data/internal.h"
#include "platform/library.h"
#include "platform/platform.h"

namespace {

// The names the entry is looked up by, in order. A DLL exports BTRCALL by
// its plain name; on 32-bit Windows a DLL linked without an export list
// exports it by its __stdcall decoration instead (28 bytes of arguments):
// "BTRCALL@28" from GNU tools, "_BTRCALL@28" from Microsoft's.
#if defined(_WIN32) && !defined(_WIN64)
constexpr const char* kEntryNames[] = {"BTRCALL", "BTRCALL@28", "_BTRCALL@28"};
#else
constexpr const char* kEntryNames[] = {"BTRCALL"};
#endif

}  // namespace

void loadRecordManagerDll(std::string& dllName, std::int16_t& status) {
    dllName = platform::getEnvironmentVariable(kRecordManagerDllVariable);
    if (dllName.empty()) dllName = kRecordManagerDll;
    platform::LibraryEntry entry = nullptr;
    for (const char* entryName : kEntryNames) {
        entry = platform::loadLibraryEntry(dllName, entryName);
        if (entry != nullptr) break;
    }
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
