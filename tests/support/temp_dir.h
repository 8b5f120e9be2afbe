// A temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace testing_support {

class TempDir {
public:
    TempDir() {
        // A new folder with a random name (portable stand-in for mkdtemp).
        const auto base = std::filesystem::temp_directory_path();
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "nubo-test-%08x", static_cast<unsigned>(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(base / name, ec)) {
                path_ = base / name;
                return;
            }
        }
        std::abort();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder as a program path, ending in the system's separator ("/",
    // or "\\" on Windows).
    std::string dir() const {
#ifdef _WIN32
        return path_.string() + "\\";
#else
        return path_.string() + "/";
#endif
    }

    // Writes `bytes` to the file `name` under the folder (folders created).
    void write(const std::string& name, const std::string& bytes) const {
        const auto p = path_ / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // The whole content of the file `name`, or "" when it is missing.
    std::string read(const std::string& name) const {
        std::ifstream in(path_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    bool exists(const std::string& name) const {
        return std::filesystem::exists(path_ / name);
    }

private:
    std::filesystem::path path_;
};

}  // namespace testing_support
