#pragma once

#include <cstdint>
#include <string>
#include <tuple>

struct FirmwareImage;

// A firmware version as shown and compared: major, minor, build.
struct FirmwareVersion
{
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;

    // "major.minor.build" in decimal.
    std::string toString() const;

    bool operator<(const FirmwareVersion& o) const noexcept
    {
        return std::tie(major, minor, build) < std::tie(o.major, o.minor, o.build);
    }
    bool operator==(const FirmwareVersion& o) const noexcept
    {
        return major == o.major && minor == o.minor && build == o.build;
    }
    bool operator!=(const FirmwareVersion& o) const noexcept { return !(*this == o); }
};

// Packed reading: major bits 24-31, minor bits 16-23, build bits 0-15. A device's running
// version is always read this way.
FirmwareVersion readPackedVersion(uint32_t value) noexcept;

// Split reading: major bits 16-23, minor bits 0-7, build from the file name.
FirmwareVersion readSplitVersion(uint32_t value, uint16_t fileBuildNumber) noexcept;

// Devices with these product codes store the whole version in the image header.
inline bool usesPackedVersion(uint16_t productCode) noexcept
{
    return productCode == 533 || productCode == 534;
}

// Product codes above this are newer than this program knows.
constexpr uint16_t kNewestKnownProductCode = 534;

// The device's installed version (its running version, packed reading).
FirmwareVersion installedVersion(uint32_t runningVersion) noexcept;

// The version of an image as it reads for a device with the given product code.
FirmwareVersion availableVersion(const FirmwareImage& image, uint16_t deviceProductCode) noexcept;

// An upgrade with an image is a safe one when the image's compatibility code equals the
// device's running compatibility code and is not 1.
inline bool isSafeUpgrade(uint16_t imageCompatibilityCode, uint16_t runningCompatibilityCode) noexcept
{
    return imageCompatibilityCode == runningCompatibilityCode && imageCompatibilityCode != 1;
}

// Build number carried by a file name (without folder and extension): the number after the
// last "_" of a name that begins with "tovrak_", low 16 bits; 0 for other names.
// A number beyond the signed 32-bit range saturates to that range before the low 16 bits are
// kept, so "tovrak_99999999999" gives 0xFFFF and "tovrak_-99999999999" gives 0.
uint16_t parseFileBuildNumber(const std::string& name) noexcept;
