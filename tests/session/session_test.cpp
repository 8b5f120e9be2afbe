#include <gtest/gtest.h>

#include <stdlib.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "session/session.h"
#include "tests/support/environment.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;
using Colours = std::array<std::array<int, 2>, 5>;

constexpr Colours kDefaultColours = {{{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}}};
constexpr Colours kNoColours = {};

Colours coloursOf(const SessionSettings& s) {
    Colours c{};
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 2; ++j) c[i][j] = s.screenColours[i][j];
    }
    return c;
}

// Every test starts with JOBROOT, JOBTMP and TERM unset and an empty
// current directory; the variables and the directory are put back after it.
class StartSession : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kVariables) {
            const char* v = ::getenv(name);
            saved_.push_back(v == nullptr ? std::nullopt : std::optional<std::string>(v));
            testing_support::unsetEnvironment(name);
        }
        savedDirectory_ = std::filesystem::current_path();
        std::filesystem::current_path(cwd_.path());
    }
    void TearDown() override {
        std::filesystem::current_path(savedDirectory_);
        for (std::size_t i = 0; i < std::size(kVariables); ++i) {
            if (saved_[i]) {
                testing_support::setEnvironment(kVariables[i], saved_[i]->c_str());
            } else {
                testing_support::unsetEnvironment(kVariables[i]);
            }
        }
    }

    static void setVariable(const char* name, const std::string& value) {
        testing_support::setEnvironment(name, value.c_str());
    }

    static SessionSettings run() {
        startSession();
        return sessionSettings;
    }

    // A folder as the suite writes it in JOBTMP or JOBROOT: no final "/".
    static std::string folder(const TempDir& t) { return t.path().string(); }

    TempDir cwd_;

private:
    static constexpr const char* kVariables[] = {"JOBROOT", "JOBTMP", "TERM"};
    std::vector<std::optional<std::string>> saved_;
    std::filesystem::path savedDirectory_;
};

TEST_F(StartSession, NothingAtAllGivesTheDefaults) {
    const SessionSettings s = run();
    EXPECT_EQ(s.rootDir, "");
    EXPECT_EQ(s.tmpDir, "");
    EXPECT_EQ(s.terminalDir, "");
    EXPECT_EQ(coloursOf(s), kDefaultColours);
    EXPECT_EQ(s.languageCode, "   ");
    EXPECT_TRUE(std::filesystem::is_empty(cwd_.path()));  // nothing written
}

TEST_F(StartSession, UnsetVariablesReadBareNamesFromTheCurrentDirectory) {
    cwd_.write("Sessio.ini", "[Terminal]\r\nAltre=1\r\n");
    cwd_.write("NuboTerm.ini",
               "[Pantalla]\r\nCol0=01020304050607080910\r\n[Sistema]\r\nIdioma=GLG\r\n");
    cwd_.write("Nubo.ini", "[Usuari]\r\nIdioma=SPA\r\n");
    const SessionSettings s = run();
    EXPECT_EQ(s.tmpDir, "");
    EXPECT_EQ(s.terminalDir, "");
    EXPECT_EQ(coloursOf(s), (Colours{{{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}}}));
    EXPECT_EQ(s.languageCode, "GLG");
    EXPECT_EQ(cwd_.read("Sessio.ini"), "[Terminal]\r\nAltre=1\r\n");  // never written
}

TEST_F(StartSession, EmptyVariablesReadAsUnset) {
    setVariable("JOBROOT", "");
    setVariable("JOBTMP", "");
    setVariable("TERM", "");
    cwd_.write("NuboTerm.ini", "[Sistema]\r\nIdioma=OCI\r\n");
    const SessionSettings s = run();
    EXPECT_EQ(s.rootDir, "");
    EXPECT_EQ(s.tmpDir, "");
    EXPECT_EQ(s.terminalDir, "");
    EXPECT_EQ(s.languageCode, "OCI");
}

