#include "FirmwareFileManager.h"

#include "FirmwareVersion.h"
#include "Log.h"

#include <algorithm>
#include <future>
#include <system_error>
#include <tuple>

FirmwareFileManager g_firmwareFileMgr;

namespace
{
bool sameKey(const FirmwareHeader& a, const FirmwareHeader& b) noexcept
{
    return a.productCode() == b.productCode() && a.productVariant() == b.productVariant()
        && a.hardwareRevision() == b.hardwareRevision();
}

// Reads a whole file of at most `limit` bytes. False when it cannot be opened, is larger or
// ends early.
bool readBoundedFile(const juce::File& file, int64_t limit, std::vector<uint8_t>& bytes)
{
    juce::FileInputStream stream(file);
    if (stream.failedToOpen())
        return false;
    const int64_t size = stream.getTotalLength();
    if (size < 0 || size > limit)
        return false;
    bytes.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < bytes.size())
    {
        const int chunk = static_cast<int>(std::min<size_t>(bytes.size() - done, size_t(1) << 20));
        const int got = stream.read(bytes.data() + done, chunk);
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}
} // namespace

bool FirmwareFileManager::loadFirmwareFiles()
{
    return loadFirmwareFiles(juce::File::getSpecialLocation(juce::File::currentExecutableFile).getParentDirectory(),
                             juce::File::getCurrentWorkingDirectory());
}

bool FirmwareFileManager::loadFirmwareFiles(const juce::File& programFolder, const juce::File& workingFolder)
{
    scanFolder(programFolder);
    scanFolder(workingFolder);
    return true;
}

void FirmwareFileManager::scanFolder(const juce::File& folder)
{
    if (!folder.isDirectory())
        return;

    // Every file, hidden ones included; the extension test ignores letter case on every platform.
    for (const auto& entry : juce::RangedDirectoryIterator(folder, false, "*", juce::File::findFiles))
    {
        const juce::File file = entry.getFile();
        if (!file.getFileExtension().equalsIgnoreCase(".ksf"))
            continue;

        FirmwareImage image;
        if (!loadFile(file, image))
            continue;
        image.fileBuildNumber = parseFileBuildNumber(file.getFileNameWithoutExtension().toStdString());
        addImage(std::move(image));
    }
}

bool FirmwareFileManager::loadFile(const juce::File& file, FirmwareImage& image) const
{
    const juce::File signatureFile = file.getSiblingFile(file.getFileName() + ".minisig");
    if (!m_trustedKeys.empty() || signatureFile.existsAsFile())
        return loadCheckedFile(file, signatureFile, image);

    juce::FileInputStream stream(file);
    return readFirmwareImage(stream, image) && verifyFirmwareImage(image);
}

