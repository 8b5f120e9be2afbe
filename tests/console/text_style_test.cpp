#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/console/console_fixture.h"

namespace {

using console_test::ConsoleTest;
using console_test::slotAttribute;

struct StyleCase {
    std::vector<std::string> calls;  // letters passed, in order
    int slot;                        // slot in force after the calls
    std::string stack;               // saved slots after the calls
};

void PrintTo(const StyleCase& c, std::ostream* os) {
    for (const std::string& letters : c.calls) *os << "\"" << letters << "\" ";
}

class TextStyle : public ConsoleTest, public ::testing::WithParamInterface<StyleCase> {};

TEST_P(TextStyle, SelectsTheSlotAndItsColours) {
    const StyleCase& c = GetParam();
    platform::console().setColours(9, 9);  // none of the slots
    for (std::string letters : c.calls) setTextStyle(letters);
    EXPECT_EQ(textStyleState.currentSlot, c.slot);
    EXPECT_EQ(textStyleState.slotStack, c.stack);
    EXPECT_EQ(screen().attribute, slotAttribute(c.slot));
}

INSTANTIATE_TEST_SUITE_P(
    Console, TextStyle,
    ::testing::Values(StyleCase{{"r"}, 2, ""}, StyleCase{{"n"}, 1, ""}, StyleCase{{"rn"}, 3, ""},
                      StyleCase{{"NR"}, 3, ""}, StyleCase{{"u"}, 4, ""}, StyleCase{{"urn"}, 4, ""},
                      StyleCase{{"h"}, 0, ""},  // other letters are ignored
                      StyleCase{{"r", "x"}, 0, ""}, StyleCase{{"+rh"}, 2, std::string(1, '\0')},
                      StyleCase{
                          {"n", "+r", "+u", "-"}, 2, std::string(1, '\1')},  // "+" twice, "-" once
                      StyleCase{{"-"}, 0, ""},                               // nothing saved
                      StyleCase{{"u", "+r", "-", "-"}, 0, ""},
                      StyleCase{{"r", "+-"}, 2, ""},  // saved and taken back at once
                      StyleCase{{"-u"}, 0, ""}));     // "-" wins over the letters

TEST_F(ConsoleTest, EmptyOrBlankLettersChangeNothing) {
    std::string first = "+n";
    setTextStyle(first);
    platform::console().setColours(9, 9);
    for (std::string letters : {std::string(), std::string("   ")}) {
        setTextStyle(letters);
        EXPECT_EQ(textStyleState.currentSlot, 1);
        EXPECT_EQ(textStyleState.slotStack, std::string(1, '\0'));
        EXPECT_EQ(screen().attribute, 0x99);
    }
}

TEST_F(ConsoleTest, LettersAreUpperCasedInPlace) {
    std::string letters = "+rh-x";
    setTextStyle(letters);
    EXPECT_EQ(letters, "+RH-X");
}

TEST_F(ConsoleTest, ASlotThatIsNoneOfTheFiveReadsAsSlot0) {
    textStyleState.slotStack = "\x09";
    std::string letters = "-";
    setTextStyle(letters);
    EXPECT_EQ(textStyleState.currentSlot, 0);
    EXPECT_EQ(screen().attribute, slotAttribute(0));
}

}  // namespace
