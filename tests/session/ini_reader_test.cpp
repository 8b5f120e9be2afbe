#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "session/session.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;
using namespace std::string_literals;

struct IniCase {
    const char* what;
    std::string content;
    std::string section;
    std::string key;
    std::string value;
};

void expectValues(const std::vector<IniCase>& cases) {
    TempDir t;
    for (const auto& c : cases) {
        t.write("case.ini", c.content);
        EXPECT_EQ(readIniValue(t.dir() + "case.ini", c.section, c.key), c.value) << c.what;
    }
}

TEST(ReadIniValue, SectionAndKeyMatching) {
    expectValues({
        {"plain", "[Menu]\r\nTitol=Gestio\r\n", "Menu", "Titol", "Gestio"},
        {"section in small letters", "[menu]\r\nTitol=Gestio\r\n", "Menu", "Titol", "Gestio"},
        {"spaces inside the brackets", "[ Menu ]\r\nTitol=Gestio\r\n", "Menu", "Titol", "Gestio"},
        {"key in other case", "[MENU]\r\ntitol=x\r\n", "menu", "TITOL", "x"},
        {"names asked with spaces", "[Menu]\r\nTitol=x\r\n", "  Menu ", " Titol  ", "x"},
        {"spaces around =", "[Menu]\r\n Titol = Gestio\r\n", "Menu", "Titol", " Gestio"},
        {"indented lines", "   [Menu]\r\n   Titol=x\r\n", "Menu", "Titol", "x"},
        {"header without ]", "[Menu\r\nTitol=x\r\n", "Menu", "Titol", "x"},
        {"header with spaces and no ]", "[ Menu  \r\nTitol=x\r\n", "Menu", "Titol", "x"},
        {"text after ] ignored", "[Menu] extra [Altres]\r\nTitol=x\r\n", "Menu", "Titol", "x"},
        {"name is up to the first ]", "[Menu]]\r\nTitol=x\r\n", "Menu", "Titol", "x"},
        {"prefix of a section name", "[Menus]\r\nTitol=x\r\n", "Menu", "Titol", ""},
        {"tab before the key", "[Menu]\r\n\tTitol=x\r\n", "Menu", "Titol", ""},
        {"tab is part of the key", "[Menu]\r\n\tTitol=x\r\n", "Menu", "\tTitol", "x"},
        {"tab after the key", "[Menu]\r\nTitol\t=x\r\n", "Menu", "Titol", ""},
        {"tab before the header", "\t[Menu]\r\nTitol=x\r\n", "Menu", "Titol", ""},
        {"key before any header", "Titol=x\r\n[Menu]\r\n", "Menu", "Titol", ""},
        {"key only in another section", "[Altres]\r\nTitol=x\r\n[Menu]\r\nA=1\r\n", "Menu", "Titol",
         ""},
        {"next header ends the section", "[Menu]\r\n[Altres]\r\nTitol=x\r\n", "Menu", "Titol", ""},
        {"second section of the name never searched",
         "[Menu]\r\nA=1\r\n[Altres]\r\n[Menu]\r\nTitol=second\r\n", "Menu", "Titol", ""},
        {"first section wins", "[Menu]\r\nTitol=first\r\n[Menu]\r\nTitol=second\r\n", "Menu",
         "Titol", "first"},
        {"first key wins", "[Menu]\r\nTitol=first\r\nTitol=second\r\n", "Menu", "Titol", "first"},
        {"line without = skipped", "[Menu]\r\nTitol\r\nTitol=x\r\n", "Menu", "Titol", "x"},
        {"empty and blank lines skipped", "[Menu]\r\n\r\n    \r\nTitol=x\r\n", "Menu", "Titol",
         "x"},
        {"spaces before =", "[Menu]\r\nTitol   =x\r\n", "Menu", "Titol", "x"},
        {"empty key name", "[Menu]\r\n=x\r\n", "Menu", "", "x"},
        {"missing section", "[Menu]\r\nTitol=x\r\n", "Altres", "Titol", ""},
        {"missing key", "[Menu]\r\nTitol=x\r\n", "Menu", "Color", ""},
    });
}

