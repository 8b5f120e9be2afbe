// Loading the installed record manager's entry. The DLL's entry has the
// record manager's own calling convention (__stdcall on 32-bit Windows), so
// the data layer calls it through a plain function that forwards the call.
#include "data/record_manager_dll.h"

#include "data/data.h"
#include "data/internal.h"
#include "platform/library.h"
#include "platform/platform.h"

namespace {

#if defined(_WIN32) && !defined(_WIN64)
#define NUBO_RECORD_MANAGER_CONV __stdcall
#else
#define NUBO_RECORD_MANAGER_CONV
#endif

using DllEntry = std::int16_t(NUBO_RECORD_MANAGER_CONV*)(std::uint16_t operation,
                                                         void* positionBlock, void* dataBuffer,
                                                         std::uint32_t* dataLength,
                                                         void* keyBuffer, std::uint8_t keyLength,
                                                         std::int8_t keyNumber);

DllEntry loadedEntry = nullptr;

std::int16_t callLoadedEntry(std::uint16_t operation, void* positionBlock, void* dataBuffer,
                             std::uint32_t* dataLength, void* keyBuffer, std::uint8_t keyLength,
                             std::int8_t keyNumber) {
    return loadedEntry(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
                       keyNumber);
}

}  // namespace

void loadRecordManagerDll(std::string& dllName, std::int16_t& status) {
    dllName = platform::getEnvironmentVariable(kRecordManagerDllVariable);
    if (dllName.empty()) dllName = kRecordManagerDll;
    const platform::LibraryEntry entry = platform::loadLibraryEntry(dllName, "BTRCALL");
    if (entry == nullptr) {
        status = kStatusRecordManagerInactive;
        return;
    }
    loadedEntry = reinterpret_cast<DllEntry>(entry);
    setRecordManager(&callLoadedEntry);
    status = 0;
}

void useRecordManagerDll() {
    std::string dllName;
    std::int16_t status = 0;
    loadRecordManagerDll(dllName, status);
    if (status != 0) failOpen(dllName, status);
}
