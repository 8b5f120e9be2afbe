// Environment, clock and sleep on POSIX.
#include <time.h>

#include <cerrno>
#include <cstdlib>

#include "platform/platform.h"

namespace platform {
namespace {

LocalDate systemDate() {
    const time_t now = ::time(nullptr);
    struct tm parts {};
    LocalDate d;
    if (::localtime_r(&now, &parts) == nullptr) return d;
    d.year = parts.tm_year + 1900;
    d.month = parts.tm_mon + 1;
    d.day = parts.tm_mday;
    return d;
}

ClockFunction g_clock = nullptr;

}  // namespace

std::string getEnvironmentVariable(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    return v == nullptr ? std::string() : utf8ToOem(v);
}

LocalDate localDate() {
    return g_clock != nullptr ? g_clock() : systemDate();
}

void setClock(ClockFunction clock) {
    g_clock = clock;
}

void sleepMilliseconds(std::uint32_t milliseconds) {
    struct timespec left {};
    left.tv_sec = static_cast<time_t>(milliseconds / 1000);
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
