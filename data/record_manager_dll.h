// The installed record manager: the entry BTRCALL of its DLL, loaded at run
// time and made the data layer's record manager.
#pragma once

#include <cstdint>
#include <string>

#include "engine/api.h"

// The DLL of the installed record manager, found through the system's normal
// search for libraries.
constexpr const char* kRecordManagerDll = "WBTRV32.DLL";

// The environment variable that names another DLL with the same entry.
constexpr const char* kRecordManagerDllVariable = "NUBO_BTRIEVE_DLL";

// The record manager's status for a record manager that is not loaded.
constexpr std::int16_t kStatusRecordManagerInactive = engine::status::inactive;

// Loads the record manager's DLL (NUBO_BTRIEVE_DLL when set, else
// "WBTRV32.DLL") and makes its entry BTRCALL the data layer's record manager.
// `dllName` is set to the name tried. Status 0, or 20 when the DLL or its
// entry cannot be found; the record manager in force is then left as it was.
// On 32-bit Windows the entry is called with the __stdcall convention.
void loadRecordManagerDll(std::string& dllName, std::int16_t& status);

// The start of the program on Windows: loads the record manager's DLL as
// loadRecordManagerDll does and, when it cannot be loaded, ends the program
// as an open that fails: the fatal message naming the DLL and status 20
// ("NO ES POT ACCEDIR AL FITXER WBTRV32.DLL (20)" in Catalan), one key,
// exit code 0. Returns only with the DLL's entry in force.
void useRecordManagerDll();
