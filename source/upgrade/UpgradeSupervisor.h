#pragma once

#include "DeviceRow.h"

#include <juce_core/juce_core.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CUpgradeThread;

// Runs the upgrade of the selected rows: one worker per row, polled into the rows, failed
// workers relaunched (at most three attempts per row), ended workers settled against the device
// list. Owns the workers and remembers the devices upgraded since the program started.
// It knows nothing of windows: the device table (or any other front end) owns the rows, calls
// these operations on one thread (the message thread) and shows the rows.
//
// Workers, rows and upgraded devices are matched by sameDevice: the serial number, compared
// exactly, and the interface path whenever another device shares the serial number.
class UpgradeSupervisor
{
public:
    using Rows = std::vector<DeviceRow>;
    // Makes a worker for a row; the supervisor starts it. Tests put scripted workers here.
    using WorkerFactory = std::function<std::unique_ptr<CUpgradeThread>(const DeviceRow& row, bool force)>;

    // Relaunches stop at this restart count: counts 0, 1 and 2 are the three attempts.
    static constexpr int32_t kLastRestart = 2;

    UpgradeSupervisor();
    explicit UpgradeSupervisor(WorkerFactory factory);
    // Stops every worker (waiting for each to end).
    ~UpgradeSupervisor();

    // ---- selection rules ----
    // Not locked, its device not upgraded since start, an image fits, and the image is newer or
    // downgrades are allowed.
    bool IsRowSelectable(const Rows& rows, size_t index, bool allowDowngrade) const;
    // At least one row selected, and none selected whose image is not newer while downgrades are
    // not allowed.
    static bool HasSelectedRows(const Rows& rows, bool allowDowngrade);
    bool HasSelectableRows(const Rows& rows, bool allowDowngrade) const;
    // Selects every selectable row (with select true) and clears every other row.
    void SelectAll(Rows& rows, bool select, bool allowDowngrade) const;

    // ---- what the rows show of the workers ----
    enum ThreadState : int
    {
        NoWorkerState = 0,
        RunningState = 1,  // a worker runs for the row
        UpgradedState = 2, // upgraded since the program started
        FailedState = 3    // the row's worker failed
    };
    // The first worker for the serial number decides (running, failed); otherwise upgraded or
    // nothing.
    int GetRowThreadState(const juce::String& serialNumber) const;
    // The same for the physical device of a row (devices may share a serial number).
    int GetRowThreadState(const DeviceRow& row) const;
    // Whether some device with this serial number, on whatever path, was upgraded since start.
    bool IsUpgradedSerial(const juce::String& serialNumber) const;
    // Whether this very device was upgraded since start: a twin of an upgraded device was not.
    bool IsUpgradedDevice(const DeviceKey& device) const { return m_upgraded.contains(device); }
    const DeviceKeyList& UpgradedDevices() const noexcept { return m_upgraded; }

    // True from StartSelected until a poll finds no worker running and none to relaunch.
    bool IsUpgrading() const noexcept { return m_bUpgrading; }

    // ---- supervision ----
    // Starts a worker for every selected row (force when the row is selectable), replacing the
    // row's previous worker, and enters the upgrading state. The caller refills the rows first.
    void StartSelected(const Rows& rows, bool allowDowngrade);
    // Writes the workers' status and progress into their rows, turns a verified upgrade into
    // "Unplug and replug required" (remembering the device), relaunches failed workers
    // and recomputes the upgrading state. Returns false when there are no workers (nothing was
    // looked at).
    bool Poll(Rows& rows);
    // After a refill: rows of failed workers whose device is still attached read "Failed to
    // upgrade, please retry."; a failed worker whose device is gone adds a locked row "Failed to
    // upgrade, and the device may lost."; a worker that did not fail and whose device is gone is
    // stopped and dropped. `attached` holds the listed devices (listedDeviceKeys): a worker's
    // device is attached when one of them is the same device (sameDevice), so a twin pulled out
    // gets its lost-device row while the other twin stays.
    void Reconcile(Rows& rows, const std::vector<DeviceKey>& attached);
    // Stops and drops every worker, in order.
    void StopAll();

    // The status text that a poll writes for a worker's status: the status text, with " ...   ",
    // the percent and "%" for the three working phases, and "Already upgraded" for a device that
    // is not newer but was upgraded since the program started.
    static juce::String PollText(int32_t status, int32_t percent, bool upgradedThisRun);
    static bool ShowsPercent(int32_t status) noexcept;

    // A worker counts as running from its start until its thread has ended, even before its
    // body has set m_bRunning: a poll in between must not end the upgrading state.
    static bool IsWorkerRunning(const CUpgradeThread& worker);

    size_t WorkerCount() const noexcept { return m_threads.size(); }
    const CUpgradeThread& Worker(size_t index) const { return *m_threads[index]; }

private:
    std::unique_ptr<CUpgradeThread> MakeStartedWorker(const DeviceRow& row, bool force, int32_t restartCount);
    static void StopWorker(CUpgradeThread& worker);

    WorkerFactory m_factory;
    std::vector<std::unique_ptr<CUpgradeThread>> m_threads; // in creation order
    DeviceKeyList m_upgraded;                                // only grows; duplicates allowed
    bool m_bUpgrading = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(UpgradeSupervisor)
};
