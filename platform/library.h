// Shared libraries loaded at run time: the installed record manager's DLL on
// Windows, a shared object on POSIX.
#pragma once

#include <string>

namespace platform {

// The address of an entry of a loaded library; cast to its real type.
using LibraryEntry = void (*)();

// Loads the library `name` (8-bit text in the console code page) through
// the system's normal search (on Windows the program's folder, the system
// folders, the current folder and PATH; on POSIX the dynamic linker's path,
// or the file itself when `name` holds a "/") and returns its entry
// `entryName`. Returns nullptr, keeping nothing loaded, when the library or
// the entry cannot be found. A library found stays loaded until the process
// ends; loading it again returns the same entry.
LibraryEntry loadLibraryEntry(const std::string& name, const std::string& entryName);

}  // namespace platform
