#include "UpgradeProgress.h"

#include "CliText.h"
#include "UpgradeThread.h"

#include <algorithm>

namespace
{
constexpr int kBarWidth = 20;

juce::String attemptText(int attempt)
{
    return attempt > 1 ? " (attempt " + juce::String(attempt) + " of " + juce::String(kUpgradeAttempts) + ")" : juce::String();
}
} // namespace

const DeviceRow* rowOfDevice(const std::vector<DeviceRow>& rows, const DeviceKey& device)
{
    for (const DeviceRow& row : rows)
        if (sameDevice(keyOf(row), device))
            return &row;
    return nullptr;
}

const CUpgradeThread* workerOfDevice(const UpgradeSupervisor& supervisor, const DeviceKey& device)
{
    for (size_t i = 0; i < supervisor.WorkerCount(); ++i)
        if (sameDevice(keyOf(supervisor.Worker(i).m_deviceRow), device))
            return &supervisor.Worker(i);
    return nullptr;
}

int attemptOfDevice(const UpgradeSupervisor& supervisor, const DeviceKey& device)
{
    const CUpgradeThread* worker = workerOfDevice(supervisor, device);
    return worker != nullptr ? worker->m_nRestartCount + 1 : 0;
}

UpgradeProgressView::UpgradeProgressView(std::ostream& out, bool live, const std::vector<Device>& devices)
    : m_out(out), m_bLive(live)
{
    for (const Device& device : devices)
    {
        m_lines.push_back({ device });
        m_nameWidth = std::max(m_nameWidth, displayWidth(device.name));
        m_serialWidth = std::max(m_serialWidth, displayWidth(device.key.serialNumber));
    }
}

void UpgradeProgressView::Observe(const UpgradeSupervisor& supervisor)
{
    if (!m_bLive)
        PrintPhaseChanges(supervisor);
}

void UpgradeProgressView::Update(const std::vector<DeviceRow>& rows, const UpgradeSupervisor& supervisor)
{
    if (m_bLive)
        Redraw(rows, supervisor);
    else
        PrintPhaseChanges(supervisor);
}

juce::String UpgradeProgressView::Lead(const Device& device) const
{
    return padToWidth(device.name, m_nameWidth) + "  " + padToWidth(device.key.serialNumber, m_serialWidth) + "  ";
}

void UpgradeProgressView::Redraw(const std::vector<DeviceRow>& rows, const UpgradeSupervisor& supervisor)
{
    if (m_bDrawn)
        m_out << "\x1b[" << m_lines.size() << "A";
    for (const Line& entry : m_lines)
    {
        const Device& device = entry.device;
        const DeviceRow* row = rowOfDevice(rows, device.key);
        juce::String line = Lead(device);
        if (row != nullptr)
        {
            const bool bar = row->progress >= 0 && row->progress <= 100;
            // A worker that failed between two polls never wrote its failure into the row; the
            // window shows it by the row's failure badge, the line by the worker's status.
            const CUpgradeThread* worker = workerOfDevice(supervisor, device.key);
            const juce::String text = worker != nullptr && worker->m_bFailed ? getUpgradeStatusText(worker->m_nStatus)
                                                                             : row->statusText;
            line += (bar ? juce::String(progressBar(row->progress, kBarWidth)) : juce::String::repeatedString(" ", kBarWidth + 2))
                    + "  " + text + attemptText(attemptOfDevice(supervisor, device.key));
        }
        m_out << "\r\x1b[2K" << utf8(line.trimEnd()) << "\n";
    }
    m_out << std::flush;
    m_bDrawn = true;
}

// Follows the worker rather than the row: a relaunched worker starts afresh while the row still
// shows the failure of the attempt before, and a failure of the same kind in the next attempt is a
// new line too.
void UpgradeProgressView::PrintPhaseChanges(const UpgradeSupervisor& supervisor)
{
    for (Line& entry : m_lines)
    {
        const CUpgradeThread* worker = workerOfDevice(supervisor, entry.device.key);
        if (worker == nullptr)
            continue;
        const int32_t status = worker->m_nStatus;
        const int attempt = worker->m_nRestartCount + 1;
        if (status == RESULT_READY || status == RESULT_VERIFIED || (status == entry.lastStatus && attempt == entry.lastAttempt))
            continue;
        // (A verified upgrade is shown once the poll has made it "Unplug and replug required".)
        entry.lastStatus = status;
        entry.lastAttempt = attempt;
        // The poll's text without the percent, which changes too often for a line of its own.
        const juce::String text = UpgradeSupervisor::ShowsPercent(status)
            ? getUpgradeStatusText(status)
            : UpgradeSupervisor::PollText(status, -1, supervisor.IsUpgradedDevice(entry.device.key));
        m_out << utf8((Lead(entry.device) + text + attemptText(attempt)).trimEnd()) << std::endl;
    }
}
