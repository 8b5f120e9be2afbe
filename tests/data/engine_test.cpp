// The data layer over the built-in record manager: creation from a
// dictionary, insertion, reads by key and by step, the operations log,
// closing, and the wait on a file another process holds.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>

#include "engine/btrcall.h"
#include "platform/coding.h"
#include "platform/platform.h"
#include "tests/data/data_fixture.h"
#include "tests/support/temp_dir.h"

namespace data_test {
namespace {

using scripted::blanks;
using scripted::zeros;

// The collections file of the tests: 22-byte records; key 0 is bytes 1-4
// and 5-8 (two segments, unique), key 1 bytes 9-10 (duplicates allowed).
std::string collectionsDictionary() {
    std::string d(16, '\0');
    unsigned char* p = coding::bytes(d);
    coding::putI16(p + 0, 22);   // record length
    coding::putI16(p + 2, 512);  // page size
    coding::putI16(p + 4, 2);    // keys
    auto segment = [&d](int position, int length, int flags) {
        std::string s(16, '\0');
        coding::putI16(coding::bytes(s) + 0, static_cast<std::int16_t>(position));
        coding::putI16(coding::bytes(s) + 2, static_cast<std::int16_t>(length));
        coding::putI16(coding::bytes(s) + 4, static_cast<std::int16_t>(flags));
        d += s;
    };
    segment(1, 4, 0x10);
    segment(5, 4, 0x00);
    segment(9, 2, 0x01);
    std::string file(2, '\0');
    coding::putI16(coding::bytes(file), static_cast<std::int16_t>(d.size()));
    return file + d;
}

// A record: its key 0 (8 characters), its key 1 (2) and 12 bytes of body.
std::string collection(const std::string& key0, const std::string& key1, char body) {
    return key0 + key1 + std::string(12, body);
}

class EngineTest : public DataTest {
protected:
    void SetUp() override {
        DataTest::SetUp();
        setRecordManager(BTRCALL);
        sessionSettings.rootDir = root.dir();
        sessionSettings.tmpDir = root.dir();
        root.write("ddf/CobramH.xdf", collectionsDictionary());
        std::filesystem::create_directories(root.path() / "DADES");
        previous = std::filesystem::current_path();
        std::filesystem::current_path(root.path());
        std::memset(area, '#', sizeof area);
    }
    void TearDown() override {
        std::int16_t status;
        closeAllDataFiles(status);
        std::filesystem::current_path(previous);
        DataTest::TearDown();
    }
    void openCollections() {
        std::int16_t status = -1;
        openDataFile(514, name, area, 22, status);
        ASSERT_EQ(status, 0);
    }
    void insert(const std::string& record, std::int16_t expected) {
        std::memcpy(area, record.data(), 22);
        std::int16_t status = -1;
        insertRecord(514, status);
        EXPECT_EQ(status, expected) << record;
    }
    std::string current() const { return std::string(reinterpret_cast<const char*>(area), 22); }

    testing_support::TempDir root;
    std::filesystem::path previous;
    const std::string name = root.dir() + "DADES\\CobramH";
    unsigned char area[32];
};

TEST_F(EngineTest, MissingFileIsCreatedFromItsDictionaryAndOpened) {
    ASSERT_FALSE(root.exists("DADES/CobramH.dat"));
    openCollections();
    EXPECT_TRUE(root.exists("DADES/CobramH.dat"));
    const OpenFileEntry& e = entryOf(514);
    EXPECT_EQ(e.recordLength, 22);
    EXPECT_EQ(e.keyValue, zeros(8));
    std::int16_t keyLength = -1, recordLength = -1;
    describeKey(514, 1, keyLength, recordLength);
    EXPECT_EQ(keyLength, 2);
    EXPECT_EQ(recordLength, 22);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(area) + 22, 10), std::string(10, '#'));
}

