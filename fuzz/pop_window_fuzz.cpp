// popWindow on arbitrary "WinPush.tmp" contents, over an in-memory console
// smaller than some of the regions a damaged file may name. It must never
// crash, read outside the file or write outside the screen (the libraries
// are built with bounds-checked containers), and later pops and pushes on
// what it left must be as safe.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "console/console.h"
#include "fuzz/fuzz_file.h"
#include "platform/console.h"
#include "platform/memory_console.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int rows = input.ConsumeIntegralInRange(1, 60);
    const int columns = input.ConsumeIntegralInRange(1, 132);
    const std::string content = input.ConsumeRemainingBytesAsString();

    sessionSettings.tmpDir = fuzz_support::scratchDir();
    const std::string path = sessionSettings.tmpDir + "WinPush.tmp";
    fuzz_support::writeWhole(path, content);
    platform::resetMemoryConsole(rows, columns);
    platform::setConsoleBackend(&platform::memoryConsoleBackend());
    windowState = WindowState{};

    popWindow();

    // Whatever happened, a second pop and a push must still be safe.
    popWindow();
    pushWindow(1, 1, 1, 1);
    popWindow();

    platform::setConsoleBackend(nullptr);
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return 0;
}
