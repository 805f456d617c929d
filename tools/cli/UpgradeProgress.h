#pragma once

#include "DeviceRow.h"
#include "UpgradeSupervisor.h"

#include <juce_core/juce_core.h>

#include <ostream>
#include <vector>

class CUpgradeThread;

// What the upgrade command follows of one device while it upgrades: its row and its worker,
// found by sameDevice (devices may share a serial number), and the progress lines.

constexpr int kUpgradeAttempts = UpgradeSupervisor::kLastRestart + 1;

// The first row of the device, or null.
const DeviceRow* rowOfDevice(const std::vector<DeviceRow>& rows, const DeviceKey& device);
// The device's worker (the first one for it), or null.
const CUpgradeThread* workerOfDevice(const UpgradeSupervisor& supervisor, const DeviceKey& device);
// The attempt a device's worker is at: 1 to 3 (0 without a worker).
int attemptOfDevice(const UpgradeSupervisor& supervisor, const DeviceKey& device);

// Progress of the running upgrades: on a terminal one line per device, redrawn in place; otherwise
// one line each time a device enters another phase or attempt.
class UpgradeProgressView
{
public:
    struct Device
    {
        DeviceKey key;
        juce::String name;
    };

    UpgradeProgressView(std::ostream& out, bool live, const std::vector<Device>& devices);

    // Between polls: phase lines only (the live lines are drawn after the poll).
    void Observe(const UpgradeSupervisor& supervisor);
    void Update(const std::vector<DeviceRow>& rows, const UpgradeSupervisor& supervisor);

private:
    struct Line
    {
        Device device;
        int32_t lastStatus = -1;
        int lastAttempt = 0;
    };

    juce::String Lead(const Device& device) const;
    void Redraw(const std::vector<DeviceRow>& rows, const UpgradeSupervisor& supervisor);
    void PrintPhaseChanges(const UpgradeSupervisor& supervisor);

    std::ostream& m_out;
    const bool m_bLive;
    std::vector<Line> m_lines;
    int m_nameWidth = 0;
    int m_serialWidth = 0;
    bool m_bDrawn = false;
};
