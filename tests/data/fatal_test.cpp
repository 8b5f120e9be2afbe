// The fatal path of an open: the message in the session's language, the
// beep, the key, the closing, exit code 0; and every refusal that takes it.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <fstream>

#include "console/console.h"
#include "platform/coding.h"
#include "platform/console.h"
#include "platform/memory_console.h"
#include "tests/data/data_fixture.h"
#include "tests/support/temp_dir.h"

namespace data_test {
namespace {

using namespace std::string_literals;

TEST_F(DataTest, FatalMessageInEachLanguageWithTheNameAsGiven) {
    const struct {
        const char* language;
        std::string text;
    } cases[] = {
        {"CAT", "NO ES POT ACCEDIR AL FITXER "},    {"SPA", "NO SE PUEDE ACCEDER AL FICHERO "},
        {"GLG", "NOM SE PODE ACEDER AO FICHEIRO "}, {"OCI", "NON SE P\xE3T ACCEDIR ATH FICH\xD4R "},
        {"   ", "NO ES POT ACCEDIR AL FITXER "},    {"spa", "NO ES POT ACCEDIR AL FITXER "},
        {"SPA ", "NO ES POT ACCEDIR AL FITXER "},
    };
    for (const auto& c : cases) {
        sessionSettings.languageCode = c.language;
        EXPECT_EQ(fatalOpenMessage("C:\\NUBO\\DADES\\THRebut", 20),
                  c.text + "C:\\NUBO\\DADES\\THRebut (20)")
            << c.language;
    }
    sessionSettings.languageCode = "CAT";
    EXPECT_EQ(fatalOpenMessage("X.DAT", -5), "NO ES POT ACCEDIR AL FITXER X.DAT (-5)");
}

// What the child of a death test did, in order: "beep", "discard", "wait"
// from the console, "call <operation>" from the record manager, and the
// screen as it stood during the wait ("screen ...") and at the exit
// ("after ..."). Each event is ended by a zero byte in the trace file.
std::string g_trace;

void trace(const std::string& event) {
    std::ofstream(g_trace, std::ios::app | std::ios::binary) << event << '\0';
}
std::string screenText() {
    const platform::ScreenModel& screen = platform::memoryConsole().screen;
    std::string text;
    for (int row = 1; row <= screen.rows; ++row) text += screen.rowText(row) + "\n";
    return text;
}
void tracedBeep() {
    trace("beep");
    platform::memoryConsoleBackend().beep();
}
void tracedDiscard() {
    trace("discard");
    platform::memoryConsoleBackend().discardKeys();
}
void tracedWait() {
    trace("wait");
    trace("screen " + screenText());
    platform::memoryConsoleBackend().waitKey();
}
void traceScreenAtExit() {
    trace("after " + screenText());
}

// The in-memory console, traced.
platform::ConsoleBackend g_console;

class FatalTest : public DataTest {
protected:
    void SetUp() override {
        DataTest::SetUp();
        g_trace = (dir.path() / "trace").string();
        sessionSettings.rootDir = dir.dir();
        sessionSettings.tmpDir = dir.dir();
        sessionSettings.languageCode = "CAT";
        for (int slot = 0; slot < 5; ++slot) {
            sessionSettings.screenColours[slot][0] = 15;
            sessionSettings.screenColours[slot][1] = static_cast<std::int16_t>(slot);
        }
        platform::resetMemoryConsole(25, 80);
        platform::ScreenModel& screen = platform::memoryConsole().screen;
        for (std::size_t i = 0; i < screen.characters.size(); ++i) {
            screen.characters[i] = static_cast<unsigned char>('a' + i % 26);
        }
        before = screenText();
        g_console = platform::memoryConsoleBackend();
        g_console.beep = tracedBeep;
        g_console.discardKeys = tracedDiscard;
        g_console.waitKey = tracedWait;
        platform::setConsoleBackend(&g_console);
    }
    void TearDown() override {
        platform::setConsoleBackend(nullptr);
        DataTest::TearDown();
    }
    // Opens `name` in a child process, which must end with exit code 0;
    // returns what the child did.
    std::vector<std::string> openFatally(const std::string& name, std::int32_t areaSize = 64) {
        std::ofstream(g_trace, std::ios::trunc).close();
        shareFolderWithChild(dir);
        EXPECT_EXIT(
            {
                g_trace = (parentFolder(dir) / "trace").string();
                scripted::traceTo(g_trace);
                std::atexit(traceScreenAtExit);
                static unsigned char area[2000];
                std::int16_t status;
                openDataFile(504, name, area, areaSize, status);
                std::_Exit(1);  // not reached when the fatal path is taken
            },
            ::testing::ExitedWithCode(0), "");
        std::ifstream in(g_trace, std::ios::binary);
        const std::string all((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        std::vector<std::string> events;
        std::size_t start = 0;
        for (std::size_t end; (end = all.find('\0', start)) != std::string::npos; start = end + 1) {
            events.push_back(all.substr(start, end - start));
        }
        return events;
    }
    // The screen with `message` in the box of the fatal path (around row
    // 12), drawn here on the same starting screen.
    std::string screenWithBox(const std::string& message) {
        const platform::ScreenModel saved = platform::memoryConsole().screen;
        std::string text = message;
        showMessageBox(12, text);
        const std::string shown = screenText();
        popWindow();
        platform::memoryConsole().screen = saved;
        return shown;
    }
    // Checks the fatal path: the record-manager calls `calls` of the open,
    // the box with `message` during the wait for a key, the bell, the
    // discarded keys, the wait, the Reset, the screen given back and the
    // window stack gone.
    void expectFatal(const std::vector<std::string>& events, std::vector<std::string> calls,
                     const std::string& message) {
        ASSERT_EQ(events.size(), calls.size() + 6) << ::testing::PrintToString(events);
        for (const char* e : {"beep", "discard", "wait"}) calls.push_back(e);
        for (std::size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(events[i], calls[i]) << i;
        EXPECT_EQ(events[calls.size()], "screen " + screenWithBox(message));
        EXPECT_NE(events[calls.size()].find(message.substr(0, 20)), std::string::npos);
        EXPECT_EQ(events[calls.size() + 1], "call 28");
        EXPECT_EQ(events[calls.size() + 2], "after " + before);
        EXPECT_FALSE(dir.exists("WinPush.tmp"));
    }
    std::string dictionary(std::int16_t length, const std::string& bytes) {
        std::string d(2, '\0');
        coding::putI16(coding::bytes(d), length);
        return d + bytes;
    }
    testing_support::TempDir dir;
    std::string before;
};

TEST_F(FatalTest, FailedOpenShowsTheMessageBeepsWaitsForAKeyClosesAndEnds) {
    sessionSettings.languageCode = "OCI";
    scripted::answer(scripted::status(20));
    scripted::answer(scripted::status(0));  // Reset
    expectFatal(openFatally("DADES\\THRebut"), {"call 0"},
                "NON SE P\xE3T ACCEDIR ATH FICH\xD4R DADES\\THRebut (20)");
}

TEST_F(FatalTest, FailedCreateEndsWithItsOwnStatus) {
    dir.write("ddf/THRebut.xdf", dictionary(3, "abc"));
    scripted::answer(scripted::status(12));
    scripted::answer(scripted::status(-2));  // Create
    scripted::answer(scripted::status(0));   // Reset
    expectFatal(openFatally("DADES\\THRebut"), {"call 0", "call 14"},
                "NO ES POT ACCEDIR AL FITXER DADES\\THRebut (-2)");
}

TEST_F(FatalTest, DictionaryLengthOutsideTheDataBufferIsRefusedBeforeCreate) {
    for (std::int16_t length : {std::int16_t{-1}, std::int16_t{1537}, std::int16_t{-32768}}) {
        dir.write("ddf/X.xdf", dictionary(length, std::string(1600, 'd')));
        scripted::answer(scripted::status(12));
        scripted::answer(scripted::status(0));  // Reset
        expectFatal(openFatally("X"), {"call 0"}, "NO ES POT ACCEDIR AL FITXER X (1006)");
        scripted::install();
    }
}

TEST_F(FatalTest, PathOverTheKeyBufferIsRefusedBeforeOpen) {
    const std::string name(252, 'N');       // + ".dat" = 256 characters
    scripted::answer(scripted::status(0));  // Reset
    expectFatal(openFatally(name), {}, "NO ES POT ACCEDIR AL FITXER " + name + " (1007)");
}

TEST_F(FatalTest, RecordLongerThanItsAreaIsRefusedAtOpen) {
    scripted::answerOpen(23);
    scripted::answer(scripted::status(0));  // Reset
    expectFatal(openFatally("F", 22), {"call 0", "call 15", "call 15"},
                "NO ES POT ACCEDIR AL FITXER F (1005)");
}

TEST_F(FatalTest, StatAnswersThatDoNotFitEndTheOpenWithTheirStatus) {
    const struct {
        scripted::Answer stat;
        bool second;
        const char* status;
    } cases[] = {
        {scripted::statAnswer(1537, 512, {{4}}), false, "1005"},
        {scripted::statAnswer(20, -512, {{4}}), false, "1009"},
        {scripted::statAnswer(20, 512, {{255, 1}}), true, "1009"},
        {scripted::status(3), false, "3"},
    };
    for (const auto& c : cases) {
        scripted::answer(scripted::status(0));
        scripted::answer(c.stat);
        if (c.second) scripted::answer(c.stat);
        scripted::answer(scripted::status(0));  // Reset
        std::vector<std::string> calls = {"call 0", "call 15"};
        if (c.second) calls.push_back("call 15");
        expectFatal(openFatally("F", 2000), calls,
                    "NO ES POT ACCEDIR AL FITXER F ("s + c.status + ")");
        scripted::install();
    }
}

// Stat answers for the check of the collections file's key 0: the file
// specification with the number of keys, then the segments as given.
struct Segment {
    std::uint16_t position;  // 1-based
    std::uint16_t length;
    unsigned char flags;
};
scripted::Answer keyAnswer(std::int16_t keys, const std::vector<Segment>& segments) {
    std::string s(16, '\0');
    coding::putI16(coding::bytes(s), 22);
    coding::putI16(coding::bytes(s) + 2, 512);
    coding::putI16(coding::bytes(s) + 4, keys);
    for (const Segment& g : segments) {
        std::string spec(16, '\0');
        coding::putU16(coding::bytes(spec), g.position);
        coding::putU16(coding::bytes(spec) + 2, g.length);
        spec[4] = static_cast<char>(g.flags);
        s += spec;
    }
    scripted::Answer a;
    a.data = s;
    return a;
}

TEST_F(DataTest, IdentityKeyMadeOfTheFirstNineBytesWithoutDuplicatesIsAccepted) {
    const struct {
        std::int16_t keys;
        std::vector<Segment> segments;
    } accepted[] = {
        {1, {{1, 9, 0x00}}},
        {1, {{1, 4, 0x10}, {5, 4, 0x10}, {9, 1, 0x00}}},
        {2, {{1, 9, 0x02}, {10, 2, 0x01}}},  // modifiable; a second key with duplicates
    };
    unsigned char area[22];
    openScripted(514, area, sizeof area, 22, {{9}});
    for (const auto& c : accepted) {
        scripted::calls().clear();
        scripted::answer(keyAnswer(c.keys, c.segments));
        std::int16_t status = -1;
        requireIdentityKey(514, "DADES\\CobramH", 9, status);
        EXPECT_EQ(status, 0);
        ASSERT_EQ(scripted::calls().size(), 1u);
        EXPECT_EQ(scripted::calls()[0].operation, 15);
        EXPECT_EQ(scripted::calls()[0].dataLength, 1536u);
        EXPECT_EQ(scripted::calls()[0].keyLength, 255);
    }
    std::int16_t status = -1;
    requireIdentityKey(777, "X", 9, status);
    EXPECT_EQ(status, 3);
}

TEST_F(FatalTest, IdentityKeyThatAdmitsASecondIdentityEndsTheRun) {
    std::vector<Segment> runaway;
    for (int i = 0; i < 95; ++i) runaway.push_back({1, 0, 0x10});
    const struct {
        const char* what;
        scripted::Answer stat;
        const char* status;
    } cases[] = {
        {"one byte", keyAnswer(1, {{1, 1, 0x00}}), "1010"},
        {"duplicates", keyAnswer(1, {{1, 9, 0x01}}), "1010"},
        {"ten bytes", keyAnswer(1, {{1, 10, 0x00}}), "1010"},
        {"eight bytes", keyAnswer(1, {{1, 4, 0x10}, {5, 4, 0x00}}), "1010"},
        {"not from the first byte", keyAnswer(1, {{2, 9, 0x00}}), "1010"},
        {"out of order", keyAnswer(1, {{5, 4, 0x10}, {1, 4, 0x10}, {9, 1, 0x00}}), "1010"},
        {"no key", keyAnswer(0, {}), "1010"},
        {"segments past the buffer", keyAnswer(1, runaway), "1009"},
        {"failed Stat", scripted::status(3), "3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scripted::answerOpen(22, {{9}});
        scripted::answer(c.stat);
        scripted::answer(scripted::status(0));  // Reset
        std::ofstream(g_trace, std::ios::trunc).close();
        shareFolderWithChild(dir);
        EXPECT_EXIT(
            {
                g_trace = (parentFolder(dir) / "trace").string();
                scripted::traceTo(g_trace);
                std::atexit(traceScreenAtExit);
                static unsigned char area[22];
                std::int16_t status;
                openDataFile(514, "DADES\\CobramH", area, sizeof area, status);
                requireIdentityKey(514, "DADES\\CobramH", 9, status);
                std::_Exit(1);  // not reached when the fatal path is taken
            },
            ::testing::ExitedWithCode(0), "");
        std::ifstream in(g_trace, std::ios::binary);
        const std::string all((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        const std::string message =
            "NO ES POT ACCEDIR AL FITXER DADES\\CobramH ("s + c.status + ")";
        EXPECT_NE(all.find("call 15\0call 15\0call 15\0beep"s), std::string::npos);
        EXPECT_NE(all.find("screen " + screenWithBox(message)), std::string::npos);
        EXPECT_NE(all.find("call 28"), std::string::npos);
        scripted::install();
    }
}

#ifndef _WIN32
// With the system console and an input that is not interactive and empty,
// the wait for a key ends instead of blocking.
TEST_F(FatalTest, WaitForAKeyEndsAtTheEndOfANonInteractiveInput) {
    platform::setConsoleBackend(nullptr);
    scripted::answer(scripted::status(20));
    scripted::answer(scripted::status(0));
    EXPECT_EXIT(
        {
            const int nothing = ::open("/dev/null", O_RDWR);
            ::dup2(nothing, STDIN_FILENO);
            ::dup2(nothing, STDOUT_FILENO);
            static unsigned char area[64];
            std::int16_t status;
            openDataFile(504, "DADES\\THRebut", area, sizeof area, status);
            std::exit(1);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace data_test
