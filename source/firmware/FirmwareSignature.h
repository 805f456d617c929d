#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Signatures of firmware files in minisign's format (Ed25519), checked with libsodium.
//
// A signature is the text file "<image>.minisig" beside the image, as `minisign -S -m <image>`
// writes it: an untrusted comment line, the signature (algorithm "Ed" over the file's bytes, or
// "ED" over their BLAKE2b-512 hash), a trusted comment line, and the global signature over the
// signature and the trusted comment. The keys the program trusts are minisign public keys (the
// "RW..." text of a .pub file), set when the program is built.

// What the check of one image found.
enum class SignatureState
{
    Unsigned,     // no signature file beside the image
    Malformed,    // the signature file is too large or not in minisign's format
    Unchecked,    // a well-formed signature, but the program trusts no key at all
    UnknownKey,   // signed by a key that the program does not trust
    BadSignature, // the signature does not cover these bytes (changed file, or another file's)
    BadComment,   // the trusted comment was changed after signing
    Valid         // signed by a trusted key, bytes and trusted comment intact
};

// "unsigned", "malformed", "unchecked", "unknown-key", "bad-signature", "bad-comment", "valid".
const char* signatureStateName(SignatureState state) noexcept;

constexpr size_t kMinisignKeyIdSize = 8;
using MinisignKeyId = std::array<uint8_t, kMinisignKeyIdSize>;

// The key id as minisign prints it: 16 upper-case hexadecimal digits.
std::string keyIdText(const MinisignKeyId& id);

struct MinisignPublicKey
{
    MinisignKeyId keyId {};
    std::array<uint8_t, 32> key {};
};

// A public key from its base64 text ("RW..." , 56 characters). False when the text is not one.
bool parseMinisignPublicKey(std::string_view base64, MinisignPublicKey& key);

// Signature files larger than this are refused unread: minisign's own lines take about 300
// bytes; the rest is room for long file names in the trusted comment.
constexpr size_t kMaxSignatureFileSize = 1024;

struct MinisignSignature
{
    bool prehashed = false; // "ED": the signature covers the BLAKE2b-512 hash of the file
    MinisignKeyId keyId {};
    std::array<uint8_t, 64> signature {};
    std::string trustedComment;
    std::array<uint8_t, 64> globalSignature {};
};

// Parses the text of a .minisig file strictly: four lines (LF or CR LF, the last line end
// optional, empty lines after them allowed), the two comment prefixes, base64 of exactly the
// right length, a known algorithm, no NUL byte.
// False with the reason in `why` otherwise.
bool parseMinisignSignature(std::string_view text, MinisignSignature& signature, std::string* why = nullptr);

// The public keys that decide which images are loaded. Empty: every valid image is loaded, as
// in a program without signatures; signatures are then only reported.
class TrustedKeys
{
public:
    TrustedKeys() = default;

    // Keys from a list of base64 texts separated by white space, commas or semicolons. False
    // (and no key taken) when one of them is not a key.
    static bool fromText(std::string_view list, TrustedKeys& keys, std::string* why = nullptr);

    // The keys this program was built with (the TOVRAK_FIRMWARE_PUBLIC_KEYS build setting).
    static const TrustedKeys& ofBuild();

    bool empty() const noexcept { return m_keys.empty(); }
    const MinisignPublicKey* find(const MinisignKeyId& id) const noexcept;
    // The key ids, in the order the keys were given.
    std::vector<std::string> keyIds() const;

private:
    std::vector<MinisignPublicKey> m_keys;
};

struct SignatureCheck
{
    SignatureState state = SignatureState::Unsigned;
    std::string keyId;          // of the signature, when it could be parsed
    std::string trustedComment; // as signed (meaningful only when the state is Valid)
    std::string detail;         // why, in words, for the log
};

// Checks a file's bytes against the text of its signature file (nullptr: there is none).
SignatureCheck checkFirmwareSignature(const uint8_t* data, size_t size, const std::string* signatureText,
                                      const TrustedKeys& keys);
