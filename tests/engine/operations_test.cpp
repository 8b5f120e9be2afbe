// The operations of BTRCALL one by one: their results, statuses and the
// position they leave.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

#include "engine_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace engine_test;

// Records of 20 bytes: a signed 4-byte number key 0 (unique), an 8-byte
// string key 1 with duplicates, modifiable, and 8 bytes of payload.
const std::string kDescription =
    makeDescription(20, {{{1, 4, 0x0100, 1}}, {{5, 8, 0x0001 | 0x0002}}});

std::string rec(std::int32_t number, const std::string& name, const std::string& payload = "") {
    std::string r = le32(number) + name;
    r.resize(12, ' ');
    r += payload;
    r.resize(20, '.');
    return r;
}

class Operations : public BackendTest {
protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        path = tmp.dir() + "people.dat";
        ASSERT_EQ(btr.create(path, kDescription), 0);
        ASSERT_EQ(btr.open(path), 0);
    }
    testing_support::TempDir tmp;
    std::string path;
    Btr btr;
};
NUBO_ON_EVERY_BACKEND(Operations);

// The same, on tests that reach into the SQLite database itself.
class SqliteOperations : public Operations {};
NUBO_ON_SQLITE(SqliteOperations);

TEST_P(Operations, InsertStoresAndReturnsTheKeyAndPosition) {
    ASSERT_EQ(btr.insert(rec(10, "ANNA")), 0);
    EXPECT_EQ(btr.keyBytes(4), le32(10));
    ASSERT_EQ(btr.insert(rec(30, "PERE")), 0);
    ASSERT_EQ(btr.insert(rec(20, "JOAN"), 1), 0);
    EXPECT_EQ(btr.keyBytes(8), "JOAN    ");
    // The position is the new record along key 1: the next is PERE.
    ASSERT_EQ(btr.call(opGetNext, 1536, 1), 0);
    EXPECT_EQ(btr.record(), rec(30, "PERE"));
    EXPECT_EQ(btr.recordCount(), 3u);
}

TEST_P(Operations, InsertRefusals) {
    ASSERT_EQ(btr.insert(rec(10, "ANNA", "first")), 0);
    EXPECT_EQ(btr.insert(rec(10, "OTHER", "second")), 5);
    EXPECT_EQ(btr.insert(rec(11, "X"), 2), 6);
    EXPECT_EQ(btr.insert(rec(12, "X"), -2), 6);
    std::memcpy(btr.data, rec(13, "SHORT").data(), 20);
    EXPECT_EQ(btr.call(opInsert, 19, 0), 22);
    EXPECT_EQ(btr.recordCount(), 1u);
    ASSERT_EQ(btr.get(opGetEqual, 0, le32(10)), 0);
    EXPECT_EQ(btr.record(), rec(10, "ANNA", "first"));
}

TEST_P(Operations, ReadsReturnTheRecordTheKeyAndTheLength) {
    ASSERT_EQ(btr.insert(rec(7, "MARTA", "payload")), 0);
    ASSERT_EQ(btr.get(opGetEqual, 1, "MARTA   "), 0);
    EXPECT_EQ(btr.length, 20u);
    EXPECT_EQ(btr.record(), rec(7, "MARTA", "payload"));
    EXPECT_EQ(btr.keyBytes(8), "MARTA   ");
    // Too short a buffer: the first part, status 22, the key still returned.
    btr.setKey(le32(7));
    EXPECT_EQ(btr.call(opGetEqual, 6, 0), 22);
    EXPECT_EQ(btr.length, 6u);
    EXPECT_EQ(btr.record(), rec(7, "MARTA").substr(0, 6));
    EXPECT_EQ(btr.keyBytes(4), le32(7));
}

TEST_P(Operations, StatusesOfReads) {
    EXPECT_EQ(btr.get(opGetFirst, 0), 9);
    EXPECT_EQ(btr.get(opGetLast, 1), 9);
    EXPECT_EQ(btr.get(opGetNext, 0), 8);
    EXPECT_EQ(btr.get(opGetPrevious, 0), 8);
    ASSERT_EQ(btr.insert(rec(1, "A")), 0);
    ASSERT_EQ(btr.insert(rec(2, "B")), 0);
    EXPECT_EQ(btr.get(opGetEqual, 0, le32(3)), 4);
    EXPECT_EQ(btr.length, 0u);
    EXPECT_EQ(btr.get(opGetGreater, 0, le32(2)), 9);
    EXPECT_EQ(btr.get(opGetLess, 0, le32(1)), 9);
    EXPECT_EQ(btr.get(opGetFirst, 2), 6);
    EXPECT_EQ(btr.get(opGetEqual, -1, le32(1)), 6);
}

