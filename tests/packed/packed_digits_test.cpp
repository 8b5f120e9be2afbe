#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packed/packed.h"
#include "tests/packed/bytes.h"

namespace {

struct PackCase {
    std::string text;
    std::string packed;
};

TEST(PackDigits, Table) {
    const std::vector<PackCase> cases = {
        {"20240305", bytesOf({148, 152, 131, 133})},
        {"00000000", bytesOf({128, 128, 128, 128})},
        {"", ""},
        {"99", bytesOf({227})},
        {"123", bytesOf({140, 158})},  // odd length: 0 as the missing digit
        {"5", bytesOf({178})},         // a lone digit is the tens
        {"05", bytesOf({133})},
        {"1 2", bytesOf({138, 148})},  // as 102: an inner blank is 0
        {"102", bytesOf({138, 148})},
        {" 12", bytesOf({129, 148})},         // as 012
        {"12 ", bytesOf({129, 148})},         // as 012: trimmed, then right-aligned
        {"  7  ", bytesOf({128, 128, 198})},  // 00007 with 0 after the end
        {"   ", bytesOf({128, 128})},
        {"AB", bytesOf({128})},  // letters count as 0
        {"4X", bytesOf({168})},
        {std::string("\xff"
                     "9"),
         bytesOf({137})},
        {std::string("1\0"
                     "2",
                     3),
         bytesOf({138, 148})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(packDigits(c.text), c.packed) << "text \"" << c.text << "\"";
    }
}

TEST(UnpackDigits, Table) {
    const std::vector<PackCase> cases = {
        {"20240305", bytesOf({148, 152, 131, 133})},
        {"", ""},
        {"1230", bytesOf({140, 158})},
        {"50", bytesOf({178})},
        {"32", bytesOf({32})},  // a blank gives its own value
        {"00", bytesOf({0})},
        {"27", bytesOf({127})},
        {"00", bytesOf({228})},  // 228 to 255 wrap to 00 to 27
        {"27", bytesOf({255})},
        {"99", bytesOf({227})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(unpackDigits(c.packed), c.text) << "expected " << c.text;
    }
}

TEST(PackDigits, EveryPairRoundTrips) {
    for (int v = 0; v < 100; ++v) {
        const std::string digits = {static_cast<char>('0' + v / 10),
                                    static_cast<char>('0' + v % 10)};
        const std::string packed = packDigits(digits);
        ASSERT_EQ(packed.size(), 1u);
        EXPECT_EQ(static_cast<unsigned char>(packed[0]), 128 + v);
        EXPECT_EQ(unpackDigits(packed), digits);
    }
}

TEST(PackDigits, ByteOrderFollowsNumericOrderForEqualLengths) {
    // Six-digit numbers spread over the range, compared in pairs.
    std::vector<std::string> numbers;
    for (int v = 0; v < 1000000; v += 9973) {
        std::string s = std::to_string(v);
        numbers.push_back(std::string(6 - s.size(), '0') + s);
    }
    numbers.push_back("999999");
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        for (std::size_t j = 0; j < numbers.size(); j += 7) {
            const std::string a = packDigits(numbers[i]);
            const std::string b = packDigits(numbers[j]);
            // std::string compares char by char as unsigned char via char_traits.
            EXPECT_EQ(a < b, numbers[i] < numbers[j]) << numbers[i] << " " << numbers[j];
        }
    }
}

}  // namespace
