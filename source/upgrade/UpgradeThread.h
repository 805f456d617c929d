#pragma once

#include "DeviceRow.h"
#include "TovrakDevice.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>
#include <memory>

// The worker that upgrades one device on its own thread. It finds its device in the device list
// (by serial number; by path among twins) when it is created, and its firmware image when it
// runs; it decides whether the upgrade is wanted and whether it is a safe one, then runs the
// device's flash procedure. It reports only through the members below, which the device table polls.
class CUpgradeThread : public juce::Thread
{
public:
    // Brings the device list up to date and looks the row's device up. Message thread only.
    CUpgradeThread(const DeviceRow& row, bool force);
    ~CUpgradeThread() override;

    void run() override;

    // Set by the table when it replaces a failed worker by a new one for the same row.
    std::atomic<int32_t> m_nRestartCount { 0 };
    const bool m_bForce;
    std::atomic<bool> m_bRunning { false };
    std::atomic<bool> m_bFailed { false };
    std::atomic<int32_t> m_nStatus { RESULT_READY };
    std::atomic<int32_t> m_nProgress { 0 };
    const DeviceRow m_deviceRow;

    // The device found at construction, or null. Shared: it stays alive while this worker runs
    // even when a refresh drops it from the list.
    const std::shared_ptr<CTovrakDevice>& device() const noexcept { return m_pDevice; }

private:
    std::shared_ptr<CTovrakDevice> m_pDevice;
    // Marks the device in use from construction until the body ends: the list keeps it meanwhile.
    CTovrakDevice::Use m_deviceUse;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(CUpgradeThread)
};