TEST(ReadIniValue, ValuesCommentsAndQuotes) {
    expectValues({
        {"comment cuts the value", "[Menu]\r\nTitol=A;B\r\n", "Menu", "Titol", "A"},
        {"spaces before a comment stay", "[Menu]\r\nTitol=ab  ;c\r\n", "Menu", "Titol", "ab  "},
        {"trailing spaces stay", "[Menu]\r\nTitol=ab  \r\n", "Menu", "Titol", "ab  "},
        {"further = stay", "[Menu]\r\nTitol=a=b\r\n", "Menu", "Titol", "a=b"},
        {"empty value", "[Menu]\r\nTitol=\r\nTitol=x\r\n", "Menu", "Titol", ""},
        {"commented-out header", "; [Menu]\r\nTitol=x\r\n[Menu]\r\n", "Menu", "Titol", ""},
        {"commented-out key", "[Menu]\r\n;Titol=x\r\nTitol=y\r\n", "Menu", "Titol", "y"},
        {"comment after a header", "[Menu] ; main\r\nTitol=x\r\n", "Menu", "Titol", "x"},
        {"comment inside a header", "[Me;nu]\r\nTitol=x\r\n", "Menu", "Titol", ""},
        {"comment inside the header name", "[Me;nu]\r\nTitol=x\r\n", "Me", "Titol", "x"},
        {"comment inside quotes", "[Menu]\r\nTitol=\"a;b\"\r\n", "Menu", "Titol", "\"a"},
        {"quoted", "[Menu]\r\nTitol=\"Gestio\"\r\n", "Menu", "Titol", "Gestio"},
        {"quoted with spaces inside", "[Menu]\r\nTitol=\" a b \"\r\n", "Menu", "Titol", " a b "},
        {"two quotes", "[Menu]\r\nTitol=\"\"\r\n", "Menu", "Titol", ""},
        {"one quote", "[Menu]\r\nTitol=\"\r\n", "Menu", "Titol", "\""},
        {"one pair only", "[Menu]\r\nTitol=\"\"x\"\"\r\n", "Menu", "Titol", "\"x\""},
        {"inner quote kept", "[Menu]\r\nTitol=\"a\"b\"\r\n", "Menu", "Titol", "a\"b"},
        {"blank before the quote", "[Menu]\r\nTitol= \"x\"\r\n", "Menu", "Titol", " \"x\""},
        {"blank after the quote", "[Menu]\r\nTitol=\"x\" \r\n", "Menu", "Titol", "\"x\" "},
        {"opening quote only", "[Menu]\r\nTitol=\"x\r\n", "Menu", "Titol", "\"x"},
        {"tab stays in the value", "[Menu]\r\nTitol=\ta\t\r\n", "Menu", "Titol", "\ta\t"},
        {"zero byte stays in the value", "[Menu]\r\nTitol=a\0b\r\n"s, "Menu", "Titol", "a\0b"s},
    });
}

TEST(ReadIniValue, LineEndsAndEndOfData) {
    expectValues({
        {"CR LF", "[Menu]\r\nA=1\r\nTitol=x\r\n", "Menu", "Titol", "x"},
        {"CR alone", "[Menu]\rA=1\rTitol=x\r", "Menu", "Titol", "x"},
        {"mixed CR and CR LF", "[Menu]\rA=1\r\nTitol=x", "Menu", "Titol", "x"},
        {"no line end at the end", "[Menu]\r\nTitol=x", "Menu", "Titol", "x"},
        {"LF alone is one line", "[Menu]\nTitol=x\n", "Menu", "Titol", ""},
        {"LF alone stays in the value", "[Menu]\r\nTitol=a\nb\r\n", "Menu", "Titol", "a\nb"},
        {"LF CR is not a line end pair", "[Menu]\r\nA=1\n\rTitol=x\r\n", "Menu", "A", "1\n"},
        {"LF left before a key", "[Menu]\r\nA=1\n\rTitol=x\r\n", "Menu", "Titol", "x"},
        {"CR, then an empty line ended by CR LF", "[Menu]\r\r\nTitol=x\r\n", "Menu", "Titol", "x"},
        {"CR LF LF keeps one LF", "[Menu]\r\n\nTitol=x\r\n", "Menu", "\nTitol", "x"},
        {"empty file", "", "Menu", "Titol", ""},
        {"Ctrl-Z first", "\x1A[Menu]\r\nTitol=x\r\n", "Menu", "Titol", ""},
        {"Ctrl-Z ends the value",
         "[Menu]\r\nTitol=ab\x1A"
         "cd\r\n",
         "Menu", "Titol", "ab"},
        {"nothing after Ctrl-Z", "[Menu]\r\nA=1\r\n\x1A\r\nTitol=x\r\n", "Menu", "Titol", ""},
        {"before Ctrl-Z still read", "[Menu]\r\nA=1\r\n\x1A\r\nTitol=x\r\n", "Menu", "A", "1"},
    });
}

