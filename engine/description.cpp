#include "engine/description.h"

#include <algorithm>
#include <initializer_list>

#include "engine/api.h"
#include "platform/coding.h"

namespace engine {
namespace {

constexpr std::uint16_t supportedKeyFlags =
    keyflag::duplicates | keyflag::modifiable | keyflag::binary | keyflag::nullKey |
    keyflag::manualKey | keyflag::segmented | keyflag::alternateCollation | keyflag::descending |
    keyflag::extendedType | keyflag::caseInsensitive;

bool oneOf(std::uint16_t length, std::initializer_list<std::uint16_t> lengths) {
    for (const std::uint16_t l : lengths) {
        if (l == length) return true;
    }
    return false;
}

}  // namespace

std::int16_t segmentType(const KeySegment& seg, SegmentType& type) {
    if ((seg.flags & ~supportedKeyFlags) != 0) return status::invalidKeyFlags;
    const bool binary = (seg.flags & keyflag::binary) != 0;
    bool lengthFits = true;
    if ((seg.flags & keyflag::extendedType) != 0) {
        if (binary && seg.extendedType != keytype::unsignedBinary) return status::invalidKeyFlags;
        switch (seg.extendedType) {
            case keytype::string: type = SegmentType::String; break;
            case keytype::integer:
                type = SegmentType::Integer;
                lengthFits = oneOf(seg.length, {1, 2, 4, 8});
                break;
            case keytype::floatingPoint:
                type = SegmentType::Float;
                lengthFits = oneOf(seg.length, {4, 8});
                break;
            case keytype::date:
                type = SegmentType::Date;
                lengthFits = seg.length == 4;
                break;
            case keytype::time:
                type = SegmentType::Time;
                lengthFits = seg.length == 4;
                break;
            case keytype::decimal:
            case keytype::money: type = SegmentType::Decimal; break;
            case keytype::logical:
                type = SegmentType::Unsigned;
                lengthFits = oneOf(seg.length, {1, 2});
                break;
            case keytype::numeric: type = SegmentType::Numeric; break;
            case keytype::bfloat:
                type = SegmentType::BFloat;
                lengthFits = oneOf(seg.length, {4, 8});
                break;
            case keytype::lstring:
                type = SegmentType::LString;
                lengthFits = seg.length >= 2;
                break;
            case keytype::zstring:
                type = SegmentType::ZString;
                lengthFits = seg.length >= 2;
                break;
            case keytype::unsignedBinary: type = SegmentType::Unsigned; break;
            case keytype::autoIncrement:
                type = SegmentType::AutoIncrement;
                lengthFits = oneOf(seg.length, {2, 4, 8});
                break;
            case keytype::currency:
                type = SegmentType::Integer;
                lengthFits = seg.length == 8;
                break;
            case keytype::timestamp:
                type = SegmentType::Unsigned;
                lengthFits = seg.length == 8;
                break;
            default: return status::invalidKeyType;
        }
    } else {
        type = binary ? SegmentType::Unsigned : SegmentType::String;
    }
    if (!lengthFits) return status::invalidKeyDefinition;
    const bool text =
        type == SegmentType::String || type == SegmentType::LString || type == SegmentType::ZString;
    const bool collated = (seg.flags & keyflag::alternateCollation) != 0;
    if (!text && (collated || (seg.flags & keyflag::caseInsensitive) != 0)) {
        return status::invalidKeyFlags;
    }
    if (collated && (seg.flags & keyflag::caseInsensitive) != 0) return status::invalidKeyFlags;
    return status::ok;
}

std::size_t FileDescription::segmentCount() const {
    std::size_t n = 0;
    for (const KeySpec& k : keys) n += k.segments.size();
    return n;
}

std::int16_t parseDescription(const unsigned char* bytes, std::size_t size, FileDescription& out) {
    out = FileDescription{};
    if (bytes == nullptr || size < filespec::size) return status::dataBufferTooShort;
    out.recordLength = coding::getU16(bytes + filespec::recordLength);
    out.pageSize = coding::getU16(bytes + filespec::pageSize);
    const std::uint8_t keyCount = bytes[filespec::keyCount];
    out.fileFlags = coding::getU16(bytes + filespec::fileFlags);

    if (out.recordLength < 1 || out.recordLength > maxRecordLength) {
        return status::invalidRecordLength;
    }
    if ((out.fileFlags &
         (fileflag::variableLength | fileflag::blankTruncation | fileflag::keyOnly)) != 0) {
        return status::invalidRecordLength;
    }
    if (out.pageSize < minPageSize || out.pageSize > maxPageSize || out.pageSize % 512 != 0) {
        return status::invalidPageSize;
    }
    if (keyCount > maxKeys) return status::invalidNumberOfKeys;

    std::size_t offset = filespec::size;
    std::size_t segments = 0;
    std::size_t collationCount = 0;
    out.keys.resize(keyCount);
    for (KeySpec& key : out.keys) {
        bool more = true;
        while (more) {
            if (++segments > maxSegments) return status::invalidNumberOfKeys;
            if (size - offset < segspec::size) return status::dataBufferTooShort;
            const unsigned char* s = bytes + offset;
            offset += segspec::size;
            KeySegment seg;
            const std::uint16_t position = coding::getU16(s + segspec::position);
            seg.length = coding::getU16(s + segspec::length);
            seg.flags = coding::getU16(s + segspec::flags);
            seg.extendedType = s[segspec::extendedType];
            more = (seg.flags & keyflag::segmented) != 0;

            if (seg.length == 0 || seg.length > maxKeyLength) return status::invalidKeyDefinition;
            if (position < 1 || position - 1 + seg.length > out.recordLength) {
                return status::invalidKeyPosition;
            }
            seg.position = static_cast<std::uint16_t>(position - 1);
            if (const std::int16_t st = segmentType(seg, seg.type); st != status::ok) return st;
            seg.descending = (seg.flags & keyflag::descending) != 0;
            seg.caseInsensitive = (seg.flags & keyflag::caseInsensitive) != 0;

            constexpr std::uint16_t keyLevel =
                keyflag::duplicates | keyflag::modifiable | keyflag::nullKey | keyflag::manualKey;
            constexpr std::uint16_t nullForms = keyflag::nullKey | keyflag::manualKey;
            if ((seg.flags & nullForms) == nullForms) return status::invalidKeyFlags;
            if ((seg.flags & nullForms) != 0) seg.nullValue = s[segspec::nullValue];
            if (key.segments.empty()) {
                key.duplicates = (seg.flags & keyflag::duplicates) != 0;
                key.modifiable = (seg.flags & keyflag::modifiable) != 0;
                key.nulls = (seg.flags & keyflag::nullKey) != 0     ? NullKey::AllSegments
                            : (seg.flags & keyflag::manualKey) != 0 ? NullKey::AnySegment
                                                                    : NullKey::None;
            } else if ((seg.flags & keyLevel) != (key.segments.front().flags & keyLevel)) {
                return status::invalidKeyFlags;
            }
            if ((seg.flags & keyflag::alternateCollation) != 0) {
                seg.collation = s[segspec::collationNumber];
                collationCount =
                    std::max(collationCount, static_cast<std::size_t>(seg.collation) + 1);
            }
            if (key.length + seg.length > maxKeyLength) return status::invalidKeyDefinition;
            key.length = static_cast<std::uint16_t>(key.length + seg.length);
            key.segments.push_back(seg);
        }
    }
    for (std::size_t n = 0; n < collationCount; ++n) {
        if (size - offset < collation::size) return status::dataBufferTooShort;
        if (bytes[offset] != collation::signature) return status::invalidCollation;
        out.collations.emplace_back(reinterpret_cast<const char*>(bytes + offset), collation::size);
        offset += collation::size;
    }
    for (KeySpec& key : out.keys) {
        for (KeySegment& seg : key.segments) {
            if (seg.collation >= 0) {
                seg.order = out.collations[static_cast<std::size_t>(seg.collation)].substr(
                    collation::table, 256);
            }
        }
    }
    return status::ok;
}

std::string encodeDescription(const FileDescription& d) {
    std::string out(d.encodedSize(), '\0');
    unsigned char* p = coding::bytes(out);
    coding::putU16(p + filespec::recordLength, d.recordLength);
    coding::putU16(p + filespec::pageSize, d.pageSize);
    p[filespec::keyCount] = static_cast<unsigned char>(d.keys.size());
    coding::putU16(p + filespec::fileFlags, d.fileFlags);
    std::size_t offset = filespec::size;
    for (const KeySpec& key : d.keys) {
        for (const KeySegment& seg : key.segments) {
            unsigned char* s = p + offset;
            coding::putU16(s + segspec::position, static_cast<std::uint16_t>(seg.position + 1));
            coding::putU16(s + segspec::length, seg.length);
            coding::putU16(s + segspec::flags, seg.flags);
            s[segspec::extendedType] = seg.extendedType;
            s[segspec::nullValue] = seg.nullValue;
            if (seg.collation >= 0)
                s[segspec::collationNumber] = static_cast<unsigned char>(seg.collation);
            offset += segspec::size;
        }
    }
    for (const std::string& c : d.collations) {
        std::copy(c.begin(), c.end(), p + offset);
        offset += collation::size;
    }
    return out;
}

std::string statAnswer(const FileDescription& d, std::uint32_t recordCount) {
    std::string out = encodeDescription(d);
    unsigned char* p = coding::bytes(out);
    coding::putU32(p + filespec::recordCount, recordCount);
    std::size_t offset = filespec::size;
    for (std::size_t k = 0; k < d.keys.size(); ++k) {
        for (std::size_t s = 0; s < d.keys[k].segments.size(); ++s) {
            p[offset + segspec::keyNumber] = static_cast<unsigned char>(k);
            offset += segspec::size;
        }
    }
    return out;
}

}  // namespace engine
