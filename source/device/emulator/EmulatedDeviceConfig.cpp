#include "EmulatedDeviceConfig.h"

#include "FirmwareImage.h"

#include <algorithm>

namespace
{
void putText(DeviceInfo& info, size_t offset, size_t fieldSize, const std::string& text)
{
    // Up to the whole field: a text of exactly the field's size leaves no NUL, as a careless
    // device might.
    const size_t count = std::min(fieldSize, text.size());
    std::fill_n(info.bytes.begin() + static_cast<std::ptrdiff_t>(offset), fieldSize, uint8_t { 0 });
    std::copy_n(text.begin(), count, info.bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}
} // namespace

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

    DeviceInfo& info = config.deviceInfo;
    le::write16(info.bytes.data() + DeviceInfo::OffInfoFormat, id.infoFormat);
    le::write16(info.bytes.data() + DeviceInfo::OffProductCode, id.productCode);
    info.bytes[DeviceInfo::OffHardwareRevision] = id.hardwareRevision;
    info.bytes[DeviceInfo::OffProductVariant] = id.productVariant;
    le::write32(info.bytes.data() + DeviceInfo::OffRunningFirmwareVersion, id.runningFirmwareVersion);
    putText(info, DeviceInfo::OffDeviceName, DeviceInfo::DeviceNameSize, id.name);
    putText(info, DeviceInfo::OffSerialNumber, DeviceInfo::SerialNumberSize, id.serialNumber);

    le::write32(config.flashInfo.bytes.data() + FlashInfo::OffEraseUnitSize, id.eraseUnitSize);
    le::write32(config.flashInfo.bytes.data() + FlashInfo::OffFirmwareBaseAddress, id.firmwareBaseAddress);

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