TEST_P(Operations, AFailedReadKeepsThePosition) {
    for (int i = 1; i <= 3; ++i) ASSERT_EQ(btr.insert(rec(i, "N")), 0);
    ASSERT_EQ(btr.get(opGetEqual, 0, le32(2)), 0);
    EXPECT_EQ(btr.get(opGetEqual, 0, le32(9)), 4);
    ASSERT_EQ(btr.get(opGetNext, 0), 0);
    EXPECT_EQ(btr.record(), rec(3, "N"));
    EXPECT_EQ(btr.get(opGetNext, 0), 9);
    ASSERT_EQ(btr.get(opGetPrevious, 0), 0);
    EXPECT_EQ(btr.record(), rec(2, "N"));
    EXPECT_EQ(btr.get(opGetLess, 0, le32(1)), 9);
    ASSERT_EQ(btr.get(opGetNext, 0), 0);
    EXPECT_EQ(btr.record(), rec(3, "N"));
}

TEST_P(Operations, UpdateReplacesTheCurrentRecord) {
    EXPECT_EQ(btr.update(rec(1, "NOBODY")), 8);
    ASSERT_EQ(btr.insert(rec(1, "ANNA")), 0);
    ASSERT_EQ(btr.insert(rec(2, "BERTA")), 0);
    ASSERT_EQ(btr.insert(rec(3, "CARLA")), 0);
    ASSERT_EQ(btr.get(opGetEqual, 0, le32(1)), 0);
    // Key 1 may change (modifiable): ANNA becomes ZOE and moves to the end.
    ASSERT_EQ(btr.update(rec(1, "ZOE", "new"), 1), 0);
    EXPECT_EQ(btr.keyBytes(8), "ZOE     ");
    EXPECT_EQ(btr.get(opGetNext, 1), 9);
    ASSERT_EQ(btr.get(opGetFirst, 1), 0);
    EXPECT_EQ(btr.record(), rec(2, "BERTA"));
    ASSERT_EQ(btr.get(opGetEqual, 0, le32(1)), 0);
    EXPECT_EQ(btr.record(), rec(1, "ZOE", "new"));
    // Key 0 may not change; the record stays as it was.
    EXPECT_EQ(btr.update(rec(5, "ZOE")), 10);
    EXPECT_EQ(btr.get(opGetEqual, 0, le32(5)), 4);
    ASSERT_EQ(btr.get(opGetEqual, 0, le32(1)), 0);
    EXPECT_EQ(btr.record(), rec(1, "ZOE", "new"));
    EXPECT_EQ(btr.recordCount(), 3u);
}

TEST_P(Operations, UpdateKeepsUniqueKeysUnique) {
    const std::string d = makeDescription(12, {{{1, 4, 0x0002}}, {{5, 4}}});
    Btr other;
    ASSERT_EQ(other.create(tmp.dir() + "u.dat", d), 0);
    ASSERT_EQ(other.open(tmp.dir() + "u.dat"), 0);
    ASSERT_EQ(other.insert("AAAA1111xxxx"), 0);
    ASSERT_EQ(other.insert("BBBB2222xxxx"), 0);
    ASSERT_EQ(other.get(opGetEqual, 0, "AAAA"), 0);
    EXPECT_EQ(other.update("AAAA2222yyyy"), 10);  // key 1 is not modifiable
    ASSERT_EQ(other.get(opGetEqual, 0, "BBBB"), 0);
    EXPECT_EQ(other.update("AAAA2222zzzz"), 5);  // key 0 may change, but not to AAAA
    ASSERT_EQ(other.get(opGetEqual, 0, "AAAA"), 0);
    EXPECT_EQ(other.record(), "AAAA1111xxxx");
    ASSERT_EQ(other.get(opGetEqual, 0, "BBBB"), 0);
    EXPECT_EQ(other.record(), "BBBB2222xxxx");
    ASSERT_EQ(other.update("CCCC2222zzzz"), 0);
    EXPECT_EQ(other.get(opGetEqual, 0, "BBBB"), 4);
    ASSERT_EQ(other.get(opGetEqual, 0, "CCCC"), 0);
    EXPECT_EQ(other.record(), "CCCC2222zzzz");
}

