// Order along keys: values as the key's type says, duplicates in insertion
// order, in both directions.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "engine_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace engine_test;

class Order : public BackendTest {
protected:
    void make(const std::string& description) {
        const std::string path = tmp.dir() + "order" + std::to_string(files++) + ".dat";
        ASSERT_EQ(btr.create(path, description), 0);
        ASSERT_EQ(btr.open(path), 0);
    }

    // The records along `key` from first to last, and from last to first.
    std::vector<std::string> walk(std::int8_t key, bool forward, std::size_t length) {
        std::vector<std::string> out;
        std::int16_t st = btr.get(forward ? opGetFirst : opGetLast, key);
        while (st == 0) {
            out.push_back(btr.record().substr(0, length));
            st = btr.get(forward ? opGetNext : opGetPrevious, key);
        }
        EXPECT_EQ(st, 9);
        return out;
    }

    testing_support::TempDir tmp;
    int files = 0;
    Btr btr;
};

NUBO_ON_EVERY_BACKEND(Order);

// Records: 2-byte name (key 0, duplicates), 2-byte sequence tag.
TEST_P(Order, DuplicatesComeInInsertionOrderBothWays) {
    make(makeDescription(4, {{{1, 2, 0x0001}}}));
    const std::vector<std::string> inserted = {"BB01", "AA02", "CC03", "BB04", "AA05",
                                               "BB06", "DD07", "AA08", "CC09"};
    for (const auto& r : inserted) ASSERT_EQ(btr.insert(r), 0);
    const std::vector<std::string> forward = {"AA02", "AA05", "AA08", "BB01", "BB04",
                                              "BB06", "CC03", "CC09", "DD07"};
    EXPECT_EQ(walk(0, true, 4), forward);
    std::vector<std::string> backward(forward.rbegin(), forward.rend());
    EXPECT_EQ(walk(0, false, 4), backward);

    // Get Equal finds the first duplicate; Next walks the others, then on.
    ASSERT_EQ(btr.get(opGetEqual, 0, "BB"), 0);
    EXPECT_EQ(btr.record(), "BB01");
    std::vector<std::string> seen;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(btr.get(opGetNext, 0), 0);
        seen.push_back(btr.record());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"BB04", "BB06", "CC03", "CC09"}));
    // Previous from the middle of duplicates.
    ASSERT_EQ(btr.get(opGetEqual, 0, "BB"), 0);
    ASSERT_EQ(btr.get(opGetNext, 0), 0);  // BB04
    ASSERT_EQ(btr.get(opGetPrevious, 0), 0);
    EXPECT_EQ(btr.record(), "BB01");
    ASSERT_EQ(btr.get(opGetPrevious, 0), 0);
    EXPECT_EQ(btr.record(), "AA08");
    // Less or Equal finds the last duplicate; Previous walks back through them.
    ASSERT_EQ(btr.get(opGetLessOrEqual, 0, "BB"), 0);
    EXPECT_EQ(btr.record(), "BB06");
    ASSERT_EQ(btr.get(opGetPrevious, 0), 0);
    EXPECT_EQ(btr.record(), "BB04");
    // A duplicate inserted later goes after the others, and a deleted one
    // leaves the rest in order.
    ASSERT_EQ(btr.insert("BB10"), 0);
    ASSERT_EQ(btr.get(opGetEqual, 0, "BB"), 0);
    ASSERT_EQ(btr.get(opGetNext, 0), 0);
    ASSERT_EQ(btr.call(opDelete, 0, 0), 0);  // BB04
    ASSERT_EQ(btr.get(opGetNext, 0), 0);
    EXPECT_EQ(btr.record(), "BB06");
    ASSERT_EQ(btr.get(opGetNext, 0), 0);
    EXPECT_EQ(btr.record(), "BB10");
    ASSERT_EQ(btr.get(opGetLast, 0), 0);
    ASSERT_EQ(btr.get(opGetLess, 0, "CC"), 0);
    EXPECT_EQ(btr.record(), "BB10");
}

