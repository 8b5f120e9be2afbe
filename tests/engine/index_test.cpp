// Conformance of Create Supplemental Index (31) and Drop Supplemental Index
// (32) to the Btrieve API Guide, on every storage backend: the key
// specifications of Create Index's data buffer, the key number and its +128
// form, and the statuses of the status-code reference.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace engine_test;

constexpr std::uint16_t opCreateIndex = 31, opDropIndex = 32, opBegin = 19, opAbort = 21;
constexpr std::int8_t exclusive = -4;
constexpr std::int8_t plus128 = -128;  // key number 128 in the entry's signed byte

// Records of 16 bytes: a unique 4-byte integer key 0 at 1, a 4-byte string
// key 1 with duplicates at 5, a 4-byte string field at 9 that the tests
// index, and 4 bytes of payload.
const std::string kDescription =
    makeDescription(16, {{{1, 4, 0x0100, 1}}, {{5, 4, 0x0001 | 0x0002}}});

std::string rec(std::int32_t number, const std::string& group, const std::string& code) {
    std::string r = le32(number) + group;
    r.resize(8, ' ');
    r += code;
    r.resize(16, '.');
    return r;
}

// The segment specifications of a key: a description's, without its file
// specification.
std::string keySpec(const std::vector<Seg>& segments) {
    return makeDescription(16, {segments}).substr(engine::filespec::size);
}

class Index : public BackendTest {
protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped()) return;
        path = tmp.dir() + "index.dat";
        Btr maker;
        ASSERT_EQ(maker.create(path, kDescription), 0);
    }

    // Opens `b` (exclusively unless told) and inserts the records
    // (number, group, code) given.
    void fill(Btr& b, const std::vector<std::string>& records, std::int8_t mode = exclusive) {
        ASSERT_EQ(b.open(path, mode), 0);
        for (const std::string& r : records) ASSERT_EQ(b.insert(r), 0);
    }

    static std::int16_t createIndex(Btr& b, const std::string& spec, std::int8_t keyNumber = 0) {
        std::memcpy(b.data, spec.data(), spec.size());
        return b.call(opCreateIndex, static_cast<std::uint32_t>(spec.size()), keyNumber);
    }

    // The first 4 bytes (the number) of each record along `key`.
    static std::vector<std::int32_t> along(Btr& b, std::int8_t key) {
        std::vector<std::int32_t> numbers;
        for (std::int16_t st = b.get(opGetFirst, key); st == 0;
             st = b.call(opGetNext, sizeof b.data, key)) {
            numbers.push_back(coding::getI32(b.data));
        }
        return numbers;
    }

    static int keyCount(Btr& b) { return b.stat() == 0 ? b.data[engine::filespec::keyCount] : -1; }

    testing_support::TempDir tmp;
    std::string path;
};

const std::vector<std::string> kRecords = {rec(1, "B", "DDDD"), rec(2, "A", "BBBB"),
                                           rec(3, "B", "CCCC"), rec(4, "A", "AAAA")};

// Create Supplemental Index (31): status 0; the key takes the next key
// number, every existing record is in its index, later writes keep it, and
// Stat and every later open see it.
TEST_P(Index, CreateIndexAddsTheNextKeyWithEveryRecordsValue) {
    Btr a;
    fill(a, kRecords);
    ASSERT_EQ(createIndex(a, keySpec({{9, 4, 0x0002}})), 0);
    EXPECT_EQ(keyCount(a), 3);
    EXPECT_EQ(a.length, 16u + 3 * 16u);
    EXPECT_EQ(a.data[16 + 2 * 16 + 14], 2);          // the new key's number
    EXPECT_EQ(coding::getU32(a.data + 48 + 6), 4u);  // its distinct values
    EXPECT_EQ(along(a, 2), (std::vector<std::int32_t>{4, 2, 3, 1}));
    ASSERT_EQ(a.get(opGetEqual, 2, "CCCC"), 0);
    EXPECT_EQ(coding::getI32(a.data), 3);
    // The new key is kept by Insert, Update and Delete.
    ASSERT_EQ(a.insert(rec(5, "C", "ABAB")), 0);
    ASSERT_EQ(a.get(opGetEqual, 2, "DDDD"), 0);
    ASSERT_EQ(a.update(rec(1, "B", "ZZZZ")), 0);
    ASSERT_EQ(a.get(opGetEqual, 2, "BBBB"), 0);
    ASSERT_EQ(a.remove(), 0);
    EXPECT_EQ(along(a, 2), (std::vector<std::int32_t>{4, 5, 3, 1}));
    EXPECT_EQ(along(a, 0), (std::vector<std::int32_t>{1, 3, 4, 5}));
    // Another open after the exclusive one ends reads the new description.
    ASSERT_EQ(a.close(), 0);
    Btr b;
    ASSERT_EQ(b.open(path), 0);
    EXPECT_EQ(keyCount(b), 3);
    EXPECT_EQ(along(b, 2), (std::vector<std::int32_t>{4, 5, 3, 1}));
}

