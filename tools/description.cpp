#include "tools/description.h"

#include <charconv>
#include <sstream>

#include "platform/coding.h"
#include "tools/error.h"

namespace nubodat {
namespace {

// Flag bits that the readable source names by words; the rest is written as
// "extra-flags".
constexpr std::uint16_t kKeyWords = spec::kDuplicates | spec::kModifiable;
constexpr std::uint16_t kSegmentWords = spec::kDescending | spec::kNoCase;

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line.substr(0, line.find('#')));
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

long number(const std::string& word, const std::string& origin, long line,
            const std::string& what) {
    long value = 0;
    const char* first = word.data();
    const char* last = word.data() + word.size();
    int base = 10;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        first += 2;
        base = 16;
    }
    const auto [end, ec] = std::from_chars(first, last, value, base);
    if (ec != std::errc() || end != last || first == last || value < 0 || value > 0xFFFF)
        fail(origin, line, what + " \"" + word + "\" is not a number from 0 to 65535");
    return value;
}

std::string hex16(std::uint16_t v) {
    static const char digits[] = "0123456789abcdef";
    std::string s = "0x0000";
    for (int i = 0; i < 4; ++i) s[5 - i] = digits[(v >> (4 * i)) & 0xF];
    return s;
}

// The type word of a segment and the flag bits it stands for.
std::string typeWord(const Segment& s, std::uint16_t& covered) {
    if ((s.flags & spec::kExtendedType) != 0) {
        covered = spec::kExtendedType;
        if (s.extendedType == spec::kTypeInteger) return "integer";
        if (s.extendedType == spec::kTypeUnsigned) return "unsigned";
        return "extended-" + std::to_string(s.extendedType);
    }
    covered = spec::kBinary;
    return (s.flags & spec::kBinary) != 0 ? "binary" : "string";
}

void applyTypeWord(const std::string& word, Segment& s, const std::string& origin, long line) {
    if (word == "string") return;
    if (word == "binary") {
        s.flags |= spec::kBinary;
        return;
    }
    s.flags |= spec::kExtendedType;
    if (word == "integer") {
        s.extendedType = spec::kTypeInteger;
    } else if (word == "unsigned") {
        s.extendedType = spec::kTypeUnsigned;
    } else if (word.rfind("extended-", 0) == 0) {
        const long t = number(word.substr(9), origin, line, "extended type");
        if (t > 255) fail(origin, line, "extended type " + word.substr(9) + " is beyond 255");
        s.extendedType = static_cast<std::uint8_t>(t);
    } else {
        fail(origin, line,
             "unknown segment type \"" + word +
                 "\" (string, binary, integer, unsigned or extended-N)");
    }
}

}  // namespace

int Key::length() const {
    int total = 0;
    for (const Segment& s : segments) total += s.length;
    return total;
}

std::string encodeDescription(const Description& d) {
    std::size_t segments = 0;
    for (const Key& k : d.keys) segments += k.segments.size();
    std::string out(spec::kFileSpecSize + spec::kSegmentSpecSize * segments, '\0');
    unsigned char* p = coding::bytes(out);
    coding::putU16(p + spec::recordLength, static_cast<std::uint16_t>(d.recordLength));
    coding::putU16(p + spec::pageSize, static_cast<std::uint16_t>(d.pageSize));
    coding::putU16(p + spec::keyCount, static_cast<std::uint16_t>(d.keys.size()));
    coding::putU16(p + spec::fileFlags, d.fileFlags);
    unsigned char* s = p + spec::kFileSpecSize;
    for (const Key& k : d.keys) {
        for (std::size_t i = 0; i < k.segments.size(); ++i, s += spec::kSegmentSpecSize) {
            const Segment& seg = k.segments[i];
            std::uint16_t flags = seg.flags & ~spec::kSegmented;
            if (i + 1 < k.segments.size()) flags |= spec::kSegmented;
            coding::putU16(s + spec::segPosition, static_cast<std::uint16_t>(seg.position));
            coding::putU16(s + spec::segLength, static_cast<std::uint16_t>(seg.length));
            coding::putU16(s + spec::segFlags, flags);
            if ((flags & spec::kExtendedType) != 0) s[spec::segExtendedType] = seg.extendedType;
        }
    }
    return out;
}