TEST_P(Operations, DeleteRemovesTheCurrentRecordAndKeepsThePlace) {
    EXPECT_EQ(btr.call(opDelete, 0, 0), 8);
    for (int i = 1; i <= 4; ++i) ASSERT_EQ(btr.insert(rec(i, "N")), 0);
    ASSERT_EQ(btr.get(opGetEqual, 0, le32(2)), 0);
    ASSERT_EQ(btr.call(opDelete, 0, 0), 0);
    EXPECT_EQ(btr.call(opDelete, 0, 0), 8);
    EXPECT_EQ(btr.update(rec(2, "N")), 8);
    ASSERT_EQ(btr.get(opGetNext, 0), 0);
    EXPECT_EQ(btr.record(), rec(3, "N"));
    ASSERT_EQ(btr.get(opGetEqual, 0, le32(3)), 0);
    ASSERT_EQ(btr.call(opDelete, 0, 0), 0);
    ASSERT_EQ(btr.get(opGetPrevious, 0), 0);
    EXPECT_EQ(btr.record(), rec(1, "N"));
    EXPECT_EQ(btr.get(opGetEqual, 0, le32(2)), 4);
    EXPECT_EQ(btr.recordCount(), 2u);
}

TEST_P(Operations, CloseResetAndForeignPositionBlocks) {
    Btr second;
    ASSERT_EQ(second.open(path), 0);
    ASSERT_EQ(btr.close(), 0);
    EXPECT_EQ(btr.close(), 3);
    EXPECT_EQ(btr.get(opGetFirst, 0), 3);
    EXPECT_EQ(btr.insert(rec(1, "A")), 3);
    EXPECT_EQ(btr.stat(), 3);
    // Blocks that were never filled, or filled with garbage.
    Btr blank;
    EXPECT_EQ(blank.get(opGetFirst, 0), 3);
    std::memset(blank.position, ' ', sizeof blank.position);
    EXPECT_EQ(blank.call(opDelete, 0, 0), 3);
    Btr forged;
    std::memcpy(forged.position, second.position, sizeof forged.position);
    forged.position[4] ^= 1;  // another entry
    EXPECT_EQ(forged.stat(), 3);
    std::memcpy(forged.position, second.position, sizeof forged.position);
    forged.position[8] ^= 1;  // another generation
    EXPECT_EQ(forged.stat(), 3);
    // A copy of a valid block works like the block.
    std::memcpy(forged.position, second.position, sizeof forged.position);
    EXPECT_EQ(forged.stat(), 0);
    // Reset closes everything, whatever its buffers hold.
    Btr reset;
    std::memset(reset.position, ' ', sizeof reset.position);
    EXPECT_EQ(BTRCALL(opReset, reset.position, nullptr, nullptr, nullptr, 0, 0), 0);
    EXPECT_EQ(second.stat(), 3);
    // A stale block stays stale when its entry is reused.
    ASSERT_EQ(btr.open(path), 0);
    EXPECT_EQ(second.stat(), 3);
    EXPECT_EQ(btr.stat(), 0);
}

TEST_P(Operations, UnknownOperationsAndModes) {
    for (std::uint16_t op :
         {16, 17, 29, 30, 41, 42, 43, 50, 102, 115, 505, 1020, 2019, 65535}) {
        EXPECT_EQ(btr.call(op, 0, 0), 1) << op;
    }
    Btr other;
    EXPECT_EQ(other.open(path, 3), 6);
    EXPECT_EQ(other.open(path, -5), 6);
}

