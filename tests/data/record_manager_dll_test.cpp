#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "data/data.h"
#include "data/record_manager_dll.h"
#include "tests/support/environment.h"

namespace {

using testing_support::setEnvironment;
using testing_support::unsetEnvironment;

std::int16_t NUBO_BTRCALL_CONV untouchedEntry(std::uint16_t, void*, void*, std::uint32_t*, void*,
                                              std::uint8_t, std::int8_t) {
    return -7;
}

class RecordManagerDll : public ::testing::Test {
protected:
    void SetUp() override { setRecordManager(&untouchedEntry); }
    void TearDown() override {
        unsetEnvironment(kRecordManagerDllVariable);
        setRecordManager(nullptr);
    }
};

TEST_F(RecordManagerDll, NamedDllBecomesTheRecordManager) {
    setEnvironment(kRecordManagerDllVariable, NUBO_FAKE_RECORD_MANAGER);
    std::string name;
    std::int16_t status = -1;
    loadRecordManagerDll(name, status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(name, NUBO_FAKE_RECORD_MANAGER);
    ASSERT_NE(recordManager(), &untouchedEntry);

    // Every argument reaches the entry, and the data length comes back.
    unsigned char positionBlock[kPositionBlockSize] = {};
    char data[kDataBufferSize] = {};
    char key[kKeyBufferSize] = "DADES\\CobramH.dat";
    std::uint32_t length = kDataBufferSize;
    const std::int16_t result =
        recordManager()(15, positionBlock, data, &length, key, 17, static_cast<std::int8_t>(-1));
    EXPECT_EQ(result, 15 * 1000 - 1);
    EXPECT_EQ(length, 17u);
    EXPECT_EQ(std::string(data, 17), "DADES\\CobramH.dat");
}

TEST_F(RecordManagerDll, MissingDllIsReportedByNameAndKeepsTheRecordManager) {
    setEnvironment(kRecordManagerDllVariable, "nubo-missing-record-manager.dll");
    std::string name;
    std::int16_t status = 0;
    loadRecordManagerDll(name, status);
    EXPECT_EQ(status, kStatusRecordManagerInactive);
    EXPECT_EQ(name, "nubo-missing-record-manager.dll");
    EXPECT_EQ(recordManager(), &untouchedEntry);
}

TEST_F(RecordManagerDll, WithoutTheVariableTheInstalledDllIsTried) {
    unsetEnvironment(kRecordManagerDllVariable);
    std::string name;
    std::int16_t status = 0;
    loadRecordManagerDll(name, status);
    EXPECT_EQ(name, "WBTRV32.DLL");
    // No record manager is installed where the tests run.
    EXPECT_EQ(status, kStatusRecordManagerInactive);
    EXPECT_EQ(recordManager(), &untouchedEntry);
}

TEST_F(RecordManagerDll, LibraryWithoutTheEntryIsRefused) {
    setEnvironment(kRecordManagerDllVariable, NUBO_LIBRARY_WITHOUT_ENTRY);
    std::string name;
    std::int16_t status = 0;
    loadRecordManagerDll(name, status);
    EXPECT_EQ(status, kStatusRecordManagerInactive);
    EXPECT_EQ(recordManager(), &untouchedEntry);
}

}  // namespace