TEST_P(Order, ReadsByValueFindTheRightRecord) {
    make(makeDescription(4, {{{1, 2, 0x0001}}}));
    for (const auto& r : {"BB01", "DD02", "BB03", "FF04", "DD05"}) ASSERT_EQ(btr.insert(r), 0);
    struct Probe {
        std::uint16_t op;
        const char* value;
        std::int16_t status;
        const char* record;
    };
    const Probe probes[] = {
        {opGetEqual, "DD", 0, "DD02"},
        {opGetEqual, "CC", 4, ""},
        {opGetGreater, "BB", 0, "DD02"},
        {opGetGreater, "AA", 0, "BB01"},
        {opGetGreater, "FF", 9, ""},
        {opGetGreaterOrEqual, "DD", 0, "DD02"},
        {opGetGreaterOrEqual, "CZ", 0, "DD02"},
        {opGetGreaterOrEqual, "FG", 9, ""},
        {opGetLess, "DD", 0, "BB03"},
        {opGetLess, "ZZ", 0, "FF04"},
        {opGetLess, "BB", 9, ""},
        {opGetLessOrEqual, "DD", 0, "DD05"},
        {opGetLessOrEqual, "EE", 0, "DD05"},
        {opGetLessOrEqual, "BA", 9, ""},
    };
    for (const Probe& p : probes) {
        EXPECT_EQ(btr.get(p.op, 0, p.value), p.status) << p.op << " " << p.value;
        if (p.status == 0) {
            EXPECT_EQ(btr.record(), p.record) << p.op << " " << p.value;
            EXPECT_EQ(btr.keyBytes(2), std::string(p.record, 2));
        }
    }
}

// Each key type orders a shuffled set of values as its type says, along a
// unique key and along a duplicate-allowing key.
TEST_P(Order, KeyTypesOrderTheirValues) {
    struct Case {
        const char* what;
        Seg seg;
        std::vector<std::string> sorted;  // the values in key order
    };
    auto i16 = [](int v) { return le32(v).substr(0, 2); };
    auto u24 = [](std::uint32_t v) { return le32(static_cast<std::int32_t>(v)).substr(0, 3); };
    const std::vector<Case> cases = {
        {"string", {1, 3}, {"ABC", "ABD", "B  ", "Zz ", "abc", "\x80\x01\x01"}},
        {"case-insensitive string", {1, 3, 0x0400}, {"abc", "ABD", "b  ", "ZZ "}},
        {"descending string", {1, 3, 0x0040}, {"zzz", "abc", "ABD", "AB "}},
        {"integer",
         {1, 2, 0x0100, 1},
         {i16(-32768), i16(-300), i16(-1), i16(0), i16(1), i16(256), i16(32767)}},
        {"descending integer",
         {1, 2, 0x0100 | 0x0040, 1},
         {i16(500), i16(2), i16(0), i16(-1), i16(-500)}},
        {"binary flag",
         {1, 3, 0x0004},
         {u24(0), u24(1), u24(255), u24(256), u24(65536), u24(0xFFFFFF)}},
        {"unsigned binary type",
         {1, 3, 0x0100, 14},
         {u24(0), u24(2), u24(0x0100), u24(0x10000), u24(0xFFFF00)}},
    };
    std::mt19937 random(3);
    for (const Case& c : cases) {
        for (std::uint16_t dup : {0, 1}) {
            Seg seg = c.seg;
            seg.flags = static_cast<std::uint16_t>(seg.flags | dup);
            make(makeDescription(4, {{seg}}));
            std::vector<std::string> records;
            for (std::size_t i = 0; i < c.sorted.size(); ++i) {
                records.push_back(c.sorted[i] + std::string(4 - c.sorted[i].size(), char('a' + i)));
            }
            std::vector<std::string> shuffled = records;
            std::shuffle(shuffled.begin(), shuffled.end(), random);
            for (const auto& r : shuffled) ASSERT_EQ(btr.insert(r), 0) << c.what;
            EXPECT_EQ(walk(0, true, 4), records) << c.what;
            std::vector<std::string> reversed(records.rbegin(), records.rend());
            EXPECT_EQ(walk(0, false, 4), reversed) << c.what;
            // Each value is found by Get Equal, as given.
            for (const auto& r : records) {
                ASSERT_EQ(btr.get(opGetEqual, 0, r.substr(0, c.sorted[0].size())), 0) << c.what;
                EXPECT_EQ(btr.record(), r) << c.what;
            }
        }
    }
}