// Create Supplemental Index (31) of a key without duplicates over records
// that hold one value twice: status 5 (duplicate key value); the file keeps
// its keys.
TEST_P(Index, UniqueIndexOverDuplicateValuesGives5AndChangesNothing) {
    Btr a;
    fill(a, {rec(1, "A", "SAME"), rec(2, "B", "SAME"), rec(3, "C", "LAST")});
    EXPECT_EQ(createIndex(a, keySpec({{9, 4, 0}})), 5);
    EXPECT_EQ(keyCount(a), 2);
    EXPECT_EQ(a.get(opGetFirst, 2), 6);
    EXPECT_EQ(along(a, 0), (std::vector<std::int32_t>{1, 2, 3}));
    ASSERT_EQ(a.insert(rec(4, "D", "MORE")), 0);
    // Unique values: the key is made, and refuses a duplicate afterwards
    // (Insert, status 5).
    ASSERT_EQ(createIndex(a, keySpec({{1, 4, 0x0100, 1}, {9, 4, 0}})), 0);
    EXPECT_EQ(a.insert(rec(4, "E", "MORE")), 5);
    EXPECT_EQ(a.insert(rec(5, "E", "MORE")), 0);
    ASSERT_EQ(a.close(), 0);
    ASSERT_EQ(a.open(path), 0);
    EXPECT_EQ(keyCount(a), 3);
    EXPECT_EQ(a.data[16 + 2 * 16 + 14], 2);  // both segments of key 2
    EXPECT_EQ(a.data[16 + 3 * 16 + 14], 2);
}

// Create Supplemental Index (31) of a null key (flag 8, the null byte in
// byte 11), given with the supplemental flag (0x80) that marks such keys:
// status 0; records whose key holds only the null byte are left out of its
// index and still in the file.
TEST_P(Index, CreateIndexOfANullKeyLeavesNullRecordsOut) {
    Btr a;
    fill(a, {rec(1, "A", "    "), rec(2, "B", "BBBB"), rec(3, "C", "    "), rec(4, "D", "AAAA")});
    std::string spec = keySpec({{9, 4, 0x0001 | 0x0008 | 0x0080}});
    spec[11] = ' ';
    ASSERT_EQ(createIndex(a, spec), 0);
    EXPECT_EQ(along(a, 2), (std::vector<std::int32_t>{4, 2}));
    EXPECT_EQ(a.recordCount(), 4u);
    ASSERT_EQ(a.insert(rec(5, "E", "    ")), 0);
    ASSERT_EQ(a.insert(rec(6, "F", "CCCC")), 0);
    ASSERT_EQ(a.close(), 0);
    ASSERT_EQ(a.open(path), 0);
    EXPECT_EQ(along(a, 2), (std::vector<std::int32_t>{4, 2, 6}));
    EXPECT_EQ(along(a, 0).size(), 6u);
}

// Create Supplemental Index (31) refusals, each leaving the file as it was.
// Sources: status 85 (the file is locked: other opens hold the old keys),
// 41 (operation not allowed in a transaction), 22 (data buffer too short
// for the key specification), 27 (invalid key position), 29 (invalid key
// length), 6 (the +128 form asking for a number that is not free).
TEST_P(Index, CreateIndexRefusals) {
    Btr shared;
    fill(shared, kRecords, 0);
    EXPECT_EQ(createIndex(shared, keySpec({{9, 4, 0x0001}})), 85);
    EXPECT_EQ(keyCount(shared), 2);
    ASSERT_EQ(shared.close(), 0);

    Btr a;
    ASSERT_EQ(a.open(path, exclusive), 0);
    ASSERT_EQ(a.call(opBegin, 0, 0), 0);
    EXPECT_EQ(createIndex(a, keySpec({{9, 4, 0x0001}})), 41);
    ASSERT_EQ(a.call(opAbort, 0, 0), 0);

    std::string asked = keySpec({{9, 4, 0x0001}});
    asked[14] = 5;
    const struct {
        const char* what;
        std::string spec;
        std::uint32_t length;
        std::int8_t keyNumber;
        std::int16_t status;
    } cases[] = {
        {"segment cut short", keySpec({{9, 4, 0x0001}}), 10, 0, 22},
        {"segmented key cut short", keySpec({{9, 2, 0x0001}, {11, 2, 0x0001}}), 16, 0, 22},
        {"outside the record", keySpec({{15, 4, 0x0001}}), 16, 0, 27},
        {"length 0", keySpec({{9, 0, 0x0001}}), 16, 0, 29},
        {"+128 form, number 5", asked, 16, plus128, 6},
    };
    for (const auto& c : cases) {
        std::memcpy(a.data, c.spec.data(), c.spec.size());
        EXPECT_EQ(a.call(opCreateIndex, c.length, c.keyNumber), c.status) << c.what;
        EXPECT_EQ(keyCount(a), 2) << c.what;
    }
    // The +128 form with the next number: status 0.
    asked[14] = 2;
    EXPECT_EQ(createIndex(a, asked, plus128), 0);
    EXPECT_EQ(along(a, 2), (std::vector<std::int32_t>{4, 2, 3, 1}));
}

