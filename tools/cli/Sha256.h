#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include <sodium.h>

// SHA-256 of a byte string, fed in pieces (libsodium's). The station records the hash of every
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
    crypto_hash_sha256_state m_state;
};
