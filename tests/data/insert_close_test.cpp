// Insertion with its operations-log line, and closing every data file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/platform.h"
#include "tests/data/data_fixture.h"
#include "tests/support/temp_dir.h"

namespace data_test {
namespace {

using scripted::blanks;
using scripted::calls;
using scripted::zeros;

// File 514, Insert, status 0: 31 characters and CR LF.
const std::string kLine514 =
    " 514          "
    " 2            "
    " 0 \r\n";

// Runs in a temporary current directory, where "db.log" is written.
class InsertTest : public DataTest {
protected:
    void SetUp() override {
        DataTest::SetUp();
        previous = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        std::memcpy(area, "COLLECTION-RECORD-22-B", 22);
        openScripted(514, area, sizeof area, 22, {{8}});
        entryOf(514).keyValue = "IDENTITY";
    }
    void TearDown() override {
        std::filesystem::current_path(previous);
        DataTest::TearDown();
    }
    std::string log() const { return dir.read("db.log"); }

    testing_support::TempDir dir;
    std::filesystem::path previous;
    unsigned char area[22];
};

TEST(OperationsLogLine, NumbersInFourteenColumnZones) {
    const struct {
        std::int16_t fileNumber, operation, status;
        std::string line;
    } cases[] = {
        {514, 2, 0, kLine514},
        {514, 2, 5, " 514" + blanks(10) + " 2" + blanks(12) + " 5 \r\n"},
        {1000, 2, 0, " 1000" + blanks(9) + " 2" + blanks(12) + " 0 \r\n"},
        {-1, 2, -32768, "-1" + blanks(12) + " 2" + blanks(12) + "-32768 \r\n"},
        {-32768, -32768, 32767, "-32768" + blanks(8) + "-32768" + blanks(8) + " 32767 \r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(operationsLogLine(c.fileNumber, c.operation, c.status), c.line);
    }
    EXPECT_EQ(operationsLogLine(514, 2, 0).size(), 33u);
}

TEST_F(InsertTest, InsertHandsTheRecordAndKeyAndLogsEveryInsertion) {
    scripted::answer(scripted::status(0));
    scripted::answer(scripted::status(5));
    scripted::answer(scripted::status(0));
    const std::int16_t expected[] = {0, 5, 0};
    for (std::int16_t want : expected) {
        entryOf(514).keyValue = "IDENTITY";
        std::int16_t status = -1;
        insertRecord(514, status);
        EXPECT_EQ(status, want);
        EXPECT_EQ(entryOf(514).keyValue, want == 0 ? "IDENTITY" : zeros(8));
    }
    ASSERT_EQ(calls().size(), 3u);
    const scripted::Call& insert = calls()[0];
    EXPECT_EQ(insert.operation, 2);
    EXPECT_EQ(insert.positionBlock, entryOf(514).positionBlock);
    EXPECT_EQ(insert.data, "COLLECTION-RECORD-22-B" + blanks(1514));
    EXPECT_EQ(insert.dataLength, 22u);
    EXPECT_EQ(insert.key, "IDENTITY" + blanks(248));
    EXPECT_EQ(insert.keyLength, 8);
    EXPECT_EQ(insert.keyNumber, 0);
    EXPECT_EQ(log(), kLine514 + " 514" + blanks(10) + " 2" + blanks(12) + " 5 \r\n" + kLine514);
}

TEST_F(InsertTest, StatusTwentyTwoIsKeptAndLogged) {
    scripted::answer(scripted::status(22));
    std::int16_t status = -1;
    insertRecord(514, status);
    EXPECT_EQ(status, 22);
    EXPECT_EQ(log(), " 514" + blanks(10) + " 2" + blanks(12) + " 22 \r\n");
}

TEST_F(InsertTest, LogIsOnlyAppendedTo) {
    dir.write("db.log", "earlier line\r\n");
    scripted::answer(scripted::status(0));
    std::int16_t status = -1;
    insertRecord(514, status);
    EXPECT_EQ(log(), "earlier line\r\n" + kLine514);
}

TEST_F(InsertTest, UnregisteredFileNumberInsertsAndLogsNothing) {
    for (std::int16_t fileNumber : {std::int16_t{513}, std::int16_t{0}}) {
        std::int16_t status = -1;
        insertRecord(fileNumber, status);
        EXPECT_EQ(status, 3);
    }
    EXPECT_TRUE(calls().empty());
    EXPECT_FALSE(dir.exists("db.log"));
}

// "db.log" held by another holder (another open without sharing stands in
// for another process: the lock belongs to the open, not the process).
platform::File g_holder;
void releaseHolder() {
    platform::closeFile(g_holder);
}

TEST_F(InsertTest, HeldLogIsWaitedForBrieflyAndWrittenOnceReleased) {
    ASSERT_TRUE(platform::openFile("db.log", platform::FileMode::AppendExclusive, g_holder));
    onPause() = releaseHolder;
    scripted::answer(scripted::status(0));
    std::int16_t status = -1;
    insertRecord(514, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(pauses().size(), 1u);
    EXPECT_EQ(log(), kLine514);
}

TEST_F(InsertTest, LogHeldThroughoutIsGivenUpAndTheInsertionStands) {
    ASSERT_TRUE(platform::openFile("db.log", platform::FileMode::AppendExclusive, g_holder));
    scripted::answer(scripted::status(0));
    scripted::answer(scripted::status(5));
    std::int16_t status = -1;
    insertRecord(514, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(entryOf(514).keyValue, "IDENTITY");
    // A bounded wait, well beyond the second another program may hold it.
    std::uint32_t waited = 0;
    for (std::uint32_t p : pauses()) waited += p;
    EXPECT_EQ(pauses().size(), static_cast<std::size_t>(kLogHeldPauses));
    EXPECT_EQ(waited, 10000u);
    insertRecord(514, status);
    EXPECT_EQ(status, 5);
    EXPECT_EQ(entryOf(514).keyValue, zeros(8));
    releaseHolder();
    EXPECT_EQ(log(), "");
    EXPECT_EQ(calls().size(), 2u);
}

// Held for three seconds (60 pauses) by another holder: no line is lost.
TEST_F(InsertTest, LogHeldForSecondsLosesNoLine) {
    ASSERT_TRUE(platform::openFile("db.log", platform::FileMode::AppendExclusive, g_holder));
    onPause() = [] {
        if (pauses().size() == 60) releaseHolder();
    };
    scripted::answer(scripted::status(0));
    std::int16_t status = -1;
    insertRecord(514, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(pauses().size(), 60u);
    EXPECT_EQ(log(), kLine514);
}

// A log that cannot be written for another reason than another holder (here
// a folder of that name) is not waited for.
TEST_F(InsertTest, LogThatCannotBeOpenedIsGivenUpWithoutWaiting) {
    std::filesystem::create_directory(dir.path() / "db.log");
    scripted::answer(scripted::status(0));
    std::int16_t status = -1;
    insertRecord(514, status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(pauses().empty());
    EXPECT_EQ(calls().size(), 1u);
}

TEST_F(DataTest, CloseResetsThroughEntryZeroAndEmptiesTheTable) {
    unsigned char a[64], b[64];
    openScripted(504, a, sizeof a, 10);
    openScripted(511, b, sizeof b, 10);
    scripted::answer(scripted::status(0));
    std::int16_t status = -1;
    closeAllDataFiles(status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(calls().size(), 1u);
    const scripted::Call& reset = calls()[0];
    EXPECT_EQ(reset.operation, 28);
    EXPECT_EQ(reset.positionBlock, openFileTable.entries[0].positionBlock);
    EXPECT_EQ(reset.positionBytes, blanks(128));
    EXPECT_EQ(reset.dataLength, 0u);
    EXPECT_EQ(reset.data.substr(0, 4), zeros(4));
    EXPECT_EQ(reset.keyLength, 0);
    EXPECT_EQ(reset.keyNumber, 0);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(openFileTable.entries[0].positionBlock), 129),
        zeros(129));
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        const OpenFileEntry& e = openFileTable.entries[slot];
        EXPECT_EQ(e.fileNumber, 0);
        EXPECT_EQ(e.recordArea, nullptr);
        EXPECT_EQ(e.recordLength, 0);
        EXPECT_EQ(e.keyValue, "");
    }
    status = -1;
    seekByKey(504, 0, "X", 0, status);
    EXPECT_EQ(status, 3);
    EXPECT_EQ(calls().size(), 1u);

    openScripted(511, b, sizeof b, 10);  // any number can be opened again
    EXPECT_EQ(findSlot(511), 40);
}

TEST_F(DataTest, FailedResetKeepsEverySlot) {
    unsigned char a[64];
    openScripted(504, a, sizeof a, 10);
    scripted::answer(scripted::status(7));
    std::int16_t status = -1;
    closeAllDataFiles(status);
    EXPECT_EQ(status, 7);
    EXPECT_EQ(findSlot(504), 40);
    EXPECT_EQ(openFileTable.entries[40].recordArea, a);
}

TEST_F(DataTest, CloseBeforeAnyOpenResetsAndLeavesAnEmptyTable) {
    scripted::answer(scripted::status(20));
    std::int16_t status = -1;
    closeAllDataFiles(status);
    EXPECT_EQ(status, 20);
    EXPECT_TRUE(openFileTable.created);
    EXPECT_EQ(findSlot(504), -40);
}

TEST_F(DataTest, WithoutARecordManagerEveryCallAnswersNotActive) {
    setRecordManager(nullptr);
    std::int16_t status = -1;
    closeAllDataFiles(status);
    EXPECT_EQ(status, 20);
}

}  // namespace
}  // namespace data_test
