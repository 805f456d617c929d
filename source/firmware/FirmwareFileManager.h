#pragma once

#include "FirmwareImage.h"
#include "FirmwareSignature.h"

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
    // With trusted keys, a file loads only with a valid signature "<file>.minisig" by one of
    // them; one log line per file says what its check found. Without trusted keys every valid
    // file loads as before, and a signature file beside it is only parsed and logged.
    void scanFolder(const juce::File& folder);

    // The keys that decide which files load: the build's keys unless set otherwise (tests).
    void setTrustedKeys(TrustedKeys keys) { m_trustedKeys = std::move(keys); }
    const TrustedKeys& trustedKeys() const noexcept { return m_trustedKeys; }

    // A firmware file whose signature is checked is read whole first; larger ones are refused.
    static constexpr int64_t kMaxSignedFileSize = int64_t(256) << 20;

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
    // A file whose signature is looked at is read whole; its check runs on a second thread
    // while the next file is read (start), and decides when it is finished (finish). Start
    // false: skipped, and logged. Finish true: the pending image loads.
    struct PendingFile;
    bool startCheckedFile(const juce::File& file, const juce::File& signatureFile, PendingFile& pending) const;
    bool finishCheckedFile(PendingFile& pending) const;

    std::vector<FirmwareImage> m_images;
    TrustedKeys m_trustedKeys = TrustedKeys::ofBuild();
};

extern FirmwareFileManager g_firmwareFileMgr;
