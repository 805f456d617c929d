// The flash commands: waiting for the end of a flash operation, writing, reading, erasing.
#include "TovrakDevice.h"

#include "Log.h"
#include "StringResources.h"

#include <algorithm>
#include <thread>

bool CTovrakDevice::WaitForWIP()
{
    const bool stuckBefore = m_bBusyStuck;
    const auto deadline = std::chrono::steady_clock::now() + (stuckBefore ? std::chrono::milliseconds(0) : m_wipTimeLimit);
    for (;;)
    {
        if (!GetData(KSCAP_HID_FIRMWARE_WIP, ReportLength::FirmwareWip))
        {
            KS_LOG_ERROR("CTovrakDevice::WaitForWIP", "GetData for KSCAP_HID_FIRMWARE_WIP failed.");
            return false;
        }
        const bool inProgress = ReportPayload()[0] != 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!inProgress)
        {
            m_bBusyStuck = false;
            return true;
        }
        // A device whose flag never clears must not hold its worker forever.
        if (std::chrono::steady_clock::now() >= deadline)
        {
            if (stuckBefore)
                KS_LOG_ERROR("CTovrakDevice::WaitForWIP", "KSCAP_HID_FIRMWARE_WIP still set since an earlier time-out, giving up at once.");
            else
                KS_LOG_ERROR("CTovrakDevice::WaitForWIP", "KSCAP_HID_FIRMWARE_WIP still set after "
                                                              << m_wipTimeLimit.count() << " ms, giving up.");
            m_bBusyStuck = true;
            return false;
        }
    }
}

bool CTovrakDevice::WaitUntilIdle()
{
    // More failed polls in a row than this: the device no longer answers, waiting longer is no use.
    constexpr int kFailedPollsInARow = 4;
    const bool stuckBefore = m_bBusyStuck;
    const auto deadline = std::chrono::steady_clock::now() + (stuckBefore ? std::chrono::milliseconds(0) : m_wipTimeLimit);
    int failedInARow = 0;
    for (;;)
    {
        if (GetData(KSCAP_HID_FIRMWARE_WIP, ReportLength::FirmwareWip))
        {
            failedInARow = 0;
            if (ReportPayload()[0] == 0)
            {
                m_bBusyStuck = false;
                return true;
            }
        }
        else if (++failedInARow >= kFailedPollsInARow)
        {
            KS_LOG_ERROR("CTovrakDevice::WaitUntilIdle", "GetData for KSCAP_HID_FIRMWARE_WIP failed " << failedInARow
                                                                                                     << " times in a row.");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (std::chrono::steady_clock::now() >= deadline && failedInARow == 0)
        {
            if (stuckBefore)
                KS_LOG_ERROR("CTovrakDevice::WaitUntilIdle", "the device is still busy since an earlier time-out, no command is sent.");
            else
                KS_LOG_ERROR("CTovrakDevice::WaitUntilIdle", "the device is still busy after " << m_wipTimeLimit.count()
                                                                                              << " ms, no command is sent.");
            m_bBusyStuck = true;
            return false;
        }
    }
}

bool CTovrakDevice::WriteFirmwareData(uint32_t address, const uint8_t* data, uint16_t length)
{
    using namespace FirmwareDataPayload;
    if (length == 0 || length > MaxWriteBytes || data == nullptr)
    {
        KS_LOG_ERROR("CTovrakDevice::WriteFirmwareData", getTranslatedString(StringId::FailedToWriteFirmwareData).toStdString()
                                                             << ": " << length << " bytes is not 1 to " << MaxWriteBytes);
        return false;
    }
    std::array<uint8_t, ReportLength::FirmwareData - 1> payload {};
    le::write32(payload.data() + OffAddress, address);
    le::write16(payload.data() + OffCount, length);
    std::copy_n(data, length, payload.begin() + OffData);

    if (!SetData(KSCAP_HID_FIRMWARE_DATA, payload.data(), payload.size()))
    {
        KS_LOG_ERROR("CTovrakDevice::WriteFirmwareData", getTranslatedString(StringId::FailedToWriteFirmwareData).toStdString());
        return false;
    }
    return WaitForWIP();
}

bool CTovrakDevice::ReadFirmwareData(uint32_t address, uint8_t* buffer, size_t length)
{
    using namespace FirmwareDataPayload;
    size_t offset = 0;
    while (offset < length)
    {
        const size_t piece = std::min(ReadPieceBytes, length - offset);

        std::array<uint8_t, ReportLength::FirmwareReadAddress - 1> readAddress {};
        le::write32(readAddress.data(), address + static_cast<uint32_t>(offset));
        if (!SetData(KSCAP_HID_FIRMWARE_READ_ADDRESS, readAddress.data(), readAddress.size()))
        {
            KS_LOG_ERROR("CTovrakDevice::ReadFirmwareData", "SetData for KSCAP_HID_FIRMWARE_READ_ADDRESS failed!");
            return false;
        }
        if (!GetData(KSCAP_HID_FIRMWARE_DATA, ReportLength::FirmwareData))
        {
            KS_LOG_ERROR("CTovrakDevice::ReadFirmwareData", "GetData for KSCAP_HID_FIRMWARE_DATA failed. "
                                                                << getTranslatedString(StringId::FailedToReadFirmwareData).toStdString());
            return false;
        }
        std::copy_n(ReportPayload() + OffData, piece, buffer + offset);
        offset += piece;
    }
    return true;
}

bool CTovrakDevice::SetFirmwareErase(uint32_t address, uint32_t count)
{
    std::array<uint8_t, ReportLength::FirmwareErase - 1> payload {};
    le::write32(payload.data(), address);
    le::write32(payload.data() + 4, count);
    return SetData(KSCAP_HID_FIRMWARE_ERASE, payload.data(), payload.size()) && WaitForWIP();
}
