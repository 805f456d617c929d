// Opening a device, the report transport (SetData, GetData) and the interface probe.
#include "TovrakDevice.h"

#include "SupportedDevices.h"
#include "hid/HidBackend.h"

#include "FirmwareImage.h"
#include "FirmwareVersion.h"
#include "Log.h"
#include "StringResources.h"

#include <algorithm>
#include <cstring>

CTovrakDevice::CTovrakDevice(const std::string& path, bool logSetUpFailure) : m_devicePath(path)
{
    const int failedStep = Open();
    if (failedStep != 0)
    {
        if (logSetUpFailure)
            KS_LOG_ERROR("CTovrakDevice::CTovrakDevice",
                         getTranslatedString(StringId::FailedToOpenDevice).toStdString() << failedStep);
        return;
    }
    KS_LOG_DEBUG("CTovrakDevice::CTovrakDevice",
                 "opened " << m_devicePath << ": serial No. " << m_deviceInfo.serialNumber() << ", product code "
                           << m_deviceInfo.productCode() << ", revision " << m_deviceInfo.hardwareRevisionText()
                           << ", variant " << int(m_deviceInfo.productVariant()) << ", running firmware "
                           << readPackedVersion(m_deviceInfo.runningFirmwareVersion()).toString()
                           << ", running compatibility code " << m_runningCompatibilityCode);
}

CTovrakDevice::~CTovrakDevice() = default; // the handle closes itself

bool CTovrakDevice::IsConnected() const
{
    return m_hDevice != nullptr && m_hDevice->isConnected();
}

int CTovrakDevice::Open()
{
    m_hDevice = currentHidBackend()->open(m_devicePath);
    if (m_hDevice == nullptr)
        return 1;

    if (!GetData(KSCAP_HID_DEVICE_INFO, ReportLength::DeviceInfo))
        return 2;
    std::copy_n(ReportPayload(), DeviceInfo::kSize, m_deviceInfo.bytes.begin());

    if (!GetData(KSCAP_HID_FIRMWARE_INFO, ReportLength::FirmwareInfo))
        return 3;
    std::copy_n(ReportPayload(), FlashInfo::kSize, m_flashInfo.bytes.begin());

    // The fixed part of the installed firmware's header.
    std::array<uint8_t, FirmwareHeader::kFixedSize> installed {};
    if (!ReadFirmwareData(m_flashInfo.firmwareBaseAddress(), installed.data(), installed.size()))
        return 4;

    // The header describes the running firmware when its version bits 16-23 and 0-7 are the
    // running major and minor version.
    const bool describesRunning = installed[FirmwareHeader::OffFirmwareVersion + 2] == m_deviceInfo.runningMajorVersion()
                               && installed[FirmwareHeader::OffFirmwareVersion] == m_deviceInfo.runningMinorVersion();
    m_runningCompatibilityCode = describesRunning ? le::read16(installed.data() + FirmwareHeader::OffCompatibilityCode) : 0;
    const uint16_t installedSize = le::read16(installed.data() + FirmwareHeader::OffHeaderSize);
    m_installedHeaderSize = installedSize >= FirmwareHeader::kFixedSize && installedSize <= FirmwareHeader::kCapacity
                              ? installedSize
                              : FirmwareHeader::kCapacity;

    // Both header places as the boot loader sees them, each block read whole up to 256 bytes.
    const uint32_t above = m_flashInfo.firmwareBaseAddress() + kSafeHeaderOffset;
    std::array<uint8_t, FirmwareHeader::kFixedSize> aboveFixed {};
    if (!ReadInstalledHeader(m_flashInfo.firmwareBaseAddress(), installed.data(), m_headerAtBase))
        return 4;
    const bool placeAbove = above >= kSafeHeaderOffset; // not when the address space wraps
    if (placeAbove
        && (!ReadFirmwareData(above, aboveFixed.data(), aboveFixed.size())
            || !ReadInstalledHeader(above, aboveFixed.data(), m_headerAbove)))
        return 4;

    m_bPresent = true;
    return 0;
}

bool CTovrakDevice::ReadInstalledHeader(uint32_t address, const uint8_t* fixedPart, InstalledHeader& out)
{
    std::array<uint8_t, InstalledHeader::kMaxReadBytes> block {};
    std::copy_n(fixedPart, FirmwareHeader::kFixedSize, block.begin());
    const size_t wanted = InstalledHeader::bytesToRead(fixedPart);
    if (wanted > FirmwareHeader::kFixedSize
        && !ReadFirmwareData(address + FirmwareHeader::kFixedSize, block.data() + FirmwareHeader::kFixedSize,
                             wanted - FirmwareHeader::kFixedSize))
        return false;
    out = InstalledHeader::fromBytes(address, block.data(), wanted);
    return true;
}

bool CTovrakDevice::IsSafeUpgrade(const FirmwareHeader& image) const
{
    if (!isSafeUpgrade(image.compatibilityCode(), m_runningCompatibilityCode))
        return false;
    return keepsBaseHeader(image, m_flashInfo.firmwareBaseAddress(), m_headerAtBase);
}

bool CTovrakDevice::SetData(uint8_t reportId, const uint8_t* payload, size_t payloadLength)
{
    m_reportBuffer[0] = reportId;
    if (payloadLength > kReportBufferSize - 1 || (payloadLength > 0 && payload == nullptr))
    {
        KS_LOG_ERROR("CTovrakDevice::SetData", getTranslatedString(StringId::FailedToWriteData).toStdString()
                                                   << ", SetData flag = " << int(reportId)
                                                   << ", payload of " << payloadLength << " bytes does not fit a report");
        return false;
    }
    if (payloadLength > 0)
        std::memmove(m_reportBuffer.data() + 1, payload, payloadLength);
    if (m_hDevice != nullptr && m_hDevice->sendOutputReport(m_reportBuffer.data(), payloadLength + 1))
        return true;

    KS_LOG_ERROR("CTovrakDevice::SetData", getTranslatedString(StringId::FailedToWriteData).toStdString()
                                               << ", SetData flag = " << int(reportId) << ", GetLastError()="
                                               << (m_hDevice != nullptr ? m_hDevice->lastError() : "device not open"));
    return false;
}

bool CTovrakDevice::GetData(uint8_t reportId, size_t length)
{
    if (m_hDevice == nullptr || length == 0 || length > kReportBufferSize)
        return false;
    m_reportBuffer[0] = reportId;
    return m_hDevice->getInputReport(m_reportBuffer.data(), length);
}

bool CTovrakDevice::ProbeInterface(HidBackend& backend, const std::string& path)
{
    const std::unique_ptr<HidHandle> handle = backend.open(path);
    if (handle == nullptr)
        return false;

    uint16_t vendorId = 0;
    uint16_t productId = 0;
    if (!handle->getAttributes(vendorId, productId) || !isSupportedDeviceId(vendorId, productId))
        return false;
    if (!handle->hasParsableReportDescriptor())
        return false;
    if (!handle->canReadSerialNumberString())
        return false;

    std::array<uint8_t, kReportBufferSize> buffer {};
    buffer[0] = KSCAP_HID_DEVICE_INFO;
    if (!handle->getInputReport(buffer.data(), ReportLength::DeviceInfo))
        return false;
    return le::read16(buffer.data() + 1 + DeviceInfo::OffInfoFormat) == DeviceInfo::kSupportedInfoFormat;
}
