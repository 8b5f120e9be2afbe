// The fatal path of an open: the message in the session's language, the
// beep, the key, the closing, exit code 0; and every refusal that takes it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/coding.h"
#include "platform/console.h"
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
        {"CAT", "NO ES POT ACCEDIR AL FITXER "},
        {"SPA", "NO SE PUEDE ACCEDER AL FICHERO "},
        {"GLG", "NOM SE PODE ACEDER AO FICHEIRO "},
        {"OCI", "NON SE P\xE3T ACCEDIR ATH FICH\xD4R "},
        {"   ", "NO ES POT ACCEDIR AL FITXER "},
        {"spa", "NO ES POT ACCEDIR AL FITXER "},
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

// What the child of a death test did, in order: "write <text>", "beep",
// "discard", "wait" from the console, "call <operation>" from the record
// manager. Each event is ended by a zero byte in the trace file.
std::string g_trace;

void trace(const std::string& event) {
    std::ofstream(g_trace, std::ios::app | std::ios::binary) << event << '\0';
}
void noCursor() {}
void size(int& rows, int& columns) { rows = 25, columns = 80; }
void cursor(int& row, int& column) { row = 1, column = 1; }
void moveCursor(int, int) {}
void cell(int, int, unsigned char& c, unsigned char& a) { c = ' ', a = 7; }
void colours(int, int) {}
void write(const std::string& text) { trace("write " + text); }
void discard() { trace("discard"); }
void wait() { trace("wait"); }
void bell() { trace("beep"); }
const platform::ConsoleBackend kTracingConsole = {noCursor, size,  cursor,  moveCursor, cell,
                                                  colours,  write, discard, wait,       bell};

class FatalTest : public DataTest {
protected:
    void SetUp() override {
        DataTest::SetUp();
        g_trace = (dir.path() / "trace").string();
        sessionSettings.rootDir = dir.dir();
        sessionSettings.languageCode = "CAT";
        platform::setConsoleBackend(&kTracingConsole);
    }
    void TearDown() override {
        platform::setConsoleBackend(nullptr);
        DataTest::TearDown();
    }
    // Opens `name` in a child process, which must end with exit code 0;
    // returns what the child did.
    std::vector<std::string> openFatally(const std::string& name, std::int32_t areaSize = 64) {
        scripted::traceTo(g_trace);
        std::ofstream(g_trace, std::ios::trunc).close();
        EXPECT_EXIT(
            {
                static unsigned char area[2000];
                std::int16_t status;
                openDataFile(504, name, area, areaSize, status);
                std::exit(1);  // not reached when the fatal path is taken
            },
            ::testing::ExitedWithCode(0), "");
        std::ifstream in(g_trace, std::ios::binary);
        const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::string> events;
        std::size_t start = 0;
        for (std::size_t end; (end = all.find('\0', start)) != std::string::npos; start = end + 1) {
            events.push_back(all.substr(start, end - start));
        }
        return events;
    }
    std::vector<std::string> ending(const std::string& message) {
        return {"write " + message, "write \n", "beep", "discard", "wait", "call 28"};
    }
    std::string dictionary(std::int16_t length, const std::string& bytes) {
        std::string d(2, '\0');
        coding::putI16(coding::bytes(d), length);
        return d + bytes;
    }
    testing_support::TempDir dir;
};

TEST_F(FatalTest, FailedOpenShowsTheMessageBeepsWaitsForAKeyClosesAndEnds) {
    sessionSettings.languageCode = "OCI";
    scripted::answer(scripted::status(20));
    scripted::answer(scripted::status(0));  // Reset
    std::vector<std::string> expected = {"call 0"};
    for (const auto& e : ending("NON SE P\xE3T ACCEDIR ATH FICH\xD4R DADES\\THRebut (20)")) {
        expected.push_back(e);
    }
    EXPECT_EQ(openFatally("DADES\\THRebut"), expected);
}

TEST_F(FatalTest, FailedCreateEndsWithItsOwnStatus) {
    dir.write("ddf/THRebut.xdf", dictionary(3, "abc"));
    scripted::answer(scripted::status(12));
    scripted::answer(scripted::status(-2));  // Create
    scripted::answer(scripted::status(0));   // Reset
    std::vector<std::string> expected = {"call 0", "call 14"};
    for (const auto& e : ending("NO ES POT ACCEDIR AL FITXER DADES\\THRebut (-2)")) {
        expected.push_back(e);
    }
    EXPECT_EQ(openFatally("DADES\\THRebut"), expected);
}

TEST_F(FatalTest, DictionaryLengthOutsideTheDataBufferIsRefusedBeforeCreate) {
    for (std::int16_t length : {std::int16_t{-1}, std::int16_t{1537}, std::int16_t{-32768}}) {
        dir.write("ddf/X.xdf", dictionary(length, std::string(1600, 'd')));
        scripted::answer(scripted::status(12));
        scripted::answer(scripted::status(0));  // Reset
        std::vector<std::string> expected = {"call 0"};
        for (const auto& e : ending("NO ES POT ACCEDIR AL FITXER X (1006)")) expected.push_back(e);
        EXPECT_EQ(openFatally("X"), expected) << length;
        scripted::install();
    }
}

TEST_F(FatalTest, PathOverTheKeyBufferIsRefusedBeforeOpen) {
    const std::string name(252, 'N');  // + ".dat" = 256 characters
    scripted::answer(scripted::status(0));  // Reset
    EXPECT_EQ(openFatally(name), ending("NO ES POT ACCEDIR AL FITXER " + name + " (1007)"));
}

TEST_F(FatalTest, RecordLongerThanItsAreaIsRefusedAtOpen) {
    scripted::answerOpen(23);
    scripted::answer(scripted::status(0));  // Reset
    std::vector<std::string> expected = {"call 0", "call 15", "call 15"};
    for (const auto& e : ending("NO ES POT ACCEDIR AL FITXER F (1005)")) expected.push_back(e);
    EXPECT_EQ(openFatally("F", 22), expected);
}

TEST_F(FatalTest, StatAnswersThatDoNotFitEndTheOpenWithTheirStatus) {
    const struct {
        scripted::Answer stat;
        bool second;
        const char* status;
    } cases[] = {
        {scripted::statAnswer(1537, 512, {{4}}), false, "1005"},
        {scripted::statAnswer(20, 1537, {{4}}), false, "1009"},
        {scripted::statAnswer(20, 512, {{255, 1}}), true, "1009"},
        {scripted::status(3), false, "3"},
    };
    for (const auto& c : cases) {
        scripted::answer(scripted::status(0));
        scripted::answer(c.stat);
        if (c.second) scripted::answer(c.stat);
        scripted::answer(scripted::status(0));  // Reset
        const std::vector<std::string> events = openFatally("F", 2000);
        ASSERT_GE(events.size(), 6u);
        EXPECT_EQ(events[events.size() - 6], "write NO ES POT ACCEDIR AL FITXER F ("s + c.status + ")");
        EXPECT_EQ(events.back(), "call 28");
        scripted::install();
    }
}

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

}  // namespace
}  // namespace data_test
