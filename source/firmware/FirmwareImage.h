#pragma once

#include "ByteOrder.h"
#include "FirmwareSignature.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One entry of the section table: 28 bytes in the file and in flash.
struct FirmwareSectionEntry
{
    static constexpr size_t kSize = 28;
    static constexpr size_t kNameSize = 16;

    std::string name;       // up to 16 characters, read only within its field
    uint32_t flashAddress = 0;
    uint32_t length = 0;
    uint32_t checksum = 0;

    static FirmwareSectionEntry fromBytes(const uint8_t* bytes) noexcept;
    void toBytes(uint8_t* bytes) const noexcept; // name truncated to 16 bytes, NUL padded

    // What the upgrade does with a section, decided by its name.
    enum class Kind
    {
        Skipped,  // begins with "Upgrade.": neither erased, written nor verified
        Clear,    // contains "Factory.CLR." or "Upgrade.CLR": erased and checked blank
        Ordinary  // erased, written and verified
    };
    Kind kind() const noexcept;
};

// The firmware header: the 157-byte fixed part followed by room for 16 section entries.
// The same layout is the block at the start of a device's firmware area in flash.
class FirmwareHeader
{
public:
    static constexpr size_t kFixedSize = 157;
    static constexpr size_t kMaxSections = 16;
    static constexpr size_t kCapacity = kFixedSize + kMaxSections * FirmwareSectionEntry::kSize; // 605
    static constexpr size_t kReservedOffset = 20;
    static constexpr size_t kReservedSize = 136;

    // Field offsets in the fixed part.
    enum Offset : size_t
    {
        OffMagic = 0,
        OffHeaderChecksum = 4,
        OffCompatibilityCode = 8,
        OffHeaderSize = 10,
        OffProductCode = 12,
        OffHardwareRevision = 14,
        OffProductVariant = 15,
        OffFirmwareVersion = 16,
        OffSectionCount = 156
    };

    FirmwareHeader() { m_bytes.fill(0); }

    // Copies up to kCapacity bytes (the rest stays zero).
    static FirmwareHeader fromBytes(const uint8_t* bytes, size_t count) noexcept;

    const uint8_t* data() const noexcept { return m_bytes.data(); }
    uint8_t* data() noexcept { return m_bytes.data(); }

    bool hasMagic() const noexcept;
    uint32_t headerChecksum() const noexcept { return le::read32(m_bytes.data() + OffHeaderChecksum); }
    uint16_t compatibilityCode() const noexcept { return le::read16(m_bytes.data() + OffCompatibilityCode); }
    uint16_t headerSize() const noexcept { return le::read16(m_bytes.data() + OffHeaderSize); }
    uint16_t productCode() const noexcept { return le::read16(m_bytes.data() + OffProductCode); }
    uint8_t hardwareRevision() const noexcept { return m_bytes[OffHardwareRevision]; }
    uint8_t productVariant() const noexcept { return m_bytes[OffProductVariant]; }
    uint32_t firmwareVersion() const noexcept { return le::read32(m_bytes.data() + OffFirmwareVersion); }
    uint8_t sectionCount() const noexcept { return m_bytes[OffSectionCount]; }

    // Entry i of the section table (i < kMaxSections).
    FirmwareSectionEntry section(size_t i) const noexcept;

    void setMagic() noexcept;
    void setHeaderChecksum(uint32_t v) noexcept { le::write32(m_bytes.data() + OffHeaderChecksum, v); }
    void setCompatibilityCode(uint16_t v) noexcept { le::write16(m_bytes.data() + OffCompatibilityCode, v); }
    void setHeaderSize(uint16_t v) noexcept { le::write16(m_bytes.data() + OffHeaderSize, v); }
    void setProductCode(uint16_t v) noexcept { le::write16(m_bytes.data() + OffProductCode, v); }
    void setHardwareRevision(uint8_t v) noexcept { m_bytes[OffHardwareRevision] = v; }
    void setProductVariant(uint8_t v) noexcept { m_bytes[OffProductVariant] = v; }
    void setFirmwareVersion(uint32_t v) noexcept { le::write32(m_bytes.data() + OffFirmwareVersion, v); }
    void setSectionCount(uint8_t v) noexcept { m_bytes[OffSectionCount] = v; }
    void setSection(size_t i, const FirmwareSectionEntry& entry) noexcept;

    // Sum of header bytes 8 .. headerSize-1 (bounded by the capacity).
    uint32_t computeHeaderChecksum() const noexcept;

    bool operator==(const FirmwareHeader& other) const noexcept { return m_bytes == other.m_bytes; }

private:
    std::array<uint8_t, kCapacity> m_bytes;
};

// One loaded firmware image file: the header, its section data and the build number that the
// file name carries. Owns its section buffers.
struct FirmwareImage
{
    uint16_t fileBuildNumber = 0;
    FirmwareHeader header;
    std::array<std::vector<uint8_t>, FirmwareHeader::kMaxSections> sections;
    // What the check of the file's signature found, and the signing key's id (empty when the
    // file carried no readable signature).
    SignatureState signatureState = SignatureState::Unsigned;
    std::string signatureKeyId;

    // Drops every section buffer and zero-fills the image.
    void clear();
};

// Why a read failed.
enum class FirmwareReadError
{
    None,
    NotOpened,
    ShortHeader,
    BadMagic,
    TooManySections,
    BadHeaderSize,
    ShortTable,
    SectionBeyondEnd,
    AllocationFailed,
    ShortSection
};
const char* describe(FirmwareReadError error) noexcept;

// Reads header, section table and section data from an opened stream into a zero-filled image.
// False on any failure, with every section buffer released. A section longer than what is left
// in the stream is rejected before its buffer is allocated.
bool readFirmwareImage(juce::InputStream& stream, FirmwareImage& image, FirmwareReadError* why = nullptr);

// Checks headerChecksum, every section checksum and the section layout (see below). Allocates
// and changes nothing. `failedSection` (optional) receives -1 for a header mismatch or the index
// of the first bad section (for a layout problem: the later section of the two, or the one that
// wraps).
bool verifyFirmwareImage(const FirmwareImage& image, int* failedSection = nullptr);

// The section layout that no device can take: a section whose address + length passes 2^32 (it
// would wrap to address 0, where a boot loader lives), or two sections whose flash ranges
// overlap, whatever their classes (the later one would undo the earlier one, or a clear range
// would no longer be blank). Sections of length 0 cover nothing. Empty when the layout is sound,
// otherwise the reason in words. `failedSection` (optional) receives the offending section.
std::string findLayoutProblem(const FirmwareHeader& header, int* failedSection = nullptr);

// Sets magic, sectionCount, headerSize, every section's length and checksum (from the buffers)
// and headerChecksum, so that the image verifies. Names and addresses are kept.
void finaliseFirmwareImage(FirmwareImage& image);

// Writes the image in the file layout (header, table, section data). Returns false when the
// stream fails. The image is written as it is: finalise it first to get a valid file.
bool writeFirmwareImage(juce::OutputStream& stream, const FirmwareImage& image);
