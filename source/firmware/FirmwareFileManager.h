#pragma once

#include "FirmwareImage.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <vector>

// Loads the firmware image files of the program's folder and the working directory, keeps the
// newest image for each kind of device and answers which image fits a device.
// Built and cleared on the message thread; between the two it is only read (also by workers).
class FirmwareFileManager
{
public:
    // Scans the folder of the executable, then the current working directory. Always true.
    bool loadFirmwareFiles();

    // Same, with the two folders given (tests).
    bool loadFirmwareFiles(const juce::File& programFolder, const juce::File& workingFolder);

    // Loads every valid "*.ksf" file (letter case ignored, hidden files included) directly in
    // the folder, in listing order. Invalid files are skipped silently.
    void scanFolder(const juce::File& folder);

    // Inserts a verified image, keeping one image per key: a newer one replaces the old one
    // (which moves to the end), an older or equal one is dropped.
    void addImage(FirmwareImage&& image);

    // The image for a device kind, or nullptr.
    const FirmwareImage* findImage(uint16_t productCode, uint8_t productVariant, uint8_t hardwareRevision) const;

    // Releases every image and its section buffers.
    void clearImages();

    const std::vector<FirmwareImage>& images() const noexcept { return m_images; }

    // Newer-than order between images of the same key: version bits 16-31, then bits 0-15,
    // then the file's build number, compared unsigned.
    static bool isNewer(const FirmwareImage& candidate, const FirmwareImage& existing) noexcept;

private:
    std::vector<FirmwareImage> m_images;
};

extern FirmwareFileManager g_firmwareFileMgr;
