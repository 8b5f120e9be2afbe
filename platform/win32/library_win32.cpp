// Libraries loaded at run time on Windows: LoadLibraryW and GetProcAddress.
#include <windows.h>

#include "platform/library.h"
#include "platform/platform.h"
#include "platform/win32/text_win32.h"

namespace platform {

LibraryEntry loadLibraryEntry(const std::string& name, const std::string& entryName) {
    if (name.empty() || entryName.empty()) return nullptr;
    const HMODULE module = ::LoadLibraryW(win32::toWide(name).c_str());
    if (module == nullptr) return nullptr;
    // Entry names are plain ASCII; GetProcAddress takes them as they are.
    const FARPROC entry = ::GetProcAddress(module, entryName.c_str());
    if (entry == nullptr) {
        ::FreeLibrary(module);
        return nullptr;
    }
    return reinterpret_cast<LibraryEntry>(reinterpret_cast<void*>(entry));
}

}  // namespace platform
