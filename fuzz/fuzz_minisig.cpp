// Feeds arbitrary bytes to the minisign signature parser and checker, as the text of a
// "<image>.minisig" file, against fixed firmware bytes and the demo key; and to the public key
// parser. A malformed input must never crash, and must never pass: the only inputs that check as
// valid are the two signatures this target was seeded with (their untrusted comments and line
// ends may differ, which the signatures do not cover).
#include "FirmwareSignature.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{
const char kMessage[] = "firmware bytes that the fuzz target checks its inputs against\n";
const char kDemoPublicKey[] = "RWQeFrL8WvfAWMTAq3OyPrqWISAePgAy9EbabXZc/Q3VljCIyqpBJ50Q";

// The seeds of fuzz/corpus/fuzz_minisig (made with minisign -S and -S -l over kMessage).
const char kPrehashedSeed[] =
    "untrusted comment: signature from minisign secret key\n"
    "RUQeFrL8WvfAWMbQfHqouk/y7eUpWWrSsSCIqo8PKAuXuZLiGNAHesXLbnSqW/La/CqBzstSLodZ23E7xkty/HAcCBwe0sh7FQk=\n"
    "trusted comment: file:fuzzmsg.bin seed\n"
    "0X2nYdPagmWO4sK0K/5ExmsxOe7dDOIJ9KqDB3QIk8h7od10aqcg+g7MXhAm3coqd636Nzs7YuCXY2vwp6ZJBQ==\n";
const char kLegacySeed[] =
    "untrusted comment: signature from minisign secret key\n"
    "RWQeFrL8WvfAWMT47BzXwAdNKSSB77cCY75bqrq9qyzmtZTeZRzX6CZOzJMbzEjoFpKIKXOK49j3q93WlENq1MztJFxYN7JJKAE=\n"
    "trusted comment: file:fuzzmsg.bin legacy seed\n"
    "TyjEkk0adk/tJI51QJYhgSBaxmRdmME4EQKCOUk91pXBV4UcRzvooFc1DBUnJPPzrY7MkmawSQ4YvCkokWUxAQ==\n";

bool sameSignature(const MinisignSignature& a, const MinisignSignature& b)
{
    return a.prehashed == b.prehashed && a.keyId == b.keyId && a.signature == b.signature
        && a.trustedComment == b.trustedComment && a.globalSignature == b.globalSignature;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TrustedKeys keys;
    static MinisignSignature seeds[2];
    static const bool ready = TrustedKeys::fromText(kDemoPublicKey, keys)
                           && parseMinisignSignature(kPrehashedSeed, seeds[0])
                           && parseMinisignSignature(kLegacySeed, seeds[1]);
    if (!ready)
        std::abort();

    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto* message = reinterpret_cast<const uint8_t*>(kMessage);
    const size_t messageSize = sizeof kMessage - 1;

    const SignatureCheck check = checkFirmwareSignature(message, messageSize, &text, keys);
    if (check.state == SignatureState::Valid)
    {
        MinisignSignature parsed;
        if (!parseMinisignSignature(text, parsed) || !(sameSignature(parsed, seeds[0]) || sameSignature(parsed, seeds[1])))
            std::abort(); // a signature that nobody made passed
        // The same signature over bytes that differ in one place must fail.
        std::string changed(kMessage, messageSize);
        changed[size % messageSize] ^= 0x20;
        if (checkFirmwareSignature(reinterpret_cast<const uint8_t*>(changed.data()), changed.size(), &text, keys).state
            == SignatureState::Valid)
            std::abort();
    }
    // Without keys a signature is only parsed.
    const SignatureState unchecked = checkFirmwareSignature(message, messageSize, &text, TrustedKeys()).state;
    if (unchecked == SignatureState::Valid)
        std::abort();

    MinisignPublicKey key;
    parseMinisignPublicKey(text, key);
    TrustedKeys list;
    TrustedKeys::fromText(text, list);
    return 0;
}
