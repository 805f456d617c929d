#include "EmulatedDeviceConfig.h"

#include "FirmwareImage.h"

#include <algorithm>

uint32_t headerVersionMatchingRunning(uint32_t runningFirmwareVersion) noexcept
{
    const uint32_t major = (runningFirmwareVersion >> 24) & 0xFF;
    const uint32_t minor = (runningFirmwareVersion >> 16) & 0xFF;
    return (major << 16) | minor;
}

std::vector<uint8_t> makeInstalledHeader(uint16_t productCode, uint8_t revision, uint8_t variant,
                                         uint32_t firmwareVersion, uint16_t compatibilityCode)
{
    FirmwareHeader header;
    header.setMagic();
    header.setCompatibilityCode(compatibilityCode);
    header.setHeaderSize(static_cast<uint16_t>(FirmwareHeader::kFixedSize));
    header.setProductCode(productCode);
    header.setHardwareRevision(revision);
    header.setProductVariant(variant);
    header.setFirmwareVersion(firmwareVersion);
    header.setSectionCount(0);
    header.setHeaderChecksum(header.computeHeaderChecksum());
    return std::vector<uint8_t>(header.data(), header.data() + FirmwareHeader::kFixedSize);
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