// Drop Supplemental Index (32): status 0; the keys after the dropped one
// take the number one lower; with +128 added the numbers stay (here only
// for the last key); 6 (invalid key number) for a key the file lacks; 85 on
// a file other opens share.
TEST_P(Index, DropIndexRemovesTheKey) {
    Btr a;
    fill(a, kRecords);
    ASSERT_EQ(createIndex(a, keySpec({{9, 4, 0}})), 0);
    ASSERT_EQ(a.get(opGetFirst, 1), 0);  // a position along key 1
    EXPECT_EQ(a.call(opDropIndex, 0, 5), 6);
    EXPECT_EQ(a.call(opDropIndex, 0, plus128 + 0), 1);
    // Key 0 goes: the group key is now key 0, the code key key 1.
    ASSERT_EQ(a.call(opDropIndex, 0, 0), 0);
    EXPECT_EQ(keyCount(a), 2);
    ASSERT_EQ(a.call(opGetNext, sizeof a.data, 0), 0);  // along the same key, renumbered
    EXPECT_EQ(coding::getI32(a.data), 4);
    EXPECT_EQ(along(a, 0), (std::vector<std::int32_t>{2, 4, 1, 3}));
    EXPECT_EQ(along(a, 1), (std::vector<std::int32_t>{4, 2, 3, 1}));
    EXPECT_EQ(a.get(opGetFirst, 2), 6);
    // The renumbered unique key still refuses a value it holds.
    EXPECT_EQ(a.insert(rec(9, "Z", "AAAA")), 5);
    EXPECT_EQ(a.insert(rec(1, "Z", "EEEE")), 0);  // the number is no key now
    // +128: the last key, numbers kept.
    ASSERT_EQ(a.call(opDropIndex, 0, plus128 + 1), 0);
    EXPECT_EQ(keyCount(a), 1);
    EXPECT_EQ(along(a, 0), (std::vector<std::int32_t>{2, 4, 1, 3, 1}));
    ASSERT_EQ(a.close(), 0);

    Btr b, c;
    ASSERT_EQ(b.open(path), 0);
    EXPECT_EQ(keyCount(b), 1);
    ASSERT_EQ(c.open(path), 0);
    EXPECT_EQ(b.call(opDropIndex, 0, 0), 85);
    EXPECT_EQ(keyCount(c), 1);
}

// Drop Supplemental Index (32) of every key leaves a data-only file (Step
// reads it; a Get along a key is status 6); Create Supplemental Index (31)
// gives it key 0 again.
TEST_P(Index, DropIndexOfTheLastKeyMakesADataOnlyFile) {
    Btr a;
    fill(a, kRecords);
    ASSERT_EQ(a.call(opDropIndex, 0, 1), 0);
    ASSERT_EQ(a.call(opDropIndex, 0, 0), 0);
    EXPECT_EQ(keyCount(a), 0);
    EXPECT_EQ(a.get(opGetFirst, 0), 6);
    ASSERT_EQ(a.call(engine::op::stepFirst, sizeof a.data, 0), 0);
    EXPECT_EQ(coding::getI32(a.data), 1);
    ASSERT_EQ(a.close(), 0);
    ASSERT_EQ(a.open(path, exclusive), 0);
    EXPECT_EQ(keyCount(a), 0);
    EXPECT_EQ(a.recordCount(), 4u);
    ASSERT_EQ(createIndex(a, keySpec({{9, 4, 0}})), 0);
    EXPECT_EQ(along(a, 0), (std::vector<std::int32_t>{4, 2, 3, 1}));
}

NUBO_ON_EVERY_BACKEND(Index);

}  // namespace
