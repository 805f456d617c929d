#include "UpgradeSupervisor.h"

#include "Log.h"
#include "StringResources.h"
#include "UpgradeThread.h"

#include <algorithm>

UpgradeSupervisor::UpgradeSupervisor()
    : UpgradeSupervisor([](const DeviceRow& row, bool force) { return std::make_unique<CUpgradeThread>(row, force); })
{
}

UpgradeSupervisor::UpgradeSupervisor(WorkerFactory factory) : m_factory(std::move(factory))
{
}

UpgradeSupervisor::~UpgradeSupervisor()
{
    StopAll();
}

bool UpgradeSupervisor::IsRowSelectable(const Rows& rows, size_t index, bool allowDowngrade) const
{
    if (index >= rows.size())
        return false;
    const DeviceRow& row = rows[index];
    // A locked row stands for a lost device and is never selectable, even when a row of the same
    // serial number exists beside it.
    return !row.locked && !IsUpgradedDevice(keyOf(row)) && !row.firmwareMissing
           && (row.upgradeAvailable || allowDowngrade);
}

bool UpgradeSupervisor::HasSelectedRows(const Rows& rows, bool allowDowngrade)
{
    bool any = false;
    for (const DeviceRow& row : rows)
    {
        if (!row.selected)
            continue;
        if (!row.upgradeAvailable && !allowDowngrade)
            return false;
        any = true;
    }
    return any;
}

bool UpgradeSupervisor::HasSelectableRows(const Rows& rows, bool allowDowngrade) const
{
    for (size_t i = 0; i < rows.size(); ++i)
        if (IsRowSelectable(rows, i, allowDowngrade))
            return true;
    return false;
}

void UpgradeSupervisor::SelectAll(Rows& rows, bool select, bool allowDowngrade) const
{
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i].selected = select && IsRowSelectable(rows, i, allowDowngrade);
}

bool UpgradeSupervisor::IsWorkerRunning(const CUpgradeThread& worker)
{
    return worker.m_bRunning || worker.isThreadRunning();
}

int UpgradeSupervisor::GetRowThreadState(const juce::String& serialNumber) const
{
    DeviceRow row;
    row.serialNumber = serialNumber;
    return GetRowThreadState(row);
}

int UpgradeSupervisor::GetRowThreadState(const DeviceRow& row) const
{
    for (const auto& worker : m_threads)
    {
        if (!sameDevice(worker->m_deviceRow, row))
            continue;
        if (IsWorkerRunning(*worker))
            return RunningState;
        if (worker->m_bFailed)
            return FailedState;
        break; // only the first worker of the row counts
    }
    return IsUpgradedDevice(keyOf(row)) ? UpgradedState : NoWorkerState;
}

bool UpgradeSupervisor::IsUpgradedSerial(const juce::String& serialNumber) const
{
    return m_upgraded.containsSerial(serialNumber);
}

bool UpgradeSupervisor::ShowsPercent(int32_t status) noexcept
{
    return status == RESULT_ERASING || status == RESULT_WRITING || status == RESULT_VERIFYING;
}

juce::String UpgradeSupervisor::PollText(int32_t status, int32_t percent, bool upgradedThisRun)
{
    if (status == RESULT_CAN_DOWNGRADE || status == RESULT_RESERVED_17)
        return upgradedThisRun ? getTranslatedString(StringId::AlreadyUpgraded) : getUpgradeStatusText(status);
    if (ShowsPercent(status))
        return getUpgradeStatusText(status) + " ...   " + juce::String(percent) + "%";
    return getUpgradeStatusText(status);
}

void UpgradeSupervisor::StopWorker(CUpgradeThread& worker)
{
    // A worker's body does not look at the exit request: this waits until the upgrade ends.
    worker.signalThreadShouldExit();
    worker.waitForThreadToExit(-1);
}

std::unique_ptr<CUpgradeThread> UpgradeSupervisor::MakeStartedWorker(const DeviceRow& row, bool force,
                                                                    int32_t restartCount)
{
    auto worker = m_factory(row, force);
    worker->m_nRestartCount = restartCount;
    worker->startThread(juce::Thread::Priority::normal);
    return worker;
}

