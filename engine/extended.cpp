#include "engine/extended.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/api.h"
#include "engine/key_codec.h"
#include "platform/coding.h"

namespace engine {
namespace {

// A one-segment key over the field at `offset`, ordered as `type` orders.
std::int16_t fieldKey(std::uint8_t type, std::uint16_t length, std::uint16_t offset,
                      bool caseInsensitive, std::uint16_t recordLength, KeySpec& out) {
    if (length == 0 || length > maxKeyLength || offset + length > recordLength) {
        return status::incorrectDescriptor;
    }
    KeySegment seg;
    seg.position = offset;
    seg.length = length;
    seg.extendedType = type;
    seg.flags = static_cast<std::uint16_t>(keyflag::extendedType |
                                           (caseInsensitive ? keyflag::caseInsensitive : 0));
    if (segmentType(seg, seg.type) != status::ok) return status::incorrectDescriptor;
    seg.caseInsensitive = caseInsensitive;
    out = KeySpec{};
    out.segments.push_back(seg);
    out.length = length;
    return status::ok;
}

bool compares(int order, std::uint8_t comparison) {
    switch (comparison) {
        case 1: return order == 0;
        case 2: return order > 0;
        case 3: return order < 0;
        case 4: return order != 0;
        case 5: return order >= 0;
        case 6: return order <= 0;
        default: return false;
    }
}

}  // namespace

std::int16_t parseExtendedDescriptor(const unsigned char* data, std::uint32_t offered,
                                     std::uint16_t recordLength, ExtendedDescriptor& out) {
    out = ExtendedDescriptor{};
    if (data == nullptr || offered < extended::headerSize + 4) return status::incorrectDescriptor;
    const std::size_t length = coding::getU16(data);
    if (length > offered || length < extended::headerSize + 8) return status::incorrectDescriptor;
    if (data[2] == 'E' && data[3] == 'G') {
        out.fromCurrent = false;
    } else if (data[2] == 'U' && data[3] == 'C') {
        out.fromCurrent = true;
    } else {
        return status::incorrectDescriptor;
    }
    std::size_t at = extended::headerSize;
    auto need = [&](std::size_t n) { return length - at >= n; };
    out.maxReject = coding::getU16(data + at);
    const std::uint16_t terms = coding::getU16(data + at + 2);
    at += 4;
    for (std::uint16_t t = 0; t < terms; ++t) {
        if (!need(extended::termSize)) return status::incorrectDescriptor;
        const unsigned char* p = data + at;
        const std::uint8_t type = p[0];
        const std::uint16_t fieldLength = coding::getU16(p + 1);
        const std::uint16_t offset = coding::getU16(p + 3);
        const std::uint8_t code = p[5];
        FilterTerm term;
        term.connector = p[6];
        term.comparison = static_cast<std::uint8_t>(code & extended::compareMask);
        term.againstField = (code & extended::againstField) != 0;
        at += extended::termSize;
        if ((code & extended::alternateCollation) != 0 || term.comparison < 1 ||
            term.comparison > 6) {
            return status::incorrectDescriptor;
        }
        const bool last = t + 1 == terms;
        if (last ? term.connector != extended::lastTerm
                 : term.connector != extended::andTerm && term.connector != extended::orTerm) {
            return status::incorrectDescriptor;
        }
        const bool folded = (code & extended::caseInsensitive) != 0;
        if (const std::int16_t st =
                fieldKey(type, fieldLength, offset, folded, recordLength, term.field);
            st != status::ok) {
            return st;
        }
        if (term.againstField) {
            if (!need(2)) return status::incorrectDescriptor;
            const std::uint16_t otherOffset = coding::getU16(data + at);
            at += 2;
            if (const std::int16_t st =
                    fieldKey(type, fieldLength, otherOffset, folded, recordLength, term.other);
                st != status::ok) {
                return st;
            }
        } else {
            if (!need(fieldLength)) return status::incorrectDescriptor;
            term.value.resize(fieldLength);
            encodeKeyValue(term.field, data + at, coding::bytes(term.value));
            at += fieldLength;
        }
        out.terms.push_back(std::move(term));
    }
    if (!need(4)) return status::incorrectDescriptor;
    out.records = coding::getU16(data + at);
    const std::uint16_t fields = coding::getU16(data + at + 2);
    at += 4;
    if (out.records == 0 || fields == 0) return status::incorrectDescriptor;
    for (std::uint16_t f = 0; f < fields; ++f) {
        if (!need(4)) return status::incorrectDescriptor;
        const std::uint16_t fieldLength = coding::getU16(data + at);
        const std::uint16_t offset = coding::getU16(data + at + 2);
        at += 4;
        if (fieldLength == 0 || offset + fieldLength > recordLength) {
            return status::incorrectDescriptor;
        }
        out.fields.emplace_back(offset, fieldLength);
        out.extractedLength += fieldLength;
    }
    if (out.answerSize() > offered) return status::dataBufferTooShort;
    return status::ok;
}

bool filterMatches(const ExtendedDescriptor& d, const unsigned char* record) {
    bool result = true;
    std::uint8_t joiner = extended::andTerm;
    std::array<unsigned char, maxKeyLength> mine{}, theirs{};
    for (const FilterTerm& term : d.terms) {
        encodeRecordKey(term.field, record, mine.data());
        const unsigned char* against = nullptr;
        if (term.againstField) {
            encodeRecordKey(term.other, record, theirs.data());
            against = theirs.data();
        } else {
            against = coding::bytes(term.value);
        }
        const int order = std::memcmp(mine.data(), against, term.field.length);
        const bool passes = compares(order, term.comparison);
        result = joiner == extended::andTerm ? result && passes : result || passes;
        joiner = term.connector;
    }
    return result;
}

void extractFields(const ExtendedDescriptor& d, const unsigned char* record, unsigned char* out) {
    for (const auto& [offset, length] : d.fields) {
        out = std::copy(record + offset, record + offset + length, out);
    }
}

}  // namespace engine
