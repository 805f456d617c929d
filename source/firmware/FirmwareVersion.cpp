#include "FirmwareVersion.h"

#include "FirmwareImage.h"

#include <cctype>
#include <cstdint>

std::string FirmwareVersion::toString() const
{
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

FirmwareVersion readPackedVersion(uint32_t value) noexcept
{
    return { (value >> 24) & 0xff, (value >> 16) & 0xff, value & 0xffff };
}

FirmwareVersion readSplitVersion(uint32_t value, uint16_t fileBuildNumber) noexcept
{
    return { (value >> 16) & 0xff, value & 0xff, fileBuildNumber };
}

FirmwareVersion installedVersion(uint32_t runningVersion) noexcept
{
    return readPackedVersion(runningVersion);
}

FirmwareVersion availableVersion(const FirmwareImage& image, uint16_t deviceProductCode) noexcept
{
    const uint32_t value = image.header.firmwareVersion();
    return usesPackedVersion(deviceProductCode) ? readPackedVersion(value)
                                                : readSplitVersion(value, image.fileBuildNumber);
}

uint16_t parseFileBuildNumber(const std::string& name) noexcept
{
    if (name.compare(0, 7, "tovrak_") != 0)
        return 0;

    const auto underscore = name.rfind('_');
    const char* p = name.c_str() + underscore + 1;

    // Like strtol into a signed 32-bit number: leading white space, optional sign, digits up to
    // the first non-digit; no digits gives 0; out of range saturates.
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    int64_t value = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    while (*p >= '0' && *p <= '9')
    {
        value = value * 10 + (*p++ - '0');
        if (value > limit)
            value = limit; // keep consuming digits, stay saturated
    }
    const int32_t result = static_cast<int32_t>(negative ? -value : value);
    return static_cast<uint16_t>(static_cast<uint32_t>(result) & 0xffff);
}