Description decodeDescription(const std::string& bytes, bool withCount, const std::string& origin) {
    if (bytes.size() < spec::kFileSpecSize)
        fail(origin, 0,
             "the description holds " + std::to_string(bytes.size()) +
                 " bytes, fewer than the 16 of a file specification");
    const unsigned char* p = coding::bytes(bytes);
    Description d;
    d.recordLength = coding::getU16(p + spec::recordLength);
    d.pageSize = coding::getU16(p + spec::pageSize);
    d.fileFlags = coding::getU16(p + spec::fileFlags);
    if (withCount) d.recordCount = coding::getU32(p + spec::recordCount);
    const int keyCount = coding::getU16(p + spec::keyCount);
    std::size_t at = spec::kFileSpecSize;
    for (int k = 0; k < keyCount; ++k) {
        Key key;
        for (;;) {
            if (at + spec::kSegmentSpecSize > bytes.size())
                fail(origin, 0,
                     "key " + std::to_string(k) + " runs past the " + std::to_string(bytes.size()) +
                         " bytes of the description");
            const unsigned char* s = p + at;
            Segment seg;
            seg.position = coding::getU16(s + spec::segPosition);
            seg.length = coding::getU16(s + spec::segLength);
            const std::uint16_t flags = coding::getU16(s + spec::segFlags);
            seg.flags = flags & ~spec::kSegmented;
            seg.extendedType = s[spec::segExtendedType];
            key.segments.push_back(seg);
            at += spec::kSegmentSpecSize;
            if ((flags & spec::kSegmented) == 0) break;
        }
        d.keys.push_back(key);
    }
    return d;
}

void validateDescription(const Description& d, const std::string& origin) {
    if (d.recordLength < 1 || d.recordLength > spec::kMaxRecordLength)
        fail(origin, 0,
             "record length " + std::to_string(d.recordLength) + " is outside 1 to 1536");
    if (d.pageSize < spec::kMinPageSize || d.pageSize > spec::kMaxPageSize || d.pageSize % 512 != 0)
        fail(origin, 0,
             "page size " + std::to_string(d.pageSize) +
                 " is not a multiple of 512 from 512 to 4096");
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        const std::string name = "key " + std::to_string(k);
        if (d.keys[k].segments.empty()) fail(origin, 0, name + " has no segment");
        for (const Segment& s : d.keys[k].segments) {
            if (s.length < 1 || s.position < 1 || s.position + s.length - 1 > d.recordLength)
                fail(origin, 0,
                     name + ": the segment at position " + std::to_string(s.position) +
                         " of length " + std::to_string(s.length) +
                         " does not lie inside the record of " + std::to_string(d.recordLength) +
                         " bytes");
        }
    }
}

