#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packed/packed.h"

namespace {

TEST(PackDottedCode, Table) {
    struct Case {
        std::string code;
        std::string digits;  // what the packed bytes read back as
    };
    const std::vector<Case> cases = {
        {"7", "0007"},
        {"12.345", "00120345"},
        {"1.2.3", "000100020003"},
        {"123456", "123456"},           // 6 characters, no "."
        {"123456.0001", "1234560001"},  // 11 characters, one "."
        {"12345678901", "678901"},      // 11 characters, no ".": cut to 6
        {"12345.67890", "0123457890"},
        {"123.456.789", "012304560789"},  // 11 characters, two "."
        {"1234567", "4567"},              // 7 characters: width 4
        {"", ""},
        {"12..3", "001200000003"},  // empty middle group is 0
        {"12.", "0012"},            // empty last group skipped
        {"12.  ", "0012"},          // blank last group skipped
        {".", "0000"},
        {".5", "00000005"},
        {"  12.3a", "00120003"},  // leading number of each group
        {"-5", "0005"},
        {"abc", "0000"},
        {"12.x", "00120000"},  // last group not blank: counts 0
        {"99999999999999999999.1", "00000001"},
    };
    for (const auto& c : cases) {
        const std::string packed = packDottedCode(c.code);
        EXPECT_EQ(unpackDigits(packed), c.digits) << "code \"" << c.code << "\"";
        EXPECT_EQ(packed, packDigits(c.digits)) << "code \"" << c.code << "\"";
    }
}

TEST(IsFilledWith, Table) {
    struct Case {
        std::string text;
        std::int16_t code;
        std::int16_t result;
    };
    const std::vector<Case> cases = {
        {"   ", 32, -1},
        {" a ", 32, 0},
        {"", 65, -1},
        {"AAA", 65, -1},
        {"AAB", 65, 0},
        {"BAA", 65, 0},
        {std::string("\0\0", 2), 0, -1},
        {std::string(" \0", 2), 32, 0},
        {"\xff\xff", 255, -1},
        {"\xff", -1, 0},  // bytes are 0 to 255: no sign extension
        {"A", 321, 0},    // 321 is not a byte value
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isFilledWith(c.text, c.code), c.result) << "\"" << c.text << "\" " << c.code;
    }
}

TEST(CopyBytesToText, CopiesEveryByteIncludingZeros) {
    const unsigned char area[6] = {'A', 0, 0xff, 0x80, 0, 'z'};
    EXPECT_EQ(copyBytesToText(area, 6), std::string("A\0\xff\x80\0z", 6));
    EXPECT_EQ(copyBytesToText(area, 3), std::string("A\0\xff", 3));
    EXPECT_EQ(copyBytesToText(area, 0), "");
    EXPECT_EQ(copyBytesToText(area, -1), "");
    EXPECT_EQ(copyBytesToText(nullptr, 4), "");
}

TEST(CopyBytesToText, WholeOwnerRecordArea) {
    unsigned char record[428];
    for (int i = 0; i < 428; ++i) record[i] = static_cast<unsigned char>(i * 7);
    const std::string copy = copyBytesToText(record, 428);
    ASSERT_EQ(copy.size(), 428u);
    for (int i = 0; i < 428; ++i) EXPECT_EQ(static_cast<unsigned char>(copy[i]), record[i]) << i;
}

}  // namespace
