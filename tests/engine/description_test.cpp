#include "engine/description.h"

#include <gtest/gtest.h>

#include "engine/api.h"
#include "engine_test_support.h"

namespace {

using engine_test::makeDescription;
using engine_test::Seg;

std::int16_t parse(const std::string& bytes, engine::FileDescription& d) {
    return engine::parseDescription(coding::bytes(bytes), bytes.size(), d);
}

TEST(Description, ReadsKeysSegmentsAndTypes) {
    const std::string bytes = makeDescription(100,
                                              {{{1, 4, 0x0100 | 0x0002, 1}},
                                               {{5, 10, 0x0001 | 0x0400},
                                                {15, 2, 0x0001 | 0x0004 | 0x0040},
                                                {17, 3, 0x0001 | 0x0100, 14}}},
                                              2048, 0x0040);
    engine::FileDescription d;
    ASSERT_EQ(parse(bytes + std::string(500, ' '), d), 0);
    EXPECT_EQ(d.recordLength, 100);
    EXPECT_EQ(d.pageSize, 2048);
    EXPECT_EQ(d.fileFlags, 0x0040);
    ASSERT_EQ(d.keys.size(), 2u);
    EXPECT_EQ(d.keys[0].length, 4);
    EXPECT_EQ(d.keys[0].segments[0].type, engine::SegmentType::Integer);
    EXPECT_TRUE(d.keys[0].modifiable);
    EXPECT_FALSE(d.keys[0].duplicates);
    ASSERT_EQ(d.keys[1].segments.size(), 3u);
    EXPECT_EQ(d.keys[1].length, 15);
    EXPECT_TRUE(d.keys[1].duplicates);
    EXPECT_TRUE(d.keys[1].segments[0].caseInsensitive);
    EXPECT_EQ(d.keys[1].segments[1].type, engine::SegmentType::Unsigned);
    EXPECT_TRUE(d.keys[1].segments[1].descending);
    EXPECT_EQ(d.keys[1].segments[2].type, engine::SegmentType::Unsigned);
    EXPECT_EQ(d.keys[1].segments[2].position, 16);  // 0-based
    EXPECT_EQ(d.encodedSize(), 16u + 4 * 16);
    // The stored form is the given description (the padding left out).
    EXPECT_EQ(engine::encodeDescription(d), bytes);
}

TEST(Description, AcceptsTheLimits) {
    engine::FileDescription d;
    EXPECT_EQ(parse(makeDescription(1536, {{{1536, 1}}}, 4096), d), 0);
    EXPECT_EQ(parse(makeDescription(1, {{{1, 1}}}, 512), d), 0);
    EXPECT_EQ(parse(makeDescription(300, {{{1, 200}, {201, 55}}}), d), 0);
    EXPECT_EQ(d.keys[0].length, 255);
    for (std::uint16_t len : {1, 2, 4, 8}) {
        EXPECT_EQ(parse(makeDescription(10, {{{1, len, 0x0100, 1}}}), d), 0) << len;
    }
    std::vector<std::vector<Seg>> many(119, std::vector<Seg>{{1, 1, 0x0001}});
    EXPECT_EQ(parse(makeDescription(10, many, 4096), d), 0);
}

struct Refusal {
    const char* what;
    std::string bytes;
    std::int16_t status;
};

TEST(Description, RefusesWithTheClassicStatuses) {
    using namespace engine::status;
    const std::string good = makeDescription(20, {{{1, 4}}});
    std::vector<Refusal> cases = {
        {"record length 0", makeDescription(0, {{{1, 1}}}), invalidRecordLength},
        {"record length 1537", makeDescription(1537, {{{1, 1}}}), invalidRecordLength},
        {"variable-length records", makeDescription(20, {{{1, 4}}}, 1024, 0x0001),
         invalidRecordLength},
        {"key-only file", makeDescription(20, {{{1, 4}}}, 1024, 0x0010), invalidRecordLength},
        {"page size 0", makeDescription(20, {{{1, 4}}}, 0), invalidPageSize},
        {"page size 511", makeDescription(20, {{{1, 4}}}, 511), invalidPageSize},
        {"page size 1000", makeDescription(20, {{{1, 4}}}, 1000), invalidPageSize},
        {"page size 4608", makeDescription(20, {{{1, 4}}}, 4608), invalidPageSize},
        {"120 keys",
         makeDescription(20, std::vector<std::vector<Seg>>(120, std::vector<Seg>{{1, 1}}), 4096),
         invalidNumberOfKeys},
        {"120 segments",
         makeDescription(20, {std::vector<Seg>(60, Seg{1, 1}), std::vector<Seg>(60, Seg{2, 1})},
                         4096),
         invalidNumberOfKeys},
        {"position 0", makeDescription(20, {{{0, 4}}}), invalidKeyPosition},
        {"segment past the record", makeDescription(20, {{{18, 4}}}), invalidKeyPosition},
        {"second segment past the record", makeDescription(20, {{{1, 4}, {20, 2}}}),
         invalidKeyPosition},
        {"segment length 0", makeDescription(20, {{{1, 0}}}), invalidKeyDefinition},
        {"key of 256 bytes", makeDescription(300, {{{1, 200}, {201, 56}}}), invalidKeyDefinition},
        {"integer of 3 bytes", makeDescription(20, {{{1, 3, 0x0100, 1}}}), invalidKeyDefinition},
        {"unknown extended type", makeDescription(20, {{{1, 4, 0x0100, 99}}}), invalidKeyType},
        {"supplemental key", makeDescription(20, {{{1, 4, 0x0080}}}), invalidKeyFlags},
        {"both null-key forms", makeDescription(20, {{{1, 4, 0x0008 | 0x0200}}}), invalidKeyFlags},
        {"null key on one segment of two", makeDescription(20, {{{1, 4, 0x0008}, {5, 4}}}),
         invalidKeyFlags},
        {"alternate collation without its sequence", makeDescription(20, {{{1, 4, 0x0020}}}),
         dataBufferTooShort},
        {"unknown flag", makeDescription(20, {{{1, 4, 0x0800}}}), invalidKeyFlags},
        {"case-insensitive integer", makeDescription(20, {{{1, 4, 0x0100 | 0x0400, 1}}}),
         invalidKeyFlags},
        {"case-insensitive binary", makeDescription(20, {{{1, 4, 0x0004 | 0x0400}}}),
         invalidKeyFlags},
        {"binary flag on a string type", makeDescription(20, {{{1, 4, 0x0004 | 0x0100, 0}}}),
         invalidKeyFlags},
        {"duplicates on the first segment only", makeDescription(20, {{{1, 2, 0x0001}, {3, 2}}}),
         invalidKeyFlags},
        {"modifiable on the last segment only", makeDescription(20, {{{1, 2}, {3, 2, 0x0002}}}),
         invalidKeyFlags},
        {"cut inside the file specification", good.substr(0, 15), dataBufferTooShort},
        {"cut inside a segment", good.substr(0, 31), dataBufferTooShort},
        {"last segment says another follows",
         good.substr(0, 20) + std::string(1, '\x10') + good.substr(21), dataBufferTooShort},
    };
    for (const Refusal& c : cases) {
        engine::FileDescription d;
        EXPECT_EQ(parse(c.bytes, d), c.status) << c.what;
    }
}

TEST(Description, TheKeyCountIsOneByteAndADataOnlyFileHasNone) {
    engine::FileDescription d;
    std::string bytes = makeDescription(20, {{{1, 4}}});
    bytes[5] = 0x70;  // the file version of a Stat answer
    ASSERT_EQ(parse(bytes, d), 0);
    EXPECT_EQ(d.keys.size(), 1u);
    ASSERT_EQ(parse(makeDescription(20, {}), d), 0);
    EXPECT_TRUE(d.keys.empty());
    EXPECT_EQ(d.encodedSize(), 16u);
}

TEST(Description, StatAnswerCarriesTheCountAndOneByteOfKeys) {
    const std::string bytes = makeDescription(40, {{{1, 4, 0x0100, 1}}, {{5, 8, 0x0001}}}, 512);
    engine::FileDescription d;
    ASSERT_EQ(parse(bytes, d), 0);
    const std::string stat = engine::statAnswer(d, 0x01020304);
    ASSERT_EQ(stat.size(), bytes.size());
    EXPECT_EQ(coding::getU16(coding::bytes(stat)), 40);
    EXPECT_EQ(coding::getU16(coding::bytes(stat) + 2), 512);
    EXPECT_EQ(stat[4], 2);
    EXPECT_EQ(stat[5], 0);
    EXPECT_EQ(coding::getU32(coding::bytes(stat) + 6), 0x01020304u);
    // Segment specifications as created, with their key numbers; the
    // distinct-value counts are left to the file.
    std::string segments = bytes.substr(16);
    segments[16 + 14] = 1;
    EXPECT_EQ(stat.substr(16), segments);
}

}  // namespace
