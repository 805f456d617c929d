#include "UpgradeThread.h"

#include "FirmwareFileManager.h"
#include "FirmwareVersion.h"
#include "Log.h"
#include "TovrakDevice.h"

CUpgradeThread::CUpgradeThread(const DeviceRow& row, bool force)
    : juce::Thread(juce::String()), m_bForce(force), m_deviceRow(row)
{
    CTovrakDevice::Refresh();

    const std::string serial = m_deviceRow.serialNumber.toStdString();
    m_pDevice = CTovrakDevice::FindBySerialNumber(serial);
    if (m_pDevice != nullptr)
        KS_LOG_INFO("CUpgradeThread::CUpgradeThread", "find device from g_devices , serial No. is :" << serial);
    else
        KS_LOG_ERROR("CUpgradeThread::CUpgradeThread", "can not find device " << serial);
}

CUpgradeThread::~CUpgradeThread()
{
    // The table asks a worker to exit and waits before it destroys it; this is the safety net.
    stopThread(-1);
}

void CUpgradeThread::run()
{
    m_bRunning = true;
    const std::string serial = m_deviceRow.serialNumber.toStdString();

    if (m_pDevice == nullptr)
    {
        m_nStatus = RESULT_DEVICE_NOT_FOUND;
        m_bFailed = true;
        m_bRunning = false;
        KS_LOG_ERROR("CUpgradeThread::run", "upgrade thread for " << serial << " is ready to run. but m_pDevice is nullptr.");
        return;
    }

    const DeviceInfo info = m_pDevice->deviceInfo();
    const FirmwareImage* image = g_firmwareFileMgr.findImage(info.productCode(), info.productVariant(), info.hardwareRevision());
    if (image == nullptr)
    {
        m_nStatus = RESULT_FIRMWARE_NOT_FOUND;
        m_bFailed = true;
        m_bRunning = false;
        KS_LOG_ERROR("CUpgradeThread::run", "upgrade thread for " << serial
                                                                   << " is ready to run. but can not find firmware data from g_firmwareFileMgr.");
        return;
    }

    if (!m_bForce)
    {
        // Only major and minor take part: the image's bits 16-31 against the running major,
        // then bits 0-15 against the running minor.
        const uint32_t version = image->header.firmwareVersion();
        const uint16_t imageHigh = static_cast<uint16_t>(version >> 16);
        const uint16_t imageLow = static_cast<uint16_t>(version & 0xffff);
        const bool newer = imageHigh > info.runningMajorVersion() || (imageHigh == info.runningMajorVersion() && imageLow > info.runningMinorVersion());
        if (!newer)
        {
            m_nStatus = RESULT_CAN_DOWNGRADE;
            m_bRunning = false;
            return;
        }
    }

    const bool safe = isSafeUpgrade(image->header.compatibilityCode(), m_pDevice->runningCompatibilityCode());
    const bool result = m_pDevice->Upgrade(image->header, image->sections, m_nStatus, m_nProgress, !safe);
    m_bFailed = !result;
    m_bRunning = false;
}
