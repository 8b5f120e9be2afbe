// The creation description of a data file, parsed and checked, and the Stat
// answer built from it. The byte layout of both is in engine/api.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/api.h"

namespace engine {

// How the bytes of one segment compare.
enum class SegmentType : std::uint8_t {
    String,         // byte by byte
    Unsigned,       // unsigned little-endian number of any length
    Integer,        // signed little-endian number of 1, 2, 4 or 8 bytes
    Float,          // IEEE little-endian, 4 or 8 bytes
    Date,           // 4 bytes: day, month, year (little-endian)
    Time,           // 4 bytes: hundredths, seconds, minutes, hours
    Decimal,        // packed decimal digits, the sign in the last nibble (D or B negative)
    Numeric,        // ASCII digits, the last one carrying the sign ({ A-I positive, } J-R negative)
    BFloat,         // Microsoft binary format, 4 or 8 bytes
    LString,        // a length byte, then the characters
    ZString,        // the characters up to the first zero byte
    AutoIncrement,  // signed little-endian, 2, 4 or 8 bytes, by absolute value
};

struct KeySegment {
    std::uint16_t position = 0;  // 0-based offset in the record
    std::uint16_t length = 0;
    std::uint16_t flags = 0;        // as given in the description
    std::uint8_t extendedType = 0;  // as given in the description
    SegmentType type = SegmentType::String;
    bool descending = false;
    bool caseInsensitive = false;
    std::uint8_t nullValue = 0;  // the null byte, for a null key (else 0)
    int collation = -1;          // index in FileDescription::collations, or none
    std::string order;           // that collating sequence's 256 places, or empty
};

// Which records a key leaves out of its index: none; those whose every
// segment holds only its null byte (all-segments null key); those with any
// such segment (any-segment null key).
enum class NullKey : std::uint8_t { None, AllSegments, AnySegment };

struct KeySpec {
    std::vector<KeySegment> segments;
    NullKey nulls = NullKey::None;  // from the first segment
    std::uint16_t length = 0;       // sum of the segment lengths, at most 255
    bool duplicates = false;        // from the first segment
    bool modifiable = false;        // from the first segment
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
        return filespec::size + segspec::size * segmentCount() +
               collation::size * collations.size();
    }
};

// How a segment with `seg.flags` and `seg.extendedType` compares, as Create
// takes it. Statuses: 45 flags the engine does not keep; 49 an extended
// type it cannot order; 29 a length the type does not have.
std::int16_t segmentType(const KeySegment& seg, SegmentType& type);

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
