#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 (FIPS 180-4) of a byte string, fed in pieces. The station records the hash of every
// firmware file it flashes, so that a record line names the exact file.
class Sha256
{
public:
    Sha256();
    void update(const uint8_t* data, size_t size);
    // The digest; the object is used up afterwards.
    std::array<uint8_t, 32> finish();

    // The digest of the bytes as 64 lower-case hexadecimal digits.
    static std::string hex(const uint8_t* data, size_t size);

private:
    void block(const uint8_t* chunk);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_buffer {};
    size_t m_buffered = 0;
    uint64_t m_length = 0; // bytes fed so far
};
