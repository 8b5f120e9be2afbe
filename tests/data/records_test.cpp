// The exchange of one record, positioning on a key and stepping along it.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/data/data_fixture.h"

namespace data_test {
namespace {

using scripted::blanks;
using scripted::calls;
using scripted::padded;
using scripted::zeros;
using namespace std::string_literals;

// A file 514 with 22-byte records in a 32-byte area whose last ten bytes
// must never be written, and a 4-byte key 0.
class RecordsTest : public DataTest {
protected:
    void SetUp() override {
        DataTest::SetUp();
        std::memset(area, '#', sizeof area);
        openScripted(514, area, sizeof area, 22, {{4}, {2, 6}, {3}});
        std::memcpy(area, "RECORD-OF-22-BYTES....", 22);
    }
    std::string record() const { return std::string(reinterpret_cast<const char*>(area), 22); }
    std::string guard() const { return std::string(reinterpret_cast<const char*>(area) + 22, 10); }
    // Scripts the two Stat calls of a seek on this file.
    void answerStats() {
        const scripted::Answer stat = scripted::statAnswer(22, 512, {{4}, {2, 6}, {3}});
        scripted::answer(stat);
        scripted::answer(stat);
    }
    unsigned char area[32];
};

TEST_F(RecordsTest, ExchangeFillsTheKeyBufferPerOperation) {
    const struct {
        std::int16_t operation;
        char filler;
    } cases[] = {{8, '\0'}, {9, '\0'}, {10, '\xFF'}, {11, '\xFF'}, {5, ' '},
                 {6, ' '},  {7, ' '},  {2, ' '},     {12, ' '}};
    OpenFileEntry& e = entryOf(514);
    e.keyValue = "K1\0K"s;
    e.keyNumber = 2;
    for (const auto& c : cases) {
        scripted::calls().clear();
        scripted::answer(scripted::status(0));
        std::int16_t status = -1;
        exchangeRecord(findSlot(514), c.operation, status);
        EXPECT_EQ(status, 0);
        ASSERT_EQ(calls().size(), 1u);
        const scripted::Call& call = calls()[0];
        EXPECT_EQ(call.operation, c.operation);
        EXPECT_EQ(call.positionBlock, e.positionBlock);
        EXPECT_EQ(call.data, record() + blanks(1514));
        EXPECT_EQ(call.dataLength, 22u);
        EXPECT_EQ(call.key, padded("K1\0K"s, 256, c.filler)) << c.operation;
        EXPECT_EQ(call.keyLength, 4);
        EXPECT_EQ(call.keyNumber, 2);
        EXPECT_EQ(e.keyValue, "K1\0K"s);  // untouched buffers come back unchanged
    }
}

TEST_F(RecordsTest, ExchangeCopiesNoMoreThanTheRecordLengthWhateverComesBack) {
    scripted::answer(scripted::record(std::string(1536, 'x'), "ABCDEFGH"));
    std::int16_t status = -1;
    exchangeRecord(findSlot(514), 6, status);
    EXPECT_EQ(record(), std::string(22, 'x'));
    EXPECT_EQ(guard(), std::string(10, '#'));
    EXPECT_EQ(entryOf(514).keyValue, "ABCD");  // the key keeps its length

    scripted::Answer huge = scripted::record("yy");
    huge.dataLength = 0xFFFFFFFFu;
    scripted::answer(huge);
    exchangeRecord(findSlot(514), 6, status);
    EXPECT_EQ(record(), "yy" + std::string(20, 'x'));
    EXPECT_EQ(guard(), std::string(10, '#'));
}

TEST_F(RecordsTest, FailedExchangeStillCopiesTheReturnedLength) {
    scripted::Answer partial = scripted::record("NEW" + std::string(30, 'X'), "", 4);
    partial.dataLength = 3;
    scripted::answer(partial);
    std::int16_t status = -1;
    exchangeRecord(findSlot(514), 5, status);
    EXPECT_EQ(status, 4);
    EXPECT_EQ(record(), "NEWORD-OF-22-BYTES....");
}

TEST_F(RecordsTest, SeekFillsShortValuesWithZerosAndCutsLongOnes) {
    const struct {
        std::string value;
        std::int16_t direction;
        std::uint16_t operation;
        std::string sentKey;
    } cases[] = {
        {"AB", 1, 9, padded("AB", 256, '\0')},
        {"AB", 0, 5, "AB"s + zeros(2) + blanks(252)},
        {"AB", -7, 11, "AB"s + zeros(2) + std::string(252, '\xFF')},
        {"ABCDEFG", 32767, 9, padded("ABCD", 256, '\0')},
        {"", -1, 11, zeros(4) + std::string(252, '\xFF')},
    };
    for (const auto& c : cases) {
        scripted::calls().clear();
        answerStats();
        scripted::answer(scripted::status(0));
        std::int16_t status = -1;
        seekByKey(514, 0, c.value, c.direction, status);
        EXPECT_EQ(status, 0);
        ASSERT_EQ(calls().size(), 3u);
        EXPECT_EQ(calls()[0].operation, 15);
        EXPECT_EQ(calls()[1].operation, 15);
        EXPECT_EQ(calls()[2].operation, c.operation) << c.value;
        EXPECT_EQ(calls()[2].key, c.sentKey) << c.value;
        EXPECT_EQ(calls()[2].keyLength, 4);
        EXPECT_EQ(calls()[2].keyNumber, 0);
    }
}

TEST_F(RecordsTest, SeekMakesTheKeyCurrentAndTakesTheFoundRecordAndKey) {
    answerStats();
    scripted::answer(scripted::record(std::string(22, 'R'), "PROP0001"));
    std::int16_t status = -1;
    seekByKey(514, 1, "PROP", 0, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(calls()[2].keyNumber, 1);
    EXPECT_EQ(calls()[2].key.substr(0, 9), "PROP"s + zeros(4) + " ");
    EXPECT_EQ(entryOf(514).keyNumber, 1);
    EXPECT_EQ(entryOf(514).keyValue, "PROP0001");
    EXPECT_EQ(record(), std::string(22, 'R'));
}

TEST_F(RecordsTest, SeekStatusesPassThroughAndTwentyTwoCountsAsSuccess) {
    const std::int16_t statuses[] = {22, 4, 9, -1};
    for (std::int16_t answered : statuses) {
        answerStats();
        scripted::answer(scripted::status(answered));
        std::int16_t status = -1;
        seekByKey(514, 0, "X", 0, status);
        EXPECT_EQ(status, answered == 22 ? 0 : answered);
    }
}

TEST_F(RecordsTest, SeekOnAKeyTheFileLacksGives1004AndKeepsTheCurrentKey) {
    OpenFileEntry& e = entryOf(514);
    e.keyNumber = 1;
    e.keyValue = "CURRENT1";
    scripted::answer(scripted::statAnswer(22, 512, {{4}, {2, 6}, {3}}));
    std::int16_t status = -1;
    seekByKey(514, 3, "X", 0, status);
    EXPECT_EQ(status, 1004);
    EXPECT_EQ(calls().size(), 1u);
    EXPECT_EQ(e.keyNumber, 1);
    EXPECT_EQ(e.keyValue, "CURRENT1");
}

TEST_F(RecordsTest, SeekRefusesAStatAnswerThatDoesNotFit) {
    scripted::answer(scripted::statAnswer(22, -4000, {{4}}));
    std::int16_t status = -1;
    seekByKey(514, 0, "X", 0, status);
    EXPECT_EQ(status, 1009);
    EXPECT_EQ(calls().size(), 1u);
    EXPECT_EQ(entryOf(514).keyValue, zeros(4));
}

TEST_F(RecordsTest, StepCountZeroDoesNothing) {
    std::int16_t status = -1;
    stepRecords(514, 0, status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(record(), "RECORD-OF-22-BYTES....");
}

TEST_F(RecordsTest, StepOfOneIsOneExchangeInItsDirection) {
    const struct {
        std::int16_t count;
        std::uint16_t operation;
    } cases[] = {{1, 6}, {-1, 7}};
    for (const auto& c : cases) {
        scripted::calls().clear();
        scripted::answer(scripted::record(std::string(22, 'S'), "NEXT", 22));
        std::int16_t status = -1;
        stepRecords(514, c.count, status);
        EXPECT_EQ(status, 0);
        ASSERT_EQ(calls().size(), 1u);
        EXPECT_EQ(calls()[0].operation, c.operation);
        EXPECT_EQ(calls()[0].dataLength, 22u);
        EXPECT_EQ(record(), std::string(22, 'S'));
        EXPECT_EQ(entryOf(514).keyValue, "NEXT");
        std::memcpy(area, "RECORD-OF-22-BYTES....", 22);
    }
}

TEST_F(RecordsTest, StepOfThreeMakesTwoQuietStepsAndOneExchange) {
    OpenFileEntry& e = entryOf(514);
    e.keyValue = "KEY0";
    e.keyNumber = 2;
    scripted::answer(scripted::record(std::string(40, 'a'), "AAAAAAAA"));
    scripted::answer(scripted::record(std::string(40, 'b'), "BB"s + zeros(1) + "B"));
    scripted::answer(scripted::record(std::string(22, 'c'), "CC"));
    std::int16_t status = -1;
    stepRecords(514, -3, status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(calls().size(), 3u);

    // First quiet step: the operation's own zeroed buffers, nothing offered.
    EXPECT_EQ(calls()[0].operation, 7);
    EXPECT_EQ(calls()[0].positionBlock, e.positionBlock);
    EXPECT_EQ(calls()[0].data, zeros(1536));
    EXPECT_EQ(calls()[0].dataLength, 1536u);
    EXPECT_EQ(calls()[0].key, zeros(256));
    EXPECT_EQ(calls()[0].keyLength, 0);
    EXPECT_EQ(calls()[0].keyNumber, 2);
    // Second: the same buffers as the first left them.
    EXPECT_EQ(calls()[1].data, std::string(40, 'a') + zeros(1496));
    EXPECT_EQ(calls()[1].dataLength, 1536u);
    EXPECT_EQ(calls()[1].key, "AAAAAAAA" + zeros(248));
    EXPECT_EQ(calls()[1].keyLength, 8);
    // The exchange offers the key cut at its first zero byte ("BB").
    EXPECT_EQ(calls()[2].operation, 7);
    EXPECT_EQ(calls()[2].data, "RECORD-OF-22-BYTES...." + blanks(1514));
    EXPECT_EQ(calls()[2].key, padded("BB", 256, ' '));
    EXPECT_EQ(calls()[2].keyLength, 2);
    EXPECT_EQ(record(), std::string(22, 'c'));
    EXPECT_EQ(e.keyValue, "CC");
    EXPECT_EQ(guard(), std::string(10, '#'));
}

TEST_F(RecordsTest, StepStopsAtTheFirstFailedQuietStep) {
    scripted::answer(scripted::record("", "K1K1", 22));  // 22 counts as success
    scripted::answer(scripted::record("", "K2"s + zeros(1), 9));
    std::int16_t status = -1;
    stepRecords(514, 3, status);
    EXPECT_EQ(status, 9);
    EXPECT_EQ(calls().size(), 2u);
    EXPECT_EQ(record(), "RECORD-OF-22-BYTES....");
    EXPECT_EQ(entryOf(514).keyValue, "K2");
    EXPECT_EQ(scripted::answersLeft(), 0u);
}

TEST_F(RecordsTest, StepHandlesTheMostNegativeCount) {
    scripted::answer(scripted::status(0));
    scripted::answer(scripted::status(0));
    scripted::answer(scripted::status(9));
    std::int16_t status = -1;
    stepRecords(514, -32768, status);
    EXPECT_EQ(status, 9);
    ASSERT_EQ(calls().size(), 3u);
    EXPECT_EQ(calls()[2].operation, 7);
    EXPECT_EQ(calls()[2].dataLength, 1536u);  // still quiet steps
}

TEST_F(RecordsTest, UnregisteredFileNumbersGiveStatus3WithoutCalls) {
    for (std::int16_t fileNumber : {std::int16_t{513}, std::int16_t{0}}) {
        std::int16_t status = -1;
        seekByKey(fileNumber, 0, "X", 0, status);
        EXPECT_EQ(status, 3);
        status = -1;
        stepRecords(fileNumber, 1, status);
        EXPECT_EQ(status, 3);
    }
    EXPECT_TRUE(calls().empty());
}

}  // namespace
}  // namespace data_test
