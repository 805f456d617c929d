// The firmware upgrade procedure: erase, blank check of clear sections, write, verify.
#include "TovrakDevice.h"

#include "Log.h"
#include "UpgradeStatus.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace
{
constexpr int kAttempts = 3;
constexpr size_t kMaxHeaderBytes = 256;       // one flash write, one read-back buffer
constexpr uint32_t kPieceBytes = 256;         // write and read-back piece

// Every byte as lower-case hex without leading zeros, each followed by ",".
std::string hexDump(const uint8_t* bytes, size_t count)
{
    std::ostringstream out;
    out << std::hex;
    for (size_t i = 0; i < count; ++i)
        out << static_cast<unsigned>(bytes[i]) << ',';
    return out.str();
}

bool isBlank(const uint8_t* bytes, size_t count)
{
    return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}
} // namespace

std::string CTovrakDevice::findDeviceLayoutProblem(const FirmwareHeader& header, uint64_t headerAddress,
                                                   bool headerAtBase) const
{
    if (m_flashInfo.eraseUnitSize() == 0)
        return "the device reports an erase unit of 0 bytes";

    struct Block
    {
        uint64_t from, to;
        const char* what;
    };
    std::vector<Block> headerBlocks { { headerAddress, headerAddress + header.headerSize(), "the new header block" } };
    if (!headerAtBase)
    {
        // A safe upgrade leaves the installed header at the base in place: it is what the device
        // boots until the new one is complete.
        const uint64_t base = m_flashInfo.firmwareBaseAddress();
        headerBlocks.push_back({ base, base + m_installedHeaderSize, "the installed header block" });
    }
    if (headerBlocks.front().to > (uint64_t(1) << 32))
        return "the header block passes the end of the 32-bit address space";

    for (size_t i = 0; i < header.sectionCount() && i < FirmwareHeader::kMaxSections; ++i)
    {
        const auto entry = header.section(i);
        if (entry.kind() == FirmwareSectionEntry::Kind::Skipped || entry.length == 0)
            continue; // neither erased nor written
        const uint64_t from = entry.flashAddress;
        const uint64_t to = from + entry.length;
        for (const Block& block : headerBlocks)
            if (from < block.to && block.from < to)
            {
                std::ostringstream out;
                out << "section " << i << " \"" << entry.name << "\" (0x" << std::hex << from << " + 0x" << entry.length
                    << ") overlaps " << block.what << " (0x" << block.from << " + 0x" << (block.to - block.from) << ")";
                return out.str();
            }
    }
    return {};
}

