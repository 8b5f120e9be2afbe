// The creation description of a data file and the Stat answer built from it.
//
// Both are little-endian byte blocks: a 16-byte file specification followed
// by one 16-byte specification per key segment, the keys in order and the
// segments of one key next to each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace engine {

// Offsets in the file specification.
namespace filespec {
inline constexpr std::size_t size = 16;
inline constexpr std::size_t recordLength = 0;  // 16 bits
inline constexpr std::size_t pageSize = 2;      // 16 bits
inline constexpr std::size_t keyCount = 4;      // 8 bits
inline constexpr std::size_t fileVersion = 5;   // 8 bits: Stat with key number -1; ignored by Create
inline constexpr std::size_t recordCount = 6;   // 32 bits, Stat only
inline constexpr std::size_t fileFlags = 10;    // 16 bits
}  // namespace filespec

// Offsets in a key-segment specification.
namespace segspec {
inline constexpr std::size_t size = 16;
inline constexpr std::size_t position = 0;        // 16 bits, 1-based
inline constexpr std::size_t length = 2;          // 16 bits
inline constexpr std::size_t flags = 4;           // 16 bits
inline constexpr std::size_t distinctValues = 6;  // 32 bits, Stat only
inline constexpr std::size_t extendedType = 10;   // 8 bits
inline constexpr std::size_t keyNumber = 14;      // 8 bits, Stat: the key the segment belongs to
}  // namespace segspec

// Key flags.
namespace keyflag {
inline constexpr std::uint16_t duplicates = 0x0001;
inline constexpr std::uint16_t modifiable = 0x0002;
inline constexpr std::uint16_t binary = 0x0004;
inline constexpr std::uint16_t nullKey = 0x0008;
inline constexpr std::uint16_t segmented = 0x0010;  // another segment of this key follows
inline constexpr std::uint16_t alternateCollation = 0x0020;
inline constexpr std::uint16_t descending = 0x0040;
inline constexpr std::uint16_t supplemental = 0x0080;
inline constexpr std::uint16_t extendedType = 0x0100;
inline constexpr std::uint16_t manualKey = 0x0200;
inline constexpr std::uint16_t caseInsensitive = 0x0400;
}  // namespace keyflag

// Extended key types that the engine orders (segspec::extendedType, with
// keyflag::extendedType).
namespace keytype {
inline constexpr std::uint8_t string = 0;
inline constexpr std::uint8_t integer = 1;
inline constexpr std::uint8_t floatingPoint = 2;  // IEEE, 4 or 8 bytes
inline constexpr std::uint8_t date = 3;           // day, month, year (16 bits)
inline constexpr std::uint8_t time = 4;           // hundredths, seconds, minutes, hours
inline constexpr std::uint8_t decimal = 5;        // packed digits, sign in the last nibble
inline constexpr std::uint8_t money = 6;          // as decimal
inline constexpr std::uint8_t logical = 7;        // 1 or 2 bytes, unsigned
inline constexpr std::uint8_t numeric = 8;        // ASCII digits, sign overpunched in the last
inline constexpr std::uint8_t bfloat = 9;         // Microsoft binary format, 4 or 8 bytes
inline constexpr std::uint8_t lstring = 10;       // length byte, then the characters
inline constexpr std::uint8_t zstring = 11;       // characters up to a zero byte
inline constexpr std::uint8_t unsignedBinary = 14;
inline constexpr std::uint8_t currency = 19;   // signed 64-bit integer
inline constexpr std::uint8_t timestamp = 20;  // unsigned 64-bit integer
}  // namespace keytype

// An alternate collating sequence in a description: after the segment
// specifications, one per number used in byte 15 of a segment that has the
// alternate-collation flag: a signature byte, an 8-byte name and 256 bytes
// giving each byte its place in the order.
namespace collation {
inline constexpr std::size_t size = 265;
inline constexpr unsigned char signature = 0xAC;
inline constexpr std::size_t table = 9;
inline constexpr std::size_t segmentNumber = 15;  // in a segment specification
}  // namespace collation

// File flags that would change what a record is; refused by Create.
namespace fileflag {
inline constexpr std::uint16_t variableLength = 0x0001;
inline constexpr std::uint16_t blankTruncation = 0x0002;
inline constexpr std::uint16_t keyOnly = 0x0010;
}  // namespace fileflag