std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_P(Operations, CreateRefusalsLeaveNoFileBehind) {
    testing_support::TempDir empty;
    struct Case {
        std::string path;
        std::string description;
        std::int16_t status;
    };
    const std::vector<Case> cases = {
        {empty.dir() + "a.dat", makeDescription(20, {{{1, 4}}}, 700), 24},
        {empty.dir() + "a.dat",
         [] {
             std::string d = makeDescription(20, {{{1, 4}}});
             d[4] = static_cast<char>(120);
             return d;
         }(),
         26},
        {empty.dir() + "a.dat", makeDescription(20, {{{19, 4}}}), 27},
        {empty.dir() + "a.dat", makeDescription(2000, {{{1, 4}}}), 28},
        {empty.dir() + "a.dat", makeDescription(20, {{{1, 3, 0x0100, 1}}}), 29},
        // Blank padding where the collating sequence should be.
        {empty.dir() + "a.dat", makeDescription(20, {{{1, 4, 0x0020}}}), 48},
        {empty.dir() + "a.dat", makeDescription(20, {{{1, 4, 0x0080}}}), 45},
        {empty.dir() + "a.dat", makeDescription(20, {{{1, 4, 0x0100, 99}}}), 49},
        {empty.dir() + "no\\such\\folder\\a.dat", kDescription, 25},
        {"", kDescription, 25},
    };
    for (const Case& c : cases) {
        // A missing folder matters only where files are files.
        if (!GetParam().onDisk && c.path.find("no\\such") != std::string::npos) continue;
        Btr b;
        EXPECT_EQ(b.create(c.path, c.description), c.status) << c.path;
        EXPECT_TRUE(filesIn(empty.path()).empty()) << c.status;
    }
    // A description shorter than its keys say.
    Btr b;
    std::memcpy(b.data, kDescription.data(), kDescription.size());
    b.setKey(empty.dir() + "a.dat");
    EXPECT_EQ(b.call(opCreate, static_cast<std::uint32_t>(kDescription.size() - 1), -1), 22);
    EXPECT_TRUE(filesIn(empty.path()).empty());
}

TEST_P(Operations, CreateOverwritesUnlessToldNot) {
    ASSERT_EQ(btr.insert(rec(1, "A")), 0);
    Btr other;
    EXPECT_EQ(other.create(path, kDescription, -1), 59);
    EXPECT_EQ(other.create(path, kDescription, 0), 85);  // open here
    ASSERT_EQ(btr.close(), 0);
    EXPECT_EQ(other.create(path, kDescription, -1), 59);
    const std::string wider = makeDescription(30, {{{1, 8}}});
    ASSERT_EQ(other.create(path, wider, 0), 0);
    ASSERT_EQ(other.open(path), 0);
    EXPECT_EQ(other.recordCount(), 0u);
    ASSERT_EQ(other.stat(), 0);
    EXPECT_EQ(coding::getU16(other.data), 30);
    ASSERT_EQ(other.close(), 0);
    if (GetParam().onDisk) {
        EXPECT_EQ(filesIn(tmp.path()), std::vector<std::string>{"people.dat"});
    }
}

// The log of another database left beside the name must not be read into
// the new file.
TEST_P(SqliteOperations, CreateRemovesALeftOverLog) {
    const std::string other = tmp.dir() + "other.dat";
    Btr b;
    ASSERT_EQ(b.create(other, kDescription), 0);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA wal_autocheckpoint = 0; "
                           "INSERT INTO records (data, k0, k1) VALUES (zeroblob(20), x'00000001', "
                           "x'0000000000000000')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    std::filesystem::copy_file(other + "-wal", tmp.dir() + "fresh.dat-wal");
    sqlite3_close(db);
    ASSERT_EQ(b.create(tmp.dir() + "fresh.dat", kDescription), 0);
    EXPECT_FALSE(std::filesystem::exists(tmp.dir() + "fresh.dat-wal"));
    ASSERT_EQ(b.open(tmp.dir() + "fresh.dat"), 0);
    EXPECT_EQ(b.recordCount(), 0u);
    EXPECT_EQ(b.get(opGetFirst, 0), 9);
}

TEST_P(Operations, ReadOnlyOpenRefusesWrites) {
    ASSERT_EQ(btr.insert(rec(1, "A")), 0);
    Btr reader;
    ASSERT_EQ(reader.open(path, -2), 0);
    EXPECT_EQ(reader.insert(rec(2, "B")), 46);
    ASSERT_EQ(reader.get(opGetFirst, 0), 0);
    EXPECT_EQ(reader.update(rec(1, "C")), 46);
    EXPECT_EQ(reader.call(opDelete, 0, 0), 46);
    EXPECT_EQ(reader.recordCount(), 1u);
    for (std::int8_t mode : {-1, -3}) {
        Btr other;
        ASSERT_EQ(other.open(path, mode), 0);
        EXPECT_EQ(other.insert(rec(10 - mode, "M")), 0);
    }
}

