#include "tools/fields.h"

#include <charconv>
#include <cstdint>

#include "platform/coding.h"
#include "tools/error.h"

namespace nubodat {
namespace {

constexpr unsigned char kPackedZero = 128;
constexpr unsigned char kPackedMax = 128 + 99;

bool isPacked(unsigned char b) {
    return b >= kPackedZero && b <= kPackedMax;
}
int pairOf(unsigned char b) {
    return b - kPackedZero;
}
char packedPair(int v) {
    return static_cast<char>(kPackedZero + v);
}

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
bool isCalendarDate(int y, int m, int d) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1) return false;
    return d <= days[m - 1] + (m == 2 && isLeap(y) ? 1 : 0);
}

std::string padded(long v, int width) {
    std::string s = std::to_string(v);
    if (static_cast<int>(s.size()) < width)
        s.insert(0, static_cast<std::size_t>(width) - s.size(), '0');
    return s;
}

// A printable letter that reads back as itself in a CSV field.
bool isPlainLetter(unsigned char b) {
    return b > ' ' && b < 127 && b != '#' && b != ',' && b != '"';
}

std::string trimmed(const std::string& s) {
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The raw bytes of the field, in the order fieldByteOffset gives.
std::string rawBytes(const Field& f, const std::string& record) {
    std::string out;
    for (std::size_t i = 0; i < fieldWidth(f); ++i) out += record[fieldByteOffset(f, i)];
    return out;
}

[[noreturn]] void bad(const Field& f, const std::string& text, const std::string& why,
                      const std::string& origin, long line) {
    fail(origin, line, "field \"" + std::string(f.name) + "\": \"" + text + "\" " + why);
}

// A decimal integer from `min` to `max`: digits with an optional minus sign.
long long integer(const Field& f, const std::string& text, long long min, long long max,
                  const std::string& origin, long line) {
    long long v = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, v);
    const bool digitsOnly = !text.empty() && end == last && text != "-";
    if (!digitsOnly || (ec != std::errc() && ec != std::errc::result_out_of_range))
        bad(f, text, "is not a whole number", origin, line);
    if (ec == std::errc::result_out_of_range || v < min || v > max)
        bad(f, text, "is outside " + std::to_string(min) + " to " + std::to_string(max), origin,
            line);
    return v;
}

}  // namespace

std::string toHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool fromHex(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned v = 0;
        const auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, v, 16);
        if (ec != std::errc() || end != hex.data() + i + 2) return false;
        bytes += static_cast<char>(v);
    }
    return true;
}

std::size_t fieldWidth(const Field& f) {
    switch (f.kind) {
        case FieldKind::Number: return 2;
        case FieldKind::Series: return 2;
        case FieldKind::Date: return 4;
        case FieldKind::Issue: return 1;
        case FieldKind::Int16: return 2;
        case FieldKind::Int32: return 4;
        case FieldKind::Letter: return 1;
    }
    return 0;
}

std::size_t fieldByteOffset(const Field& f, std::size_t i) {
    if (f.kind == FieldKind::Series) return i == 0 ? f.offset : f.offset2;
    return f.offset + i;
}

std::string renderField(const Field& f, const std::string& record) {
    const std::string raw = rawBytes(f, record);
    const auto* b = coding::bytes(raw);
    switch (f.kind) {
        case FieldKind::Number:
            if (isPacked(b[0]) && isPacked(b[1]))
                return std::to_string(pairOf(b[0]) * 100 + pairOf(b[1]));
            break;
        case FieldKind::Series:
            if (isPacked(b[0]) && isPacked(b[1]))
                return padded(pairOf(b[0]) * 100 + pairOf(b[1]), 4);
            break;
        case FieldKind::Date: {
            if (raw == std::string(4, static_cast<char>(kPackedZero))) return "";
            if (!isPacked(b[0]) || !isPacked(b[1]) || !isPacked(b[2]) || !isPacked(b[3])) break;
            const int year = pairOf(b[0]) * 100 + pairOf(b[1]);
            if (!isCalendarDate(year, pairOf(b[2]), pairOf(b[3]))) break;
            return padded(pairOf(b[3]), 2) + "/" + padded(pairOf(b[2]), 2) + "/" + padded(year, 4);
        }
        case FieldKind::Issue:
            if (b[0] == ' ') return "";
            if (isPacked(b[0])) return padded(pairOf(b[0]), 2);
            break;
        case FieldKind::Int16: return std::to_string(coding::getI16(b));
        case FieldKind::Int32: return std::to_string(coding::getI32(b));
        case FieldKind::Letter:
            if (b[0] == ' ') return "";
            if (isPlainLetter(b[0])) return std::string(1, static_cast<char>(b[0]));
            break;
    }
    return "#" + toHex(raw);
}

