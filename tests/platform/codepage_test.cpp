#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/platform.h"
#include "tests/support/environment.h"

namespace {

class CodePage : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        testing_support::setEnvironment("NUBO_CODEPAGE", std::to_string(GetParam()));
        platform::selectConsoleCodePage();
#ifdef _WIN32
        if (platform::consoleCodePage() != GetParam())
            GTEST_SKIP() << "the console, not the program, sets the code page on Windows; it is "
                         << platform::consoleCodePage();
#endif
    }
    void TearDown() override {
        testing_support::unsetEnvironment("NUBO_CODEPAGE");
        platform::selectConsoleCodePage();
    }
};

TEST_P(CodePage, EveryByteRoundTripsThroughUtf8) {
    ASSERT_EQ(platform::consoleCodePage(), GetParam());
    for (int b = 0; b < 256; ++b) {
        const std::string oem(1, static_cast<char>(b));
        const std::string utf8 = platform::oemToUtf8(oem);
        ASSERT_FALSE(utf8.empty()) << b;
        EXPECT_EQ(platform::utf8ToOem(utf8), oem) << "byte " << b;
    }
}

TEST_P(CodePage, DistinctBytesGiveDistinctCharacters) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(platform::utf8ToOem(platform::oemToUtf8(all)), all);
}

TEST_P(CodePage, FrameCharactersAreBoxDrawing) {
    // Single and double frames of the message box are the same in 437 and 850.
    const struct {
        unsigned char oem;
        const char* utf8;
    } cases[] = {{179, "\u2502"}, {191, "\u2510"},
                 {192, "\u2514"}, {196, "\u2500"},
                 {217, "\u2518"}, {218, "\u250C"},
                 {201, "\u2554"}, {205, "\u2550"},
                 {'A', "A"},      {0, std::string(1, '\0').c_str()}};
    for (const auto& c : cases) {
        const std::string utf8 = c.oem == 0 ? std::string(1, '\0') : std::string(c.utf8);
        EXPECT_EQ(platform::oemToUtf8(std::string(1, static_cast<char>(c.oem))), utf8)
            << int(c.oem);
    }
}

INSTANTIATE_TEST_SUITE_P(Supported, CodePage, ::testing::Values(850, 437));

TEST(CodePage850, AccentedCapitalsOfTheMessages) {
    platform::selectConsoleCodePage();
    ASSERT_EQ(platform::consoleCodePage(), 850);
    EXPECT_EQ(platform::utf8ToOem("\u00D2"), std::string(1, static_cast<char>(0xE3)));  // Ò
    EXPECT_EQ(platform::utf8ToOem("\u00C8"), std::string(1, static_cast<char>(0xD4)));  // È
    EXPECT_EQ(platform::oemToUtf8("P\xE3T"), "P\u00D2T");
}

TEST(CodePage850, UnmappableAndMalformedInputBecomesQuestionMark) {
    platform::selectConsoleCodePage();
    EXPECT_EQ(platform::utf8ToOem("a\u4E2Db"), "a?b");      // not in the code page
    EXPECT_EQ(platform::utf8ToOem("a\xC3"), "a?");          // cut sequence
    EXPECT_EQ(platform::utf8ToOem("\xC0\x80"), "??");       // overlong zero
    EXPECT_EQ(platform::utf8ToOem("\xED\xA0\x80"), "???");  // surrogate
}

#ifndef _WIN32
TEST(CodePage850, UnknownSettingKeepsTheDefault) {
    testing_support::setEnvironment("NUBO_CODEPAGE", "1252");
    platform::selectConsoleCodePage();
    EXPECT_EQ(platform::consoleCodePage(), 850);
    testing_support::unsetEnvironment("NUBO_CODEPAGE");
}
#endif

}  // namespace
