#include "TestSupport.h"

#include <random>

namespace testing_support
{
TempFolder::TempFolder()
{
    // Tests run in parallel processes: a name that is merely free when it is checked could be
    // taken by another process before it is created, so every folder gets random bits from the
    // system's entropy source (a time-seeded generator could repeat in two processes started
    // together).
    static std::random_device entropy;
    const auto base = juce::File::getSpecialLocation(juce::File::tempDirectory);
    do
    {
        const uint64_t bits = (uint64_t(entropy()) << 32) ^ entropy();
        m_folder = base.getChildFile("tovrak-test-" + juce::String::toHexString(static_cast<juce::int64>(bits)));
    } while (m_folder.exists());
    m_folder.createDirectory();
}

TempFolder::~TempFolder()
{
    m_folder.deleteRecursively();
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const juce::File& folder)
    : m_previous(juce::File::getCurrentWorkingDirectory())
{
    folder.setAsCurrentWorkingDirectory();
}

ScopedWorkingDirectory::~ScopedWorkingDirectory()
{
    m_previous.setAsCurrentWorkingDirectory();
}

std::vector<uint8_t> patternBytes(size_t count, uint32_t seed)
{
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 12345u;
    for (auto& b : bytes)
    {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>((state >> 16) | 1);
    }
    return bytes;
}

FirmwareImage makeImage(const ImageSpec& spec)
{
    FirmwareImage image;
    auto& h = image.header;
    h.setProductCode(spec.productCode);
    h.setHardwareRevision(spec.revision);
    h.setProductVariant(spec.variant);
    h.setFirmwareVersion(spec.version);
    h.setCompatibilityCode(spec.compatibilityCode);
    h.setSectionCount(static_cast<uint8_t>(spec.sections.size()));
    for (size_t i = 0; i < spec.sections.size() && i < FirmwareHeader::kMaxSections; ++i)
    {
        FirmwareSectionEntry entry;
        entry.name = spec.sections[i].name;
        entry.flashAddress = spec.sections[i].address;
        h.setSection(i, entry);
        image.sections[i] = spec.sections[i].data;
    }
    finaliseFirmwareImage(image);
    return image;
}

std::vector<uint8_t> imageFileBytes(const FirmwareImage& image)
{
    juce::MemoryOutputStream stream;
    writeFirmwareImage(stream, image);
    const auto* p = static_cast<const uint8_t*>(stream.getData());
    return std::vector<uint8_t>(p, p + stream.getDataSize());
}

void writeImageFile(const juce::File& file, const FirmwareImage& image)
{
    writeBytes(file, imageFileBytes(image));
}

void writeBytes(const juce::File& file, const std::vector<uint8_t>& bytes)
{
    file.deleteFile();
    file.replaceWithData(bytes.data(), bytes.size());
}

std::vector<uint8_t> readBytes(const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData(block);
    const auto* p = static_cast<const uint8_t*>(block.getData());
    return std::vector<uint8_t>(p, p + block.getSize());
}

juce::StringArray readLines(const juce::File& file)
{
    juce::StringArray lines;
    lines.addLines(file.loadFileAsString());
    lines.removeEmptyStrings(false);
    return lines;
}
} // namespace testing_support
