// The descriptor of the extended reads (Get Next/Previous Extended, Step
// Next/Previous Extended), read from the data buffer, and its filter.
//
// Layout, little-endian:
//   header     2 bytes: the descriptor's length; 2 bytes: "EG" (start
//              from the record after the position) or "UC" (from the
//              record at the position)
//   filter     2 bytes: maximum reject count (0: no limit); 2 bytes: the
//              number of terms; per term: 1 byte key type, 2 bytes field
//              length, 2 bytes field offset (0-based), 1 byte comparison
//              (1 =, 2 >, 3 <, 4 <>, 5 >=, 6 <=; +32 case-insensitive
//              strings, +64 against another field of the record), 1 byte
//              connector (0 the last term, 1 AND, 2 OR), then the value
//              (field length bytes) or, with +64, that field's 2-byte offset
//   extractor  2 bytes: the number of records wanted; 2 bytes: the number
//              of fields; per field: 2 bytes length, 2 bytes offset
// The answer: 2 bytes, the number of records; per record: 2 bytes, the
// length of what was extracted, its 4-byte address, then the fields one
// after the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/description.h"

namespace engine {

namespace extended {
inline constexpr std::size_t headerSize = 4;
inline constexpr std::size_t termSize = 7;  // before its value or offset
inline constexpr std::uint8_t compareMask = 0x1F;
inline constexpr std::uint8_t caseInsensitive = 32;
inline constexpr std::uint8_t againstField = 64;
inline constexpr std::uint8_t alternateCollation = 128;
inline constexpr std::uint8_t lastTerm = 0, andTerm = 1, orTerm = 2;
}  // namespace extended

struct FilterTerm {
    KeySpec field;  // one segment: the field's place, length and order
    std::uint8_t comparison = 0;
    std::uint8_t connector = 0;
    bool againstField = false;
    KeySpec other;      // with againstField: the field compared with
    std::string value;  // otherwise: the value, in order-preserving form
};

struct ExtendedDescriptor {
    bool fromCurrent = false;  // "UC"
    std::uint16_t maxReject = 0;
    std::vector<FilterTerm> terms;
    std::uint16_t records = 0;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> fields;  // offset, length
    std::size_t extractedLength = 0;                              // per record
    std::size_t answerSize() const { return 2 + records * (6 + extractedLength); }
};

// Reads the descriptor from the first `offered` bytes of `data` for records
// of `recordLength` bytes. Status 62 for a descriptor that is cut short,
// has neither signature, a comparison or connector that is none of the
// above, a field outside the record, a key type the engine cannot compare
// at that length, an alternate collating sequence, or no record or no field
// to extract; 22 when `offered` cannot hold the answer.
std::int16_t parseExtendedDescriptor(const unsigned char* data, std::uint32_t offered,
                                     std::uint16_t recordLength, ExtendedDescriptor& out);

// Whether `record` passes the filter: the terms from left to right, each
// joined to what came before it by the connector of the term before.
bool filterMatches(const ExtendedDescriptor& d, const unsigned char* record);

// Writes the extracted fields of `record` to `out` (extractedLength bytes).
void extractFields(const ExtendedDescriptor& d, const unsigned char* record, unsigned char* out);

}  // namespace engine
