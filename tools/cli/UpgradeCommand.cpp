// The upgrade command: the window's "Select All" / tick, "Update", confirmation, supervision and
// final refill, driven from a loop instead of a message thread and a timer.
#include "CliSession.h"
#include "Commands.h"
#include "DeviceListing.h"
#include "FirmwareFileManager.h"
#include "Log.h"
#include "StringResources.h"
#include "UpgradeProgress.h"
#include "UpgradeSupervisor.h"
#include "UpgradeThread.h"

#include <algorithm>
#include <istream>
#include <map>
#include <ostream>

namespace
{
// One device the command line asked for, and what became of it.
struct Target
{
    enum class Result
    {
        Planned,  // selected, not started yet
        Skipped,  // present, but the selection rules do not allow it
        NotFound, // named on the command line (or gone before the start), not attached
        Verified,
        Failed
    };

    juce::String serialNumber;
    DeviceKey device; // of the row it was planned from; only the serial number when not attached
    juce::String name;
    juce::String installedVersion;
    juce::String availableVersion;
    Result result = Result::Planned;
    juce::String statusText;     // the row's text at the end (or why it was skipped)
    juce::String lastStatusText; // failed: the text of the last attempt's failure
    int attempts = 0;
};

const char* resultName(Target::Result result)
{
    switch (result)
    {
        case Target::Result::Planned: return "planned";
        case Target::Result::Skipped: return "skipped";
        case Target::Result::NotFound: return "notFound";
        case Target::Result::Verified: return "verified";
        case Target::Result::Failed: return "failed";
    }
    return "";
}

class UpgradeRun
{
public:
    UpgradeRun(const CliOptions& options, CliSession& session, CliIo& io)
        : m_options(options), m_session(session), m_io(io), m_text(options.json ? io.err : io.out)
    {
    }

    int Run()
    {
        Refill();
        if (m_rows.empty())
            return Finish(CliExit::NoDevice, "No supported device found.");

        Select();
        std::vector<Target*> planned = TargetsWith(Target::Result::Planned);
        PrintPlan();
        if (planned.empty())
        {
            const bool allMissing = TargetsWith(Target::Result::NotFound).size() == m_targets.size();
            if (allMissing)
                return Finish(CliExit::NoDevice, "No supported device found.");
            return Finish(TargetsWith(Target::Result::NotFound).empty() ? CliExit::NothingToDo : CliExit::SomeFailed,
                          "Nothing to upgrade.");
        }
        if (!m_options.yes && !Confirmed())
        {
            for (Target* target : planned)
                target->result = Target::Result::Skipped;
            return Finish(CliExit::NothingToDo, "Cancelled.");
        }

        Start();
        Supervise();
        return Finish(Conclude(), {});
    }

private:
    // The window's refill: remember the selection, refresh the device list, rebuild the rows,
    // settle ended workers, poll the running ones.
    void Refill()
    {
        m_remembered.clear();
        for (const DeviceRow& row : m_rows)
            if (row.selected && !m_supervisor.IsUpgradedDevice(keyOf(row)))
                m_remembered.add(keyOf(row));

        CTovrakDevice::Refresh();
        DeviceRowList list = refillRows(
            listedDeviceFacts(kMaxDeviceRows),
            [this](const DeviceKey& device) { return m_supervisor.IsUpgradedDevice(device); },
            [this](const DeviceKey& device) { return m_remembered.contains(device); });
        m_rows = std::move(list.rows);

        m_supervisor.Reconcile(m_rows, listedDeviceKeys());
        m_supervisor.Poll(m_rows);
    }

    Target MakeTarget(const DeviceRow& row) const
    {
        Target target;
        target.serialNumber = row.serialNumber;
        target.device = keyOf(row);
        target.name = row.name;
        target.installedVersion = row.installedVersion;
        target.availableVersion = row.availableVersion;
        target.statusText = row.statusText;
        return target;
    }

