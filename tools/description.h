// The creation description of a data file, the layout the record manager
// takes for Create and answers with Stat: a 16-byte file specification, then
// one 16-byte specification per key segment. The same bytes follow the
// 16-bit length word in a dictionary file (".xdf").
//
// The readable source of a description (".ddf") is a text of lines:
//
//   # comment (also after a value)
//   record-length 128
//   page-size 1024
//   file-flags 0                   optional, decimal or 0x hex
//   key 0 unique                   or "duplicates"; optional "modifiable"
//     segment 1 2 string           position (1-based), length, type, then
//                                  optional "descending" and "nocase"
//
// Keys are numbered from 0 in order; every segment line belongs to the key
// line above it. Types: string, binary (flag 0x0004), integer and unsigned
// (extended types 1 and 14, flag 0x0100).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nubodat {

// Specification offsets and flags.
namespace spec {
constexpr std::size_t kFileSpecSize = 16;
constexpr std::size_t kSegmentSpecSize = 16;
constexpr std::size_t recordLength = 0;   // 2
constexpr std::size_t pageSize = 2;       // 2
constexpr std::size_t keyCount = 4;       // 2
constexpr std::size_t recordCount = 6;    // 4, in a Stat answer
constexpr std::size_t fileFlags = 10;     // 2
constexpr std::size_t segPosition = 0;    // 2, 1-based
constexpr std::size_t segLength = 2;      // 2
constexpr std::size_t segFlags = 4;       // 2
constexpr std::size_t segExtendedType = 10;  // 1

constexpr std::uint16_t kDuplicates = 0x0001;
constexpr std::uint16_t kModifiable = 0x0002;
constexpr std::uint16_t kBinary = 0x0004;
constexpr std::uint16_t kSegmented = 0x0010;  // another segment of the key follows
constexpr std::uint16_t kDescending = 0x0040;
constexpr std::uint16_t kExtendedType = 0x0100;
constexpr std::uint16_t kNoCase = 0x0400;

constexpr std::uint8_t kTypeString = 0;
constexpr std::uint8_t kTypeInteger = 1;
constexpr std::uint8_t kTypeUnsigned = 14;

constexpr int kMinPageSize = 512;
constexpr int kMaxPageSize = 4096;
constexpr int kMaxRecordLength = 1536;  // the largest record the program moves
}  // namespace spec

struct Segment {
    int position = 1;  // 1-based
    int length = 0;
    std::uint16_t flags = 0;     // as stored, kSegmented included
    std::uint8_t extendedType = 0;
};

struct Key {
    std::vector<Segment> segments;
    int length() const;
    bool duplicates() const { return (segments.front().flags & spec::kDuplicates) != 0; }
    bool modifiable() const { return (segments.front().flags & spec::kModifiable) != 0; }
};

struct Description {
    int recordLength = 0;
    int pageSize = 0;
    std::uint16_t fileFlags = 0;
    std::int64_t recordCount = -1;  // from Stat; -1 in a dictionary
    std::vector<Key> keys;
};

// The bytes of the description (file specification and segments).
std::string encodeDescription(const Description& d);

// Reads a description from `bytes` (a dictionary's description or a Stat
// answer with `withCount`). Throws Error naming `origin` when the bytes are
// too short for the key count they announce, or a key's last segment runs
// past them.
Description decodeDescription(const std::string& bytes, bool withCount, const std::string& origin);

// Checks the description against what a data file can hold: record length
// 1..1536, page size 512..4096 in steps of 512, at least one segment per key,
// every segment inside the record. Throws Error naming `origin`.
void validateDescription(const Description& d, const std::string& origin);

// Parses the readable source; throws Error naming `origin`, the line and the
// word at fault. The result is validated.
Description parseDescriptionText(const std::string& text, const std::string& origin);

// The readable source of `d`, which parseDescriptionText reads back to the
// same bytes.
std::string formatDescriptionText(const Description& d);

// A dictionary file's bytes: the 16-bit length and the description.
std::string encodeDictionary(const Description& d);
// Reads a dictionary file's bytes; throws Error naming `origin` when the
// length word is negative or runs past the end.
Description decodeDictionary(const std::string& bytes, const std::string& origin);

}  // namespace nubodat
