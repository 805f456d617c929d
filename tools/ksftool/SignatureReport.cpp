#include "SignatureReport.h"

#include "FirmwareFileManager.h"
#include "FirmwareSignature.h"

#include <string>
#include <vector>

namespace
{
// Reads a whole file of at most `limit` bytes; false when it cannot be read or is larger.
bool readAtMost(const juce::File& file, juce::int64 limit, std::vector<uint8_t>& bytes)
{
    juce::FileInputStream stream(file);
    if (!stream.openedOk() || stream.getTotalLength() > limit)
        return false;
    bytes.resize(static_cast<size_t>(stream.getTotalLength()));
    return bytes.empty() || stream.read(bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
}
} // namespace

std::string trustedKeyIdsText()
{
    std::string text;
    for (const std::string& id : TrustedKeys::ofBuild().keyIds())
        text += (text.empty() ? "" : " ") + id;
    return text;
}

bool reportSignature(const juce::File& file, std::ostream& out)
{
    const TrustedKeys& keys = TrustedKeys::ofBuild();
    const juce::File signatureFile = file.getSiblingFile(file.getFileName() + ".minisig");
    const std::string trusted = trustedKeyIdsText();
    out << "trusted keys:       " << (trusted.empty() ? "none (signatures are reported, not enforced)" : trusted) << "\n";

    std::vector<uint8_t> bytes;
    if (!readAtMost(file, FirmwareFileManager::kMaxSignedFileSize, bytes))
    {
        out << "signature:          not checked (the file cannot be read whole)\n";
        return keys.empty();
    }
    SignatureCheck check;
    if (!signatureFile.existsAsFile())
    {
        check = checkFirmwareSignature(bytes.data(), bytes.size(), nullptr, keys);
    }
    else
    {
        std::vector<uint8_t> text;
        if (readAtMost(signatureFile, static_cast<juce::int64>(kMaxSignatureFileSize), text))
        {
            const std::string signatureText(text.begin(), text.end());
            check = checkFirmwareSignature(bytes.data(), bytes.size(), &signatureText, keys);
        }
        else
        {
            check.state = SignatureState::Malformed;
            check.detail = "the signature file cannot be read or is larger than " + std::to_string(kMaxSignatureFileSize)
                         + " bytes";
        }
    }

    out << "signature file:     " << signatureFile.getFullPathName() << (signatureFile.existsAsFile() ? "" : " (none)")
        << "\n"
        << "signature:          " << signatureStateName(check.state) << " (" << check.detail << ")\n";
    if (!check.keyId.empty())
        out << "signature key id:   " << check.keyId << "\n";
    if (check.state == SignatureState::Valid)
        out << "trusted comment:    " << check.trustedComment << "\n";
    return keys.empty() || check.state == SignatureState::Valid;
}