Description parseDescriptionText(const std::string& text, const std::string& origin) {
    Description d;
    bool haveRecord = false, havePage = false;
    std::uint16_t keyFlags = 0;  // of the last key line, given to its segments
    std::istringstream in(text);
    std::string raw;
    long line = 0;
    while (std::getline(in, raw)) {
        ++line;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        const std::vector<std::string> w = words(raw);
        if (w.empty()) continue;
        const std::string& head = w[0];
        auto expect = [&](std::size_t n, const std::string& form) {
            if (w.size() != n) fail(origin, line, "expected \"" + form + "\"");
        };
        if (head == "record-length") {
            expect(2, "record-length N");
            d.recordLength = static_cast<int>(number(w[1], origin, line, "record length"));
            haveRecord = true;
        } else if (head == "page-size") {
            expect(2, "page-size N");
            d.pageSize = static_cast<int>(number(w[1], origin, line, "page size"));
            havePage = true;
        } else if (head == "file-flags") {
            expect(2, "file-flags N");
            d.fileFlags = static_cast<std::uint16_t>(number(w[1], origin, line, "file flags"));
        } else if (head == "key") {
            if (w.size() < 3)
                fail(origin, line, "expected \"key N unique|duplicates [modifiable]\"");
            if (number(w[1], origin, line, "key number") != static_cast<long>(d.keys.size()))
                fail(origin, line,
                     "key " + w[1] + " out of order: the next key is " +
                         std::to_string(d.keys.size()));
            keyFlags = 0;
            for (std::size_t i = 2; i < w.size(); ++i) {
                if (w[i] == "unique") {
                } else if (w[i] == "duplicates") {
                    keyFlags |= spec::kDuplicates;
                } else if (w[i] == "modifiable") {
                    keyFlags |= spec::kModifiable;
                } else {
                    fail(origin, line, "unknown key attribute \"" + w[i] + "\"");
                }
            }
            d.keys.emplace_back();
        } else if (head == "segment") {
            if (d.keys.empty()) fail(origin, line, "segment before any key line");
            if (w.size() < 4) fail(origin, line, "expected \"segment POSITION LENGTH TYPE\"");
            Key& key = d.keys.back();
            Segment seg;
            seg.flags = keyFlags;
            seg.position = static_cast<int>(number(w[1], origin, line, "position"));
            seg.length = static_cast<int>(number(w[2], origin, line, "length"));
            applyTypeWord(w[3], seg, origin, line);
            for (std::size_t i = 4; i < w.size(); ++i) {
                if (w[i] == "descending") {
                    seg.flags |= spec::kDescending;
                } else if (w[i] == "nocase") {
                    seg.flags |= spec::kNoCase;
                } else if (w[i] == "extra-flags" && i + 1 < w.size()) {
                    seg.flags |=
                        static_cast<std::uint16_t>(number(w[++i], origin, line, "extra flags"));
                } else {
                    fail(origin, line, "unknown segment attribute \"" + w[i] + "\"");
                }
            }
            key.segments.push_back(seg);
        } else {
            fail(origin, line,
                 "unknown line \"" + head +
                     "\" (record-length, page-size, file-flags, key or segment)");
        }
    }
    if (!haveRecord) fail(origin, 0, "no record-length line");
    if (!havePage) fail(origin, 0, "no page-size line");
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        if (d.keys[k].segments.empty())
            fail(origin, 0, "key " + std::to_string(k) + " has no segment line");
    }
    validateDescription(d, origin);
    return d;
}

std::string formatDescriptionText(const Description& d) {
    std::ostringstream out;
    out << "record-length " << d.recordLength << "\n";
    out << "page-size " << d.pageSize << "\n";
    if (d.fileFlags != 0) out << "file-flags " << hex16(d.fileFlags) << "\n";
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        const Key& key = d.keys[k];
        out << "key " << k << (key.duplicates() ? " duplicates" : " unique")
            << (key.modifiable() ? " modifiable" : "") << "\n";
        for (const Segment& s : key.segments) {
            std::uint16_t covered = 0;
            const std::string type = typeWord(s, covered);
            out << "  segment " << s.position << " " << s.length << " " << type;
            if ((s.flags & spec::kDescending) != 0) out << " descending";
            if ((s.flags & spec::kNoCase) != 0) out << " nocase";
            const std::uint16_t extra =
                s.flags & ~(covered | kKeyWords | kSegmentWords | spec::kSegmented);
            if (extra != 0) out << " extra-flags " << hex16(extra);
            out << "\n";
        }
    }
    return out.str();
}

std::string encodeDictionary(const Description& d) {
    const std::string body = encodeDescription(d);
    std::string out(2, '\0');
    coding::putU16(coding::bytes(out), static_cast<std::uint16_t>(body.size()));
    return out + body;
}

Description decodeDictionary(const std::string& bytes, const std::string& origin) {
    if (bytes.size() < 2) fail(origin, 0, "too short for the length word of a dictionary");
    const int length = coding::getI16(coding::bytes(bytes));
    if (length < 0 || static_cast<std::size_t>(length) > bytes.size() - 2)
        fail(origin, 0,
             "the length word " + std::to_string(length) + " does not fit the " +
                 std::to_string(bytes.size() - 2) + " bytes that follow it");
    return decodeDescription(bytes.substr(2, static_cast<std::size_t>(length)), false, origin);
}

}  // namespace nubodat
