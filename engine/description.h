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
    String,    // byte by byte
    Unsigned,  // unsigned little-endian number of any length
    Integer,   // signed little-endian number of 1, 2, 4 or 8 bytes
};

struct KeySegment {
    std::uint16_t position = 0;  // 0-based offset in the record
    std::uint16_t length = 0;
    std::uint16_t flags = 0;        // as given in the description
    std::uint8_t extendedType = 0;  // as given in the description
    SegmentType type = SegmentType::String;
    bool descending = false;
    bool caseInsensitive = false;
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

    std::size_t segmentCount() const;
    // Bytes of the description (and of the Stat answer): 16 + 16 per segment.
    std::size_t encodedSize() const { return filespec::size + segspec::size * segmentCount(); }
};

// Reads and checks a creation description from the first `size` bytes of
// `bytes`. Its length follows from the number of keys and the segment flags,
// so bytes after it (such as blank padding) are ignored. Statuses: 28 record
// length not 1..1536 or file flags asking for variable-length or key-only
// records; 24 page size not a multiple of 512 in 512..4096; 26 number of keys
// not 1..119, or more than 119 segments; 27 a segment outside the record;
// 29 a segment of length 0, a key longer than 255 bytes, an integer segment
// not 1, 2, 4 or 8 bytes long, or a key type or flag the engine cannot order
// (null keys, alternate collation, supplemental keys, other extended types,
// case-insensitive numbers); 22 when `size` ends inside the description.
std::int16_t parseDescription(const unsigned char* bytes, std::size_t size, FileDescription& out);

// The description in its stored form: encodedSize() bytes, with the fields
// that only Stat fills left zero.
std::string encodeDescription(const FileDescription& description);

// The Stat answer (encodedSize() bytes): the description with the record
// count, byte 5 zero and every distinct-values count 0.
std::string statAnswer(const FileDescription& description, std::uint32_t recordCount);

}  // namespace engine