bool FirmwareFileManager::loadCheckedFile(const juce::File& file, const juce::File& signatureFile,
                                          FirmwareImage& image) const
{
    const std::string path = file.getFullPathName().toStdString();
    const bool enforced = !m_trustedKeys.empty();

    // The signature file first: a build that trusts keys does not read an unsigned image at all.
    std::string signatureText;
    SignatureCheck early;
    bool checkNeeded = true;
    if (!signatureFile.existsAsFile())
    {
        early = checkFirmwareSignature(nullptr, 0, nullptr, m_trustedKeys);
        checkNeeded = false;
    }
    else
    {
        std::vector<uint8_t> text;
        if (readBoundedFile(signatureFile, static_cast<int64_t>(kMaxSignatureFileSize), text))
        {
            signatureText.assign(text.begin(), text.end());
        }
        else
        {
            early.state = SignatureState::Malformed;
            early.detail = "the signature file cannot be read or is larger than "
                         + std::to_string(kMaxSignatureFileSize) + " bytes";
            checkNeeded = false;
        }
    }
    if (enforced && !checkNeeded)
    {
        KS_LOG_ERROR("FirmwareFileManager::scanFolder",
                     path << " skipped: signature " << signatureStateName(early.state) << " (" << early.detail << ")");
        return false;
    }

    std::vector<uint8_t> bytes;
    if (!readBoundedFile(file, kMaxSignedFileSize, bytes))
    {
        if (enforced)
        {
            KS_LOG_ERROR("FirmwareFileManager::scanFolder",
                         path << " skipped: it cannot be read whole (at most " << kMaxSignedFileSize << " bytes)");
            return false;
        }
        // Signatures are only reported: the file is read as it would be without one.
        KS_LOG_INFO("FirmwareFileManager::scanFolder",
                    path << ": signature not checked (the file cannot be read whole), not enforced");
        juce::FileInputStream stream(file);
        return readFirmwareImage(stream, image) && verifyFirmwareImage(image);
    }

    // The signature is checked on a second thread while this one reads the image from the same
    // bytes (neither changes them): the hash of a large image then costs little start-up time.
    const auto runCheck = [&] { return checkFirmwareSignature(bytes.data(), bytes.size(), &signatureText, m_trustedKeys); };
    std::future<SignatureCheck> pending;
    if (checkNeeded)
    {
        try
        {
            pending = std::async(std::launch::async, runCheck);
        }
        catch (const std::system_error&)
        {
            // No thread to be had: check on this one.
        }
    }
    juce::MemoryInputStream stream(bytes.data(), bytes.size(), false);
    const bool imageValid = readFirmwareImage(stream, image) && verifyFirmwareImage(image);
    const SignatureCheck check = !checkNeeded ? early : pending.valid() ? pending.get() : runCheck();

    const std::string key = check.keyId.empty() ? std::string() : ", key " + check.keyId;
    if (!enforced)
    {
        // Signatures are only reported: the file loads (or not) as it would without one.
        KS_LOG_INFO("FirmwareFileManager::scanFolder",
                    path << ": signature " << signatureStateName(check.state) << key << " (" << check.detail
                         << "), not enforced");
    }
    else if (check.state != SignatureState::Valid)
    {
        KS_LOG_ERROR("FirmwareFileManager::scanFolder",
                     path << " skipped: signature " << signatureStateName(check.state) << key << " ("
                          << check.detail << ")");
        image.clear();
        return false;
    }
    else
    {
        KS_LOG_INFO("FirmwareFileManager::scanFolder",
                    path << ": signature valid" << key << ", trusted comment \"" << check.trustedComment << "\"");
    }

    if (!imageValid)
        return false;
    image.signatureState = check.state;
    image.signatureKeyId = check.keyId;
    return true;
}

bool FirmwareFileManager::isNewer(const FirmwareImage& candidate, const FirmwareImage& existing) noexcept
{
    const uint32_t a = candidate.header.firmwareVersion();
    const uint32_t b = existing.header.firmwareVersion();
    return std::make_tuple(uint16_t(a >> 16), uint16_t(a & 0xffff), candidate.fileBuildNumber)
         > std::make_tuple(uint16_t(b >> 16), uint16_t(b & 0xffff), existing.fileBuildNumber);
}

void FirmwareFileManager::addImage(FirmwareImage&& image)
{
    for (auto it = m_images.begin(); it != m_images.end(); ++it)
    {
        if (!sameKey(it->header, image.header))
            continue;
        if (!isNewer(image, *it))
            return; // the new image (and its buffers) is dropped
        m_images.erase(it);
        break;
    }
    m_images.push_back(std::move(image));
}

const FirmwareImage* FirmwareFileManager::findImage(uint16_t productCode, uint8_t productVariant,
                                                    uint8_t hardwareRevision) const
{
    for (const auto& image : m_images)
        if (image.header.productCode() == productCode && image.header.productVariant() == productVariant
            && image.header.hardwareRevision() == hardwareRevision)
            return &image;
    return nullptr;
}

void FirmwareFileManager::clearImages()
{
    std::vector<FirmwareImage>().swap(m_images);
}
