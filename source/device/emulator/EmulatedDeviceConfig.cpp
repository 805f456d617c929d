#include "EmulatedDeviceConfig.h"

#include "FirmwareImage.h"

#include <algorithm>

uint32_t headerVersionMatchingRunning(uint32_t runningFirmwareVersion) noexcept
{
    const uint32_t major = (runningFirmwareVersion >> 24) & 0xFF;
    const uint32_t minor = (runningFirmwareVersion >> 16) & 0xFF;
    return (major << 16) | minor;
}

std::vector<uint8_t> installedSectionBytes(const InstalledSection& section)
{
    std::vector<uint8_t> bytes(section.length);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>((i * 131 + (i >> 8) * 7 + section.seed * 29) | 1u); // never blank
    return bytes;
}

std::vector<uint8_t> makeInstalledHeader(uint16_t productCode, uint8_t revision, uint8_t variant,
                                         uint32_t firmwareVersion, uint16_t compatibilityCode,
                                         const std::vector<InstalledSection>& sections)
{
    FirmwareHeader header;
    header.setMagic();
    header.setCompatibilityCode(compatibilityCode);
    header.setHeaderSize(static_cast<uint16_t>(FirmwareHeader::kFixedSize + sections.size() * FirmwareSectionEntry::kSize));
    header.setProductCode(productCode);
    header.setHardwareRevision(revision);
    header.setProductVariant(variant);
    header.setFirmwareVersion(firmwareVersion);
    header.setSectionCount(static_cast<uint8_t>(sections.size()));
    for (size_t i = 0; i < sections.size() && i < FirmwareHeader::kMaxSections; ++i)
    {
        FirmwareSectionEntry entry;
        entry.name = sections[i].name;
        entry.flashAddress = sections[i].address;
        entry.length = sections[i].length;
        for (uint8_t b : installedSectionBytes(sections[i]))
            entry.checksum += b;
        header.setSection(i, entry);
    }
    header.setHeaderChecksum(header.computeHeaderChecksum());
    return std::vector<uint8_t>(header.data(), header.data() + header.headerSize());
}

EmulatedDeviceConfig makeTovrakDeviceConfig(const TovrakIdentity& id)
{
    EmulatedDeviceConfig config;
    config.vendorId = id.vendorId;
    config.productId = id.productId;

    EmulatedDeviceInfo& info = config.deviceInfo;
    info.setInfoFormat(id.infoFormat);
    info.setProductCode(id.productCode);
    info.setHardwareRevision(id.hardwareRevision);
    info.setProductVariant(id.productVariant);
    info.setRunningFirmwareVersion(id.runningFirmwareVersion);
    info.setDeviceName(id.name);
    info.setSerialNumber(id.serialNumber);

    config.flashInfo.setEraseUnitSize(id.eraseUnitSize);
    config.flashInfo.setFirmwareBaseAddress(id.firmwareBaseAddress);

    config.installedHeader = makeInstalledHeader(id.productCode, id.hardwareRevision, id.productVariant,
                                                 headerVersionMatchingRunning(id.runningFirmwareVersion),
                                                 id.installedCompatibilityCode);
    return config;
}

EmulatedDeviceConfig makeForeignDeviceConfig(uint16_t vendorId, uint16_t productId)
{
    EmulatedDeviceConfig config;
    config.vendorId = vendorId;
    config.productId = productId;
    config.speaksProtocol = false;
    config.installedHeader.clear();
    return config;
}
