// Scratch files for the harnesses that feed their input through a file: one
// folder per process under the system's temporary folder, so harnesses run
// side by side (and libFuzzer's -jobs) never share a file.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzz_support {

inline std::string& scratchFolder() {
    static std::string folder;
    return folder;
}

inline void removeScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(scratchFolder(), ec);
}

// The folder, created at the first call and removed when the process exits
// normally, ending in "/".
inline const std::string& scratchDir() {
    static const std::string dir = [] {
        std::string templ = (std::filesystem::temp_directory_path() / "nubo-fuzz-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) std::abort();
        scratchFolder() = templ;
        std::atexit(removeScratchFolder);
        return templ + "/";
    }();
    return dir;
}

inline std::string scratchPath(const std::string& name) {
    return scratchDir() + name;
}

// Replaces the file at `path` with `bytes`.
inline void writeWhole(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) std::abort();
}

}  // namespace fuzz_support
