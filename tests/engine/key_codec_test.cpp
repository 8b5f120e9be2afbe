#include "engine/key_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "engine/api.h"
#include "engine_test_support.h"

namespace {

using engine_test::makeDescription;

engine::KeySpec keyOf(const std::string& description) {
    engine::FileDescription d;
    EXPECT_EQ(engine::parseDescription(coding::bytes(description), description.size(), d), 0);
    return d.keys.at(0);
}

int sign(int v) {
    return (v > 0) - (v < 0);
}

// The order of two values by their order-preserving forms.
int encodedOrder(const engine::KeySpec& key, const std::string& a, const std::string& b) {
    std::string ea(key.length, '\0'), eb(key.length, '\0');
    engine::encodeKeyValue(key, coding::bytes(a), coding::bytes(ea));
    engine::encodeKeyValue(key, coding::bytes(b), coding::bytes(eb));
    return sign(std::memcmp(ea.data(), eb.data(), key.length));
}

std::string littleEndian(std::uint64_t v, std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

TEST(KeyCodec, SignedIntegersOrderNumerically) {
    std::mt19937_64 random(7);
    for (std::uint16_t n : {1, 2, 4, 8}) {
        for (bool descending : {false, true}) {
            const auto key = keyOf(makeDescription(
                16, {{{1, n, static_cast<std::uint16_t>(0x0100 | (descending ? 0x0040 : 0)), 1}}}));
            const std::int64_t lo = n == 8 ? INT64_MIN : -(std::int64_t{1} << (8 * n - 1));
            const std::int64_t hi = n == 8 ? INT64_MAX : (std::int64_t{1} << (8 * n - 1)) - 1;
            std::vector<std::int64_t> values = {lo, lo + 1, -1, 0, 1, hi - 1, hi};
            for (int i = 0; i < 200; ++i) {
                // A random value of n bytes, sign-extended.
                const int shift = 64 - 8 * n;
                values.push_back(static_cast<std::int64_t>(random() << shift) >> shift);
            }
            for (std::int64_t a : values) {
                for (std::int64_t b :
                     {lo, std::int64_t{-1}, std::int64_t{0}, hi, values[values.size() / 2]}) {
                    const int expected = sign((a > b) - (a < b)) * (descending ? -1 : 1);
                    ASSERT_EQ(encodedOrder(key, littleEndian(static_cast<std::uint64_t>(a), n),
                                           littleEndian(static_cast<std::uint64_t>(b), n)),
                              expected)
                        << "n=" << n << " a=" << a << " b=" << b;
                }
            }
        }
    }
}

TEST(KeyCodec, UnsignedNumbersOfAnyLengthOrderNumerically) {
    std::mt19937_64 random(11);
    for (std::uint16_t n : {1, 2, 3, 4, 6, 8}) {
        for (const auto& seg :
             {engine_test::Seg{1, n, 0x0004}, engine_test::Seg{1, n, 0x0100, 14}}) {
            const auto key = keyOf(makeDescription(16, {{seg}}));
            const std::uint64_t max = n == 8 ? UINT64_MAX : (std::uint64_t{1} << (8 * n)) - 1;
            std::vector<std::uint64_t> values = {0, 1, 255, 256 & max, max - 1, max};
            for (int i = 0; i < 200; ++i) values.push_back(random() & max);
            for (std::uint64_t a : values) {
                for (std::uint64_t b : {std::uint64_t{0}, std::uint64_t{1}, max, values[7]}) {
                    ASSERT_EQ(encodedOrder(key, littleEndian(a, n), littleEndian(b, n)),
                              sign((a > b) - (a < b)))
                        << "n=" << n << " a=" << a << " b=" << b;
                }
            }
        }
    }
}

TEST(KeyCodec, StringsOrderByBytesAndIgnoreCaseWhenAsked) {
    const auto plain = keyOf(makeDescription(8, {{{1, 4}}}));
    const auto folded = keyOf(makeDescription(8, {{{1, 4, 0x0400}}}));
    const auto down = keyOf(makeDescription(8, {{{1, 4, 0x0040}}}));
    EXPECT_EQ(encodedOrder(plain, "abcd", "abce"), -1);
    EXPECT_EQ(encodedOrder(plain, "Zzzz", "aaaa"), -1);    // byte order: upper before lower
    EXPECT_EQ(encodedOrder(plain, "\x80xyz", "zzzz"), 1);  // bytes are unsigned
    EXPECT_EQ(encodedOrder(folded, "ABCD", "abcd"), 0);
    EXPECT_EQ(encodedOrder(folded, "Zzzz", "aaaa"), 1);
    EXPECT_EQ(encodedOrder(folded, "a[cd", "A{CD"), -1);  // only letters fold
    EXPECT_EQ(encodedOrder(down, "abcd", "abce"), 1);
}

TEST(KeyCodec, SegmentsCompareInTurnEachWithItsOwnOrder) {
    // A string segment, then a descending signed 2-byte number.
    const auto key = keyOf(makeDescription(8, {{{1, 2}, {3, 2, 0x0100 | 0x0040, 1}}}));
    EXPECT_EQ(encodedOrder(key, "AA" + littleEndian(5, 2), "AB" + littleEndian(9, 2)), -1);
    EXPECT_EQ(encodedOrder(key, "AA" + littleEndian(5, 2), "AA" + littleEndian(9, 2)), 1);
    EXPECT_EQ(encodedOrder(key, "AA" + littleEndian(static_cast<std::uint64_t>(-3), 2),
                           "AA" + littleEndian(2, 2)),
              1);
}

TEST(KeyCodec, RecordKeysGatherTheSegmentsInKeyOrder) {
    const auto key = keyOf(makeDescription(10, {{{7, 3}, {2, 2, 0x0004}}}));
    const std::string record = "0ab345xyz9";
    std::string value(key.length, '\0');
    engine::extractKeyValue(key, coding::bytes(record), coding::bytes(value));
    EXPECT_EQ(value, "xyzab");
    std::string fromRecord(key.length, '\0'), fromValue(key.length, '\0');
    engine::encodeRecordKey(key, coding::bytes(record), coding::bytes(fromRecord));
    engine::encodeKeyValue(key, coding::bytes(value), coding::bytes(fromValue));
    EXPECT_EQ(fromRecord, fromValue);
    EXPECT_EQ(fromRecord, "xyzba");  // the binary segment reversed
}

}  // namespace
