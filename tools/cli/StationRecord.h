#pragma once

#include <juce_core/juce_core.h>

#include <map>
#include <memory>

class FirmwareFileManager;
struct FirmwareImage;

// What the station keeps of one device it is done with: one JSON line of its record file.
struct StationRecordEntry
{
    juce::String time; // ISO 8601, local time with its offset from UTC
    juce::String serialNumber;
    juce::String name;
    int productCode = 0;
    juce::String revision;
    juce::String installedVersion; // before the upgrade
    juce::String imageVersion;     // empty when no image fits
    juce::String imageFile;        // file name of the image, empty when unknown
    juce::String imageSha256;      // of that file's bytes
    juce::String imageSignature;   // what the check of its signature found (signatureStateName)
    juce::String imageSignatureKeyId; // the signing key's id, empty when there is none
    juce::String result;           // "verified", "failed", "lost" or "alreadyCurrent"
    juce::String statusText;       // the device's last status text
    int attempts = 0;
    juce::int64 durationMs = 0;    // from the start of the upgrade to its end
};

juce::var toJson(const StationRecordEntry& entry);

// The record file: JSON lines, appended. Every line is flushed to the disk before Append
// returns, so that a power cut loses at most the line being written.
class StationRecord
{
public:
    // Opens (or creates) the file for appending. False, with the reason, when it cannot be
    // written. A last line cut short by an earlier power cut is ended first, so that the next
    // line stands on its own.
    bool Open(const juce::File& file, juce::String& error);
    // Writes one line and flushes it to the disk. False when that failed.
    bool Append(const StationRecordEntry& entry);

    const juce::File& file() const noexcept { return m_file; }

private:
    juce::File m_file;
    std::unique_ptr<juce::FileOutputStream> m_stream;
};

// Where a loaded image came from: its file's name and the SHA-256 of the file's bytes.
struct ImageFileInfo
{
    juce::String fileName;
    juce::String sha256;
};

// For every image of the manager, the file it was read from: the first "*.ksf" file of the two
// folders (in the manager's order) whose bytes read as exactly that image. The bytes hashed are
// the bytes compared, so a file replaced since the images were loaded is not named.
std::map<const FirmwareImage*, ImageFileInfo> indexImageFiles(const FirmwareFileManager& images,
                                                              const juce::File& programFolder,
                                                              const juce::File& workingFolder);