TEST_F(StartSession, WorkDirectoryComesFromJobTmp) {
    TempDir work, terminal;
    work.write("Sessio.ini", "[Terminal]\r\nDir=" + folder(terminal) + "\r\n");
    work.write("NuboTerm.ini", "[Sistema]\r\nIdioma=GLG\r\n");
    terminal.write("NuboTerm.ini", "[Sistema]\r\nIdioma=SPA\r\n");
    cwd_.write("NuboTerm.ini", "[Sistema]\r\nIdioma=CAT\r\n");
    setVariable("JOBTMP", folder(work));
    const SessionSettings s = run();
    EXPECT_EQ(s.tmpDir, folder(work) + "\\");
    EXPECT_EQ(s.terminalDir, folder(terminal) + "\\");
    EXPECT_EQ(s.languageCode, "GLG");  // the terminal file of tmpDir
}

TEST_F(StartSession, TerminalDirectoryStandsInForAMissingJobTmp) {
    TempDir terminal;
    cwd_.write("Sessio.ini", "[Terminal]\r\nDir=" + folder(terminal) + "\r\n");
    cwd_.write("NuboTerm.ini", "[Sistema]\r\nIdioma=CAT\r\n");
    terminal.write("NuboTerm.ini", "[Sistema]\r\nIdioma=SPA\r\n");
    const SessionSettings s = run();
    EXPECT_EQ(s.terminalDir, folder(terminal) + "\\");
    EXPECT_EQ(s.tmpDir, s.terminalDir);
    EXPECT_EQ(s.languageCode, "SPA");
}

TEST_F(StartSession, TerminalDirectoryFromSessioElseTerm) {
    struct Case {
        const char* what;
        std::optional<std::string> sessio;  // content of Sessio.ini, if any
        std::string term;
        std::string terminalDir;
    };
    const std::vector<Case> cases = {
        {"no session file", std::nullopt, "/t/term", "/t/term\\"},
        {"no Dir key", "[Terminal]\r\nAltre=x\r\n", "/t/term", "/t/term\\"},
        {"empty Dir", "[Terminal]\r\nDir=\r\n", "/t/term", "/t/term\\"},
        {"Dir wins over TERM", "[Terminal]\r\nDir=T:\\term\r\n", "/t/term", "T:\\term\\"},
        {"Dir ending in \\", "[Terminal]\r\nDir=T:\\term\\\r\n", "", "T:\\term\\"},
        {"Dir of a drive", "[terminal]\r\ndir=E:\r\n", "", "E:"},
        {"Dir in another section", "[Pantalla]\r\nDir=X\r\n", "", ""},
        {"terminal type in TERM", std::nullopt, "xterm-256color", "xterm-256color\\"},
        {"neither", std::nullopt, "", ""},
    };
    TempDir work;
    setVariable("JOBTMP", folder(work));
    for (const auto& c : cases) {
        std::filesystem::remove(work.path() / "Sessio.ini");
        if (c.sessio) work.write("Sessio.ini", *c.sessio);
        setVariable("TERM", c.term);
        const SessionSettings s = run();
        EXPECT_EQ(s.terminalDir, c.terminalDir) << c.what;
        EXPECT_EQ(s.tmpDir, folder(work) + "\\") << c.what;
    }
}

TEST_F(StartSession, TerminalTypeInTermBecomesTheWorkDirectoryWithoutJobTmp) {
    setVariable("TERM", "xterm-256color");
    const SessionSettings s = run();
    EXPECT_EQ(s.terminalDir, "xterm-256color\\");
    EXPECT_EQ(s.tmpDir, "xterm-256color\\");
    EXPECT_EQ(coloursOf(s), kDefaultColours);
}

