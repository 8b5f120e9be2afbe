#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "console/console.h"

namespace {

struct LayoutCase {
    std::string text;
    int indent;
    int width;
    std::string alignment;
    std::string expected;  // the lines, joined
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << "\"" << c.text << "\" indent " << c.indent << " width " << c.width << " \""
        << c.alignment << "\"";
}

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, GivesTheLinesJoined) {
    const LayoutCase& c = GetParam();
    std::string text = c.text;
    layoutParagraph(text, static_cast<std::int16_t>(c.indent), static_cast<std::int16_t>(c.width),
                    c.alignment);
    EXPECT_EQ(text, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paragraph, Layout,
    ::testing::Values(
        // Alignments, on the lines "AB CD" and "EF".
        LayoutCase{"AB CD EF", 0, 5, "C",
                   "AB CD"
                   " EF  "},
        LayoutCase{"AB CD EF", 0, 5, "E",
                   "AB CD"
                   "EF   "},
        LayoutCase{"AB CD EF", 0, 5, "l",
                   "AB CD"
                   "EF   "},
        LayoutCase{"AB CD EF", 0, 5, "i",
                   "AB CD"
                   "EF   "},
        LayoutCase{"AB CD EF", 0, 5, "N",
                   "AB CD"
                   "EF---"},
        LayoutCase{"AB CD EF", 0, 5, "R",
                   "AB CD"
                   "   EF"},
        LayoutCase{"AB CD EF", 0, 5, "X",
                   "AB CD"
                   "EF"},  // unknown: lines as they are
        LayoutCase{"AB CD EF", 0, 5, "LL",
                   "AB CD"
                   "EF"},  // compared whole
        LayoutCase{"ABC", 0, 6, "D", "   ABC"}, LayoutCase{"ABC", 0, 6, "c", " ABC  "},
        LayoutCase{"", 0, 6, "L", ""},
        // Words that do not fit move to the next line; blanks between lines go.
        LayoutCase{"AAA   BBB", 0, 4, "L",
                   "AAA "
                   "BBB "},
        LayoutCase{"AAA BBB CCC", 0, 7, "L",
                   "AAA BBB"
                   "CCC    "},
        // A word longer than the line is cut.
        LayoutCase{"ABCDEFGHIJ", 0, 4, "L",
                   "ABCD"
                   "EFGH"
                   "IJ  "},
        LayoutCase{"XY ABCDEFGHIJ", 0, 4, "L",
                   "XY  "
                   "ABCD"
                   "EFGH"
                   "IJ  "},
        // Indents: the first line by a positive one, the later lines by a
        // negative one.
        LayoutCase{"AAA BBB CCC", 2, 6, "L",
                   "  AAA "
                   "BBB   "
                   "CCC   "},
        LayoutCase{"AAA BBB CCC", -2, 6, "L",
                   "AAA   "
                   "  BBB "
                   "  CCC "},
        // An indent as wide as the line leaves room for one character.
        LayoutCase{"ABC", 5, 3, "L",
                   "     A"
                   "BC "},
        // Control characters take no room: their line grows by one each.
        LayoutCase{"A\x01"
                   "B CD",
                   0, 3, "L",
                   "A\x01"
                   "B "
                   "CD "},
        LayoutCase{"AB\x02 CD", 0, 2, "L",
                   "AB\x02"
                   "CD"},
        LayoutCase{"A\x01"
                   "B CD",
                   0, 3, "R",
                   " A\x01"
                   "B"
                   " CD"},
        // Justified: the gaps widen from the first blank at or after
        // position |indent| + 3, left to right, round after round; the last
        // line stays as it is.
        LayoutCase{"AA BB CC DD EE", 0, 10, "A",
                   "AA  BB  CC"
                   "DD EE"},
        LayoutCase{"A B C DDDDDDDDDDDD", 0, 12, "B",
                   "A    B     C"
                   "DDDDDDDDDDDD"},
        LayoutCase{"AB CD EF GH", 2, 9, "a",
                   "  AB   CD"
                   "EF GH"},
        // The blank and the word after a line count as text that follows.
        LayoutCase{"AB CD E", 0, 6, "A",
                   "AB  CD"
                   "E"},
        // A line without a gap is not justified.
        LayoutCase{"ABCD EFGHIJ", 0, 6, "A",
                   "ABCD"
                   "EFGHIJ"}));

TEST(Paragraph, TenNineLetterWordsBreakAfterTheSeventh) {
    std::string text;
    for (int i = 0; i < 10; ++i)
        text += (i ? " " : "") + std::string(9, static_cast<char>('A' + i));
    ASSERT_EQ(text.size(), 99u);
    std::string laidOut = text;
    layoutParagraph(laidOut, 0, 76, "I");
    ASSERT_EQ(laidOut.size(), 152u);
    EXPECT_EQ(laidOut.substr(0, 76), text.substr(0, 69) + std::string(7, ' '));
    EXPECT_EQ(laidOut.substr(76), text.substr(70) + std::string(76 - 29, ' '));
}

}  // namespace
