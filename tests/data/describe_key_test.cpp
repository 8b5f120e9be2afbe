// Key lengths and record lengths through Stat.
#include <gtest/gtest.h>

#include "tests/data/data_fixture.h"

namespace data_test {
namespace {

using scripted::calls;

struct KeyCase {
    std::int16_t keyNumber;
    std::int16_t keyLength;
    std::size_t statCalls;
};

TEST_F(DataTest, KeyLengthSumsTheSegmentsOfTheRequestedKey) {
    unsigned char area[64];
    openScripted(511, area, sizeof area, 40);
    const std::vector<std::vector<int>> keys = {{4}, {2, 3}, {8, 1, 255 - 9}};
    const KeyCase cases[] = {{0, 4, 2}, {1, 5, 2}, {2, 255, 2}, {3, 0, 1}, {7, 0, 1}, {-1, 0, 2}};
    for (const KeyCase& c : cases) {
        scripted::calls().clear();
        scripted::answer(scripted::statAnswer(40, 512, keys));
        if (c.statCalls == 2) scripted::answer(scripted::statAnswer(40, 512, keys));
        std::int16_t keyLength = -1, recordLength = -1;
        describeKey(511, c.keyNumber, keyLength, recordLength);
        EXPECT_EQ(keyLength, c.keyLength) << c.keyNumber;
        EXPECT_EQ(recordLength, 40) << c.keyNumber;
        EXPECT_EQ(calls().size(), c.statCalls) << c.keyNumber;
    }
}

TEST_F(DataTest, DescribeKeyOfAnUnregisteredFileIsZeroWithoutCalls) {
    std::int16_t keyLength = -1, recordLength = -1;
    describeKey(777, 0, keyLength, recordLength);
    EXPECT_EQ(keyLength, 0);
    EXPECT_EQ(recordLength, 0);
    describeKey(0, 0, keyLength, recordLength);  // 0 is no file number
    EXPECT_EQ(keyLength, 0);
    EXPECT_TRUE(calls().empty());
}

// Answers the data buffer cannot hold never reach past it: the layer refuses
// them with a status, and describeKey reports zero lengths.
TEST_F(DataTest, StatAnswersThatDoNotFitAreRefused) {
    unsigned char area[64];
    openScripted(511, area, sizeof area, 40);

    scripted::Answer runaway = scripted::statAnswer(40, 0, {{4}});
    runaway.data.resize(16);
    runaway.data.resize(kDataBufferSize, '\x10');  // every segment says another follows
    scripted::Answer longKey = scripted::statAnswer(40, 512, {{200, 56}});
    scripted::Answer blank;  // a failed Stat leaves the blanks in place
    blank.status = 3;

    struct Case {
        const char* what;
        scripted::Answer first, second;
        bool secondCall;
        std::int16_t status;
    } cases[] = {
        {"record over 1536", scripted::statAnswer(1537, 512, {{4}}), {}, false, 1005},
        {"negative record", scripted::statAnswer(-1, 512, {{4}}), {}, false, 1009},
        {"negative page", scripted::statAnswer(40, -2, {{4}}), {}, false, 1009},
        {"key over 255", longKey, longKey, true, 1009},
        {"segments past the end", runaway, runaway, true, 1009},
        {"failed Stat", blank, {}, false, 3},
    };
    for (const Case& c : cases) {
        scripted::calls().clear();
        scripted::answer(c.first);
        if (c.secondCall) scripted::answer(c.second);
        std::int16_t keyLength = -1, recordLength = -1, status = -1;
        describeSlotKey(findSlot(511), 0, keyLength, recordLength, status);
        EXPECT_EQ(status, c.status) << c.what;
        EXPECT_EQ(keyLength, 0) << c.what;
        EXPECT_EQ(recordLength, 0) << c.what;
        EXPECT_EQ(scripted::answersLeft(), 0u) << c.what;

        if (c.first.status == 0) {
            scripted::answer(c.first);
            if (c.secondCall) scripted::answer(c.second);
            describeKey(511, 0, keyLength, recordLength);
            EXPECT_EQ(keyLength, 0) << c.what;
            EXPECT_EQ(recordLength, 0) << c.what;
        }
    }
}

// Pages larger than the data buffer are ordinary: the second Stat then offers
// the whole buffer as zeros, and the key is described as usual.
TEST_F(DataTest, PagesLargerThanTheDataBufferZeroTheWholeBuffer) {
    unsigned char area[64];
    openScripted(511, area, sizeof area, 40);
    for (int pageSize : {1537, 4096}) {
        scripted::calls().clear();
        scripted::answer(scripted::statAnswer(40, pageSize, {{2, 7}}));
        scripted::answer(scripted::statAnswer(40, pageSize, {{2, 7}}));
        std::int16_t keyLength = -1, recordLength = -1, status = -1;
        describeSlotKey(findSlot(511), 0, keyLength, recordLength, status);
        EXPECT_EQ(status, 0) << pageSize;
        EXPECT_EQ(keyLength, 9) << pageSize;
        EXPECT_EQ(recordLength, 40) << pageSize;
        ASSERT_EQ(calls().size(), 2u);
        EXPECT_EQ(calls()[1].data, scripted::zeros(kDataBufferSize)) << pageSize;
    }
}

TEST_F(DataTest, LongestKeyAndAFullPageFit) {
    unsigned char area[64];
    openScripted(511, area, sizeof area, 40);
    scripted::answer(scripted::statAnswer(40, kDataBufferSize, {{255}}));
    scripted::answer(scripted::statAnswer(40, kDataBufferSize, {{255}}));
    std::int16_t keyLength = -1, recordLength = -1, status = -1;
    describeSlotKey(findSlot(511), 0, keyLength, recordLength, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(keyLength, 255);
    EXPECT_EQ(calls()[1].data, scripted::zeros(kDataBufferSize));
}

}  // namespace
}  // namespace data_test