TEST_F(EngineTest, InsertedRecordsAreFoundByKeyAndByStepAndLogged) {
    openCollections();
    const std::string a = collection("0001aaaa", "G1", 'a');
    const std::string b = collection("0002aaaa", "G2", 'b');
    const std::string c = collection("0003aaaa", "G1", 'c');
    insert(b, 0);
    insert(a, 0);
    insert(c, 0);
    insert(collection("0001aaaa", "G9", 'z'), 5);  // key 0 already held
    EXPECT_EQ(entryOf(514).keyValue, zeros(8));
    const std::string line =
        " 514          "
        " 2            ";
    EXPECT_EQ(root.read("db.log"),
              line + " 0 \r\n" + line + " 0 \r\n" + line + " 0 \r\n" + line + " 5 \r\n");

    std::int16_t status = -1;
    seekByKey(514, 0, "0002aaaa", 0, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(current(), b);
    EXPECT_EQ(entryOf(514).keyValue, "0002aaaa");

    seekByKey(514, 0, "0002", 1, status);  // "0002" and four zero bytes
    EXPECT_EQ(status, 0);
    EXPECT_EQ(current(), b);
    seekByKey(514, 0, "0002", -1, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(current(), a);

    stepRecords(514, 2, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(current(), c);
    EXPECT_EQ(entryOf(514).keyValue, "0003aaaa");
    stepRecords(514, -1, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(current(), b);
    stepRecords(514, 0, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(current(), b);
    stepRecords(514, 3, status);
    EXPECT_EQ(status, 9);  // past the last record, the area untouched
    EXPECT_EQ(current(), b);

    seekByKey(514, 0, "0004aaaa", 0, status);
    EXPECT_EQ(status, 4);

    // Along key 1, records with equal keys in the order they came.
    seekByKey(514, 1, "G1", 0, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(current(), a);
    stepRecords(514, 1, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(current(), c);
    seekByKey(514, 2, "X", 0, status);
    EXPECT_EQ(status, 1004);
    EXPECT_EQ(entryOf(514).keyNumber, 1);

    closeAllDataFiles(status);
    EXPECT_EQ(status, 0);
    seekByKey(514, 0, "0001aaaa", 0, status);
    EXPECT_EQ(status, 3);

    // Reopened, the records are there.
    openCollections();
    seekByKey(514, 0, "0003aaaa", 0, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(current(), c);
}

TEST_F(EngineTest, OpeningTheSameFileUnderTwoNumbersSharesIt) {
    openCollections();
    unsigned char other[22];
    std::int16_t status = -1;
    openDataFile(600, name, other, sizeof other, status);
    EXPECT_EQ(status, 0);
    insert(collection("0001aaaa", "G1", 'a'), 0);
    seekByKey(600, 0, "0001aaaa", 0, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(other), 22), current());
}

// A console that shows what is written on the standard error of the process.
void toStderr(const std::string& text) {
    std::fputs(text.c_str(), stderr);
}
void nothing() {}
const platform::ConsoleBackend kStderrConsole = {
    trap::noCursor, trap::size, trap::cursor, trap::moveCursor, trap::cell,
    trap::colours,  toStderr,   nothing,      nothing,          nothing};

// Without a dictionary the description is empty and the record manager
// refuses to create the file: the open ends the program with its status.
TEST_F(EngineTest, FileWithoutADictionaryCannotBeCreatedAndEndsTheProgram) {
    platform::setConsoleBackend(&kStderrConsole);
    shareFolderWithChild(root);
    EXPECT_EXIT(
        {
            parentFolder(root);
            std::int16_t status;
            openDataFile(504, "DADES\\THRebut", area, 22, status);  // under the root
            std::exit(1);
        },
        ::testing::ExitedWithCode(0), "NO ES POT ACCEDIR AL FITXER DADES.THRebut \\(.+\\)");
    EXPECT_FALSE(root.exists("DADES/THRebut.dat"));
    EXPECT_EQ(root.read("ddf/THRebut.xdf"), "");
}

#ifndef _WIN32
void pauseForReal(std::uint32_t milliseconds) {
    pauses().push_back(milliseconds);
    platform::sleepMilliseconds(milliseconds);
}

// Another process holds the file exclusively for a moment: the open waits
// in 3000 ms steps, shows nothing, and opens once the file is released.
TEST_F(EngineTest, FileHeldByAnotherProcessIsWaitedForAndOpened) {
    openCollections();  // creates the file
    std::int16_t status = -1;
    closeAllDataFiles(status);
    ASSERT_EQ(status, 0);
    setPauseFunction(pauseForReal);

    int held[2];
    ASSERT_EQ(::pipe(held), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        unsigned char block[kPositionBlockSize] = {};
        unsigned char data[kDataBufferSize] = {};
        unsigned char key[kKeyBufferSize] = {};
        const std::string path = name + ".dat";
        std::memcpy(key, path.data(), path.size());
        std::uint32_t length = 0;
        const std::int16_t opened =
            BTRCALL(0, block, data, &length, key, static_cast<std::uint8_t>(path.size()), -4);
        const char answer = opened == 0 ? 'y' : 'n';
        if (::write(held[1], &answer, 1) != 1) ::_exit(1);
        platform::sleepMilliseconds(500);
        length = 0;
        BTRCALL(28, block, data, &length, key, 0, 0);
        ::_exit(0);
    }
    ::close(held[1]);
    char answer = 0;
    ASSERT_EQ(::read(held[0], &answer, 1), 1);
    ::close(held[0]);
    ASSERT_EQ(answer, 'y');

    openDataFile(514, name, area, 22, status);
    EXPECT_EQ(status, 0);
    ASSERT_FALSE(pauses().empty());
    EXPECT_EQ(pauses(), std::vector<std::uint32_t>(pauses().size(), 3000));
    int childStatus = 0;
    ASSERT_EQ(::waitpid(child, &childStatus, 0), child);
    EXPECT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0);
    insert(collection("0001aaaa", "G1", 'a'), 0);
}
#endif

}  // namespace
}  // namespace data_test