void parseField(const Field& f, const std::string& input, std::string& record,
                const std::string& origin, long line) {
    const std::string text = trimmed(input);
    std::string raw(fieldWidth(f), '\0');
    auto* b = coding::bytes(raw);
    if (!text.empty() && text[0] == '#') {
        std::string bytes;
        if (!fromHex(text.substr(1), bytes) || bytes.size() != raw.size())
            bad(f, text,
                "is not \"#\" and the " + std::to_string(2 * raw.size()) +
                    " hexadecimal digits of the field's bytes",
                origin, line);
        raw = bytes;
    } else {
        switch (f.kind) {
            case FieldKind::Number:
            case FieldKind::Series: {
                if (text.empty() || text[0] == '-' || text[0] == '+')
                    bad(f, text, "is not a number from 0 to 9999", origin, line);
                const long long v = integer(f, text, 0, 9999, origin, line);
                raw[0] = packedPair(static_cast<int>(v / 100));
                raw[1] = packedPair(static_cast<int>(v % 100));
                break;
            }
            case FieldKind::Date: {
                if (text.empty()) {
                    raw.assign(4, static_cast<char>(kPackedZero));
                    break;
                }
                int d = 0, m = 0, y = 0;
                const std::size_t s1 = text.find('/');
                const std::size_t s2 = s1 == std::string::npos ? s1 : text.find('/', s1 + 1);
                auto part = [&](std::size_t from, std::size_t to, int maxDigits, int& out) {
                    const std::string p = text.substr(from, to - from);
                    if (p.empty() || static_cast<int>(p.size()) > maxDigits) return false;
                    for (char c : p)
                        if (c < '0' || c > '9') return false;
                    out = std::stoi(p);
                    return true;
                };
                if (s2 == std::string::npos || !part(0, s1, 2, d) || !part(s1 + 1, s2, 2, m) ||
                    text.size() - s2 - 1 != 4 || !part(s2 + 1, text.size(), 4, y) ||
                    !isCalendarDate(y, m, d))
                    bad(f, text, "is not a date DD/MM/YYYY", origin, line);
                raw[0] = packedPair(y / 100);
                raw[1] = packedPair(y % 100);
                raw[2] = packedPair(m);
                raw[3] = packedPair(d);
                break;
            }
            case FieldKind::Issue:
                if (text.empty()) {
                    raw[0] = ' ';
                } else {
                    if (text.size() > 2 || text[0] == '-' || text[0] == '+')
                        bad(f, text, "is not an issue number from 0 to 99", origin, line);
                    raw[0] = packedPair(static_cast<int>(integer(f, text, 0, 99, origin, line)));
                }
                break;
            case FieldKind::Int16:
                coding::putI16(b, static_cast<std::int16_t>(
                                      integer(f, text, INT16_MIN, INT16_MAX, origin, line)));
                break;
            case FieldKind::Int32:
                coding::putI32(b, static_cast<std::int32_t>(
                                      integer(f, text, INT32_MIN, INT32_MAX, origin, line)));
                break;
            case FieldKind::Letter:
                if (text.empty()) {
                    raw[0] = ' ';
                } else if (text.size() == 1 && isPlainLetter(static_cast<unsigned char>(text[0]))) {
                    raw[0] = text[0];
                } else {
                    bad(f, text, "is not one letter", origin, line);
                }
                break;
        }
    }
    for (std::size_t i = 0; i < raw.size(); ++i) record[fieldByteOffset(f, i)] = raw[i];
}

}  // namespace nubodat
