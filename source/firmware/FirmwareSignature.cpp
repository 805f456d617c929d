#include "FirmwareSignature.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#ifndef TOVRAK_FIRMWARE_PUBLIC_KEYS
#define TOVRAK_FIRMWARE_PUBLIC_KEYS ""
#endif

namespace
{
const char kUntrustedPrefix[] = "untrusted comment: ";
const char kTrustedPrefix[] = "trusted comment: ";
constexpr size_t kPublicKeyBytes = 2 + kMinisignKeyIdSize + 32;
constexpr size_t kSignatureBytes = 2 + kMinisignKeyIdSize + 64;

bool sodiumReady() noexcept
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Strict base64 (standard alphabet, with padding) of exactly `size` bytes.
bool decodeBase64(std::string_view text, uint8_t* out, size_t size)
{
    if (!sodiumReady() || text.empty())
        return false;
    size_t length = 0;
    if (sodium_base642bin(out, size, text.data(), text.size(), nullptr, &length, nullptr,
                          sodium_base64_VARIANT_ORIGINAL)
        != 0)
        return false;
    return length == size;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// Splits off the next line (without LF or CR LF). False when no characters are left.
bool nextLine(std::string_view& text, std::string_view& line)
{
    if (text.empty())
        return false;
    const size_t end = text.find('\n');
    line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return true;
}

bool fail(std::string* why, const char* reason)
{
    if (why != nullptr)
        *why = reason;
    return false;
}

// The value of "file:" in minisign's default trusted comment, for the log.
std::string signedFileName(const std::string& comment)
{
    const size_t at = comment.find("file:");
    if (at == std::string::npos)
        return {};
    const size_t end = comment.find_first_of("\t ", at);
    return comment.substr(at + 5, end == std::string::npos ? std::string::npos : end - at - 5);
}
} // namespace

const char* signatureStateName(SignatureState state) noexcept
{
    switch (state)
    {
    case SignatureState::Unsigned: return "unsigned";
    case SignatureState::Malformed: return "malformed";
    case SignatureState::Unchecked: return "unchecked";
    case SignatureState::UnknownKey: return "unknown-key";
    case SignatureState::BadSignature: return "bad-signature";
    case SignatureState::BadComment: return "bad-comment";
    case SignatureState::Valid: return "valid";
    }
    return "unknown";
}

std::string keyIdText(const MinisignKeyId& id)
{
    // minisign prints the id as a little-endian 64-bit number.
    std::string text;
    char digits[3];
    for (size_t i = kMinisignKeyIdSize; i-- > 0;)
    {
        std::snprintf(digits, sizeof digits, "%02X", id[i]);
        text += digits;
    }
    return text;
}

bool parseMinisignPublicKey(std::string_view base64, MinisignPublicKey& key)
{
    uint8_t bytes[kPublicKeyBytes];
    if (!decodeBase64(base64, bytes, sizeof bytes) || bytes[0] != 'E' || bytes[1] != 'd')
        return false;
    std::memcpy(key.keyId.data(), bytes + 2, kMinisignKeyIdSize);
    std::memcpy(key.key.data(), bytes + 2 + kMinisignKeyIdSize, key.key.size());
    return true;
}

bool parseMinisignSignature(std::string_view text, MinisignSignature& signature, std::string* why)
{
    if (text.size() > kMaxSignatureFileSize)
        return fail(why, "the signature file is too large");
    if (text.find('\0') != std::string_view::npos)
        return fail(why, "the signature file holds a NUL byte");

    std::string_view lines[4];
    for (auto& line : lines)
        if (!nextLine(text, line))
            return fail(why, "the signature file ends early");
    // minisign ignores whatever follows; only empty lines are accepted here.
    if (text.find_first_not_of("\r\n") != std::string_view::npos)
        return fail(why, "the signature file has more than four lines");

    if (!startsWith(lines[0], kUntrustedPrefix))
        return fail(why, "the first line is not an untrusted comment");

    uint8_t bytes[kSignatureBytes];
    if (!decodeBase64(lines[1], bytes, sizeof bytes))
        return fail(why, "the signature line is not base64 of 74 bytes");
    if (bytes[0] == 'E' && bytes[1] == 'd')
        signature.prehashed = false;
    else if (bytes[0] == 'E' && bytes[1] == 'D')
        signature.prehashed = true;
    else
        return fail(why, "the signature's algorithm is not Ed25519");
    std::memcpy(signature.keyId.data(), bytes + 2, kMinisignKeyIdSize);
    std::memcpy(signature.signature.data(), bytes + 2 + kMinisignKeyIdSize, signature.signature.size());

    if (!startsWith(lines[2], kTrustedPrefix))
        return fail(why, "the third line is not a trusted comment");
    signature.trustedComment = std::string(lines[2].substr(sizeof kTrustedPrefix - 1));

    if (!decodeBase64(lines[3], signature.globalSignature.data(), signature.globalSignature.size()))
        return fail(why, "the global signature is not base64 of 64 bytes");
    return true;
}

bool TrustedKeys::fromText(std::string_view list, TrustedKeys& keys, std::string* why)
{
    TrustedKeys parsed;
    const std::string_view separators = " \t\r\n,;";
    size_t at = 0;
    while (at < list.size())
    {
        const size_t start = list.find_first_not_of(separators, at);
        if (start == std::string_view::npos)
            break;
        const size_t end = std::min(list.find_first_of(separators, start), list.size());
        MinisignPublicKey key;
        if (!parseMinisignPublicKey(list.substr(start, end - start), key))
        {
            if (why != nullptr)
                *why = "not a minisign public key: " + std::string(list.substr(start, end - start));
            return false;
        }
        parsed.m_keys.push_back(key);
        at = end;
    }
    keys = std::move(parsed);
    return true;
}

const TrustedKeys& TrustedKeys::ofBuild()
{
    // The build checks the setting's format, so this parse cannot fail in a configured build.
    static const TrustedKeys keys = [] {
        TrustedKeys parsed;
        TrustedKeys::fromText(TOVRAK_FIRMWARE_PUBLIC_KEYS, parsed);
        return parsed;
    }();
    return keys;
}

const MinisignPublicKey* TrustedKeys::find(const MinisignKeyId& id) const noexcept
{
    for (const auto& key : m_keys)
        if (key.keyId == id)
            return &key;
    return nullptr;
}

std::vector<std::string> TrustedKeys::keyIds() const
{
    std::vector<std::string> ids;
    for (const auto& key : m_keys)
        ids.push_back(keyIdText(key.keyId));
    return ids;
}

SignatureCheck checkFirmwareSignature(const uint8_t* data, size_t size, const std::string* signatureText,
                                      const TrustedKeys& keys)
{
    SignatureCheck check;
    if (signatureText == nullptr)
    {
        check.state = SignatureState::Unsigned;
        check.detail = "no signature file";
        return check;
    }

    MinisignSignature signature;
    if (!parseMinisignSignature(*signatureText, signature, &check.detail))
    {
        check.state = SignatureState::Malformed;
        return check;
    }
    check.keyId = keyIdText(signature.keyId);
    check.trustedComment = signature.trustedComment;

    if (keys.empty())
    {
        check.state = SignatureState::Unchecked;
        check.detail = "no trusted key in this build";
        return check;
    }
    const MinisignPublicKey* key = keys.find(signature.keyId);
    if (key == nullptr)
    {
        check.state = SignatureState::UnknownKey;
        check.detail = "signed by a key that is not trusted";
        return check;
    }
    if (!sodiumReady())
    {
        check.state = SignatureState::BadSignature;
        check.detail = "libsodium could not be initialised";
        return check;
    }

    int verified = -1;
    if (signature.prehashed)
    {
        uint8_t hash[crypto_generichash_BYTES_MAX];
        crypto_generichash(hash, sizeof hash, data, size, nullptr, 0);
        verified = crypto_sign_verify_detached(signature.signature.data(), hash, sizeof hash, key->key.data());
    }
    else
    {
        verified = crypto_sign_verify_detached(signature.signature.data(), data, size, key->key.data());
    }
    if (verified != 0)
    {
        check.state = SignatureState::BadSignature;
        const std::string signedName = signedFileName(signature.trustedComment);
        check.detail = "the signature does not match the file's bytes";
        if (!signedName.empty())
            check.detail += " (it names the file \"" + signedName + "\")";
        return check;
    }

    // The global signature covers the file's signature followed by the trusted comment.
    std::vector<uint8_t> signedText(signature.signature.begin(), signature.signature.end());
    signedText.insert(signedText.end(), signature.trustedComment.begin(), signature.trustedComment.end());
    if (crypto_sign_verify_detached(signature.globalSignature.data(), signedText.data(), signedText.size(),
                                    key->key.data())
        != 0)
    {
        check.state = SignatureState::BadComment;
        check.detail = "the trusted comment was changed after signing";
        return check;
    }
    check.state = SignatureState::Valid;
    check.detail = "valid signature";
    return check;
}
