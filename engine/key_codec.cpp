#include "engine/key_codec.h"

#include <algorithm>

namespace engine {
namespace {

void encodeSegment(const KeySegment& seg, const unsigned char* in, unsigned char* out) {
    const std::size_t n = seg.length;
    switch (seg.type) {
        case SegmentType::String:
            if (seg.caseInsensitive) {
                for (std::size_t i = 0; i < n; ++i) {
                    const unsigned char c = in[i];
                    out[i] = (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
                }
            } else {
                std::copy(in, in + n, out);
            }
            break;
        case SegmentType::Unsigned:
            std::reverse_copy(in, in + n, out);
            break;
        case SegmentType::Integer:
            std::reverse_copy(in, in + n, out);
            out[0] ^= 0x80;
            break;
    }
    if (seg.descending) {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(~out[i]);
    }
}

}  // namespace

void encodeKeyValue(const KeySpec& key, const unsigned char* value, unsigned char* out) {
    for (const KeySegment& seg : key.segments) {
        encodeSegment(seg, value, out);
        value += seg.length;
        out += seg.length;
    }
}

void extractKeyValue(const KeySpec& key, const unsigned char* record, unsigned char* out) {
    for (const KeySegment& seg : key.segments) {
        out = std::copy(record + seg.position, record + seg.position + seg.length, out);
    }
}

void encodeRecordKey(const KeySpec& key, const unsigned char* record, unsigned char* out) {
    for (const KeySegment& seg : key.segments) {
        encodeSegment(seg, record + seg.position, out);
        out += seg.length;
    }
}

}  // namespace engine
