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

CTovrakDevice::CTovrakDevice(const std::string& path, bool logSetUpFailure, const std::atomic<bool>* cancel)
    : m_devicePath(path), m_pCancel(cancel)
{
    const int failedStep = Open();
    m_pCancel = nullptr;
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

bool CTovrakDevice::ConnectionEnded() const
{
    return m_hDevice != nullptr && !m_hDevice->isConnected();
}

CTovrakDevice::Use::Use(std::shared_ptr<CTovrakDevice> device) : m_device(std::move(device))
{
    if (m_device != nullptr)
        ++m_device->m_users;
}

CTovrakDevice::Use& CTovrakDevice::Use::operator=(Use&& other) noexcept
{
    if (this != &other)
    {
        release();
        m_device = std::move(other.m_device);
    }
    return *this;
}

void CTovrakDevice::Use::release()
{
    if (m_device != nullptr)
        --m_device->m_users;
    m_device.reset();
}

namespace
{
std::string withError(const char* what, const std::string& error)
{
    return error.empty() ? std::string(what) : std::string(what) + " (" + error + ")";
}
} // namespace

int CTovrakDevice::Open()
{
    const std::shared_ptr<HidBackend> backend = currentHidBackend();
    m_hDevice = backend->open(m_devicePath);
    if (m_hDevice == nullptr)
    {
        m_setUpError = withError("the interface could not be opened", backend->lastOpenError());
        return 1;
    }

    if (!GetData(KSCAP_HID_DEVICE_INFO, ReportLength::DeviceInfo))
    {
        m_setUpError = withError("the device information report failed", m_hDevice->lastError());
        return 2;
    }
    std::copy_n(ReportPayload(), DeviceInfo::kSize, m_deviceInfo.bytes.begin());

    if (!GetData(KSCAP_HID_FIRMWARE_INFO, ReportLength::FirmwareInfo))
    {
        m_setUpError = withError("the flash information report failed", m_hDevice->lastError());
        return 3;
    }
    std::copy_n(ReportPayload(), FlashInfo::kSize, m_flashInfo.bytes.begin());

    // The fixed part of the installed firmware's header.
    std::array<uint8_t, FirmwareHeader::kFixedSize> installed {};
    const auto headerUnreadable = [this] {
        m_setUpError = withError("the installed firmware header could not be read", m_hDevice->lastError());
        return 4;
    };
    if (!ReadFirmwareData(m_flashInfo.firmwareBaseAddress(), installed.data(), installed.size()))
        return headerUnreadable();

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
        return headerUnreadable();
    const bool placeAbove = above >= kSafeHeaderOffset; // not when the address space wraps
    if (placeAbove
        && (!ReadFirmwareData(above, aboveFixed.data(), aboveFixed.size())
            || !ReadInstalledHeader(above, aboveFixed.data(), m_headerAbove)))
        return headerUnreadable();

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
    if (m_pCancel != nullptr && m_pCancel->load())
        return false; // the program ends during the set-up: nothing worth a log line
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
    if (m_pCancel != nullptr && m_pCancel->load())
        return false;
    m_reportBuffer[0] = reportId;
    return m_hDevice->getInputReport(m_reportBuffer.data(), length);
}

bool CTovrakDevice::ProbeInterface(HidBackend& backend, const std::string& path)
{
    return Probe(backend, path, nullptr).kind == SetUpOutcome::Kind::Accepted;
}

SetUpOutcome CTovrakDevice::Probe(HidBackend& backend, const std::string& path, const std::atomic<bool>* cancel)
{
    SetUpOutcome outcome;
    outcome.path = path;
    std::unique_ptr<HidHandle> handle = backend.open(path);
    if (handle == nullptr)
        return outcome;

    uint16_t vendorId = 0;
    uint16_t productId = 0;
    if (!handle->getAttributes(vendorId, productId) || !isSupportedDeviceId(vendorId, productId))
        return outcome;
    if (!handle->hasParsableReportDescriptor())
        return outcome;
    if (!handle->canReadSerialNumberString())
        return outcome;
    if (cancel != nullptr && cancel->load())
        return outcome;

    std::array<uint8_t, kReportBufferSize> buffer {};
    buffer[0] = KSCAP_HID_DEVICE_INFO;
    if (!handle->getInputReport(buffer.data(), ReportLength::DeviceInfo))
    {
        // A supported device that does not answer: worth telling, unlike a foreign interface.
        outcome.kind = SetUpOutcome::Kind::Unreadable;
        outcome.reason = withError("the device information report failed", handle->lastError());
        outcome.watch = std::move(handle);
        return outcome;
    }
    if (le::read16(buffer.data() + 1 + DeviceInfo::OffInfoFormat) != DeviceInfo::kSupportedInfoFormat)
        return outcome;
    DeviceInfo info;
    std::copy_n(buffer.data() + 1, DeviceInfo::kSize, info.bytes.begin());
    outcome.serialNumber = info.serialNumber();
    outcome.kind = SetUpOutcome::Kind::Accepted;
    return outcome;
}
