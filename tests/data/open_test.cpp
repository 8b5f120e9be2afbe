// Registering and opening data files: slots, names, the Open and Stat calls,
// the wait on a locked file and the creation from a dictionary.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/coding.h"
#include "tests/data/data_fixture.h"
#include "tests/support/temp_dir.h"

namespace data_test {
namespace {

using scripted::blanks;
using scripted::calls;
using scripted::padded;
using scripted::zeros;

TEST_F(DataTest, FirstFileTakesSlot40AndTheNextOnesGoDownwards) {
    unsigned char a[100], b[100], c[100];
    openScripted(504, a, sizeof a, 10);
    openScripted(502, b, sizeof b, 10);
    openScripted(511, c, sizeof c, 10);
    EXPECT_EQ(openFileTable.entries[40].fileNumber, 504);
    EXPECT_EQ(openFileTable.entries[39].fileNumber, 502);
    EXPECT_EQ(openFileTable.entries[38].fileNumber, 511);
    EXPECT_EQ(findSlot(502), 39);
    EXPECT_EQ(findSlot(999), -37);
    EXPECT_EQ(openFileTable.entries[39].recordArea, b);
    EXPECT_EQ(openFileTable.entries[39].recordAreaSize, 100);
}

TEST_F(DataTest, FindSlotPrefersTheRegisteredSlotAndElseTheHighestFreeOne) {
    for (int slot = 1; slot <= kSlotCount; ++slot)
        openFileTable.entries[slot].fileNumber = 1000 + slot;
    EXPECT_EQ(findSlot(1007), 7);
    EXPECT_EQ(findSlot(5), 0);
    openFileTable.entries[12].fileNumber = 0;
    openFileTable.entries[3].fileNumber = 0;
    EXPECT_EQ(findSlot(5), -12);
    EXPECT_EQ(findSlot(0), 3);  // 0 marks a free slot: the lowest one matches
}

TEST_F(DataTest, OpenHandsTheOwnerNamePathAndModeAndStatsKeyZero) {
    unsigned char area[64];
    scripted::answer(scripted::status(0));
    scripted::Answer stat = scripted::statAnswer(22, 512, {{4, 6}, {2}});
    stat.key = std::string("DADES\\X.dat") + '\0';  // the record manager may write the key buffer
    scripted::answer(stat);
    scripted::answer(scripted::statAnswer(22, 512, {{4, 6}, {2}}));
    std::int16_t status = -1;
    openDataFile(514, "DADES\\CobramH", area, sizeof area, status);
    EXPECT_EQ(status, 0);

    ASSERT_EQ(calls().size(), 3u);
    const unsigned char* block = openFileTable.entries[40].positionBlock;
    const scripted::Call& open = calls()[0];
    EXPECT_EQ(open.operation, 0);
    EXPECT_EQ(open.positionBlock, block);
    EXPECT_EQ(open.positionBytes, zeros(128));
    EXPECT_EQ(open.data.substr(4, 1), zeros(1));
    EXPECT_EQ(open.data.substr(0, 4).find('\0'), std::string::npos);  // four characters
    EXPECT_EQ(open.data.substr(5), blanks(1531));
    EXPECT_EQ(open.dataLength, 5u);
    EXPECT_EQ(open.key, padded("DADES\\CobramH.dat", 256, '\0'));
    EXPECT_EQ(open.keyLength, 17);
    EXPECT_EQ(open.keyNumber, 0);

    const scripted::Call& stat1 = calls()[1];
    EXPECT_EQ(stat1.operation, 15);
    EXPECT_EQ(stat1.positionBlock, block);
    EXPECT_EQ(stat1.data, blanks(1536));
    EXPECT_EQ(stat1.dataLength, 1536u);
    EXPECT_EQ(stat1.key, blanks(255) + zeros(1));
    EXPECT_EQ(stat1.keyLength, 255);
    EXPECT_EQ(stat1.keyNumber, 0);

    // The second Stat: the page zeroed, blanks after it, the key buffer as
    // the first call left it with its length up to the first zero byte.
    const scripted::Call& stat2 = calls()[2];
    EXPECT_EQ(stat2.operation, 15);
    EXPECT_EQ(stat2.positionBlock, block);
    EXPECT_EQ(stat2.data, zeros(512) + blanks(1024));
    EXPECT_EQ(stat2.dataLength, 1536u);
    EXPECT_EQ(stat2.key.substr(0, 12), std::string("DADES\\X.dat") + '\0');
    EXPECT_EQ(stat2.keyLength, 11);
    EXPECT_EQ(stat2.keyNumber, 0);

    const OpenFileEntry& e = openFileTable.entries[40];
    EXPECT_EQ(e.fileNumber, 514);
    EXPECT_EQ(e.recordLength, 22);
    EXPECT_EQ(e.keyNumber, 0);
    EXPECT_EQ(e.keyValue, zeros(10));  // two segments, 4 and 6
}

TEST_F(DataTest, FileWithoutKeysTakesOneStatAndAnEmptyKeyValue) {
    unsigned char area[64];
    openScripted(502, area, sizeof area, 30, {});
    EXPECT_EQ(entryOf(502).keyValue, "");
    EXPECT_EQ(entryOf(502).recordLength, 30);
}

TEST_F(DataTest, RecordLengthMayFillTheAreaAndTheDataBuffer) {
    static unsigned char big[kDataBufferSize];
    openScripted(511, big, sizeof big, kDataBufferSize);
    EXPECT_EQ(entryOf(511).recordLength, kDataBufferSize);
    unsigned char small[22];
    openScripted(514, small, sizeof small, 22);
    EXPECT_EQ(entryOf(514).recordLength, 22);
}

TEST_F(DataTest, AlreadyRegisteredFullTableAndFileNumberZeroChangeNothing) {
    unsigned char area[64];
    openScripted(504, area, sizeof area, 10);
    const OpenFileEntry before = openFileTable.entries[40];

    std::int16_t status = -1;
    openDataFile(504, "OTHER", area, sizeof area, status);
    EXPECT_EQ(status, 1002);
    openDataFile(0, "ZERO", area, sizeof area, status);
    EXPECT_EQ(status, 1002);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(openFileTable.entries[40].keyValue, before.keyValue);
    EXPECT_EQ(openFileTable.entries[40].recordLength, before.recordLength);
    EXPECT_EQ(findSlot(0), 1);

    for (std::int16_t n = 1; n <= 39; ++n) openScripted(n, area, sizeof area, 10);
    EXPECT_EQ(findSlot(9999), 0);
    openDataFile(9999, "FULL", area, sizeof area, status);
    EXPECT_EQ(status, 1003);
    EXPECT_TRUE(calls().empty());
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        EXPECT_NE(openFileTable.entries[slot].fileNumber, 9999);
    }
}

struct NameCase {
    const char* name;
    const char* dataPath;
    const char* baseName;
};

TEST(DataName, LastComponentDecidesTheExtensionAndTheBaseName) {
    const NameCase cases[] = {
        {"DADES\\THRebut", "DADES\\THRebut.dat", "THRebut"},
        {"C:\\A.B\\FILE", "C:\\A.B\\FILE.dat", "FILE"},
        {"X.DAT", "X.DAT", "X"},
        {"X.", "X.", "X"},
        {"", ".dat", ""},
        {"A.B.C", "A.B.C", "A"},
        {"dir/a.b/c.d.e", "dir/a.b/c.d.e", "c"},
        {"D:FILE", "D:FILE.dat", "FILE"},
        {"ROOT\\", "ROOT\\.dat", ""},
        {".hidden", ".hidden", ""},
    };
    for (const NameCase& c : cases) {
        std::string dataPath, baseName;
        splitDataName(c.name, dataPath, baseName);
        EXPECT_EQ(dataPath, c.dataPath) << c.name;
        EXPECT_EQ(baseName, c.baseName) << c.name;
    }
}

TEST_F(DataTest, LongestPathStillFitsTheKeyBufferWithItsZeroByte) {
    unsigned char area[64];
    scripted::answerOpen(10);
    const std::string name(251, 'N');  // + ".dat" = 255 characters
    std::int16_t status = -1;
    openDataFile(504, name, area, sizeof area, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(calls()[0].key, name + ".dat" + zeros(1));
    EXPECT_EQ(calls()[0].keyLength, 255);
}

TEST_F(DataTest, LockedFileIsWaitedForIn3000MsStepsWithoutLimitOrMessage) {
    unsigned char area[64];
    for (int i = 0; i < 12; ++i) scripted::answer(scripted::status(85));
    scripted::answerOpen(10);
    std::int16_t status = -1;
    openDataFile(504, "DADES\\THRebut", area, sizeof area, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(pauses(), std::vector<std::uint32_t>(12, 3000));
    ASSERT_EQ(calls().size(), 15u);
    for (int i = 0; i < 13; ++i) {
        EXPECT_EQ(calls()[i].operation, 0);
        EXPECT_EQ(calls()[i].key, calls()[0].key);
        EXPECT_EQ(calls()[i].data, calls()[0].data);
    }
}

// Creation from a dictionary under a temporary root.
class CreationTest : public DataTest {
protected:
    void SetUp() override {
        DataTest::SetUp();
        sessionSettings.rootDir = root.dir();
    }
    std::string dictionary(std::int16_t length, const std::string& bytes) {
        std::string d(2, '\0');
        coding::putI16(coding::bytes(d), length);
        return d + bytes;
    }
    testing_support::TempDir root;
};

TEST_F(CreationTest, MissingFileIsCreatedFromRootDdfDictionaryAndOpenedAgain) {
    root.write("ddf/THRebut.xdf", dictionary(5, "ABCDE") + "not read");
    unsigned char area[64];
    scripted::answer(scripted::status(12));
    scripted::answer(scripted::status(0));  // Create
    scripted::answerOpen(10);
    std::int16_t status = -1;
    const std::string name = "DADES\\THRebut";
    openDataFile(504, name, area, sizeof area, status);
    EXPECT_EQ(status, 0);

    ASSERT_EQ(calls().size(), 5u);
    const scripted::Call& create = calls()[1];
    EXPECT_EQ(create.operation, 14);
    EXPECT_EQ(create.positionBlock, openFileTable.entries[40].positionBlock);
    EXPECT_EQ(create.data, "ABCDE" + blanks(1531));
    EXPECT_EQ(create.dataLength, 1536u);
    EXPECT_EQ(create.key, padded("DADES\\THRebut.dat", 256, '\0'));
    EXPECT_EQ(create.keyLength, 17);
    EXPECT_EQ(create.keyNumber, -1);
    EXPECT_EQ(calls()[2].operation, 0);
    EXPECT_EQ(calls()[2].key, calls()[0].key);
}

// Two runs starting on a new installation both find the file missing; the
// one whose Create comes second opens the file the other one made.
TEST_F(CreationTest, FileCreatedByAnotherProgramMeanwhileIsOpened) {
    root.write("ddf/THRebut.xdf", dictionary(5, "ABCDE"));
    unsigned char area[64];
    scripted::answer(scripted::status(12));
    scripted::answer(scripted::status(59));  // Create: the file is there now
    scripted::answerOpen(10);
    std::int16_t status = -1;
    openDataFile(504, "DADES\\THRebut", area, sizeof area, status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(calls().size(), 5u);
    EXPECT_EQ(calls()[1].operation, 14);
    EXPECT_EQ(calls()[2].operation, 0);
    EXPECT_EQ(scripted::answersLeft(), 0u);
}

TEST_F(CreationTest, DictionaryLengthMayFillTheDataBufferAndShortOnesReadZeros) {
    unsigned char area[64];
    const std::string full(1536, 'D');
    root.write("ddf/FULL.xdf", dictionary(1536, full));
    scripted::answer(scripted::status(12));
    scripted::answer(scripted::status(0));
    scripted::answerOpen(10);
    std::int16_t status = -1;
    openDataFile(504, "FULL", area, sizeof area, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(calls()[1].data, full);

    scripted::calls().clear();
    root.write("ddf/SHORT.xdf", dictionary(10, "abc"));
    scripted::answer(scripted::status(12));
    scripted::answer(scripted::status(0));
    scripted::answerOpen(10);
    openDataFile(502, "SHORT", area, sizeof area, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(calls()[1].data, "abc" + zeros(7) + blanks(1526));
}

TEST_F(CreationTest, MissingDictionaryIsCreatedEmptyAndGivesAnEmptyDescription) {
    unsigned char area[64];
    std::int16_t status = -1;
    // Without the folder nothing can be created: the description is empty.
    scripted::answer(scripted::status(12));
    scripted::answer(scripted::status(0));
    scripted::answerOpen(10);
    openDataFile(511, "DADES\\FinquesH", area, sizeof area, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(calls()[1].data, blanks(1536));
    EXPECT_FALSE(root.exists("ddf"));

    std::filesystem::create_directories(root.path() / "ddf");
    scripted::calls().clear();
    scripted::answer(scripted::status(12));
    scripted::answer(scripted::status(0));
    scripted::answerOpen(10);
    openDataFile(513, "DADES\\PropietH", area, sizeof area, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(calls()[1].data, blanks(1536));
    EXPECT_TRUE(root.exists("ddf/PropietH.xdf"));
    EXPECT_EQ(root.read("ddf/PropietH.xdf"), "");
}

TEST_F(CreationTest, DictionaryNameIsTheBaseNameWithoutTheExtension) {
    root.write("ddf/A.xdf", dictionary(2, "OK"));
    unsigned char area[64];
    scripted::answer(scripted::status(12));
    scripted::answer(scripted::status(0));
    scripted::answerOpen(10);
    std::int16_t status = -1;
    openDataFile(504, "other\\A.B.C", area, sizeof area, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(calls()[0].key, padded("other\\A.B.C", 256, '\0'));
    EXPECT_EQ(calls()[1].data.substr(0, 3), "OK ");
}

}  // namespace
}  // namespace data_test
