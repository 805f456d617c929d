#pragma once

// Which flash an upgrade touches, and which firmware headers already in the flash it would leave
// lying over bytes that are no longer theirs. A device keeps a header at its firmware base address
// and one 4096 bytes above it (a safe upgrade's place); its boot loader takes the upper one when
// it is valid, else the one at the base. A header that stays valid over sections an upgrade has
// rewritten would boot firmware that is not its own, so such headers are erased first.

#include "FirmwareImage.h"

#include <cstdint>
#include <vector>

// The header place of a safe upgrade, above the firmware base address.
constexpr uint32_t kSafeHeaderPlaceOffset = 4096;

// [from, to) in flash.
struct FlashRange
{
    uint64_t from = 0;
    uint64_t to = 0;
};

bool rangesIntersect(const std::vector<FlashRange>& a, const std::vector<FlashRange>& b) noexcept;

// What an upgrade with this header erases or writes: the header block at headerAddress and every
// section that is not kept ("Upgrade." sections are never touched). Empty sections cover nothing.
std::vector<FlashRange> upgradeFootprint(const FirmwareHeader& header, uint64_t headerAddress);

// A firmware header found at one header place when the device was set up.
struct InstalledHeader
{
    static constexpr size_t kMaxReadBytes = 256; // the most of a header block that is read

    uint32_t address = 0;
    // A boot loader may take it: magic, size and checksum right; or magic and a consistent size
    // whose block is too large to be read whole (then it counts as valid, to be safe).
    bool valid = false;
    // Its whole block was read: the footprint is known. A valid header that is not known
    // overlaps everything.
    bool known = false;
    // Read as no header, but the bytes are neither erased nor never written: a header whose
    // read was corrupted, or data. It counts as valid and not known, to be safe.
    bool doubtful = false;
    uint16_t headerSize = 0;
    // Its own block and every section it describes, kept ones included: all of it must stay
    // as it is for the header to boot its own firmware.
    std::vector<FlashRange> footprint;

    // Reads a header from the first `count` bytes of its block (count is at most kMaxReadBytes;
    // sizes found in the bytes are not trusted beyond what was read).
    static InstalledHeader fromBytes(uint32_t address, const uint8_t* bytes, size_t count);
    // How many bytes of the block fromBytes needs, given its first 157 bytes.
    static size_t bytesToRead(const uint8_t* fixedPart) noexcept;
    // Whether an upgrade touching `touched` would leave this header valid over changed flash.
    bool overlaps(const std::vector<FlashRange>& touched) const;
};

// Whether a safe upgrade with this image (its header above the base) leaves the header at the
// base, and all the flash it describes, as it is: the firmware that boots when the new one is
// not complete.
bool keepsBaseHeader(const FirmwareHeader& image, uint32_t baseAddress, const InstalledHeader& atBase);

// True when the block (as read back, `count` bytes) holds a header a boot loader would take.
bool isBootableHeaderBlock(const uint8_t* bytes, size_t count) noexcept;
