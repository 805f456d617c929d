#pragma once

// What an emulated device's boot loader sees in its flash. A device keeps a firmware header at
// two places: the firmware base address, and 4096 bytes above it (where a safe upgrade puts its
// new header, so that the old firmware stays bootable until the new one is complete). At start
// the boot loader takes the header above the base when it is valid, else the one at the base,
// else it stays in its upgrade mode (no firmware runs; the device can still be upgraded).
//
// The boot loader reads the header on its own: this file parses the bytes without the host's
// firmware code, so a mistake in either fails a test instead of passing on both.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace emulated_boot
{
constexpr uint32_t kSafeHeaderOffset = 4096;

// Reads `length` bytes of flash at `address` into `out`; bytes beyond the flash read as 0x00.
using FlashReader = std::function<void(uint32_t address, uint8_t* out, size_t length)>;

struct HeaderSection
{
    enum Kind
    {
        Kept,    // "Upgrade." sections: neither erased nor written by an upgrade
        Clear,   // must read blank (0x00)
        Ordinary // must hold the data whose byte sum is `checksum`
    };
    std::string name;
    uint32_t address = 0;
    uint32_t length = 0;
    uint32_t checksum = 0;
    Kind kind = Ordinary;
};

// One header place as the boot loader sees it.
struct HeaderPlace
{
    uint32_t address = 0;
    bool magic = false;      // starts with "KSFH"
    bool valid = false;      // magic, size and checksum right: the boot loader would take it
    std::string problem;     // why it is not valid (empty when valid)
    uint16_t headerSize = 0;
    uint16_t compatibilityCode = 0;
    uint16_t productCode = 0;
    uint32_t firmwareVersion = 0;
    std::vector<HeaderSection> sections;
    std::vector<uint8_t> bytes; // the header block (valid headers only)
    // Valid, and every section holds: ordinary sections sum to their checksum, clear ones are
    // blank. A valid header that does not hold boots firmware that is not its own.
    bool holds = false;
    std::string mismatch; // the first section that does not hold
};

struct BootView
{
    enum Choice
    {
        UpgradeMode,
        Base,
        Safe
    };
    Choice choice = UpgradeMode;
    HeaderPlace base;
    HeaderPlace safe;

    const HeaderPlace* booted() const noexcept
    {
        return choice == Safe ? &safe : choice == Base ? &base : nullptr;
    }
    // Every valid header, at either place, describes what the flash holds.
    bool everyValidHeaderHolds() const noexcept
    {
        return (!base.valid || base.holds) && (!safe.valid || safe.holds);
    }
};

HeaderPlace inspectHeaderPlace(const FlashReader& read, uint32_t address, uint64_t flashSize);
BootView inspectBoot(const FlashReader& read, uint32_t baseAddress, uint64_t flashSize);

// The running version a device reports after booting this header (packed reading: major in bits
// 24-31, minor in 16-23). Devices of product codes 533 and 534 keep the packed version in their
// headers; all others keep major in bits 16-23 and minor in bits 0-7.
uint32_t runningVersionOf(const HeaderPlace& booted, uint16_t deviceProductCode) noexcept;

// A few lines for people: which place boots, and each place's header and its sections.
std::string describe(const BootView& view);
} // namespace emulated_boot
