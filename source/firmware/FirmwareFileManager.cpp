#include "FirmwareFileManager.h"

#include "FirmwareVersion.h"

#include <tuple>

FirmwareFileManager g_firmwareFileMgr;

namespace
{
bool sameKey(const FirmwareHeader& a, const FirmwareHeader& b) noexcept
{
    return a.productCode() == b.productCode() && a.productVariant() == b.productVariant()
        && a.hardwareRevision() == b.hardwareRevision();
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

        juce::FileInputStream stream(file);
        FirmwareImage image;
        if (!readFirmwareImage(stream, image))
            continue;
        if (!verifyFirmwareImage(image))
            continue;
        image.fileBuildNumber = parseFileBuildNumber(file.getFileNameWithoutExtension().toStdString());
        addImage(std::move(image));
    }
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
