#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "packed/packed.h"

namespace {

TEST(LeadingNumber, Table) {
    struct Case {
        std::string text;
        double value;
    };
    const std::vector<Case> cases = {
        {"", 0},
        {"12", 12},
        {"  -3.5x", -3.5},
        {"\t\r\n7", 7},
        {"+4", 4},
        {"1 5", 1},
        {"12a", 12},
        {".5", 0.5},
        {"-.25", -0.25},
        {"5.", 5},
        {"-", 0},
        {"abc", 0},
        {"1e3", 1},
        {"- 5", 0},
        {"007", 7},
        {"3.25.1", 3.25},
        {"15000700", 15000700},
        {"x12", 0},
        {"\v3", 0},
        {"0.1", 0.1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(leadingNumber(c.text), c.value) << "text \"" << c.text << "\"";
    }
}

TEST(LeadingNumber, DigitsBeyondADoubleGiveInfinity) {
    const std::string huge = "1" + std::string(400, '0');
    EXPECT_EQ(leadingNumber(huge), std::numeric_limits<double>::infinity());
    EXPECT_EQ(leadingNumber("-" + huge), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(roundToInt16(leadingNumber(huge)), 32767);
}

TEST(RoundToInt16, Table) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double value;
        std::int16_t rounded;
    };
    const std::vector<Case> cases = {
        {0, 0},         {2.5, 2},         {3.5, 4},           {-2.5, -2},         {-3.5, -4},
        {0.5, 0},       {1.5, 2},         {-0.5, 0},          {2.4, 2},           {2.6, 3},
        {-2.6, -3},     {-2.4, -2},       {32767, 32767},     {32767.4, 32767},   {32766.5, 32766},
        {40000, 32767}, {-32768, -32768}, {-32768.5, -32768}, {-32767.5, -32768}, {-40000, -32768},
        {inf, 32767},   {-inf, -32768},   {std::nan(""), 0},  {1e300, 32767},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(roundToInt16(c.value), c.rounded) << "value " << c.value;
    }
}

TEST(ZeroPad, Table) {
    struct Case {
        double value;
        std::int16_t width;
        std::string text;
    };
    const std::vector<Case> cases = {
        {7, 2, "07"},
        {2024, 2, "24"},
        {-5, 2, "05"},
        {123, 2, "23"},
        {0, 4, "0000"},
        {2024, 4, "2024"},
        {12, 5, "00012"},
        {7, 0, ""},
        {7, -3, ""},
        {-0.0, 2, "00"},
        {32767, 5, "32767"},
        {999999999999999, 15, "999999999999999"},
        {1e15, 16, "1000000000000000"},
        {123456789012345678.0, 5, "46000"},  // 15 significant digits
        {1e20, 3, "000"},
        {2.5, 4, "02.5"},
        {-2.5, 3, "2.5"},
        {0.001, 6, "00.001"},
        {0.1, 3, "0.1"},
        {std::nan(""), 2, "00"},
        {std::numeric_limits<double>::infinity(), 3, "000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zeroPad(c.value, c.width), c.text) << c.value << " width " << c.width;
    }
}

TEST(ZeroPad, WholeNumbersGiveTheirLowOrderDigits) {
    for (int v = -1200; v <= 12000; v += 7) {
        const std::string digits = std::to_string(std::abs(v));
        for (std::int16_t w = 1; w <= 6; ++w) {
            const std::string padded = std::string(w, '0') + digits;
            EXPECT_EQ(zeroPad(v, w), padded.substr(padded.size() - w)) << v << " " << w;
        }
    }
}

}  // namespace
