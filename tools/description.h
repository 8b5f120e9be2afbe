// The creation description of a data file, the layout the record manager
// takes for Create and answers with Stat (engine/api.h). The same bytes follow the
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

#include "engine/api.h"

namespace nubodat {

// Specification offsets and flags, by the names the utility uses; the
// values are the record manager's contract (engine/api.h).
namespace spec {
constexpr std::size_t kFileSpecSize = engine::filespec::size;
constexpr std::size_t kSegmentSpecSize = engine::segspec::size;
constexpr std::size_t recordLength = engine::filespec::recordLength;    // 2
constexpr std::size_t pageSize = engine::filespec::pageSize;            // 2
constexpr std::size_t keyCount = engine::filespec::keyCount;            // 2
constexpr std::size_t recordCount = engine::filespec::recordCount;      // 4, in a Stat answer
constexpr std::size_t fileFlags = engine::filespec::fileFlags;          // 2
constexpr std::size_t segPosition = engine::segspec::position;          // 2, 1-based
constexpr std::size_t segLength = engine::segspec::length;              // 2
constexpr std::size_t segFlags = engine::segspec::flags;                // 2
constexpr std::size_t segExtendedType = engine::segspec::extendedType;  // 1

constexpr std::uint16_t kDuplicates = engine::keyflag::duplicates;
constexpr std::uint16_t kModifiable = engine::keyflag::modifiable;
constexpr std::uint16_t kBinary = engine::keyflag::binary;
constexpr std::uint16_t kSegmented = engine::keyflag::segmented;  // another segment follows
constexpr std::uint16_t kDescending = engine::keyflag::descending;
constexpr std::uint16_t kExtendedType = engine::keyflag::extendedType;
constexpr std::uint16_t kNoCase = engine::keyflag::caseInsensitive;

constexpr std::uint8_t kTypeString = engine::keytype::string;
constexpr std::uint8_t kTypeInteger = engine::keytype::integer;
constexpr std::uint8_t kTypeUnsigned = engine::keytype::unsignedBinary;

constexpr int kMinPageSize = engine::minPageSize;
constexpr int kMaxPageSize = engine::maxPageSize;
constexpr int kMaxRecordLength = engine::maxRecordLength;  // the largest record the program moves
}  // namespace spec

struct Segment {
    int position = 1;  // 1-based
    int length = 0;
    std::uint16_t flags = 0;  // as stored, kSegmented included
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