    // The window's selection rules: "Select All" for --all; for each --serial, a tick on the row of
    // every attached device with that serial number (devices may share one), each a target of its
    // own.
    void Select()
    {
        const bool allow = m_options.allowDowngrade;
        if (m_options.all)
            m_supervisor.SelectAll(m_rows, true, allow);
        else
            for (const std::string& wanted : m_options.serialNumbers)
            {
                const juce::String serial = juce::String::fromUTF8(wanted.c_str());
                bool present = false;
                for (size_t i = 0; i < m_rows.size(); ++i)
                    if (sameSerial(m_rows[i].serialNumber, serial) && !m_rows[i].locked)
                    {
                        present = true;
                        m_rows[i].selected = m_supervisor.IsRowSelectable(m_rows, i, allow);
                    }
                if (!present)
                {
                    Target missing;
                    missing.serialNumber = serial;
                    missing.device.serialNumber = serial;
                    missing.result = Target::Result::NotFound;
                    m_targets.push_back(missing);
                }
            }

        for (const DeviceRow& row : m_rows)
        {
            const bool wanted = m_options.all
                || std::find(m_options.serialNumbers.begin(), m_options.serialNumbers.end(), row.serialNumber.toStdString())
                       != m_options.serialNumbers.end();
            if (!wanted || row.locked)
                continue;
            Target target = MakeTarget(row);
            target.result = row.selected ? Target::Result::Planned : Target::Result::Skipped;
            m_targets.push_back(target);
        }
    }

    std::vector<Target*> TargetsWith(Target::Result result)
    {
        std::vector<Target*> found;
        for (Target& target : m_targets)
            if (target.result == result)
                found.push_back(&target);
        return found;
    }

    void PrintPlan()
    {
        std::vector<TextRow> lines;
        for (const Target& target : m_targets)
        {
            if (target.result == Target::Result::Planned)
                lines.push_back({ "upgrade", target.name, target.serialNumber,
                                  target.installedVersion + " -> " + target.availableVersion });
            else if (target.result == Target::Result::Skipped)
            {
                const DeviceRow* row = rowOfDevice(m_rows, target.device);
                const bool needsFlag = row != nullptr && !row->upgradeAvailable && !row->firmwareMissing
                    && !m_options.allowDowngrade && !m_supervisor.IsUpgradedDevice(keyOf(*row));
                lines.push_back({ "skip", target.name, target.serialNumber,
                                  target.statusText + (needsFlag ? " (--allow-downgrade)" : "") });
            }
            else if (target.result == Target::Result::NotFound)
                lines.push_back({ "missing", "", target.serialNumber, "not attached" });
        }
        m_text << formatColumns(lines) << std::flush;
    }

    bool Confirmed()
    {
        m_text << utf8(getTranslatedString(StringId::UpgradeConfirmation)) << "\n"
               << "Continue? [y/N] " << std::flush;
        std::string answer;
        if (!std::getline(m_io.in, answer))
            answer.clear();
        const juce::String reply = juce::String::fromUTF8(answer.c_str()).trim().toLowerCase();
        const bool yes = reply == "y" || reply == "yes";
        KS_LOG_INFO("UpgradeRun::Confirmed", "confirmation answered " << (yes ? "yes" : "no"));
        return yes;
    }

    // As the window's "Update" after its confirmation: a refill (which keeps the selection),
    // then one worker per selected row.
    void Start()
    {
        KS_LOG_DEBUG("UpgradeRun::Start", "begin");
        Refill();
        for (Target& target : m_targets)
            if (target.result == Target::Result::Planned)
            {
                const DeviceRow* row = rowOfDevice(m_rows, target.device);
                if (row == nullptr || !row->selected)
                    target.result = Target::Result::NotFound; // gone before the start
            }
        m_supervisor.StartSelected(m_rows, m_options.allowDowngrade);
    }

    // The window's timer: poll until no worker runs and none is to be relaunched; refill when
    // the idle thread reports a change.
    void Supervise()
    {
        std::vector<UpgradeProgressView::Device> running;
        for (const Target& target : m_targets)
            if (target.result == Target::Result::Planned)
                running.push_back({ target.device, target.name });
        UpgradeProgressView view(m_text, m_io.outputIsTerminal && !m_options.json, running);
        view.Update(m_rows, m_supervisor);

        bool interruptionTold = false;
        while (m_supervisor.IsUpgrading())
        {
            juce::Thread::sleep(m_io.pollMilliseconds);
            // A failed worker is relaunched by the poll: its failure is shown before that.
            view.Observe(m_supervisor);
            if (m_session.TakeDeviceChange())
                Refill();
            else
                m_supervisor.Poll(m_rows);
            view.Update(m_rows, m_supervisor);

            if (m_session.IsInterrupted() && !interruptionTold)
            {
                interruptionTold = true;
                KS_LOG_INFO("UpgradeRun::Supervise", "interrupt ignored while upgrading");
                m_io.err << "The upgrade goes on until every device is done: an interrupted upgrade leaves a device "
                            "without firmware."
                         << std::endl;
            }
        }
    }

