#include "engine/postgres/server_map.h"

#include <libpq-fe.h>

#include <charconv>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace engine::pg {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool readSeconds(std::string_view value, std::uint32_t& out) {
    std::uint32_t v = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (ec != std::errc() || end != value.data() + value.size() || v < 1 || v > 300) return false;
    out = v;
    return true;
}

// Checks a connection string the way libpq reads it; false with a reason
// that never repeats the string (it may hold secrets).
bool checkServer(const std::string& conninfo, std::string& reason) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    PQfreemem(error);
    if (options == nullptr) {
        reason = "\"server\" is not a connection string libpq can read";
        return false;
    }
    bool password = false;
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (std::strcmp(o->keyword, "password") == 0 && o->val != nullptr) password = true;
    }
    PQconninfoFree(options);
    if (password) {
        reason = "\"server\" holds a password: keep it in the password file (PGPASSFILE)";
        return false;
    }
    return true;
}

// The components of a program path, "." dropped and ".." applied; false
// when ".." climbs above the path's start.
bool components(const std::string& path, std::vector<std::string>& out, bool& absolute) {
    out.clear();
    absolute = !path.empty() && (path[0] == '\\' || path[0] == '/');
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t end = i;
        while (end < path.size() && path[end] != '\\' && path[end] != '/') ++end;
        const std::string part = path.substr(i, end - i);
        if (part == "..") {
            if (out.empty()) return false;
            out.pop_back();
        } else if (!part.empty() && part != ".") {
            out.push_back(part);
        }
        i = end + 1;
    }
    return true;
}

bool readMapFile(const std::string& programPath, std::string& text) {
    platform::File f;
    if (!platform::openFile(programPath, platform::FileMode::ReadShared, f)) return false;
    text.assign(maxMapFileSize + 1, '\0');
    std::size_t got = 0;
    for (;;) {
        const std::int64_t n = platform::readFile(f, text.data() + got, text.size() - got);
        if (n < 0) {
            platform::closeFile(f);
            return false;
        }
        if (n == 0 || got + static_cast<std::size_t>(n) == text.size()) {
            got += static_cast<std::size_t>(n);
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    platform::closeFile(f);
    text.resize(got);
    return true;
}

}  // namespace

bool parseServerMap(std::string_view text, ServerMap& out, std::string& error) {
    out = ServerMap{};
    error.clear();
    if (text.size() > maxMapFileSize) {
        error = "the file is longer than " + std::to_string(maxMapFileSize) + " bytes";
        return false;
    }
    constexpr int keyCount = 5;
    bool seen[keyCount] = {};
    static constexpr const char* keys[keyCount] = {"server", "schema", "connect_timeout",
                                                   "call_timeout", "read_ahead"};
    int lineNumber = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = trim(text.substr(at, end - at));
        at = end + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return fail("not \"key = value\"");
        const std::string_view key = trim(line.substr(0, eq));
        const std::string_view value = trim(line.substr(eq + 1));
        int k = -1;
        for (int i = 0; i < keyCount; ++i) {
            if (key == keys[i]) k = i;
        }
        if (k < 0) return fail("unknown key \"" + std::string(key.substr(0, 40)) + "\"");
        if (seen[k]) return fail("\"" + std::string(key) + "\" given twice");
        seen[k] = true;
        if (value.empty()) return fail("\"" + std::string(key) + "\" has no value");
        if (value.find('\0') != std::string_view::npos) return fail("a zero byte in the value");
        switch (k) {
            case 0: {
                std::string reason;
                out.server = std::string(value);
                if (!checkServer(out.server, reason)) {
                    out.server.clear();
                    return fail(reason);
                }
                break;
            }
            case 1:
                if (value.size() > 63) return fail("\"schema\" is longer than 63 bytes");
                out.schema = std::string(value);
                break;
            case 2:
                if (!readSeconds(value, out.connectSeconds)) {
                    return fail("\"connect_timeout\" is not 1..300 seconds");
                }
                break;
            case 3:
                if (!readSeconds(value, out.callSeconds)) {
                    return fail("\"call_timeout\" is not 1..300 seconds");
                }
                break;
            case 4: {
                std::uint32_t v = 0;
                const auto [end, ec] =
                    std::from_chars(value.data(), value.data() + value.size(), v);
                if (ec != std::errc() || end != value.data() + value.size() || v > 1000) {
                    return fail("\"read_ahead\" is not 0..1000 milliseconds");
                }
                out.readAheadMilliseconds = v;
                break;
            }
        }
    }
    if (!seen[0]) {
        error = "no \"server\" line";
        return false;
    }
    return true;
}

std::string serverName(std::string_view relative) {
    std::string name;
    name.reserve(relative.size());
    for (char c : relative) {
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        name += c;
    }
    return name;
}

Placement placeDataFile(const std::string& programPath) {
    Placement p;
    std::vector<std::string> parts;
    bool absolute = false;
    if (programPath.empty() || !components(programPath, parts, absolute) || parts.empty()) {
        return p;
    }
    const std::string root = absolute ? std::string(1, programPath[0]) : std::string();
    // Folders from the file's own upwards: parts[0..n) for n = size-1 .. 0.
    const std::size_t folders = parts.size() - 1;
    for (std::size_t up = 0; up <= folders && up <= static_cast<std::size_t>(mapSearchDepth);
         ++up) {
        const std::size_t n = folders - up;
        std::string folder = root;
        for (std::size_t i = 0; i < n; ++i) folder += parts[i] + "\\";
        const std::string mapPath = folder + mapFileName;
        if (!platform::pathExists(mapPath)) continue;
        std::string text;
        if (!readMapFile(mapPath, text)) {
            p.where = Placement::Where::Invalid;
            p.error = std::string(mapFileName) + ": cannot be read";
            return p;
        }
        if (!parseServerMap(text, p.map, p.error)) {
            p.where = Placement::Where::Invalid;
            p.error = std::string(mapFileName) + ": " + p.error;
            return p;
        }
        std::string relative;
        for (std::size_t i = n; i < parts.size(); ++i) {
            if (!relative.empty()) relative += '/';
            relative += parts[i];
        }
        p.where = Placement::Where::Server;
        p.name = serverName(platform::oemToUtf8(relative));
        return p;
    }
    return p;
}

}  // namespace engine::pg
