// Readable dictionary sources, their bytes, and the faults they report.
#include <gtest/gtest.h>

#include "platform/coding.h"
#include "tools/description.h"
#include "tools/error.h"

namespace nubodat {
namespace {

std::string segmentSpec(int position, int length, std::uint16_t flags, std::uint8_t type = 0) {
    std::string s(16, '\0');
    coding::putU16(coding::bytes(s), static_cast<std::uint16_t>(position));
    coding::putU16(coding::bytes(s) + 2, static_cast<std::uint16_t>(length));
    coding::putU16(coding::bytes(s) + 4, flags);
    s[10] = static_cast<char>(type);
    return s;
}

TEST(DescriptionText, SourceGivesTheRecordManagersBytes) {
    const std::string source =
        "# owners\n"
        "record-length 428   # bytes\n"
        "page-size 1024\r\n"
        "key 0 unique\n"
        "  segment 1 4 string\n"
        "key 1 duplicates modifiable\n"
        "  segment 160 1 string nocase\n"
        "  segment 315 2 integer descending\n";
    std::string expected(16, '\0');
    coding::putU16(coding::bytes(expected), 428);
    coding::putU16(coding::bytes(expected) + 2, 1024);
    coding::putU16(coding::bytes(expected) + 4, 2);
    expected += segmentSpec(1, 4, 0);
    expected += segmentSpec(160, 1, 0x0001 | 0x0002 | 0x0010 | 0x0400);
    expected += segmentSpec(315, 2, 0x0001 | 0x0002 | 0x0040 | 0x0100, 1);
    const Description d = parseDescriptionText(source, "o.ddf");
    EXPECT_EQ(encodeDescription(d), expected);

    std::string dictionary(2, '\0');
    coding::putU16(coding::bytes(dictionary), static_cast<std::uint16_t>(expected.size()));
    EXPECT_EQ(encodeDictionary(d), dictionary + expected);
}

TEST(DescriptionText, FormattedTextReadsBackToTheSameBytes) {
    std::string bytes(16, '\0');
    coding::putU16(coding::bytes(bytes), 200);
    coding::putU16(coding::bytes(bytes) + 2, 2048);
    coding::putU16(coding::bytes(bytes) + 4, 3);
    coding::putU16(coding::bytes(bytes) + 10, 0x0020);
    bytes += segmentSpec(1, 2, 0x0004 | 0x0010);
    bytes += segmentSpec(3, 4, 0x0100, 14);
    bytes += segmentSpec(10, 8, 0x0001 | 0x0100 | 0x0200, 7);  // extended type 7, an unnamed flag
    bytes += segmentSpec(20, 3, 0x0100 | 0x0004, 1);           // integer with the binary bit too
    const Description d = decodeDescription(bytes, false, "x");
    const std::string text = formatDescriptionText(d);
    EXPECT_EQ(encodeDescription(parseDescriptionText(text, "x")), bytes) << text;
}

TEST(DescriptionText, FaultsNameTheLineAndTheWord) {
    const std::string head = "record-length 64\npage-size 1024\n";
    struct Case {
        std::string source;
        std::string message;
    } cases[] = {
        {"record-length 6x4\n", "d.ddf, line 1: record length \"6x4\" is not a number"},
        {head + "key 1 unique\n", "d.ddf, line 3: key 1 out of order"},
        {head + "key 0 unique\n  segment 1 4 text\n",
         "d.ddf, line 4: unknown segment type \"text\""},
        {head + "  segment 1 4 string\n", "d.ddf, line 3: segment before any key line"},
        {head + "key 0 sorted\n", "d.ddf, line 3: unknown key attribute \"sorted\""},
        {head + "key 0 unique\n  segment 1 4\n",
         "d.ddf, line 4: expected \"segment POSITION LENGTH TYPE\""},
        {head + "keys 0\n", "d.ddf, line 3: unknown line \"keys\""},
        {head + "key 0 unique\n", "d.ddf: key 0 has no segment"},
        {head + "key 0 unique\n  segment 60 8 string\n",
         "key 0: the segment at position 60 of length 8"},
        {"page-size 1024\n", "d.ddf: no record-length line"},
        {"record-length 64\npage-size 1000\n", "page size 1000 is not a multiple of 512"},
        {"record-length 2000\npage-size 4096\n", "record length 2000 is outside 1 to 1536"},
    };
    for (const Case& c : cases) {
        try {
            parseDescriptionText(c.source, "d.ddf");
            ADD_FAILURE() << "accepted: " << c.source;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << e.what() << "\n  expected: " << c.message;
        }
    }
}

TEST(Dictionary, LengthWordMustFitTheFile) {
    const Description d = parseDescriptionText(
        "record-length 22\npage-size 512\nkey 0 unique\n segment 1 9 string\n", "c");
    std::string bytes = encodeDictionary(d);
    EXPECT_EQ(encodeDescription(decodeDictionary(bytes, "c.xdf")), encodeDescription(d));
    EXPECT_THROW(decodeDictionary(bytes.substr(0, bytes.size() - 1), "c.xdf"), Error);
    EXPECT_THROW(decodeDictionary("\xff\xff" + bytes.substr(2), "c.xdf"), Error);
    EXPECT_THROW(decodeDictionary("\x01", "c.xdf"), Error);
    // A key that announces a following segment past the end of the bytes.
    std::string cut = encodeDescription(d);
    coding::putU16(coding::bytes(cut) + 16 + 4, 0x0010);
    EXPECT_THROW(decodeDescription(cut, false, "c"), Error);
}

}  // namespace
}  // namespace nubodat