TEST(ReadIniValue, AccentedNamesCompareWithoutCase) {
    platform::selectConsoleCodePage();
    // Names from code page 850: small o acute is 0xA2, its capital 0xE0; small
    // c cedilla 0x87, its capital 0x80. Code page 437 has only the latter.
    const int codePage = platform::consoleCodePage();
    if (codePage != 850 && codePage != 437) GTEST_SKIP() << "code page " << codePage;
    std::vector<IniCase> cases = {
        {"c cedilla",
         "[Fa\x87"
         "ana]\r\nPla\x87"
         "a=x\r\n",
         "FA\x80"
         "ANA",
         "PLA\x80"
         "A",
         "x"},
        {"different letters",
         "[Fa\x87"
         "ana]\r\nA=x\r\n",
         "FAANA", "A", ""},
    };
    if (codePage == 850) {
        cases.push_back({"o acute", "[Configuraci\xA2]\r\nA=x\r\n", "CONFIGURACI\xE0", "a", "x"});
        cases.push_back(
            {"capital asked small", "[CONFIGURACI\xE0]\r\nA=x\r\n", "configuraci\xA2", "a", "x"});
    }
    expectValues(cases);
}

TEST(ReadIniValue, LinesOfAnyLength) {
    TempDir t;
    // The CR of the long line is the last byte of the reader's first 4096
    // and its LF the first of the next: the pair must still end one line.
    const std::string head = "[Menu]\r\nA=";
    const std::string longValue(4096 - 1 - head.size(), 'v');
    t.write("long.ini",
            head + longValue + "\r\nTitol=x\r\nB=" + std::string(20000, 'w') + "\r\nC=y\r\n");
    const std::string path = t.dir() + "long.ini";
    EXPECT_EQ(readIniValue(path, "Menu", "A"), longValue);
    EXPECT_EQ(readIniValue(path, "Menu", "Titol"), "x");
    EXPECT_EQ(readIniValue(path, "Menu", "B"), std::string(20000, 'w'));
    EXPECT_EQ(readIniValue(path, "Menu", "C"), "y");
}

TEST(ReadIniValue, FilesThatCannotBeOpenedGiveEmpty) {
    TempDir t;
    EXPECT_EQ(readIniValue(t.dir() + "missing.ini", "Menu", "Titol"), "");
    EXPECT_FALSE(t.exists("missing.ini"));  // never created
    EXPECT_EQ(readIniValue("", "Menu", "Titol"), "");
    EXPECT_EQ(readIniValue(t.dir(), "Menu", "Titol"), "");  // a folder
}

TEST(ReadIniValue, PathsWithBackslashesAndOtherCase) {
    TempDir t;
    t.write("Conf/NuboTerm.ini", "[Sistema]\r\nIdioma=SPA\r\n");
    EXPECT_EQ(readIniValue(t.path().string() + "\\CONF\\nuboterm.INI", "Sistema", "Idioma"), "SPA");
}

TEST(ReadIniValue, ReadsWhileAnotherHolderWritesTheFile) {
    TempDir t;
    t.write("shared.ini", "[Menu]\r\nTitol=x\r\n");
    platform::File writer;
    ASSERT_TRUE(
        platform::openFile(t.dir() + "shared.ini", platform::FileMode::ReadWriteShared, writer));
    EXPECT_EQ(readIniValue(t.dir() + "shared.ini", "Menu", "Titol"), "x");
    ASSERT_TRUE(platform::seekFile(writer, 14));
    ASSERT_TRUE(platform::writeFile(writer, "y", 1));
    EXPECT_EQ(readIniValue(t.dir() + "shared.ini", "Menu", "Titol"), "y");
    platform::closeFile(writer);
}

}  // namespace
