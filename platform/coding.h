// Fixed-width little-endian fields in byte areas: the one place where record
// fields, file headers and record-manager buffers are encoded and decoded.
// Callers check that offset + width lies inside the area before calling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace coding {

inline std::uint16_t getU16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t getI16(const unsigned char* p) {
    return static_cast<std::int16_t>(getU16(p));
}

inline std::uint32_t getU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t getI32(const unsigned char* p) {
    return static_cast<std::int32_t>(getU32(p));
}

inline std::uint64_t getU64(const unsigned char* p) {
    return static_cast<std::uint64_t>(getU32(p)) |
           (static_cast<std::uint64_t>(getU32(p + 4)) << 32);
}

// Big-endian fields, for headers of formats that define them so (SQLite's).
inline std::uint16_t getBigU16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t getBigU32(const unsigned char* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

inline void putU16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void putI16(unsigned char* p, std::int16_t v) {
    putU16(p, static_cast<std::uint16_t>(v));
}

inline void putU32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
inline void putI32(unsigned char* p, std::int32_t v) {
    putU32(p, static_cast<std::uint32_t>(v));
}

inline void putU64(unsigned char* p, std::uint64_t v) {
    putU32(p, static_cast<std::uint32_t>(v));
    putU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// The same helpers over std::string used as a byte string.
inline const unsigned char* bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}
inline unsigned char* bytes(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}

}  // namespace coding
