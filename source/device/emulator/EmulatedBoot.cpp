#include "EmulatedBoot.h"

#include "EmulatedWire.h"

#include <algorithm>
#include <cstring>
#include <sstream>

using emulated_wire::get16;
using emulated_wire::get32;

namespace emulated_boot
{
namespace
{
// The header block as the boot loader reads it: a 157-byte fixed part, then 28-byte entries.
constexpr size_t kFixedPart = 157;
constexpr size_t kEntryBytes = 28;
constexpr size_t kMaxEntries = 16;
constexpr size_t kCountAt = 156;
constexpr size_t kSumFrom = 8;

HeaderSection::Kind kindOf(const std::string& name)
{
    if (name.compare(0, 8, "Upgrade.") == 0)
        return HeaderSection::Kept;
    if (name.find("Factory.CLR.") != std::string::npos || name.find("Upgrade.CLR") != std::string::npos)
        return HeaderSection::Clear;
    return HeaderSection::Ordinary;
}

// Whether the section's range holds what its entry says, read in bounded chunks.
std::string checkSection(const FlashReader& read, const HeaderSection& s, uint64_t flashSize)
{
    if (s.kind == HeaderSection::Kept || s.length == 0)
        return {};
    if (uint64_t(s.address) + s.length > flashSize)
        return "passes the end of the flash";
    std::vector<uint8_t> chunk(std::min<size_t>(s.length, 64 * 1024));
    uint32_t sum = 0;
    for (uint32_t offset = 0; offset < s.length;)
    {
        const size_t piece = std::min<size_t>(chunk.size(), s.length - offset);
        read(s.address + offset, chunk.data(), piece);
        for (size_t i = 0; i < piece; ++i)
        {
            if (s.kind == HeaderSection::Clear && chunk[i] != 0)
            {
                std::ostringstream out;
                out << "not blank at 0x" << std::hex << (s.address + offset + i);
                return out.str();
            }
            sum += chunk[i];
        }
        offset += static_cast<uint32_t>(piece);
    }
    if (s.kind == HeaderSection::Ordinary && sum != s.checksum)
    {
        std::ostringstream out;
        out << "byte sum 0x" << std::hex << sum << ", its entry says 0x" << s.checksum;
        return out.str();
    }
    return {};
}
} // namespace

HeaderPlace inspectHeaderPlace(const FlashReader& read, uint32_t address, uint64_t flashSize)
{
    HeaderPlace place;
    place.address = address;
    if (uint64_t(address) + kFixedPart > flashSize)
    {
        place.problem = "the header place lies beyond the flash";
        return place;
    }
    std::vector<uint8_t> block(kFixedPart + kEntryBytes * kMaxEntries);
    const size_t readable = static_cast<size_t>(std::min<uint64_t>(block.size(), flashSize - address));
    read(address, block.data(), readable);

    place.magic = std::memcmp(block.data(), "KSFH", 4) == 0;
    if (!place.magic)
    {
        place.problem = "no header magic";
        return place;
    }
    const size_t count = block[kCountAt];
    place.headerSize = get16(block.data() + 10);
    if (count > kMaxEntries || place.headerSize != kFixedPart + kEntryBytes * count || place.headerSize > readable)
    {
        place.problem = "header size does not fit its section count";
        return place;
    }
    uint32_t sum = 0;
    for (size_t i = kSumFrom; i < place.headerSize; ++i)
        sum += block[i];
    if (sum != get32(block.data() + 4))
    {
        place.problem = "header checksum wrong";
        return place;
    }
    place.valid = true;
    place.compatibilityCode = get16(block.data() + 8);
    place.productCode = get16(block.data() + 12);
    place.firmwareVersion = get32(block.data() + 16);
    place.bytes.assign(block.begin(), block.begin() + place.headerSize);
    for (size_t i = 0; i < count; ++i)
    {
        const uint8_t* entry = block.data() + kFixedPart + kEntryBytes * i;
        HeaderSection s;
        s.name.assign(reinterpret_cast<const char*>(entry), strnlen(reinterpret_cast<const char*>(entry), 16));
        s.address = get32(entry + 16);
        s.length = get32(entry + 20);
        s.checksum = get32(entry + 24);
        s.kind = kindOf(s.name);
        place.sections.push_back(s);
    }
    place.holds = true;
    for (const HeaderSection& s : place.sections)
    {
        const std::string problem = checkSection(read, s, flashSize);
        if (!problem.empty())
        {
            place.holds = false;
            place.mismatch = "section \"" + s.name + "\": " + problem;
            break;
        }
    }
    return place;
}

BootView inspectBoot(const FlashReader& read, uint32_t baseAddress, uint64_t flashSize)
{
    BootView view;
    view.base = inspectHeaderPlace(read, baseAddress, flashSize);
    view.safe = inspectHeaderPlace(read, baseAddress + kSafeHeaderOffset, flashSize);
    view.choice = view.safe.valid ? BootView::Safe : view.base.valid ? BootView::Base : BootView::UpgradeMode;
    return view;
}

uint32_t runningVersionOf(const HeaderPlace& booted, uint16_t deviceProductCode) noexcept
{
    const uint32_t v = booted.firmwareVersion;
    if (deviceProductCode == 533 || deviceProductCode == 534)
        return v;
    return (((v >> 16) & 0xFF) << 24) | ((v & 0xFF) << 16);
}

std::string describe(const BootView& view)
{
    std::ostringstream out;
    out << "boots: "
        << (view.choice == BootView::Safe ? "the header above the base"
            : view.choice == BootView::Base ? "the header at the base"
                                            : "nothing (upgrade mode)")
        << "\n";
    for (const HeaderPlace* place : { &view.base, &view.safe })
    {
        out << "  0x" << std::hex << place->address << std::dec << ": ";
        if (!place->valid)
        {
            out << "no valid header (" << place->problem << ")\n";
            continue;
        }
        out << "valid header, " << place->headerSize << " bytes, version 0x" << std::hex << place->firmwareVersion
            << std::dec << ", compatibility code " << place->compatibilityCode << ", "
            << (place->holds ? "its sections hold" : "DOES NOT HOLD: " + place->mismatch) << "\n";
        for (const HeaderSection& s : place->sections)
            out << "    section \"" << s.name << "\" 0x" << std::hex << s.address << " + 0x" << s.length << std::dec
                << (s.kind == HeaderSection::Kept ? " (kept)" : s.kind == HeaderSection::Clear ? " (clear)" : "") << "\n";
    }
    return out.str();
}
} // namespace emulated_boot
