// Environment, clock and sleep on Windows.
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/win32/text_win32.h"

namespace platform {
namespace {

LocalDate systemDate() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return LocalDate{now.wYear, now.wMonth, now.wDay};
}

ClockFunction g_clock = nullptr;

}  // namespace

std::string getEnvironmentVariable(const std::string& name) {
    if (name.empty()) return std::string();
    const std::wstring wideName = win32::toWide(name);
    std::wstring value(256, L'\0');
    for (;;) {
        ::SetLastError(NO_ERROR);
        const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), value.data(),
                                                  static_cast<DWORD>(value.size()));
        if (n == 0) return std::string();  // unset, or set and empty
        if (n < value.size()) {
            value.resize(n);
            return win32::fromWide(value);
        }
        value.assign(n, L'\0');  // n counts the terminating zero here
    }
}

LocalDate localDate() {
    return g_clock != nullptr ? g_clock() : systemDate();
}

void setClock(ClockFunction clock) {
    g_clock = clock;
}

void sleepMilliseconds(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

}  // namespace platform
