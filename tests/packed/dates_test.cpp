#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packed/packed.h"
#include "platform/platform.h"
#include "tests/packed/bytes.h"

namespace {

int g_year = 2026;
platform::LocalDate fixedDate() {
    return {g_year, 3, 5};
}

class PackDateText : public ::testing::Test {
protected:
    void SetUp() override {
        g_year = 2026;
        platform::setClock(&fixedDate);
    }
    void TearDown() override { platform::setClock(nullptr); }
};

struct DateCase {
    std::string text;
    std::string yyyymmdd;
};

void expectDates(const std::vector<DateCase>& cases) {
    for (const auto& c : cases) {
        const std::string packed = packDateText(c.text);
        EXPECT_EQ(packed.size(), 4u) << "text \"" << c.text << "\"";
        EXPECT_EQ(unpackDigits(packed), c.yyyymmdd) << "text \"" << c.text << "\"";
    }
}

TEST_F(PackDateText, PacksTheDigitsOfTheDate) {
    EXPECT_EQ(packDateText("05/03/24"), bytesOf({148, 152, 131, 133}));
    EXPECT_EQ(packDateText(""), bytesOf({128, 128, 128, 128}));
    // The month is the third byte.
    EXPECT_EQ(unpackDigits(packDateText("5/11/24").substr(2, 1)), "11");
}

TEST_F(PackDateText, WrittenForms) {
    expectDates({
        {"05/03/24", "20240305"},
        {"5.3.2024", "20240305"},
        {"5-3-2024", "20240305"},
        {"05.03.2024", "20240305"},
        {"050324", "20240305"},
        {"05032024", "20240305"},
        {" 5/ 3/24", "20240305"},  // blanks inside the fields
        {"5/3/ 24 ", "20240305"},
        {"0503 24", "20240305"},     // positional year " 24" is short
        {"05031924", "19240305"},    // positional long year
        {"5/3/024", "20240305"},     // three characters: short
        {"5/3/ 2024 ", "20240305"},  // long after trimming
        {"5.3/24", "20240305"},      // separators may differ
        {"31/02/24", "20240231"},    // no calendar check
        {"1 5/3/24", "20240301"},    // the day reads as 1
        {"5/3 1/24", "20240305"},
        {"5/3/", "20000305"},  // an empty year reads 0
    });
}

TEST_F(PackDateText, CenturyWindowAroundTheCurrentYear) {
    expectDates({
        {"5/3/80", "19800305"},
        {"5/3/75", "20750305"},  // + 49: last year of the window
        {"5/3/76", "19760305"},
        {"5/3/26", "20260305"},
        {"5/3/00", "20000305"},
        {"5/3/123", "20230305"},  // 2123 is more than 49 years ahead
        {"5/3/999", "28990305"},
    });
}

TEST_F(PackDateText, NoExpansionWithoutDayAndMonth) {
    expectDates({
        {"00/00/00", "00000000"},
        {"0/3/24", "00240300"},
        {"5/0/24", "00240005"},
        {"000324", "00240300"},
    });
}

TEST_F(PackDateText, UnreadableTextsGiveTheZeroDate) {
    expectDates({
        {"", "00000000"},
        {"5/3", "00000000"},       // one separator
        {"5/3/24/1", "00000000"},  // a separator in the year
        {"5a/3/24", "00000000"},
        {"5,3,24", "00000000"},
        {"\t5/3/24", "00000000"},  // a tab is not a blank
        {"5/3/24x", "00000000"},
        {"+5/3/24", "00000000"},
        {std::string("5/3/2\0"
                     "4",
                     7),
         "00000000"},
    });
}

TEST_F(PackDateText, FieldsBeyondSixteenBitsAreHeldAt32767) {
    expectDates({
        {"5/3/40000", "27670305"},
        {"99999/3/2024", "20240367"},
        {"5/99999/2024", "20246705"},
    });
}

TEST_F(PackDateText, WindowFollowsTheClockAtEveryCall) {
    g_year = 2099;
    expectDates({
        {"5/3/48", "21480305"},  // 2048 is more than 50 years back
        {"5/3/49", "20490305"},  // - 50: first year of the window
        {"5/3/00", "21000305"},
        {"5/3/99", "20990305"},
    });
    g_year = 2000;
    expectDates({
        {"5/3/49", "20490305"},
        {"5/3/50", "19500305"},
        {"5/3/99", "19990305"},
    });
}

}  // namespace