TEST_P(Order, CaseInsensitiveKeysMatchAndCollideWithoutRegardToCase) {
    make(makeDescription(6, {{{1, 4, 0x0400}}}));
    ASSERT_EQ(btr.insert("Anna01"), 0);
    EXPECT_EQ(btr.insert("ANNA02"), 5);
    ASSERT_EQ(btr.get(opGetEqual, 0, "aNNa"), 0);
    EXPECT_EQ(btr.record(), "Anna01");
    EXPECT_EQ(btr.keyBytes(4), "Anna");  // the stored value, not the one searched
}

TEST_P(Order, SegmentedKeysAndSeveralKeysKeepTheirOwnOrders) {
    // Key 0: 1-byte string + descending 2-byte integer; key 1: the tag, with
    // duplicates.
    make(makeDescription(5, {{{1, 1}, {2, 2, 0x0100 | 0x0040, 1}}, {{4, 2, 0x0001}}}));
    auto r = [](char c, int n, const char* tag) {
        return std::string(1, c) + le32(n).substr(0, 2) + tag;
    };
    const std::vector<std::string> records = {r('A', 5, "t2"), r('A', -7, "t1"), r('B', 3, "t2"),
                                              r('A', 9, "t1"), r('B', 40, "t0")};
    for (const auto& x : records) ASSERT_EQ(btr.insert(x), 0);
    EXPECT_EQ(walk(0, true, 5), (std::vector<std::string>{records[3], records[0], records[1],
                                                          records[4], records[2]}));
    EXPECT_EQ(walk(1, true, 5), (std::vector<std::string>{records[4], records[1], records[3],
                                                          records[0], records[2]}));
    // A Get on key 1 makes it the current key for the steps that follow.
    ASSERT_EQ(btr.get(opGetEqual, 1, "t1"), 0);
    ASSERT_EQ(btr.get(opGetNext, 1), 0);
    EXPECT_EQ(btr.record(), records[3]);
}

// A larger random workload checked against a model of the key order.
TEST_P(Order, RandomInsertsAndDeletesMatchAModel) {
    make(makeDescription(8, {{{1, 2, 0x0004 | 0x0001}}, {{3, 4, 0x0100, 1}}}));
    std::mt19937 random(99);
    std::map<std::pair<std::uint16_t, int>, std::string> model;  // (value, insertion) -> record
    std::map<std::int32_t, std::pair<std::uint16_t, int>> byUnique;
    int serial = 0;
    for (int step = 0; step < 600; ++step) {
        if (!byUnique.empty() && random() % 4 == 0) {
            auto it = byUnique.begin();
            std::advance(it, static_cast<long>(random() % byUnique.size()));
            ASSERT_EQ(btr.get(opGetEqual, 1, le32(it->first)), 0);
            ASSERT_EQ(btr.call(opDelete, 0, 0), 0);
            model.erase(it->second);
            byUnique.erase(it);
            continue;
        }
        const auto value = static_cast<std::uint16_t>(random() % 40);
        const auto unique = static_cast<std::int32_t>(random() % 100000) - 50000;
        std::string record = le32(value).substr(0, 2) + le32(unique) + "xy";
        const std::int16_t st = btr.insert(record);
        if (byUnique.count(unique)) {
            ASSERT_EQ(st, 5);
            continue;
        }
        ASSERT_EQ(st, 0);
        model[{value, serial}] = record;
        byUnique[unique] = {value, serial};
        ++serial;
    }
    std::vector<std::string> expected;
    for (const auto& [k, v] : model) expected.push_back(v);
    EXPECT_EQ(walk(0, true, 8), expected);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(walk(0, false, 8), expected);
    EXPECT_EQ(btr.recordCount(), model.size());
}

}  // namespace
