// From a data-file name to the record manager's path and the base name.
#include "data/internal.h"

void splitDataName(const std::string& name, std::string& dataPath, std::string& baseName) {
    std::size_t baseStart = 0;
    std::size_t extensionStart = std::string::npos;
    for (std::size_t i = name.size(); i > 0; --i) {
        const char c = name[i - 1];
        if (c == ':' || c == '\\' || c == '/') {
            baseStart = i;
            break;
        }
        if (c == '.') extensionStart = i - 1;  // goes on: the leftmost dot wins
    }
    if (extensionStart == std::string::npos) {
        baseName = name.substr(baseStart);
        dataPath = name + ".dat";
    } else {
        baseName = name.substr(baseStart, extensionStart - baseStart);
        dataPath = name;
    }
}