TEST_F(StartSession, DirectoryRuleDecidesWhereTheFilesAreRead) {
#ifdef _WIN32
    GTEST_SKIP() << "D: names a drive on Windows, not a folder the test can place";
#endif
    // Relative to the current directory, "D:" is a plain name on POSIX, so
    // D:Sessio.ini and D:\work\Sessio.ini are files the test can place.
    struct Case {
        std::string jobTmp;
        std::string folderInCwd;  // where the session and terminal files are put
        std::string tmpDir;
    };
    const std::vector<Case> cases = {
        {"D:\\work", "D:/work/", "D:\\work\\"},
        {"D:\\work\\", "D:/work/", "D:\\work\\"},
        {"D:", "D:", "D:"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(cwd_.path() / "D:");
        std::filesystem::remove(cwd_.path() / "D:Sessio.ini");
        std::filesystem::remove(cwd_.path() / "D:NuboTerm.ini");
        cwd_.write(c.folderInCwd + "Sessio.ini", "[Terminal]\r\nDir=found\r\n");
        cwd_.write(c.folderInCwd + "NuboTerm.ini", "[Sistema]\r\nIdioma=OCI\r\n");
        setVariable("JOBTMP", c.jobTmp);
        const SessionSettings s = run();
        EXPECT_EQ(s.tmpDir, c.tmpDir) << c.jobTmp;
        EXPECT_EQ(s.terminalDir, "found\\") << c.jobTmp;
        EXPECT_EQ(s.languageCode, "OCI") << c.jobTmp;
    }
}

TEST_F(StartSession, InstallationFileJoinsRootDirAsItStands) {
    cwd_.write("C:/appNubo.ini", "[Usuari]\r\nIdioma=OCI\r\n");
    cwd_.write("C:/app/Nubo.ini", "[Usuari]\r\nIdioma=SPA\r\n");
    setVariable("JOBROOT", "C:\\app");
    SessionSettings s = run();
    EXPECT_EQ(s.rootDir, "C:\\app");  // nothing appended
    EXPECT_EQ(s.languageCode, "OCI");

    TempDir root;
    root.write("Nubo.ini", "[Usuari]\r\nIdioma=GLG\r\n");
    setVariable("JOBROOT", folder(root) + "\\");
    s = run();
    EXPECT_EQ(s.rootDir, folder(root) + "\\");
    EXPECT_EQ(s.languageCode, "GLG");
}

TEST_F(StartSession, ScreenColours) {
    struct Case {
        const char* what;
        std::string terminalFile;
        Colours colours;
    };
    const std::vector<Case> cases = {
        {"no terminal file", "", kDefaultColours},
        {"no Seleccio and no Col0", "[Pantalla]\r\nCol1=01010101010101010101\r\n", kDefaultColours},
        {"no Seleccio: Col0",
         "[Pantalla]\r\nCol0=01020304050607080910\r\n",
         {{{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}}}},
        {"Seleccio picks its key",
         "[Pantalla]\r\nSeleccio=3\r\nCol0=01020304050607080910\r\nCol3=1501\r\n",
         {{{15, 1}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}}},
        {"selected key missing", "[Pantalla]\r\nSeleccio=3\r\nCol0=01020304050607080910\r\n",
         kDefaultColours},
        {"negative selection",
         "[Pantalla]\r\nSeleccio=-1\r\nCol-1=07010701070107010701\r\n",
         {{{7, 1}, {7, 1}, {7, 1}, {7, 1}, {7, 1}}}},
        {"selection not numeric",
         "[Pantalla]\r\nSeleccio=abc\r\nCol0=01000000000000000000\r\n",
         {{{1, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}}},
        {"selection 2.5 rounds to 2",
         "[Pantalla]\r\nSeleccio=2.5\r\nCol2=02000000000000000000\r\nCol3=03\r\n",
         {{{2, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}}},
        {"selection 3.5 rounds to 4",
         "[Pantalla]\r\nSeleccio=3.5\r\nCol3=03\r\nCol4=04\r\n",
         {{{4, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}}},
        {"selection with blanks and a comment",
         "[Pantalla]\r\nSeleccio= 3 ; choice\r\nCol3=03\r\n",
         {{{3, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}}},
        {"selection 03 is Col3",
         "[Pantalla]\r\nSeleccio=03\r\nCol03=09\r\nCol3=03\r\n",
         {{{3, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}}},
        {"one space is not empty", "[Pantalla]\r\nCol0= \r\n", kNoColours},
        {"empty value takes the default", "[Pantalla]\r\nCol0=\r\n", kDefaultColours},
        {"last pair cut short",
         "[Pantalla]\r\nCol0=15007\r\n",
         {{{15, 0}, {7, 0}, {0, 0}, {0, 0}, {0, 0}}}},
        {"pairs read as leading numbers",
         "[Pantalla]\r\nCol0=1 x7 5-1+2\r\n",
         {{{1, 0}, {5, -1}, {2, 0}, {0, 0}, {0, 0}}}},
        {"quoted",
         "[Pantalla]\r\nCol0=\"07000700070007000700\"\r\n",
         {{{7, 0}, {7, 0}, {7, 0}, {7, 0}, {7, 0}}}},
        {"characters past the fifth slot ignored",
         "[Pantalla]\r\nCol0=0102030405060708091011\r\n",
         {{{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}}}},
        {"names in other case",
         "[PANTALLA]\r\nseleccio=1\r\nCOL1=08070807080708070807\r\n",
         {{{8, 7}, {8, 7}, {8, 7}, {8, 7}, {8, 7}}}},
        {"keys in another section", "[Sistema]\r\nCol0=01020304050607080910\r\n", kDefaultColours},
    };
    TempDir work;
    setVariable("JOBTMP", folder(work));
    for (const auto& c : cases) {
        work.write("NuboTerm.ini", c.terminalFile);
        EXPECT_EQ(coloursOf(run()), c.colours) << c.what;
    }
}

TEST_F(StartSession, LanguageCode) {
    struct Case {
        const char* what;
        std::string terminalFile;
        std::string installationFile;
        std::string code;
    };
    const std::string usuariGlg = "[Usuari]\r\nIdioma=GLG\r\n";
    const std::vector<Case> cases = {
        {"terminal file wins; installation file not read", "[Sistema]\r\nIdioma=SPA\r\n", usuariGlg,
         "SPA"},
        {"installation file when the terminal file names none", "[Sistema]\r\nAltre=1\r\n",
         usuariGlg, "GLG"},
        {"neither names a language", "", "", "   "},
        {"letter case kept", "[Sistema]\r\nIdioma=spa\r\n", usuariGlg, "spa"},
        {"first three characters", "[Sistema]\r\nIdioma=Catala\r\n", usuariGlg, "Cat"},
        {"padded with spaces", "[Sistema]\r\nIdioma=O\r\n", usuariGlg, "O  "},
        {"blank value falls back", "[Sistema]\r\nIdioma=   \r\n", usuariGlg, "GLG"},
        {"leading blank kept", "[Sistema]\r\nIdioma= SPA\r\n", usuariGlg, " SP"},
        {"Idioma of another section", "[Usuari]\r\nIdioma=SPA\r\n", usuariGlg, "GLG"},
        {"installation value cut too", "", "[Usuari]\r\nIdioma=Castellano\r\n", "Cas"},
        {"installation value blank", "", "[Usuari]\r\nIdioma=  \r\n", "   "},
        {"installation key in another section", "", "[Sistema]\r\nIdioma=SPA\r\n", "   "},
    };
    TempDir work, root;
    setVariable("JOBTMP", folder(work));
    setVariable("JOBROOT", folder(root) + "/");
    for (const auto& c : cases) {
        work.write("NuboTerm.ini", c.terminalFile);
        root.write("Nubo.ini", c.installationFile);
        EXPECT_EQ(run().languageCode, c.code) << c.what;
    }
}

TEST_F(StartSession, EachRunStartsAfresh) {
    TempDir work;
    work.write("Sessio.ini", "[Terminal]\r\nDir=T:\r\n");
    work.write("NuboTerm.ini",
               "[Pantalla]\r\nCol0=01020304050607080910\r\n[Sistema]\r\nIdioma=SPA\r\n");
    setVariable("JOBTMP", folder(work));
    setVariable("JOBROOT", "C:\\app\\");
    SessionSettings s = run();
    ASSERT_EQ(s.languageCode, "SPA");
    ASSERT_EQ(s.terminalDir, "T:");

    testing_support::unsetEnvironment("JOBTMP");
    testing_support::unsetEnvironment("JOBROOT");
    s = run();
    EXPECT_EQ(s.rootDir, "");
    EXPECT_EQ(s.tmpDir, "");
    EXPECT_EQ(s.terminalDir, "");
    EXPECT_EQ(coloursOf(s), kDefaultColours);
    EXPECT_EQ(s.languageCode, "   ");
}

}  // namespace