    // The refill that ends the window's upgrading state, then the result of every started device.
    int Conclude()
    {
        const std::vector<DeviceRow> lastPoll = m_rows;
        for (Target& target : m_targets)
            if (target.result == Target::Result::Planned)
            {
                target.attempts = attemptOfDevice(m_supervisor, target.device);
                // The worker's own last status: a worker that fails between two polls never
                // has its failure written into the row.
                if (const CUpgradeThread* worker = workerOfDevice(m_supervisor, target.device))
                    target.lastStatusText = getUpgradeStatusText(worker->m_nStatus);
            }
        Refill();
        KS_LOG_DEBUG("UpgradeRun::Conclude", "end");

        bool allVerified = TargetsWith(Target::Result::NotFound).empty();
        for (Target& target : m_targets)
        {
            if (target.result != Target::Result::Planned)
                continue;
            const DeviceRow* before = rowOfDevice(lastPoll, target.device);
            const DeviceRow* after = rowOfDevice(m_rows, target.device);
            if (m_supervisor.IsUpgradedDevice(target.device))
            {
                target.result = Target::Result::Verified;
                target.statusText = before != nullptr ? before->statusText : getUpgradeStatusText(RESULT_REPLUG_REQUIRED);
            }
            else
            {
                target.result = Target::Result::Failed;
                if (target.lastStatusText.isEmpty() && before != nullptr)
                    target.lastStatusText = before->statusText;
                target.statusText = after != nullptr ? after->statusText : target.lastStatusText;
                allVerified = false;
            }
            KS_LOG_INFO("UpgradeRun::Conclude", target.serialNumber << " " << resultName(target.result) << " after "
                                                                 << target.attempts << " attempt(s): " << target.statusText);
        }
        return allVerified ? CliExit::Ok : CliExit::SomeFailed;
    }

    int Finish(int exitCode, const juce::String& message)
    {
        if (message.isNotEmpty())
            (exitCode == CliExit::NothingToDo ? m_text : m_io.err) << utf8(message) << std::endl;
        PrintResults();
        if (m_options.json)
            m_io.out << utf8(juce::JSON::toString(ResultJson(exitCode))) << std::endl;
        return exitCode;
    }

    void PrintResults()
    {
        std::vector<TextRow> lines;
        int verified = 0;
        int failed = 0;
        for (const Target& target : m_targets)
            if (target.result == Target::Result::Verified)
            {
                ++verified;
                lines.push_back({ "verified", target.name, target.serialNumber, target.statusText });
            }
            else if (target.result == Target::Result::Failed)
            {
                ++failed;
                lines.push_back({ "FAILED", target.name, target.serialNumber,
                                  target.statusText + " (" + target.lastStatusText + ", " + juce::String(target.attempts)
                                      + " attempts)" });
            }
        if (lines.empty())
            return;
        m_text << formatColumns(lines) << verified << " verified, " << failed << " failed." << std::endl;
    }

    juce::var ResultJson(int exitCode) const
    {
        juce::Array<juce::var> devices;
        std::map<juce::String, int> counts;
        for (const Target& target : m_targets)
        {
            auto* object = new juce::DynamicObject();
            object->setProperty("serialNumber", target.serialNumber);
            object->setProperty("name", target.name);
            object->setProperty("installedVersion", target.installedVersion);
            object->setProperty("availableVersion", target.availableVersion);
            object->setProperty("result", resultName(target.result));
            object->setProperty("statusText", target.statusText);
            if (target.result == Target::Result::Failed)
                object->setProperty("lastStatusText", target.lastStatusText);
            object->setProperty("attempts", target.attempts);
            devices.add(juce::var(object));
            ++counts[resultName(target.result)];
        }
        auto* result = new juce::DynamicObject();
        result->setProperty("devices", devices);
        for (const char* name : { "verified", "failed", "skipped", "notFound" })
            result->setProperty(juce::String(name) + "Count", counts[name]);
        result->setProperty("exitCode", exitCode);
        return juce::var(result);
    }

    const CliOptions& m_options;
    CliSession& m_session;
    CliIo& m_io;
    std::ostream& m_text; // human-readable lines: the error stream when standard output carries JSON
    UpgradeSupervisor m_supervisor;
    std::vector<DeviceRow> m_rows;
    DeviceKeyList m_remembered;
    std::vector<Target> m_targets;
};
} // namespace

int runUpgradeCommand(const CliOptions& options, CliSession& session, CliIo& io)
{
    UpgradeRun run(options, session, io);
    return run.Run();
}
