// The fixture of the data layer's tests: an empty table, the scripted
// record manager behind the seam, default session settings, pauses recorded
// instead of slept.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "data/data.h"
#include "data/internal.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "session/session.h"
#include "tests/data/scripted_record_manager.h"
#include "tests/support/environment.h"
#include "tests/support/temp_dir.h"

namespace data_test {

inline std::vector<std::uint32_t>& pauses() {
    static std::vector<std::uint32_t> p;
    return p;
}
// Runs once on each pause, when set.
inline void (*&onPause())() {
    static void (*hook)() = nullptr;
    return hook;
}
inline void recordPause(std::uint32_t milliseconds) {
    pauses().push_back(milliseconds);
    if (onPause() != nullptr) onPause()();
}

// The console of tests that must never reach the fatal path: that path ends
// the process with exit code 0, which would pass for success, so the first
// thing it shows aborts instead.
namespace trap {
inline void fail() {
    std::fputs("the fatal path of an open was taken\n", stderr);
    std::abort();
}
inline void noCursor() {}
inline void size(int& rows, int& columns) {
    rows = 25, columns = 80;
}
inline void cursor(int& row, int& column) {
    row = 1, column = 1;
}
inline void moveCursor(int, int) {}
inline void cell(int, int, unsigned char& c, unsigned char& a) {
    c = ' ', a = 7;
}
inline void colours(int, int) {}
inline void write(const std::string&) {
    fail();
}
inline void nothing() {
    fail();
}
inline const platform::ConsoleBackend console = {noCursor, size,  cursor,  moveCursor, cell,
                                                 colours,  write, nothing, nothing,    nothing};
}  // namespace trap

// Death tests. On POSIX the child is a fork of the test and shares its
// temporary folder. On Windows the child runs the test again from its start,
// with a temporary folder of its own: the parent names its folder in the
// environment (the child, which inherits the name, keeps it), the child
// leaves what the parent reads there and removes its own folder when it
// ends. The fixture forgets the name at the end of each test.
constexpr char kParentFolderVariable[] = "NUBO_DATA_TEST_PARENT_FOLDER";

inline void shareFolderWithChild(const testing_support::TempDir& folder) {
    if (platform::getEnvironmentVariable(kParentFolderVariable).empty()) {
        testing_support::setEnvironment(kParentFolderVariable, folder.path().string());
    }
}

inline std::filesystem::path& childOwnFolder() {
    static std::filesystem::path folder;
    return folder;
}
inline void removeChildOwnFolder() {
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::temp_directory_path(ec), ec);
    std::filesystem::remove_all(childOwnFolder(), ec);
}

// In the child: the parent's folder.
inline std::filesystem::path parentFolder(const testing_support::TempDir& own) {
    const std::string named = platform::getEnvironmentVariable(kParentFolderVariable);
    const std::filesystem::path parent = named.empty() ? own.path() : std::filesystem::path(named);
    if (parent != own.path()) {
        childOwnFolder() = own.path();
        std::atexit(removeChildOwnFolder);
    }
    return parent;
}

class DataTest : public ::testing::Test {
protected:
    void SetUp() override {
        openFileTable = OpenFileTable{};
        sessionSettings = SessionSettings{};
        scripted::install();
        pauses().clear();
        onPause() = nullptr;
        setPauseFunction(recordPause);
        platform::setConsoleBackend(&trap::console);
    }
    void TearDown() override {
        setRecordManager(nullptr);
        setPauseFunction(nullptr);
        onPause() = nullptr;
        platform::setConsoleBackend(nullptr);
        testing_support::unsetEnvironment(kParentFolderVariable);
    }

    // Opens a file through a scripted Open and Stat and clears the calls.
    void openScripted(std::int16_t fileNumber, unsigned char* area, std::int32_t areaSize,
                      int recordLength, const std::vector<std::vector<int>>& keys = {{4}}) {
        scripted::answerOpen(recordLength, keys);
        std::int16_t status = -1;
        openDataFile(fileNumber, "DADES\\F" + std::to_string(fileNumber), area, areaSize, status);
        ASSERT_EQ(status, 0);
        scripted::calls().clear();
    }

    static OpenFileEntry& entryOf(std::int16_t fileNumber) {
        const std::int16_t slot = findSlot(fileNumber);
        EXPECT_GT(slot, 0);
        return openFileTable.entries[slot > 0 ? slot : 0];
    }
};

}  // namespace data_test
