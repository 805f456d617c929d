#pragma once

#include <cstddef>
#include <cstdint>

// Little-endian access to byte-exact records (files and device reports). Records are kept as
// bytes and read or written field by field through these, never by casting structs.
namespace le
{
inline uint16_t read16(const uint8_t* p) noexcept
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t read32(const uint8_t* p) noexcept
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16)
         | (static_cast<uint32_t>(p[3]) << 24);
}

inline void write16(uint8_t* p, uint16_t value) noexcept
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

inline void write32(uint8_t* p, uint32_t value) noexcept
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

// 32-bit sum of unsigned byte values, wrapping modulo 2^32.
inline uint32_t byteSum(const uint8_t* p, size_t count) noexcept
{
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += p[i];
    return sum;
}
} // namespace le