TEST_P(Operations, OtherOpensSeeChangesAtTheirNextCall) {
    Btr other;
    ASSERT_EQ(other.open(path), 0);
    EXPECT_EQ(other.recordCount(), 0u);
    ASSERT_EQ(btr.insert(rec(1, "A")), 0);
    EXPECT_EQ(other.recordCount(), 1u);
    ASSERT_EQ(other.get(opGetEqual, 0, le32(1)), 0);
    ASSERT_EQ(btr.insert(rec(2, "B")), 0);
    ASSERT_EQ(other.get(opGetNext, 0), 0);
    EXPECT_EQ(other.record(), rec(2, "B"));
    EXPECT_EQ(other.recordCount(), 2u);
    ASSERT_EQ(other.call(opDelete, 0, 0), 0);
    EXPECT_EQ(btr.recordCount(), 1u);
    // The current record went away under the first open.
    EXPECT_EQ(btr.update(rec(2, "C")), 8);
}

TEST_P(Operations, StatAnswersTheCreationDescription) {
    const std::string d = makeDescription(64,
                                          {{{1, 4, 0x0100 | 0x0002, 1}},
                                           {{5, 10, 0x0001 | 0x0400},
                                            {15, 2, 0x0001 | 0x0004 | 0x0040},
                                            {17, 8, 0x0001 | 0x0100, 14}},
                                           {{30, 3, 0x0001 | 0x0002 | 0x0040}}},
                                          3072, 0x0040);
    Btr f;
    ASSERT_EQ(f.create(tmp.dir() + "s.dat", d), 0);
    ASSERT_EQ(f.open(tmp.dir() + "s.dat"), 0);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(f.insert(le32(i) + std::string(60, 'a' + i)), 0);
    ASSERT_EQ(f.stat(), 0);
    ASSERT_EQ(f.length, d.size());
    std::string expected = d;
    expected[6] = 5;  // the record count
    // Per segment: the key's distinct values (key 1 and 2: one value each
    // time, 'a'+i makes them differ) and its key number.
    const int keyOfSegment[] = {0, 1, 1, 1, 2};
    for (int seg = 0; seg < 5; ++seg) {
        const std::size_t at = 16 + 16 * static_cast<std::size_t>(seg);
        expected[at + 6] = 5;
        expected[at + 14] = static_cast<char>(keyOfSegment[seg]);
    }
    EXPECT_EQ(f.record(), expected);
    // Too short a buffer: the first part and 22.
    EXPECT_EQ(f.call(opStat, 20, 0), 22);
    EXPECT_EQ(f.length, 20u);
    EXPECT_EQ(f.record(), expected.substr(0, 20));
}