// The file version Stat reports (with key number -1): 7.0.
inline constexpr std::uint8_t fileVersionByte = 0x70;

// Limits of a description.
inline constexpr std::uint16_t maxRecordLength = 1536;
inline constexpr std::uint16_t minPageSize = 512;
inline constexpr std::uint16_t maxPageSize = 4096;
inline constexpr std::size_t maxKeys = 119;
inline constexpr std::size_t maxSegments = 119;
inline constexpr std::size_t maxKeyLength = 255;

// How the bytes of one segment compare.
enum class SegmentType : std::uint8_t {
    String,    // byte by byte
    Unsigned,  // unsigned little-endian number of any length
    Integer,   // signed little-endian number of 1, 2, 4 or 8 bytes
    Float,     // IEEE little-endian, 4 or 8 bytes
    Date,      // 4 bytes: day, month, year (little-endian)
    Time,      // 4 bytes: hundredths, seconds, minutes, hours
    Decimal,   // packed decimal digits, the sign in the last nibble (D or B negative)
    Numeric,   // ASCII digits, the last one carrying the sign ({ A-I positive, } J-R negative)
    BFloat,    // Microsoft binary format, 4 or 8 bytes
    LString,   // a length byte, then the characters
    ZString,   // the characters up to the first zero byte
};

struct KeySegment {
    std::uint16_t position = 0;  // 0-based offset in the record
    std::uint16_t length = 0;
    std::uint16_t flags = 0;        // as given in the description
    std::uint8_t extendedType = 0;  // as given in the description
    SegmentType type = SegmentType::String;
    bool descending = false;
    bool caseInsensitive = false;
    int collation = -1;  // index in FileDescription::collations, or none
    std::string order;   // that collating sequence's 256 places, or empty
};

struct KeySpec {
    std::vector<KeySegment> segments;
    std::uint16_t length = 0;  // sum of the segment lengths, at most 255
    bool duplicates = false;   // from the first segment
    bool modifiable = false;   // from the first segment
};

struct FileDescription {
    std::uint16_t recordLength = 0;
    std::uint16_t pageSize = 0;
    std::uint16_t fileFlags = 0;
    std::vector<KeySpec> keys;
    // The alternate collating sequences, each as given (collation::size bytes).
    std::vector<std::string> collations;

    std::size_t segmentCount() const;
    // Bytes of the description (and of the Stat answer): 16, 16 per segment,
    // 265 per alternate collating sequence.
    std::size_t encodedSize() const {
        return filespec::size + segspec::size * segmentCount() + collation::size * collations.size();
    }
};

// Reads and checks a creation description from the first `size` bytes of
// `bytes`. Its length follows from the number of keys (byte 4; byte 5 is the
// file version of a Stat answer and is ignored, so a Stat answer is a valid
// description) and the segment flags, so bytes after it (such as blank
// padding) are ignored. Zero keys make a data-only file. Statuses: 28 record
// length not 1..1536 or file flags asking for variable-length or key-only
// records; 24 page size not a multiple of 512 in 512..4096; 26 more than 119
// keys or segments; 27 a segment outside the record; 29 a segment of length
// 0, a key longer than 255 bytes, an integer segment not 1, 2, 4 or 8 bytes
// long, or a typed segment of a length its type does not have; 49 an
// extended key type the engine cannot order; 45 key flags the engine does
// not keep (null keys, supplemental keys, case-insensitive or collated
// numbers) or key-level flags (duplicates, modifiable) that differ between
// the segments of one key; 48 an alternate collating sequence without its
// signature; 22 when `size` ends inside the description (its collating
// sequences included).
std::int16_t parseDescription(const unsigned char* bytes, std::size_t size, FileDescription& out);

// The description in its stored form: encodedSize() bytes, with the fields
// that only Stat fills left zero.
std::string encodeDescription(const FileDescription& description);

// The Stat answer (encodedSize() bytes): the description with the record
// count, the key number in byte 14 of every segment, byte 5 zero and every
// distinct-values count 0 (the caller fills those).
std::string statAnswer(const FileDescription& description, std::uint32_t recordCount);

}  // namespace engine
