#include "engine/settings.h"

#include <charconv>
#include <string>

#include "platform/platform.h"

namespace engine {
namespace {

Settings readSettings() {
    Settings s;
    std::string sync = platform::getEnvironmentVariable("NUBO_ENGINE_SYNC");
    for (char& c : sync) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    s.fullSync = sync == "FULL";
    const std::string busy = platform::getEnvironmentVariable("NUBO_ENGINE_BUSY_MS");
    std::uint32_t ms = 0;
    const auto [end, ec] = std::from_chars(busy.data(), busy.data() + busy.size(), ms);
    if (!busy.empty() && ec == std::errc() && end == busy.data() + busy.size() && ms <= 60000) {
        s.busyMilliseconds = ms;
    }
    return s;
}

}  // namespace

const Settings& settings() {
    static const Settings s = readSettings();
    return s;
}

}  // namespace engine
