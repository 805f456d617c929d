#include "Sha256.h"

Sha256::Sha256()
{
    // The hash functions work without it; it only picks the fastest implementation once.
    static const int initialised = sodium_init();
    (void)initialised;
    crypto_hash_sha256_init(&m_state);
}

void Sha256::update(const uint8_t* data, size_t size)
{
    crypto_hash_sha256_update(&m_state, data, size);
}

std::array<uint8_t, 32> Sha256::finish()
{
    std::array<uint8_t, 32> digest {};
    crypto_hash_sha256_final(&m_state, digest.data());
    return digest;
}

std::string Sha256::hex(const uint8_t* data, size_t size)
{
    Sha256 sha;
    sha.update(data, size);
    const std::array<uint8_t, 32> digest = sha.finish();
    char text[2 * 32 + 1];
    sodium_bin2hex(text, sizeof text, digest.data(), digest.size());
    return text;
}