TEST_P(Operations, TheDataLayersCallsWork) {
    // Create: description blank-padded to 1536 bytes, key number -1, the key
    // length the path's length.
    const std::string name = tmp.dir() + "DADES\\CobramH.dat";
    std::filesystem::create_directories(tmp.path() / "DADES");
    const std::string d = makeDescription(22, {{{1, 4}, {5, 2, 0x0004}}, {{7, 8, 0x0001}}}, 512);
    Btr layer;
    std::memset(layer.data, ' ', 1536);
    std::memcpy(layer.data, d.data(), d.size());
    std::memset(layer.key, ' ', 256);
    std::memcpy(layer.key, name.c_str(), name.size() + 1);
    ASSERT_EQ(layer.call(opCreate, 1536, -1, static_cast<std::uint8_t>(name.size())), 0);
    if (GetParam().onDisk) {
        EXPECT_TRUE(std::filesystem::exists(tmp.path() / "DADES" / "CobramH.dat"));
    }
    // Open: owner name and blanks, data length 5; a name in another case.
    std::memset(layer.data, ' ', 1536);
    std::memcpy(layer.data, "OWNR", 5);
    const std::string other = tmp.dir() + "dades\\COBRAMH.DAT";
    std::memcpy(layer.key, other.c_str(), other.size() + 1);
    ASSERT_EQ(layer.call(opOpen, 5, 0, static_cast<std::uint8_t>(other.size())), 0);
    // Stat twice as describeKey makes it.
    std::memset(layer.data, ' ', 1536);
    std::memset(layer.key, ' ', 255);
    layer.key[255] = 0;
    ASSERT_EQ(layer.call(opStat, 1536, 0, 255), 0);
    EXPECT_EQ(coding::getU16(layer.data), 22);
    EXPECT_EQ(coding::getU16(layer.data + 2), 512);
    EXPECT_EQ(coding::getU16(layer.data + 4), 2);
    const auto keyLength =
        static_cast<std::uint8_t>(strnlen(reinterpret_cast<char*>(layer.key), 256));
    std::memset(layer.data, 0, 512);
    ASSERT_EQ(layer.call(opStat, 1536, 0, keyLength), 0);
    EXPECT_EQ(coding::getU16(layer.data + 16 + 2) + coding::getU16(layer.data + 32 + 2), 6);
    EXPECT_EQ(layer.data[16 + 4] & 0x10, 0x10);
    EXPECT_EQ(layer.data[32 + 4] & 0x10, 0);
    // Insert from a blank-padded buffer, key buffer padded with blanks.
    std::string record = "ABCD" + std::string("\x01\x00", 2) + "LIST0001" + "12345678";
    std::memset(layer.data, ' ', 1536);
    std::memcpy(layer.data, record.data(), 22);
    std::memset(layer.key, ' ', 256);
    ASSERT_EQ(layer.call(opInsert, 22, 0, 6), 0);
    EXPECT_EQ(layer.keyBytes(6), record.substr(0, 6));
    // Get Greater or Equal with a short value padded with zero bytes.
    std::memset(layer.key, 0, 256);
    std::memcpy(layer.key, "AB", 2);
    std::memset(layer.data, ' ', 1536);
    ASSERT_EQ(layer.call(opGetGreaterOrEqual, 22, 0, 6), 0);
    EXPECT_EQ(layer.record(), record);
    // Get Less or Equal with 0xFF filler.
    std::memset(layer.key, 0xFF, 256);
    std::memcpy(layer.key, "ABCD", 4);
    ASSERT_EQ(layer.call(opGetLessOrEqual, 22, 0, 6), 0);
    EXPECT_EQ(layer.record(), record);
    // An intermediate step: key length 0, 1536-byte buffer.
    std::memset(layer.key, 0, 256);
    EXPECT_EQ(layer.call(opGetPrevious, 1536, 0, 0), 9);
    // Reset with 128 blanks as position block and a 4-byte zero buffer.
    unsigned char scratch[128];
    std::memset(scratch, ' ', sizeof scratch);
    std::uint32_t zero = 0;
    std::uint32_t len = 0;
    ASSERT_EQ(BTRCALL(opReset, scratch, &zero, &len, &zero, 0, 0), 0);
    EXPECT_EQ(layer.stat(), 3);
}

TEST_P(SqliteOperations, FilesRestAsOneFileTheSqliteShellCanRead) {
    ASSERT_EQ(btr.insert(rec(1, "A")), 0);
    ASSERT_EQ(btr.insert(rec(2, "B")), 0);
    ASSERT_EQ(btr.close(), 0);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
        names.push_back(e.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"people.dat"});
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT data FROM records ORDER BY id", -1, &s, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(std::string(static_cast<const char*>(sqlite3_column_blob(s, 0)), 20), rec(1, "A"));
    sqlite3_finalize(s);
    sqlite3_close(db);
}

// Rows written with the sqlite3 shell keep the record count right.
TEST_P(SqliteOperations, RecordCountFollowsRowsWrittenByOtherMeans) {
    for (int i = 1; i <= 6; ++i) ASSERT_EQ(btr.insert(rec(i, "N")), 0);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* edits[] = {
        "DELETE FROM records WHERE id IN (2, 6)",
        "INSERT INTO records (id, data, k0, k1) VALUES (2, zeroblob(20), x'00000000', x'00')",
        "INSERT INTO records (id, data, k0, k1) VALUES (40, zeroblob(20), x'00000001', x'00')",
        "INSERT INTO records (data, k0, k1) VALUES (zeroblob(20), x'00000002', x'00')",
        "UPDATE records SET id = 100 WHERE id = 3",
        "UPDATE records SET id = 3 WHERE id = 4",
        "DELETE FROM records WHERE id = 100",
    };
    int serial = 1000;
    for (const char* edit : edits) {
        ASSERT_EQ(sqlite3_exec(db, edit, nullptr, nullptr, nullptr), SQLITE_OK) << edit;
        sqlite3_stmt* s = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM records", -1, &s, nullptr),
                  SQLITE_OK);
        ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
        const auto actual = static_cast<std::uint32_t>(sqlite3_column_int64(s, 0));
        sqlite3_finalize(s);
        EXPECT_EQ(btr.recordCount(), actual) << edit;
        ASSERT_EQ(btr.insert(rec(serial++, "E")), 0) << edit;
        EXPECT_EQ(btr.recordCount(), actual + 1) << edit;
    }
    sqlite3_close(db);
}

