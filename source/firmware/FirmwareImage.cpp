#include "FirmwareImage.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sstream>

namespace
{
const uint8_t kMagic[4] = { 'K', 'S', 'F', 'H' };

// Reads exactly `count` bytes; false when fewer arrive.
bool readExactly(juce::InputStream& stream, uint8_t* dest, size_t count)
{
    size_t done = 0;
    while (done < count)
    {
        const size_t chunk = std::min<size_t>(count - done, 1u << 20);
        const int got = stream.read(dest + done, static_cast<int>(chunk));
        if (got <= 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}
} // namespace

FirmwareSectionEntry FirmwareSectionEntry::fromBytes(const uint8_t* bytes) noexcept
{
    FirmwareSectionEntry entry;
    const auto* name = reinterpret_cast<const char*>(bytes);
    entry.name.assign(name, strnlen(name, kNameSize));
    entry.flashAddress = le::read32(bytes + 16);
    entry.length = le::read32(bytes + 20);
    entry.checksum = le::read32(bytes + 24);
    return entry;
}

void FirmwareSectionEntry::toBytes(uint8_t* bytes) const noexcept
{
    std::memset(bytes, 0, kNameSize);
    std::memcpy(bytes, name.data(), std::min(name.size(), kNameSize));
    le::write32(bytes + 16, flashAddress);
    le::write32(bytes + 20, length);
    le::write32(bytes + 24, checksum);
}

FirmwareSectionEntry::Kind FirmwareSectionEntry::kind() const noexcept
{
    if (name.compare(0, 8, "Upgrade.") == 0)
        return Kind::Skipped;
    if (name.find("Factory.CLR.") != std::string::npos || name.find("Upgrade.CLR") != std::string::npos)
        return Kind::Clear;
    return Kind::Ordinary;
}

FirmwareHeader FirmwareHeader::fromBytes(const uint8_t* bytes, size_t count) noexcept
{
    FirmwareHeader header;
    std::memcpy(header.m_bytes.data(), bytes, std::min(count, kCapacity));
    return header;
}

bool FirmwareHeader::hasMagic() const noexcept
{
    return std::memcmp(m_bytes.data() + OffMagic, kMagic, 4) == 0;
}

void FirmwareHeader::setMagic() noexcept
{
    std::memcpy(m_bytes.data() + OffMagic, kMagic, 4);
}

FirmwareSectionEntry FirmwareHeader::section(size_t i) const noexcept
{
    if (i >= kMaxSections)
        return {};
    return FirmwareSectionEntry::fromBytes(m_bytes.data() + kFixedSize + i * FirmwareSectionEntry::kSize);
}

void FirmwareHeader::setSection(size_t i, const FirmwareSectionEntry& entry) noexcept
{
    if (i < kMaxSections)
        entry.toBytes(m_bytes.data() + kFixedSize + i * FirmwareSectionEntry::kSize);
}

uint32_t FirmwareHeader::computeHeaderChecksum() const noexcept
{
    const size_t end = std::min<size_t>(headerSize(), kCapacity);
    if (end <= OffCompatibilityCode)
        return 0;
    return le::byteSum(m_bytes.data() + OffCompatibilityCode, end - OffCompatibilityCode);
}

void FirmwareImage::clear()
{
    fileBuildNumber = 0;
    header = FirmwareHeader();
    for (auto& buffer : sections)
        std::vector<uint8_t>().swap(buffer);
    signatureState = SignatureState::Unsigned;
    signatureKeyId.clear();
}

const char* describe(FirmwareReadError error) noexcept
{
    switch (error)
    {
        case FirmwareReadError::None: return "no error";
        case FirmwareReadError::NotOpened: return "the file could not be opened";
        case FirmwareReadError::ShortHeader: return "the file ends inside the 157-byte header";
        case FirmwareReadError::BadMagic: return "the magic is not \"KSFH\"";
        case FirmwareReadError::TooManySections: return "more than 16 sections";
        case FirmwareReadError::BadHeaderSize: return "headerSize is not 157 + 28 x sectionCount";
        case FirmwareReadError::ShortTable: return "the file ends inside the section table";
        case FirmwareReadError::SectionBeyondEnd: return "a section is longer than the rest of the file";
        case FirmwareReadError::AllocationFailed: return "a section buffer could not be allocated";
        case FirmwareReadError::ShortSection: return "the file ends inside a section's data";
    }
    return "unknown error";
}

bool readFirmwareImage(juce::InputStream& stream, FirmwareImage& image, FirmwareReadError* why)
{
    auto fail = [&](FirmwareReadError error) {
        image.clear();
        if (why != nullptr)
            *why = error;
        return false;
    };
    if (why != nullptr)
        *why = FirmwareReadError::None;

    if (auto* file = dynamic_cast<juce::FileInputStream*>(&stream); file != nullptr && !file->openedOk())
        return fail(FirmwareReadError::NotOpened);

    uint8_t* bytes = image.header.data();
    if (!readExactly(stream, bytes, FirmwareHeader::kFixedSize))
        return fail(FirmwareReadError::ShortHeader);
    if (!image.header.hasMagic())
        return fail(FirmwareReadError::BadMagic);
    const size_t count = image.header.sectionCount();
    if (count > FirmwareHeader::kMaxSections)
        return fail(FirmwareReadError::TooManySections);
    if (image.header.headerSize() != FirmwareHeader::kFixedSize + FirmwareSectionEntry::kSize * count)
        return fail(FirmwareReadError::BadHeaderSize);
    if (!readExactly(stream, bytes + FirmwareHeader::kFixedSize, FirmwareSectionEntry::kSize * count))
        return fail(FirmwareReadError::ShortTable);

    const juce::int64 total = stream.getTotalLength();
    for (size_t i = 0; i < count; ++i)
    {
        const uint32_t length = image.header.section(i).length;
        // The length field is outside input: never allocate more than the stream still holds.
        if (total >= 0 && static_cast<juce::int64>(length) > total - stream.getPosition())
            return fail(FirmwareReadError::SectionBeyondEnd);
        try
        {
            image.sections[i].resize(length);
        }
        catch (const std::bad_alloc&)
        {
            return fail(FirmwareReadError::AllocationFailed);
        }
        if (!readExactly(stream, image.sections[i].data(), length))
            return fail(FirmwareReadError::ShortSection);
    }
    return true;
}

std::string findLayoutProblem(const FirmwareHeader& header, int* failedSection)
{
    const size_t count = std::min<size_t>(header.sectionCount(), FirmwareHeader::kMaxSections);
    constexpr uint64_t kAddressSpace = uint64_t(1) << 32;
    auto describe = [&](size_t i) {
        const auto entry = header.section(i);
        std::ostringstream out;
        out << "section " << i << " \"" << entry.name << "\" (0x" << std::hex << entry.flashAddress << " + 0x"
            << entry.length << ")";
        return out.str();
    };
    auto fail = [&](size_t i, const std::string& reason) {
        if (failedSection != nullptr)
            *failedSection = static_cast<int>(i);
        return reason;
    };
    for (size_t i = 0; i < count; ++i)
    {
        const auto entry = header.section(i);
        const uint64_t end = uint64_t(entry.flashAddress) + entry.length;
        if (end > kAddressSpace)
            return fail(i, describe(i) + " passes the end of the 32-bit address space");
        if (entry.length == 0)
            continue;
        for (size_t k = 0; k < i; ++k)
        {
            const auto other = header.section(k);
            if (other.length == 0)
                continue;
            const uint64_t otherEnd = uint64_t(other.flashAddress) + other.length;
            if (entry.flashAddress < otherEnd && other.flashAddress < end)
                return fail(i, describe(i) + " overlaps " + describe(k));
        }
    }
    return {};
}

bool verifyFirmwareImage(const FirmwareImage& image, int* failedSection)
{
    if (image.header.computeHeaderChecksum() != image.header.headerChecksum())
    {
        if (failedSection != nullptr)
            *failedSection = -1;
        return false;
    }
    const size_t count = std::min<size_t>(image.header.sectionCount(), FirmwareHeader::kMaxSections);
    for (size_t i = 0; i < count; ++i)
    {
        const auto& data = image.sections[i];
        if (le::byteSum(data.data(), data.size()) != image.header.section(i).checksum)
        {
            if (failedSection != nullptr)
                *failedSection = static_cast<int>(i);
            return false;
        }
    }
    return findLayoutProblem(image.header, failedSection).empty();
}

void finaliseFirmwareImage(FirmwareImage& image)
{
    auto& header = image.header;
    header.setMagic();
    const size_t count = std::min<size_t>(header.sectionCount(), FirmwareHeader::kMaxSections);
    header.setSectionCount(static_cast<uint8_t>(count));
    header.setHeaderSize(static_cast<uint16_t>(FirmwareHeader::kFixedSize + FirmwareSectionEntry::kSize * count));
    for (size_t i = 0; i < count; ++i)
    {
        auto entry = header.section(i);
        entry.length = static_cast<uint32_t>(image.sections[i].size());
        entry.checksum = le::byteSum(image.sections[i].data(), image.sections[i].size());
        header.setSection(i, entry);
    }
    header.setHeaderChecksum(header.computeHeaderChecksum());
}

bool writeFirmwareImage(juce::OutputStream& stream, const FirmwareImage& image)
{
    const size_t count = std::min<size_t>(image.header.sectionCount(), FirmwareHeader::kMaxSections);
    const size_t headerBytes = FirmwareHeader::kFixedSize + FirmwareSectionEntry::kSize * count;
    if (!stream.write(image.header.data(), headerBytes))
        return false;
    for (size_t i = 0; i < count; ++i)
    {
        const auto& data = image.sections[i];
        if (!data.empty() && !stream.write(data.data(), data.size()))
            return false;
    }
    stream.flush();
    return true;
}
