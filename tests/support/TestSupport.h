#pragma once

#include "FirmwareImage.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support
{
// A fresh folder under the temp directory, deleted with everything in it at the end of scope.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const juce::File& get() const noexcept { return m_folder; }
    juce::File file(const juce::String& name) const { return m_folder.getChildFile(name); }

private:
    juce::File m_folder;
};

// Runs a callable with the working directory changed to `folder`, restoring it afterwards.
class ScopedWorkingDirectory
{
public:
    explicit ScopedWorkingDirectory(const juce::File& folder);
    ~ScopedWorkingDirectory();

private:
    juce::File m_previous;
};

// Describes an image for tests; makeImage turns it into a finalised FirmwareImage.
struct SectionSpec
{
    std::string name;
    uint32_t address = 0;
    std::vector<uint8_t> data;
};

struct ImageSpec
{
    uint16_t productCode = 100;
    uint8_t revision = 'A';
    uint8_t variant = 0;
    uint32_t version = 0x00010002;
    uint16_t compatibilityCode = 0;
    std::vector<SectionSpec> sections;
};

// Deterministic non-blank bytes (never 0x00) for section data.
std::vector<uint8_t> patternBytes(size_t count, uint32_t seed = 1);

FirmwareImage makeImage(const ImageSpec& spec);

// Writes the image with writeFirmwareImage and returns the file's bytes.
std::vector<uint8_t> imageFileBytes(const FirmwareImage& image);

// Writes an image (or raw bytes) to a file, replacing it.
void writeImageFile(const juce::File& file, const FirmwareImage& image);
void writeBytes(const juce::File& file, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readBytes(const juce::File& file);

// Reads a file's lines (without line ends).
juce::StringArray readLines(const juce::File& file);
} // namespace testing_support
