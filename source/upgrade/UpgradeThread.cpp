#include "UpgradeThread.h"

#include "FirmwareFileManager.h"
#include "FirmwareVersion.h"
#include "Log.h"
#include "Platform.h"
#include "TovrakDevice.h"

namespace
{
// Whether the image is newer than the running firmware; build numbers take no part.
bool isNewerThanRunning(const FirmwareImage& image, const DeviceInfo& info)
{
    const uint32_t version = image.header.firmwareVersion();
    uint32_t imageMajor = version >> 16;     // bits 16-31, as one 16-bit number
    uint32_t imageMinor = version & 0xffff;  // bits 0-15
    // Devices whose images carry the packed version (major in bits 24-31, minor in 16-23)
    // are compared in that reading: bits 16-31 of a packed version always exceed the running
    // major, so the plain rule would take every such image, even an older one, as newer.
    if (usesPackedVersion(info.productCode()))
    {
        const FirmwareVersion packed = readPackedVersion(version);
        imageMajor = packed.major;
        imageMinor = packed.minor;
    }
    return imageMajor > info.runningMajorVersion()
        || (imageMajor == info.runningMajorVersion() && imageMinor > info.runningMinorVersion());
}
} // namespace

CUpgradeThread::CUpgradeThread(const DeviceRow& row, bool force)
    : juce::Thread(juce::String()), m_bForce(force), m_deviceRow(row)
{
    CTovrakDevice::Refresh();

    const std::string serial = m_deviceRow.serialNumber.toStdString();
    // The row's own device, by serial number; its path chooses between devices that share the
    // serial number. A device that had no twin is found on a new path too (a replug may renumber
    // its interface), which lets a relaunch reach it again; one that had a twin only on its own.
    m_pDevice = CTovrakDevice::FindForWorker(serial, m_deviceRow.devicePath.toStdString(), m_deviceRow.sharesSerial);
    m_deviceUse = CTovrakDevice::Use(m_pDevice);
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
    const platform::ScopedTimerResolution timerResolution; // 1 ms sleeps in the busy-flag poll, not 15.6 ms ticks
    m_bRunning = true;
    const std::string serial = m_deviceRow.serialNumber.toStdString();
    struct ReleaseAtEnd
    {
        CTovrakDevice::Use& use;
        ~ReleaseAtEnd() { use.release(); }
    } releaseAtEnd { m_deviceUse };

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

    if (!m_bForce && !isNewerThanRunning(*image, info))
    {
        m_nStatus = RESULT_CAN_DOWNGRADE;
        m_bRunning = false;
        return;
    }

    const bool safe = m_pDevice->IsSafeUpgrade(image->header);
    const bool result = m_pDevice->Upgrade(image->header, image->sections, m_nStatus, m_nProgress, !safe);
    // The outcome is set before running clears: a poller that sees the worker stopped also
    // sees whether it failed.
    m_bFailed = !result;
    m_bRunning = false;
}
