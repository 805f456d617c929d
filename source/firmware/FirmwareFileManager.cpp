#include "FirmwareFileManager.h"

#include "FirmwareVersion.h"
#include "Log.h"

#include <algorithm>
#include <future>
#include <memory>
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

// A file whose signature is being checked: its bytes stay here until the check has ended.
struct FirmwareFileManager::PendingFile
{
    juce::File file;
    std::string path;
    FirmwareImage image;
    std::vector<uint8_t> bytes;
    std::string signatureText;
    SignatureCheck check;       // decided before any bytes were read, when `checkNeeded` is false
    bool checkNeeded = false;
    bool readWithoutCheck = false; // too large to read whole, read as without a signature (no keys)
    bool imageValid = false;
    std::future<SignatureCheck> pendingCheck;
};

void FirmwareFileManager::scanFolder(const juce::File& folder)
{
    if (!folder.isDirectory())
        return;

    // A signed file's check runs on a second thread while the next file is read; files are
    // still added in listing order. At most two files' bytes are held at a time.
    std::unique_ptr<PendingFile> previous;
    // The buffer of a finished file is read into again: its pages are mapped already.
    std::vector<uint8_t> spare;
    const auto add = [this](FirmwareImage&& image, const juce::File& file) {
        image.fileBuildNumber = parseFileBuildNumber(file.getFileNameWithoutExtension().toStdString());
        addImage(std::move(image));
    };
    const auto settle = [&] {
        if (previous == nullptr)
            return;
        if (finishCheckedFile(*previous))
            add(std::move(previous->image), previous->file);
        spare = std::move(previous->bytes);
        previous.reset();
    };

    // Every file, hidden ones included; the extension test ignores letter case on every platform.
    for (const auto& entry : juce::RangedDirectoryIterator(folder, false, "*", juce::File::findFiles))
    {
        const juce::File file = entry.getFile();
        if (!file.getFileExtension().equalsIgnoreCase(".ksf"))
            continue;

        const juce::File signatureFile = file.getSiblingFile(file.getFileName() + ".minisig");
        if (m_trustedKeys.empty() && !signatureFile.existsAsFile())
        {
            settle();
            juce::FileInputStream stream(file);
            FirmwareImage image;
            if (readFirmwareImage(stream, image) && verifyFirmwareImage(image))
                add(std::move(image), file);
            continue;
        }
        auto pending = std::make_unique<PendingFile>();
        pending->bytes = std::move(spare);
        spare = {};
        const bool started = startCheckedFile(file, signatureFile, *pending);
        settle();
        if (started)
            previous = std::move(pending);
    }
    settle();
}

bool FirmwareFileManager::startCheckedFile(const juce::File& file, const juce::File& signatureFile,
                                           PendingFile& pending) const
{
    pending.file = file;
    pending.path = file.getFullPathName().toStdString();
    const bool enforced = !m_trustedKeys.empty();

    // The signature file first: a build that trusts keys does not read an unsigned image at all.
    pending.checkNeeded = true;
    if (!signatureFile.existsAsFile())
    {
        pending.check = checkFirmwareSignature(nullptr, 0, nullptr, m_trustedKeys);
        pending.checkNeeded = false;
    }
    else
    {
        std::vector<uint8_t> text;
        if (readBoundedFile(signatureFile, static_cast<int64_t>(kMaxSignatureFileSize), text))
        {
            pending.signatureText.assign(text.begin(), text.end());
        }
        else
        {
            pending.check.state = SignatureState::Malformed;
            pending.check.detail = "the signature file cannot be read or is larger than "
                                 + std::to_string(kMaxSignatureFileSize) + " bytes";
            pending.checkNeeded = false;
        }
    }
    if (enforced && !pending.checkNeeded)
    {
        KS_LOG_ERROR("FirmwareFileManager::scanFolder", pending.path << " skipped: signature "
                                                                    << signatureStateName(pending.check.state) << " ("
                                                                    << pending.check.detail << ")");
        return false;
    }

    if (!readBoundedFile(file, kMaxSignedFileSize, pending.bytes))
    {
        if (enforced)
        {
            KS_LOG_ERROR("FirmwareFileManager::scanFolder",
                         pending.path << " skipped: it cannot be read whole (at most " << kMaxSignedFileSize
                                      << " bytes)");
            return false;
        }
        // Signatures are only reported: the file is read as it would be without one.
        KS_LOG_INFO("FirmwareFileManager::scanFolder",
                    pending.path << ": signature not checked (the file cannot be read whole), not enforced");
        juce::FileInputStream stream(file);
        pending.readWithoutCheck = true;
        pending.imageValid = readFirmwareImage(stream, pending.image) && verifyFirmwareImage(pending.image);
        return true;
    }

    // The check reads the same bytes as the image reader below; neither changes them.
    if (pending.checkNeeded)
    {
        try
        {
            pending.pendingCheck = std::async(std::launch::async, [&pending, this] {
                return checkFirmwareSignature(pending.bytes.data(), pending.bytes.size(), &pending.signatureText,
                                              m_trustedKeys);
            });
        }
        catch (const std::system_error&)
        {
            // No thread to be had: the check runs on this thread when the file is finished.
        }
    }
    juce::MemoryInputStream stream(pending.bytes.data(), pending.bytes.size(), false);
    pending.imageValid = readFirmwareImage(stream, pending.image) && verifyFirmwareImage(pending.image);
    return true;
}

bool FirmwareFileManager::finishCheckedFile(PendingFile& pending) const
{
    if (pending.readWithoutCheck)
        return pending.imageValid;
    if (pending.checkNeeded)
        pending.check = pending.pendingCheck.valid()
            ? pending.pendingCheck.get()
            : checkFirmwareSignature(pending.bytes.data(), pending.bytes.size(), &pending.signatureText, m_trustedKeys);
    const SignatureCheck& check = pending.check;

    const std::string key = check.keyId.empty() ? std::string() : ", key " + check.keyId;
    if (m_trustedKeys.empty())
    {
        // Signatures are only reported: the file loads (or not) as it would without one.
        KS_LOG_INFO("FirmwareFileManager::scanFolder",
                    pending.path << ": signature " << signatureStateName(check.state) << key << " (" << check.detail
                                 << "), not enforced");
    }
    else if (check.state != SignatureState::Valid)
    {
        KS_LOG_ERROR("FirmwareFileManager::scanFolder",
                     pending.path << " skipped: signature " << signatureStateName(check.state) << key << " ("
                                  << check.detail << ")");
        return false;
    }
    else
    {
        KS_LOG_INFO("FirmwareFileManager::scanFolder",
                    pending.path << ": signature valid" << key << ", trusted comment \"" << check.trustedComment
                                 << "\"");
    }

    if (!pending.imageValid)
        return false;
    pending.image.signatureState = check.state;
    pending.image.signatureKeyId = check.keyId;
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