bool CTovrakDevice::Upgrade(const FirmwareHeader& header,
                            const std::array<std::vector<uint8_t>, FirmwareHeader::kMaxSections>& sectionData,
                            std::atomic<int32_t>& status, std::atomic<int32_t>& progress, bool headerAtBase)
{
    const std::string device = " device " + m_deviceInfo.serialNumber();
    const uint16_t headerSize = header.headerSize();
    const size_t sectionCount = header.sectionCount();

    const uint32_t base = m_flashInfo.firmwareBaseAddress();
    const uint64_t headerAddress64 = uint64_t(base) + (headerAtBase ? 0u : kSafeHeaderOffset);

    // An image that cannot be written as one header block, whose section table does not match
    // its data, or whose layout would hurt the device, is refused before the device is touched.
    std::string refusal;
    if (headerSize > kMaxHeaderBytes)
        refusal = "headerSize " + std::to_string(headerSize) + " exceeds the " + std::to_string(kMaxHeaderBytes)
                + " bytes that one header write and read-back can hold";
    else if (sectionCount > FirmwareHeader::kMaxSections
             || headerSize != FirmwareHeader::kFixedSize + FirmwareSectionEntry::kSize * sectionCount)
        refusal = "headerSize " + std::to_string(headerSize) + " does not fit " + std::to_string(sectionCount) + " sections";
    for (size_t i = 0; refusal.empty() && i < sectionCount; ++i)
        if (sectionData[i].size() != header.section(i).length)
            refusal = "section " + std::to_string(i) + " holds " + std::to_string(sectionData[i].size())
                    + " bytes, its table entry says " + std::to_string(header.section(i).length);
    if (refusal.empty())
        refusal = findLayoutProblem(header);
    if (refusal.empty())
        refusal = findDeviceLayoutProblem(header, headerAddress64, headerAtBase);
    if (!refusal.empty())
    {
        KS_LOG_ERROR("CTovrakDevice::Upgrade", "image refused, the device is not touched: " << refusal << device);
        status = RESULT_WRITE_ERROR;
        return false;
    }

    std::vector<FirmwareSectionEntry> sections;
    for (size_t i = 0; i < sectionCount; ++i)
        sections.push_back(header.section(i));

    const uint32_t headerAddress = static_cast<uint32_t>(headerAddress64);
    uint64_t total = headerSize;
    for (const auto& entry : sections)
        if (entry.kind() != FirmwareSectionEntry::Kind::Skipped)
            total += entry.length;
    // Progress is floor(done x 100 / total). Counted in 64 bits so that done x 100 cannot wrap for
    // images beyond 42 MB; below that it equals the 32-bit result.
    auto report = [&](uint64_t done) { progress = static_cast<int32_t>(done * 100 / total); };

    const uint32_t eraseUnit = m_flashInfo.eraseUnitSize(); // not 0: refused above
    std::array<uint8_t, kPieceBytes> buffer {};

    KS_LOG_INFO("CTovrakDevice::Upgrade", "total retry count = " << kAttempts << device);

    // Headers already in the flash that must not outlive this upgrade: any valid header (besides
    // the one at the header address, which every attempt erases) that describes flash this
    // upgrade erases or writes, and, when the new header goes to the base, the one above it,
    // which the boot loader would take first. Each is erased and checked gone before anything
    // else is erased.
    //
    // A place whose bytes read as no header but are not erased either (doubtful: a header read
    // wrong, or data) is erased too, but only after the header at the header address is gone:
    // its bytes may belong to that header's sections, which must hold as long as it is valid.
    // One that lies in a section this image keeps is data that must stay.
    struct StaleHeader
    {
        uint32_t address;
        uint16_t size;
        bool gone;
        bool afterHeader;
    };
    std::vector<StaleHeader> stale;
    const std::vector<FlashRange> touched = upgradeFootprint(header, headerAddress64);
    std::vector<FlashRange> kept;
    for (const auto& entry : sections)
        if (entry.kind() == FirmwareSectionEntry::Kind::Skipped && entry.length > 0)
            kept.push_back({ entry.flashAddress, uint64_t(entry.flashAddress) + entry.length });
    for (const InstalledHeader* installed : { &m_headerAtBase, &m_headerAbove })
    {
        if (!installed->valid || installed->address == headerAddress)
            continue;
        const uint16_t size = static_cast<uint16_t>(installed->known ? installed->headerSize : FirmwareHeader::kFixedSize);
        if (installed->doubtful && rangesIntersect({ { installed->address, uint64_t(installed->address) + size } }, kept))
            continue;
        const bool bootsFirst = headerAtBase && installed == &m_headerAbove;
        if (bootsFirst || installed->overlaps(touched))
            stale.push_back({ installed->address, size, false, installed->doubtful });
    }
    auto invalidateStale = [&](bool afterHeader) {
        bool left = false;
        for (StaleHeader& old : stale)
            if (old.afterHeader == afterHeader && !old.gone && !(old.gone = InvalidateHeader(old.address, old.size, device)))
                left = true;
        if (left)
        {
            KS_LOG_ERROR("CTovrakDevice::Upgrade", "erase firmware data [header] failed." << device);
            status = RESULT_ERASE_ERROR;
        }
        return !left;
    };

    // Set from the moment the new header may have reached the flash until it is known to be
    // good: a failed upgrade leaves no valid new header behind.
    bool headerMayBeWritten = false;
    auto withdrawHeader = [&] {
        if (headerMayBeWritten && InvalidateHeader(headerAddress, headerSize, device))
            headerMayBeWritten = false;
    };

    bool written = false;
    uint64_t writtenBytes = 0;
    for (int attempt = 1; attempt <= kAttempts && !written; ++attempt)
    {
        progress = 0; // before the status: a retry's "Erasing" never shows the last write's percent
        status = RESULT_ERASING;
        KS_LOG_INFO("CTovrakDevice::Upgrade", "now retry count = " << attempt);
        KS_LOG_INFO("CTovrakDevice::Upgrade", "begin erase firmware data. " << device);

        if (!invalidateStale(false))
            continue;

        // No command goes to a busy device: the attempt starts once the device reports idle, also
        // after a busy poll of the attempt before failed while the device still worked.
        if (!WaitUntilIdle() || !SetFirmwareErase(headerAddress, headerSize))
        {
            KS_LOG_ERROR("CTovrakDevice::Upgrade", "erase firmware data [header] failed." << device);
            status = RESULT_ERASE_ERROR;
            continue;
        }
        headerMayBeWritten = false;
        if (!invalidateStale(true))
            continue;
        KS_LOG_INFO("CTovrakDevice::Upgrade", "erase firmware data [header] finished." << device);
        uint64_t done = headerSize;
        report(done);

        bool eraseFailed = false;
        for (size_t i = 0; i < sections.size() && !eraseFailed; ++i)
        {
            const auto& entry = sections[i];
            if (entry.kind() == FirmwareSectionEntry::Kind::Skipped)
                continue;

            for (uint32_t offset = 0; offset < entry.length;)
            {
                const uint32_t piece = std::min(entry.length - offset, eraseUnit);
                if (!SetFirmwareErase(entry.flashAddress + offset, piece))
                {
                    KS_LOG_ERROR("CTovrakDevice::Upgrade", "SetFirmwareErase Failed -- section." << device);
                    status = RESULT_ERASE_ERROR;
                    eraseFailed = true;
                    break;
                }
                done += piece;
                report(done);
                offset += piece;
            }
            if (eraseFailed)
            {
                KS_LOG_ERROR("CTovrakDevice::Upgrade", "RESULT_ERASE_ERROR" << device);
                break;
            }

            if (entry.kind() == FirmwareSectionEntry::Kind::Clear)
            {
                KS_LOG_INFO("CTovrakDevice::Upgrade", "produce CLR section begin.");
                for (uint32_t offset = 0; offset < entry.length;)
                {
                    const uint32_t piece = std::min(entry.length - offset, kPieceBytes);
                    const bool read = ReadFirmwareData(entry.flashAddress + offset, buffer.data(), piece);
                    if (!read || !isBlank(buffer.data(), piece))
                    {
                        KS_LOG_ERROR("CTovrakDevice::Upgrade", "ReadFirmwareData Failed." << (read ? 1 : 0) << device);
                        status = RESULT_ERASE_ERROR;
                        eraseFailed = true;
                        break;
                    }
                    offset += piece;
                }
                if (!eraseFailed)
                    KS_LOG_INFO("CTovrakDevice::Upgrade", "produce CLR section end." << device);
            }
        }
        if (eraseFailed)
            continue;

        KS_LOG_INFO("CTovrakDevice::Upgrade", "erase firmware data end." << device);
        KS_LOG_INFO("CTovrakDevice::Upgrade", "write firmware data begin." << device);
        progress = 0;
        status = RESULT_WRITING;
        writtenBytes = 0;

        bool writeFailed = false;
        for (size_t i = 0; i < sections.size() && !writeFailed; ++i)
        {
            const auto& entry = sections[i];
            if (entry.kind() != FirmwareSectionEntry::Kind::Ordinary)
                continue;
            for (uint32_t offset = 0; offset < entry.length;)
            {
                const uint32_t piece = std::min(entry.length - offset, kPieceBytes);
                if (!WriteFirmwareData(entry.flashAddress + offset, sectionData[i].data() + offset, static_cast<uint16_t>(piece)))
                {
                    KS_LOG_ERROR("CTovrakDevice::Upgrade", "WriteFirmwareData -- section" << device);
                    status = RESULT_WRITE_ERROR;
                    writeFailed = true;
                    break;
                }
                writtenBytes += piece;
                report(writtenBytes);
                offset += piece;
            }
        }
        if (writeFailed)
            continue;

        // Every section is read back before the header goes in: a header is only ever written
        // over sections known to hold the image, so a device that stops answering after the
        // header write still boots its own firmware.
        KS_LOG_INFO("CTovrakDevice::Upgrade", "verify firmware data begin." << device);
        progress = 0;
        status = RESULT_VERIFYING;
        done = 0;
        for (size_t i = 0; i < sections.size(); ++i)
        {
            const auto& entry = sections[i];
            if (entry.kind() != FirmwareSectionEntry::Kind::Ordinary)
                continue;
            for (uint32_t offset = 0; offset < entry.length;)
            {
                const uint32_t piece = std::min(entry.length - offset, kPieceBytes);
                const bool read = ReadFirmwareData(entry.flashAddress + offset, buffer.data(), piece);
                if (!read || std::memcmp(buffer.data(), sectionData[i].data() + offset, piece) != 0)
                {
                    KS_LOG_ERROR("CTovrakDevice::Upgrade", "verify -- ReadFirmwareData -- section" << (read ? 1 : 0) << device);
                    status = RESULT_VERIFY_ERROR;
                    return false; // no header was written over these sections
                }
                done += piece;
                report(done);
                offset += piece;
            }
        }

        // The header goes last.
        headerMayBeWritten = true;
        if (!WriteFirmwareData(headerAddress, header.data(), headerSize))
        {
            KS_LOG_ERROR("CTovrakDevice::Upgrade", "write -- WriteFirmwareData -- header" << device);
            status = RESULT_WRITE_ERROR;
            continue;
        }
        written = true;
        writtenBytes = done;
    }
    if (!written)
    {
        withdrawHeader();
        return false;
    }
    KS_LOG_INFO("CTovrakDevice::Upgrade", "write firmware data end." << device);

    buffer.fill(0);
    const bool headerRead = ReadFirmwareData(headerAddress, buffer.data(), headerSize);
    if (!headerRead)
        KS_LOG_ERROR("CTovrakDevice::Upgrade", "ReadFirmwareData failed." << device);
    const bool headerEqual = std::memcmp(buffer.data(), header.data(), headerSize) == 0;
    if (!headerEqual)
    {
        KS_LOG_ERROR("CTovrakDevice::Upgrade", "memory compare failed(not equal)." << device);
        KS_LOG_ERROR("CTovrakDevice::Upgrade", "by read data is :" << hexDump(buffer.data(), headerSize));
        KS_LOG_ERROR("CTovrakDevice::Upgrade", "pHeader data is :" << hexDump(header.data(), headerSize));
    }
    // A read that failed proves nothing, even when the zeroed buffer happens to match.
    if (!headerRead || !headerEqual)
    {
        status = RESULT_VERIFY_ERROR;
        withdrawHeader();
        return false;
    }
    report(writtenBytes + headerSize);

    status = RESULT_VERIFIED;
    KS_LOG_INFO("CTovrakDevice::Upgrade", "verify firmware data end. " << device);
    return true;
}

bool CTovrakDevice::InvalidateHeader(uint32_t address, uint16_t size, const std::string& device)
{
    std::array<uint8_t, InstalledHeader::kMaxReadBytes> back {};
    const size_t count = std::min<size_t>(size, back.size());
    for (int attempt = 1; attempt <= kAttempts; ++attempt)
    {
        if (!WaitUntilIdle() || !SetFirmwareErase(address, static_cast<uint32_t>(count)))
            continue;
        back.fill(0);
        if (ReadFirmwareData(address, back.data(), count) && !isBootableHeaderBlock(back.data(), count))
        {
            KS_LOG_INFO("CTovrakDevice::Upgrade", "header at 0x" << std::hex << address << std::dec
                                                               << " erased, no firmware boots from it." << device);
            return true;
        }
    }
    KS_LOG_ERROR("CTovrakDevice::Upgrade", "the header at 0x" << std::hex << address << std::dec
                                                            << " could not be erased; the upgrade does not go on." << device);
    return false;
}
