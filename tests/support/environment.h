// Setting and removing environment variables in tests, the same on every
// system. Values are UTF-8; on Windows they reach the process environment as
// wide characters, where the program reads them.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testing_support {

inline void setEnvironment(const std::string& name, const std::string& utf8Value) {
#ifdef _WIN32
    auto wide = [](const std::string& s) {
        return std::filesystem::path(std::u8string(s.begin(), s.end())).wstring();
    };
    // An empty value removes the variable on Windows: set and empty read the same.
    ::_wputenv_s(wide(name).c_str(), wide(utf8Value).c_str());
#else
    ::setenv(name.c_str(), utf8Value.c_str(), 1);
#endif
}

inline void unsetEnvironment(const std::string& name) {
#ifdef _WIN32
    setEnvironment(name, "");
#else
    ::unsetenv(name.c_str());
#endif
}

}  // namespace testing_support