// A walk along a key answers every call as a fresh read would: a change
// another open makes between two Get Next (Get Previous) calls, or this
// open's own Insert that leaves the position (key number -1), is seen at
// the next call. Documented: Get Next / Get Previous (6, 7) return the
// record after (before) the current one in the key's order, status 9 at
// the end; duplicates in insertion order.
TEST_P(Operations, AWalkAlongAKeySeesChangesMadeBetweenItsCalls) {
    struct Case {
        const char* what;
        std::int8_t key;
        bool forward;
        bool own;  // the change through the walking open itself
        std::function<std::int16_t(Btr&)> change;
        std::vector<std::string> rest;  // the records the walk gives after the change
    };
    const auto insertOf = [](std::int32_t n, const char* name) {
        return [=](Btr& b) { return b.insert(rec(n, name), -1); };
    };
    const auto deleteOf = [](std::int32_t n) {
        return [=](Btr& b) {
            const std::int16_t st = b.get(opGetEqual, 0, le32(n));
            return st != 0 ? st : b.remove();
        };
    };
    const auto updateOf = [](std::int32_t n, const char* name, const char* payload) {
        return [=](Btr& b) {
            const std::int16_t st = b.get(opGetEqual, 0, le32(n));
            return st != 0 ? st : b.update(rec(n, name, payload));
        };
    };
    const auto nothing = [](Btr&) -> std::int16_t { return 0; };
    const std::string b30 = rec(30, "B"), c40 = rec(40, "C"), c50 = rec(50, "C");
    const std::string b20 = rec(20, "B"), b10 = rec(10, "B");
    // The walk has read three records (30 is the current one) when the
    // change comes.
    const std::vector<Case> cases = {
        {"nothing", 0, true, false, nothing, {c40, c50}},
        {"insert", 0, true, false, insertOf(35, "B"), {rec(35, "B"), c40, c50}},
        {"own insert", 0, true, true, insertOf(35, "B"), {rec(35, "B"), c40, c50}},
        {"delete", 0, true, false, deleteOf(40), {c50}},
        {"update", 0, true, false, updateOf(40, "C", "new"), {rec(40, "C", "new"), c50}},
        {"backward insert", 0, false, false, insertOf(25, "B"), {rec(25, "B"), b20, b10}},
        {"backward delete", 0, false, false, deleteOf(20), {b10}},
        {"duplicates, nothing", 1, true, false, nothing, {c40, c50}},
        {"duplicates, insert", 1, true, false, insertOf(60, "B"), {rec(60, "B"), c40, c50}},
        {"duplicates, key moved", 1, true, false, updateOf(40, "D", ""), {c50, rec(40, "D")}},
        {"duplicates, delete", 1, true, false, deleteOf(40), {c50}},
        {"duplicates, backward insert",
         1,
         false,
         false,
         insertOf(60, "A"),
         {b20, b10, rec(60, "A")}},
        {"duplicates, backward key moved",
         1,
         false,
         false,
         updateOf(20, "A", ""),
         {b10, rec(20, "A")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = tmp.dir() + "walk.dat";
        Btr walker;
        ASSERT_EQ(walker.create(file, kDescription, 0), 0);
        ASSERT_EQ(walker.open(file), 0);
        for (const auto& [n, name] :
             {std::pair{10, "B"}, {20, "B"}, {30, "B"}, {40, "C"}, {50, "C"}}) {
            ASSERT_EQ(walker.insert(rec(n, name)), 0);
        }
        const std::uint16_t end = c.forward ? opGetFirst : opGetLast;
        const std::uint16_t step = c.forward ? opGetNext : opGetPrevious;
        ASSERT_EQ(walker.get(end, c.key), 0);
        ASSERT_EQ(walker.call(step, 1536, c.key), 0);
        ASSERT_EQ(walker.call(step, 1536, c.key), 0);
        EXPECT_EQ(walker.record(), b30);
        Btr other;
        ASSERT_EQ(other.open(file), 0);
        ASSERT_EQ(c.change(c.own ? walker : other), 0);
        std::vector<std::string> rest;
        std::int16_t st = 0;
        while ((st = walker.call(step, 1536, c.key)) == 0 && rest.size() < 10) {
            rest.push_back(walker.record());
        }
        EXPECT_EQ(st, 9);
        EXPECT_EQ(rest, c.rest);
        ASSERT_EQ(other.close(), 0);
        ASSERT_EQ(walker.close(), 0);
    }
}

// The record count after this open's own writes, and after other opens'
// writes between them (Stat, operation 15: the number of records).
TEST_P(Operations, TheRecordCountFollowsOwnAndOtherWrites) {
    Btr other;
    ASSERT_EQ(other.open(path), 0);
    EXPECT_EQ(btr.recordCount(), 0u);
    ASSERT_EQ(other.insert(rec(1, "A")), 0);
    ASSERT_EQ(btr.insert(rec(2, "B")), 0);  // the other's insert came first
    EXPECT_EQ(btr.recordCount(), 2u);
    ASSERT_EQ(btr.insert(rec(3, "C")), 0);
    ASSERT_EQ(btr.insert(rec(3, "D")), 5);  // refused: nothing stored
    EXPECT_EQ(btr.recordCount(), 3u);
    ASSERT_EQ(btr.get(opGetEqual, 0, le32(3)), 0);
    ASSERT_EQ(btr.update(rec(3, "E")), 0);
    EXPECT_EQ(btr.recordCount(), 3u);
    ASSERT_EQ(other.get(opGetEqual, 0, le32(1)), 0);
    ASSERT_EQ(other.remove(), 0);
    ASSERT_EQ(btr.remove(), 0);
    EXPECT_EQ(btr.recordCount(), 1u);
    EXPECT_EQ(other.recordCount(), 1u);
    // Inside a transaction over calls, and after its end and its abort.
    ASSERT_EQ(btr.call(op::beginTransaction, 0, 0), 0);
    ASSERT_EQ(btr.insert(rec(4, "F")), 0);
    EXPECT_EQ(btr.recordCount(), 2u);
    ASSERT_EQ(btr.call(op::endTransaction, 0, 0), 0);
    EXPECT_EQ(btr.recordCount(), 2u);
    EXPECT_EQ(other.recordCount(), 2u);
    ASSERT_EQ(btr.call(op::beginTransaction, 0, 0), 0);
    ASSERT_EQ(btr.insert(rec(5, "G")), 0);
    ASSERT_EQ(btr.call(op::abortTransaction, 0, 0), 0);
    EXPECT_EQ(btr.recordCount(), 2u);
    ASSERT_EQ(btr.insert(rec(6, "H")), 0);
    EXPECT_EQ(btr.recordCount(), 3u);
    EXPECT_EQ(other.recordCount(), 3u);
}

// A new file's SQLite pages: the description's page size, as a power of two
// of at least 1024, larger where a row or the longest key's index entry
// would not fit in one page.
TEST_P(SqliteOperations, NewFilesTakeThePageSizeOfTheirDescription) {
    struct Case {
        std::uint16_t recordLength, pageSize, keyLength;
        int expected;
    };
    const Case cases[] = {
        {22, 1024, 9, 1024},  {22, 512, 9, 1024},    {22, 4096, 9, 4096},    {22, 3072, 9, 4096},
        {428, 4096, 4, 4096}, {1500, 1024, 4, 2048}, {300, 1024, 200, 1024}, {300, 1024, 255, 2048},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.recordLength) + " bytes, page " + std::to_string(c.pageSize) +
                     ", key " + std::to_string(c.keyLength));
        const std::string file = tmp.dir() + "paged.dat";
        Btr b;
        ASSERT_EQ(
            b.create(file, makeDescription(c.recordLength, {{{1, c.keyLength}}}, c.pageSize), 0),
            0);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        sqlite3_stmt* s = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA page_size", -1, &s, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(s, 0), c.expected);
        sqlite3_finalize(s);
        sqlite3_close(db);
        // The answer of Stat keeps the description's own page size.
        ASSERT_EQ(b.open(file), 0);
        ASSERT_EQ(b.stat(), 0);
        EXPECT_EQ(coding::getU16(b.data + engine::filespec::pageSize), c.pageSize);
        ASSERT_EQ(b.close(), 0);
    }
}

}  // namespace
