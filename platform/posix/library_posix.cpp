// Libraries loaded at run time on POSIX: dlopen and dlsym.
#include <dlfcn.h>

#include "platform/library.h"
#include "platform/platform.h"

namespace platform {

LibraryEntry loadLibraryEntry(const std::string& name, const std::string& entryName) {
    if (name.empty() || entryName.empty()) return nullptr;
    // A name with a folder is a file path: give it the system's form.
    const std::string file =
        name.find_first_of("/\\") != std::string::npos ? nativePath(name) : oemToUtf8(name);
    void* module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return nullptr;
    void* entry = ::dlsym(module, entryName.c_str());
    if (entry == nullptr) {
        ::dlclose(module);
        return nullptr;
    }
    return reinterpret_cast<LibraryEntry>(entry);
}

}  // namespace platform
