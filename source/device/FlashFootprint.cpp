#include "FlashFootprint.h"

#include <algorithm>

namespace
{
// The header size a block's fixed part claims when it is consistent with its section count.
size_t consistentSize(const uint8_t* fixedPart) noexcept
{
    const size_t count = fixedPart[FirmwareHeader::OffSectionCount];
    const size_t size = le::read16(fixedPart + FirmwareHeader::OffHeaderSize);
    if (count > FirmwareHeader::kMaxSections || size != FirmwareHeader::kFixedSize + FirmwareSectionEntry::kSize * count)
        return 0;
    return size;
}

bool hasMagic(const uint8_t* bytes) noexcept
{
    return bytes[0] == 'K' && bytes[1] == 'S' && bytes[2] == 'F' && bytes[3] == 'H';
}
} // namespace

bool rangesIntersect(const std::vector<FlashRange>& a, const std::vector<FlashRange>& b) noexcept
{
    for (const FlashRange& x : a)
        for (const FlashRange& y : b)
            if (x.from < x.to && y.from < y.to && x.from < y.to && y.from < x.to)
                return true;
    return false;
}

std::vector<FlashRange> upgradeFootprint(const FirmwareHeader& header, uint64_t headerAddress)
{
    std::vector<FlashRange> ranges { { headerAddress, headerAddress + header.headerSize() } };
    for (size_t i = 0; i < header.sectionCount() && i < FirmwareHeader::kMaxSections; ++i)
    {
        const FirmwareSectionEntry entry = header.section(i);
        if (entry.kind() != FirmwareSectionEntry::Kind::Skipped && entry.length > 0)
            ranges.push_back({ entry.flashAddress, uint64_t(entry.flashAddress) + entry.length });
    }
    return ranges;
}

bool isBootableHeaderBlock(const uint8_t* bytes, size_t count) noexcept
{
    if (count < FirmwareHeader::kFixedSize || !hasMagic(bytes))
        return false;
    const size_t size = consistentSize(bytes);
    if (size == 0)
        return false;
    if (size > count)
        return true; // cannot be checked whole: a boot loader may take it
    uint32_t sum = 0;
    for (size_t i = FirmwareHeader::OffCompatibilityCode; i < size; ++i)
        sum += bytes[i];
    return sum == le::read32(bytes + FirmwareHeader::OffHeaderChecksum);
}

size_t InstalledHeader::bytesToRead(const uint8_t* fixedPart) noexcept
{
    if (!hasMagic(fixedPart))
        return FirmwareHeader::kFixedSize;
    const size_t size = consistentSize(fixedPart);
    return size == 0 ? FirmwareHeader::kFixedSize : std::min(size, kMaxReadBytes);
}

InstalledHeader InstalledHeader::fromBytes(uint32_t address, const uint8_t* bytes, size_t count)
{
    InstalledHeader header;
    header.address = address;
    count = std::min(count, kMaxReadBytes);
    if (!isBootableHeaderBlock(bytes, count))
    {
        // Erased flash reads 0x00, flash never written 0xFF: anything else may be a header that
        // the boot loader takes although one byte of this read came back wrong.
        const bool uniform = count > 0 && (bytes[0] == 0x00 || bytes[0] == 0xFF)
                          && std::all_of(bytes, bytes + count, [&](uint8_t b) { return b == bytes[0]; });
        header.doubtful = header.valid = count > 0 && !uniform;
        return header;
    }
    header.valid = true;
    header.headerSize = static_cast<uint16_t>(consistentSize(bytes));
    if (header.headerSize > count)
        return header; // valid for all we know, footprint unknown
    header.known = true;
    header.footprint.push_back({ address, uint64_t(address) + header.headerSize });
    const size_t sections = bytes[FirmwareHeader::OffSectionCount];
    for (size_t i = 0; i < sections; ++i)
    {
        const FirmwareSectionEntry entry =
            FirmwareSectionEntry::fromBytes(bytes + FirmwareHeader::kFixedSize + FirmwareSectionEntry::kSize * i);
        if (entry.length > 0)
            header.footprint.push_back({ entry.flashAddress, uint64_t(entry.flashAddress) + entry.length });
    }
    return header;
}

bool InstalledHeader::overlaps(const std::vector<FlashRange>& touched) const
{
    if (!valid)
        return false;
    return !known || rangesIntersect(footprint, touched);
}

bool keepsBaseHeader(const FirmwareHeader& image, uint32_t baseAddress, const InstalledHeader& atBase)
{
    return !atBase.overlaps(upgradeFootprint(image, uint64_t(baseAddress) + kSafeHeaderPlaceOffset));
}
