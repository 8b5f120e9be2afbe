// Choice of the console back end; the same on every system.
#include "platform/console.h"

#include "platform/platform.h"

namespace platform {
namespace {
const ConsoleBackend* g_backend = nullptr;
}

void setConsoleBackend(const ConsoleBackend* backend) {
    g_backend = backend;
}

const ConsoleBackend& console() {
    return g_backend != nullptr ? *g_backend : systemConsole();
}

void beep() {
    console().beep();
}

}  // namespace platform
