#include "tools/plain_files.h"

#include "platform/platform.h"
#include "tools/error.h"

namespace nubodat {

std::string readPlainFile(const std::string& path, std::size_t limit) {
    platform::File file;
    if (!platform::openFile(path, platform::FileMode::ReadShared, file))
        throw Error(path + ": cannot be opened for reading");
    std::string data;
    char chunk[65536];
    for (;;) {
        const std::int64_t n = platform::readFile(file, chunk, sizeof chunk);
        if (n < 0) {
            platform::closeFile(file);
            throw Error(path + ": read error");
        }
        if (n == 0) break;
        data.append(chunk, static_cast<std::size_t>(n));
        if (data.size() > limit) {
            platform::closeFile(file);
            throw Error(path + ": larger than " + std::to_string(limit) + " bytes");
        }
    }
    platform::closeFile(file);
    return data;
}

void writePlainFile(const std::string& path, const std::string& bytes) {
    platform::File file;
    if (!platform::openFile(path, platform::FileMode::CreateTruncate, file))
        throw Error(path + ": cannot be created");
    const bool written = platform::writeFile(file, bytes.data(), bytes.size()) && platform::syncFile(file);
    platform::closeFile(file);
    if (!written) {
        platform::deleteFile(path);
        throw Error(path + ": write error; the file was removed");
    }
}

}  // namespace nubodat