void UpgradeSupervisor::StartSelected(const Rows& rows, bool allowDowngrade)
{
    m_bUpgrading = true;
    for (size_t i = 0; i < rows.size(); ++i)
    {
        const DeviceRow& row = rows[i];
        if (!row.selected)
            continue;
        const bool force = IsRowSelectable(rows, i, allowDowngrade);

        // The row's previous worker (the first one for its device) goes. A device that shares
        // its serial number with another is a device of its own: its worker stays.
        const auto previous = std::find_if(m_threads.begin(), m_threads.end(), [&](const auto& worker) {
            return sameDevice(worker->m_deviceRow, row);
        });
        if (previous != m_threads.end())
        {
            StopWorker(**previous);
            m_threads.erase(previous);
        }

        auto worker = MakeStartedWorker(row, force, 0);
        // Logged under the table's operation, which this does the work of.
        KS_LOG_INFO("KSTableListBox::StartUpgradeSelectedDevices",
                    "start upgrade thread for " << row.serialNumber.toStdString());
        m_threads.push_back(std::move(worker));
    }
}

bool UpgradeSupervisor::Poll(Rows& rows)
{
    if (m_threads.empty())
    {
        m_bUpgrading = false;
        return false;
    }

    bool anyRunning = false;
    for (auto& slot : m_threads)
    {
        CUpgradeThread& worker = *slot;
        // Running is read before failed: a worker sets its outcome before it stops running, so a
        // worker seen stopped here shows its final outcome below. Read the other way round, a
        // worker failing between the two reads would look neither failed nor running and would
        // never be relaunched.
        const bool running = IsWorkerRunning(worker);
        if (worker.m_bFailed)
        {
            const int32_t restarts = worker.m_nRestartCount;
            if (restarts >= kLastRestart)
                continue;
            // Relaunch with force in the same place; the row keeps the text of the failure.
            const DeviceRow row = worker.m_deviceRow;
            StopWorker(worker);
            slot.reset();
            slot = MakeStartedWorker(row, true, restarts + 1);
            anyRunning = true;
            continue;
        }

        const DeviceKey device = keyOf(worker.m_deviceRow);
        int32_t code = worker.m_nStatus;
        int32_t percent = worker.m_nProgress;
        bool takesPercent = ShowsPercent(code);
        if (code == RESULT_VERIFIED)
        {
            // The worker writes no status after reporting a verified upgrade.
            takesPercent = true;
            percent = -1;
            m_upgraded.add(device);
            worker.m_nStatus = RESULT_REPLUG_REQUIRED;
            code = RESULT_REPLUG_REQUIRED;
        }
        const juce::String text = PollText(code, percent, IsUpgradedDevice(device));

        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [&](const DeviceRow& r) { return sameDevice(r, worker.m_deviceRow); });
        if (row != rows.end())
        {
            row->status = code;
            row->statusText = text;
            if (takesPercent)
                row->progress = percent;
        }
        anyRunning = anyRunning || running;
    }
    m_bUpgrading = anyRunning;
    return true;
}

void UpgradeSupervisor::Reconcile(Rows& rows, const std::vector<DeviceKey>& attachedDevices)
{
    for (size_t i = 0; i < m_threads.size();)
    {
        CUpgradeThread& worker = *m_threads[i];
        const DeviceKey device = keyOf(worker.m_deviceRow);
        const bool attached = std::any_of(attachedDevices.begin(), attachedDevices.end(),
                                          [&](const DeviceKey& listed) { return sameDevice(listed, device); });
        if (!attached && !worker.m_bFailed)
        {
            // The device is gone while its worker has not failed (yet): wait for the worker to
            // end. Only one that ended without failing is dropped; one that failed in the
            // meantime keeps its outcome and gets the lost-device row below.
            StopWorker(worker);
            if (!worker.m_bFailed)
            {
                m_threads.erase(m_threads.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
        }
        if (attached)
        {
            if (worker.m_bFailed)
                for (DeviceRow& row : rows)
                    if (sameDevice(row, worker.m_deviceRow))
                    {
                        row.status = RESULT_DEVICE_NOT_FOUND;
                        row.progress = -1;
                        row.statusText = getTranslatedString(StringId::FailedToUpgradePleaseRetry);
                    }
            ++i;
            continue;
        }

        // A failed worker whose device is gone.
        DeviceRow lost = worker.m_deviceRow;
        lost.status = RESULT_DEVICE_NOT_FOUND;
        lost.progress = -1;
        lost.locked = true;
        // A locked row can never be chosen: it must not carry the selection it was started with.
        lost.selected = false;
        lost.statusText = getTranslatedString(StringId::DeviceMayBeLost);
        rows.push_back(std::move(lost));
        ++i;
    }
}

void UpgradeSupervisor::StopAll()
{
    while (!m_threads.empty())
    {
        CUpgradeThread& worker = *m_threads.front();
        if (IsWorkerRunning(worker))
            StopWorker(worker);
        m_threads.erase(m_threads.begin());
    }
}
