#include "engine/key_codec.h"

#include <algorithm>
#include <cstdint>

namespace engine {
namespace {

// Writes `digits` (values 0..15, most significant first) after a sign
// nibble (0 negative, 1 positive; the digits of a negative number
// complemented) as packed nibbles, zero bytes after them, `n` bytes in all.
void packSigned(bool negative, const unsigned char* digits, std::size_t count, unsigned char* out,
                std::size_t n) {
    std::fill(out, out + n, 0);
    auto put = [&](std::size_t i, unsigned v) {
        if (i / 2 >= n) return;
        out[i / 2] = static_cast<unsigned char>(out[i / 2] | (i % 2 == 0 ? v << 4 : v));
    };
    put(0, negative ? 0u : 1u);
    for (std::size_t i = 0; i < count; ++i) {
        put(i + 1, negative ? 15u - digits[i] : digits[i]);
    }
}

// A sign-magnitude number (bit `bits - 1` the sign) in an order-preserving,
// big-endian form of `bytes` bytes.
void signMagnitude(std::uint64_t v, unsigned bits, unsigned char* out, std::size_t bytes) {
    const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
    const std::uint64_t mask = bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
    v = (v & sign) != 0 ? (~v & mask) : (v | sign);
    for (std::size_t i = 0; i < bytes; ++i) {
        out[bytes - 1 - i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

std::uint64_t littleEndian(const unsigned char* in, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(in[i]) << (8 * i);
    return v;
}

unsigned char textByte(const KeySegment& seg, unsigned char c) {
    if (!seg.order.empty()) return static_cast<unsigned char>(seg.order[c]);
    if (seg.caseInsensitive && c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
    return c;
}

// Text of `length` bytes, then zero bytes up to `n`.
void encodeText(const KeySegment& seg, const unsigned char* in, std::size_t length,
                unsigned char* out, std::size_t n) {
    for (std::size_t i = 0; i < length; ++i) out[i] = textByte(seg, in[i]);
    std::fill(out + length, out + n, 0);
}

void encodeSegment(const KeySegment& seg, const unsigned char* in, unsigned char* out) {
    const std::size_t n = seg.length;
    switch (seg.type) {
        case SegmentType::String: encodeText(seg, in, n, out, n); break;
        case SegmentType::LString:
            encodeText(seg, in + 1, std::min<std::size_t>(in[0], n - 1), out, n);
            break;
        case SegmentType::ZString:
            encodeText(seg, in, static_cast<std::size_t>(std::find(in, in + n, 0) - in), out, n);
            break;
        case SegmentType::Unsigned: std::reverse_copy(in, in + n, out); break;
        case SegmentType::Integer:
            std::reverse_copy(in, in + n, out);
            out[0] ^= 0x80;
            break;
        case SegmentType::Float:
            // IEEE: a negative number's bits all turn, a positive one's sign.
            signMagnitude(littleEndian(in, n), static_cast<unsigned>(8 * n), out, n);
            break;
        case SegmentType::BFloat: {
            // Microsoft binary format: the exponent in the last byte (0: the
            // number is 0), the sign in the top bit of the byte before it.
            const std::uint64_t raw = littleEndian(in, n);
            const unsigned bits = static_cast<unsigned>(8 * n);
            const std::uint64_t exponent = raw >> (bits - 8);
            const std::uint64_t sign = (raw >> (bits - 9)) & 1;
            const std::uint64_t mantissa = raw & ((std::uint64_t{1} << (bits - 9)) - 1);
            const std::uint64_t v =
                exponent == 0 ? 0 : (sign << (bits - 1)) | (exponent << (bits - 9)) | mantissa;
            signMagnitude(v, bits, out, n);
            break;
        }
        case SegmentType::AutoIncrement: {
            // By absolute value: the magnitude, unsigned and big-endian.
            std::uint64_t v = littleEndian(in, n);
            const unsigned bits = static_cast<unsigned>(8 * n);
            if (((v >> (bits - 1)) & 1) != 0) {
                const std::uint64_t mask =
                    bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
                v = (~v + 1) & mask;
            }
            for (std::size_t i = 0; i < n; ++i) {
                out[n - 1 - i] = static_cast<unsigned char>(v >> (8 * i));
            }
            break;
        }
        case SegmentType::Date:  // year, month, day
            out[0] = in[3];
            out[1] = in[2];
            out[2] = in[1];
            out[3] = in[0];
            break;
        case SegmentType::Time:  // hours, minutes, seconds, hundredths
            std::reverse_copy(in, in + n, out);
            break;
        case SegmentType::Decimal: {
            unsigned char digits[2 * maxKeyLength];
            const std::size_t count = 2 * n - 1;
            for (std::size_t i = 0; i < count; ++i) {
                digits[i] =
                    static_cast<unsigned char>(i % 2 == 0 ? in[i / 2] >> 4 : in[i / 2] & 0x0F);
            }
            const unsigned sign = in[n - 1] & 0x0F;
            packSigned(sign == 0x0D || sign == 0x0B, digits, count, out, n);
            break;
        }
        case SegmentType::Numeric: {
            unsigned char digits[maxKeyLength];
            bool negative = false;
            for (std::size_t i = 0; i < n; ++i) {
                unsigned char c = in[i];
                if (i + 1 == n) {
                    if (c == '{')
                        c = '0';
                    else if (c >= 'A' && c <= 'I')
                        c = static_cast<unsigned char>('1' + (c - 'A'));
                    else if (c == '}') {
                        c = '0';
                        negative = true;
                    } else if (c >= 'J' && c <= 'R') {
                        c = static_cast<unsigned char>('1' + (c - 'J'));
                        negative = true;
                    }
                }
                digits[i] = (c >= '0' && c <= '9') ? static_cast<unsigned char>(c - '0') : 0;
            }
            packSigned(negative, digits, n, out, n);
            break;
        }
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

bool keyIsNull(const KeySpec& key, const unsigned char* record) {
    if (key.nulls == NullKey::None) return false;
    auto segmentNull = [&](const KeySegment& seg) {
        const unsigned char* p = record + seg.position;
        return std::all_of(p, p + seg.length, [&](unsigned char c) { return c == seg.nullValue; });
    };
    return key.nulls == NullKey::AllSegments
               ? std::all_of(key.segments.begin(), key.segments.end(), segmentNull)
               : std::any_of(key.segments.begin(), key.segments.end(), segmentNull);
}

}  // namespace engine
