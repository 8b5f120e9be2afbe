#include "tools/plain_files.h"

#include <iostream>

#include "platform/platform.h"
#include "tools/error.h"

namespace nubodat {
namespace {

std::string because(const std::string& what) {
    const std::string reason = platform::lastFileErrorText();
    return reason.empty() ? what : what + ": " + reason;
}

std::string readStandardInput(std::size_t limit) {
    std::string data;
    char chunk[65536];
    std::streambuf* in = std::cin.rdbuf();
    for (;;) {
        const std::streamsize n = in->sgetn(chunk, sizeof chunk);
        if (n <= 0) break;
        data.append(chunk, static_cast<std::size_t>(n));
        if (data.size() > limit)
            throw Error("standard input: larger than " + std::to_string(limit) + " bytes");
    }
    return data;
}

}  // namespace

std::string readPlainFile(const std::string& path, std::size_t limit) {
    if (path == kStandardStream) return readStandardInput(limit);
    platform::File file;
    if (!platform::openFile(path, platform::FileMode::ReadShared, file))
        throw Error(path + ": " + because("cannot be opened for reading"));
    std::string data;
    char chunk[65536];
    for (;;) {
        const std::int64_t n = platform::readFile(file, chunk, sizeof chunk);
        if (n < 0) {
            const std::string message = because("read error");
            platform::closeFile(file);
            throw Error(path + ": " + message);
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
    const std::string temporary = path + ".nubodat-new";
    platform::File file;
    if (!platform::openFile(temporary, platform::FileMode::CreateTruncate, file))
        throw Error(path + ": " + because("cannot be created"));
    bool written =
        platform::writeFile(file, bytes.data(), bytes.size()) && platform::syncFile(file);
    std::string message = written ? "" : because("write error");
    platform::closeFile(file);
    if (written && !platform::replaceFile(temporary, path)) {
        written = false;
        message = because("cannot be replaced");
    }
    if (!written) {
        platform::deleteFile(temporary);
        throw Error(path + ": " + message + "; nothing was written" +
                    (platform::pathExists(path) ? " and the file is as it was" : ""));
    }
}

void writeStandardOutput(std::ostream& out, const std::string& bytes) {
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out)
        throw Error("standard output: " + because("write error") + "; the output is incomplete");
}

void writeOutput(const std::string& path, const std::string& bytes, std::ostream& out) {
    if (path == kStandardStream)
        writeStandardOutput(out, bytes);
    else
        writePlainFile(path, bytes);
}

}  // namespace nubodat
