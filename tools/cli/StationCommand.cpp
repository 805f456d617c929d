// The station: a bench where devices are plugged in one after another. Every device that
// appears is upgraded at once, beside the ones already running, with the window's worker,
// relaunch rules and supervision; every device the station is done with gets a line in the
// record file. Runs until Ctrl+C, and then until the running upgrades have ended.
#include "CliSession.h"
#include "CliText.h"
#include "Commands.h"
#include "DeviceRowList.h"
#include "FirmwareFileManager.h"
#include "Log.h"
#include "StationRecord.h"
#include "UpgradeSupervisor.h"
#include "UpgradeThread.h"

#include <algorithm>
#include <chrono>
#include <list>
#include <ostream>

namespace
{
using Clock = std::chrono::steady_clock;

// How often the station looks at the device list and its workers. The idle thread notices a
// new device within 200 ms; this adds at most one tick before its upgrade starts.
constexpr int kTickMilliseconds = 20;
constexpr int kBarWidth = 20;
const char* const kDefaultRecordFile = "TovrakStation.jsonl";

enum class Outcome
{
    Verified,
    Failed,
    Lost,
    AlreadyCurrent
};

const char* outcomeName(Outcome outcome)
{
    switch (outcome)
    {
        case Outcome::Verified: return "verified";
        case Outcome::Failed: return "failed";
        case Outcome::Lost: return "lost";
        case Outcome::AlreadyCurrent: return "alreadyCurrent";
    }
    return "";
}

const char* outcomeWords(Outcome outcome)
{
    switch (outcome)
    {
        case Outcome::Verified: return "verified";
        case Outcome::Failed: return "FAILED";
        case Outcome::Lost: return "LOST";
        case Outcome::AlreadyCurrent: return "already current";
    }
    return "";
}

juce::String devices(int count)
{
    return juce::String(count) + (count == 1 ? " device" : " devices");
}

// What the station prints: JSON events, or lines; on a terminal the lines of the attached
// devices are kept at the bottom and redrawn in place, with the lines that stay printed above.
class StationOutput
{
public:
    StationOutput(std::ostream& out, bool json, bool live) : m_out(out), m_bJson(json), m_bLive(live && !json) {}

    bool json() const noexcept { return m_bJson; }
    bool live() const noexcept { return m_bLive; }

    void Event(const juce::var& event)
    {
        if (m_bJson)
            m_out << utf8(juce::JSON::toString(event, true)) << std::endl;
    }

    // A line that stays (nothing in JSON mode).
    void Line(const juce::String& text)
    {
        if (m_bJson)
            return;
        Clear();
        m_out << utf8(text.trimEnd()) << "\n";
        Draw();
    }

    // The live lines (only on a terminal).
    void Live(std::vector<juce::String> lines)
    {
        if (!m_bLive)
            return;
        Clear();
        m_block = std::move(lines);
        Draw();
    }

private:
    void Clear()
    {
        if (m_bLive && m_nDrawn > 0)
            m_out << "\x1b[" << m_nDrawn << "A\r\x1b[J";
        m_nDrawn = 0;
    }

    void Draw()
    {
        if (m_bLive)
        {
            for (const juce::String& line : m_block)
                m_out << utf8(line.trimEnd()) << "\n";
            m_nDrawn = static_cast<int>(m_block.size());
        }
        m_out << std::flush;
    }

    std::ostream& m_out;
    const bool m_bJson;
    const bool m_bLive;
    std::vector<juce::String> m_block;
    int m_nDrawn = 0;
};

juce::var event(const char* name)
{
    auto* object = new juce::DynamicObject();
    object->setProperty("event", name);
    return juce::var(object);
}

class StationRun
{
public:
    StationRun(const CliOptions& options, CliSession& session, CliIo& io)
        : m_options(options), m_session(session), m_io(io),
          m_output(io.out, options.json, io.outputIsTerminal && !options.json)
    {
    }

    int Run()
    {
        // The record first: without it nothing is touched.
        const juce::String recordName =
            juce::String::fromUTF8((m_options.recordFile.empty() ? kDefaultRecordFile : m_options.recordFile).c_str());
        const juce::File recordFile = juce::File::getCurrentWorkingDirectory().getChildFile(recordName);
        juce::String error;
        if (!m_record.Open(recordFile, error))
        {
            KS_LOG_ERROR("StationRun::Run", "record file " << recordFile.getFullPathName().toStdString()
                                                           << " cannot be written: " << error.toStdString());
            m_io.err << "tovrak-cli: the record file " << utf8(recordFile.getFullPathName()) << " cannot be written: "
                     << utf8(error) << std::endl;
            return CliExit::SomeFailed;
        }
        m_imageFiles = indexImageFiles(g_firmwareFileMgr, m_session.ProgramFolder(),
                                       juce::File::getCurrentWorkingDirectory());

        const int imageCount = static_cast<int>(g_firmwareFileMgr.images().size());
        KS_LOG_INFO("StationRun::Run", "station started with " << imageCount << " firmware images, record "
                                                               << recordFile.getFullPathName().toStdString());
        juce::var ready = event("ready");
        ready.getDynamicObject()->setProperty("images", imageCount);
        ready.getDynamicObject()->setProperty("record", recordFile.getFullPathName());
        m_output.Event(ready);
        m_output.Line("Station ready: " + juce::String(imageCount) + " firmware image(s), record "
                      + recordFile.getFullPathName() + ". Plug in devices; Ctrl+C stops.");

        Clock::time_point lastDraw {};
        for (;;)
        {
            if (!TakeInterrupts())
                return Quit();
            if (m_session.TakeDeviceChange())
                CTovrakDevice::Refresh();
            // Every tick: the workers' constructors refresh the list too, without any notice.
            SyncWithList();
            // Before the poll too: a failed attempt is shown before the poll relaunches it.
            Observe(false);
            std::vector<DeviceRow> rows; // the station reads the workers themselves
            m_supervisor.Poll(rows);
            const bool draw = Clock::now() - lastDraw >= std::chrono::milliseconds(m_io.pollMilliseconds);
            Observe(draw);
            Settle();
            if (m_bStopping && UpgradingCount() == 0)
                break;
            if (draw)
            {
                lastDraw = Clock::now();
                m_output.Live(LiveLines());
            }
            juce::Thread::sleep(kTickMilliseconds);
        }
        return Finish();
    }

private:
    // One plug-in of one device: from its appearance in the device list until it leaves the list
    // (and, when it leaves while upgrading, until its worker has ended).
    struct PlugIn
    {
        enum class State
        {
            NotTaken,  // appeared while the station was stopping
            Upgrading, // its worker runs, or will be relaunched
            Ended      // recorded; left alone until it is unplugged
        };

        juce::String serialNumber;
        std::weak_ptr<CTovrakDevice> device;
        DeviceFacts facts;
        DeviceRow row; // as built when it appeared; the poll writes the worker's progress into it
        State state = State::NotTaken;
        bool attached = true;
        Clock::time_point started {};
        int32_t shownStatus = -1;
        int shownAttempt = 0;
        int32_t shownPercent = -1;
        juce::String endText; // what its line says once it has ended
    };

    juce::String Lead(const PlugIn& plugIn) const
    {
        return plugIn.facts.name + "  " + plugIn.serialNumber + "  ";
    }

    juce::var DeviceEvent(const char* name, const PlugIn& plugIn) const
    {
        juce::var object = event(name);
        object.getDynamicObject()->setProperty("serialNumber", plugIn.serialNumber);
        object.getDynamicObject()->setProperty("name", plugIn.facts.name);
        return object;
    }

    const CUpgradeThread* WorkerOf(const juce::String& serial) const
    {
        for (size_t i = 0; i < m_supervisor.WorkerCount(); ++i)
            if (sameSerial(m_supervisor.Worker(i).m_deviceRow.serialNumber, serial))
                return &m_supervisor.Worker(i);
        return nullptr;
    }

    PlugIn* Find(const juce::String& serial)
    {
        for (PlugIn& plugIn : m_plugIns)
            if (sameSerial(plugIn.serialNumber, serial))
                return &plugIn;
        return nullptr;
    }

    int UpgradingCount() const
    {
        return static_cast<int>(std::count_if(m_plugIns.begin(), m_plugIns.end(),
                                              [](const PlugIn& p) { return p.state == PlugIn::State::Upgrading; }));
    }

    // ---- Ctrl+C ----

    int InterruptCount() const
    {
        if (m_io.interruptCount != nullptr)
            return m_io.interruptCount->load();
        return m_io.interrupted != nullptr && m_io.interrupted->load() ? 1 : 0;
    }

    void Tell(const char* name, const juce::String& text, int running)
    {
        KS_LOG_INFO("StationRun::TakeInterrupts", text.toStdString());
        juce::var object = event(name);
        object.getDynamicObject()->setProperty("running", running);
        object.getDynamicObject()->setProperty("message", text);
        m_output.Event(object);
        m_output.Line(text);
        if (m_output.json())
            m_io.err << utf8(text) << std::endl;
    }

    // The first interrupt stops the taking of devices; the second warns; the third quits at
    // once. False when the station must quit now.
    bool TakeInterrupts()
    {
        const int count = InterruptCount();
        for (; m_nInterrupts < count; ++m_nInterrupts)
        {
            const int running = UpgradingCount();
            if (m_nInterrupts == 0)
                StopTaking(running == 0 ? juce::String("Stopping.")
                                        : "Stopping: no new devices are taken. " + devices(running)
                                              + " still upgrading; the station ends when they are done.");
            else if (running == 0)
                continue;
            else if (m_nInterrupts == 1)
                Tell("warning",
                     "Quitting now could leave " + devices(running)
                         + " unusable. Press Ctrl+C once more to quit anyway.",
                     running);
            else
                return false;
        }
        return true;
    }

    void StopTaking(const juce::String& text)
    {
        if (m_bStopping)
            return;
        m_bStopping = true;
        Tell("stopping", text, UpgradingCount());
    }

    // ---- the device list ----

    void SyncWithList()
    {
        std::vector<PlugIn*> seen;
        for (const auto& device : CTovrakDevice::ListedDevices())
        {
            const juce::String serial = juce::String::fromUTF8(device->deviceInfo().serialNumber().c_str());
            PlugIn* plugIn = Find(serial);
            // Two attached devices with one serial number: the first one listed is served.
            if (plugIn != nullptr && std::find(seen.begin(), seen.end(), plugIn) != seen.end())
                continue;
            if (plugIn != nullptr && plugIn->device.lock() != device)
            {
                // Another device object: the device was out and is back.
                if (plugIn->state == PlugIn::State::Upgrading)
                {
                    // Its worker goes on (a relaunch finds it again).
                    plugIn->device = device;
                    plugIn->attached = true;
                }
                else
                {
                    Detached(*plugIn);
                    Forget(plugIn);
                    plugIn = nullptr;
                }
            }
            if (plugIn == nullptr)
                plugIn = Appeared(device, serial);
            plugIn->attached = true;
            seen.push_back(plugIn);
        }

        for (auto it = m_plugIns.begin(); it != m_plugIns.end();)
        {
            const bool listed = std::find(seen.begin(), seen.end(), &*it) != seen.end();
            if (!listed && it->attached)
            {
                it->attached = false;
                Detached(*it);
            }
            if (!listed && it->state != PlugIn::State::Upgrading)
                it = m_plugIns.erase(it);
            else
                ++it;
        }
    }

    void Forget(PlugIn* plugIn)
    {
        m_plugIns.remove_if([plugIn](const PlugIn& p) { return &p == plugIn; });
    }

    void Detached(const PlugIn& plugIn)
    {
        KS_LOG_INFO("StationRun::SyncWithList", plugIn.serialNumber.toStdString() << " unplugged");
        m_output.Event(DeviceEvent("detached", plugIn));
        if (!m_output.live())
            m_output.Line(Lead(plugIn) + "unplugged");
    }

    PlugIn* Appeared(const std::shared_ptr<CTovrakDevice>& device, const juce::String& serial)
    {
        m_plugIns.emplace_back();
        PlugIn& plugIn = m_plugIns.back();
        plugIn.serialNumber = serial;
        plugIn.device = device;
        plugIn.facts = factsOf(*device);
        RowOutcome outcome;
        plugIn.row = buildDeviceRow(plugIn.facts, g_firmwareFileMgr, m_supervisor.IsUpgradedSerial(serial), true, &outcome);
        if (outcome.newerThanKnownDevice)
        {
            DeviceRowList warning;
            warning.newerThanKnownCount = 1;
            warnAboutNewerDevices(warning);
        }

        KS_LOG_INFO("StationRun::Appeared", serial.toStdString() << " plugged in, " << plugIn.row.installedVersion.toStdString()
                                                                 << ", image " << plugIn.row.availableVersion.toStdString());
        juce::var attached = DeviceEvent("attached", plugIn);
        attached.getDynamicObject()->setProperty("installedVersion", plugIn.row.installedVersion);
        attached.getDynamicObject()->setProperty("imageVersion", plugIn.row.availableVersion);
        attached.getDynamicObject()->setProperty("statusText", plugIn.row.statusText);
        m_output.Event(attached);
        m_output.Line(Lead(plugIn) + "plugged in  " + plugIn.row.installedVersion
                      + (plugIn.row.firmwareMissing ? juce::String() : " -> " + plugIn.row.availableVersion));

        if (m_bStopping)
        {
            plugIn.endText = "not taken: the station is stopping";
            if (!m_output.live())
                m_output.Line(Lead(plugIn) + plugIn.endText);
        }
        else if (plugIn.row.firmwareMissing)
            Record(plugIn, Outcome::Failed, plugIn.row.statusText, 0);
        else if (!plugIn.row.upgradeAvailable && !m_options.allowDowngrade)
            Record(plugIn, Outcome::AlreadyCurrent, plugIn.row.statusText, 0);
        else
            Start(plugIn);
        return &plugIn;
    }

    void Start(PlugIn& plugIn)
    {
        plugIn.state = PlugIn::State::Upgrading;
        plugIn.started = Clock::now();
        // The window's "Update" for this one row: its worker replaces the row's previous one.
        m_supervisor.StartSelected({ plugIn.row }, m_options.allowDowngrade);
        m_output.Event(DeviceEvent("started", plugIn));
    }

    // ---- the workers ----

    void Observe(bool drawTick)
    {
        for (PlugIn& plugIn : m_plugIns)
        {
            if (plugIn.state != PlugIn::State::Upgrading)
                continue;
            const CUpgradeThread* worker = WorkerOf(plugIn.serialNumber);
            if (worker == nullptr)
            {
                // Nothing drops a worker whose device is out before it has been recorded; this
                // only keeps the plug-in from waiting for ever.
                Record(plugIn, Outcome::Lost, getUpgradeStatusText(RESULT_DEVICE_NOT_FOUND), 0);
                continue;
            }
            // Running first: a worker sets its outcome before it stops running.
            const bool running = UpgradeSupervisor::IsWorkerRunning(*worker);
            const bool failed = worker->m_bFailed;
            const int32_t status = worker->m_nStatus;
            const int32_t percent = worker->m_nProgress;
            const int attempt = worker->m_nRestartCount + 1;
            ShowProgress(plugIn, status, percent, attempt, drawTick);
            if (running)
                continue;
            if (!failed)
            {
                // The poll has made a verified upgrade "Unplug and replug required"; a worker
                // that found the image not newer touched nothing.
                if (status == RESULT_REPLUG_REQUIRED || status == RESULT_VERIFIED)
                    Record(plugIn, Outcome::Verified, getUpgradeStatusText(RESULT_REPLUG_REQUIRED), attempt);
                else if (status == RESULT_CAN_DOWNGRADE)
                    Record(plugIn, Outcome::AlreadyCurrent, getUpgradeStatusText(status), attempt);
                else
                    Record(plugIn, Outcome::Failed, getUpgradeStatusText(status), attempt);
            }
            else if (worker->m_nRestartCount >= UpgradeSupervisor::kLastRestart)
            {
                const bool lost = !plugIn.attached || status == RESULT_DEVICE_NOT_FOUND;
                Record(plugIn, lost ? Outcome::Lost : Outcome::Failed,
                       lost ? getUpgradeStatusText(RESULT_DEVICE_NOT_FOUND) : getUpgradeStatusText(status), attempt);
            }
            // Otherwise the next poll relaunches it.
        }
    }

    void ShowProgress(PlugIn& plugIn, int32_t status, int32_t percent, int attempt, bool drawTick)
    {
        // The end of an upgrade is shown by its result.
        if (status == RESULT_READY || status == RESULT_VERIFIED || status == RESULT_REPLUG_REQUIRED
            || status == RESULT_CAN_DOWNGRADE)
            return;
        const bool phaseChanged = status != plugIn.shownStatus || attempt != plugIn.shownAttempt;
        const bool percentChanged = drawTick && UpgradeSupervisor::ShowsPercent(status) && percent != plugIn.shownPercent;
        if (!phaseChanged && !percentChanged)
            return;
        plugIn.shownStatus = status;
        plugIn.shownAttempt = attempt;
        plugIn.shownPercent = percent;
        juce::var object = DeviceEvent(phaseChanged ? "phase" : "progress", plugIn);
        object.getDynamicObject()->setProperty("status", status);
        object.getDynamicObject()->setProperty("statusText", getUpgradeStatusText(status));
        if (UpgradeSupervisor::ShowsPercent(status))
            object.getDynamicObject()->setProperty("percent", percent);
        object.getDynamicObject()->setProperty("attempt", attempt);
        m_output.Event(object);
        if (phaseChanged && !m_output.live())
            m_output.Line(Lead(plugIn) + getUpgradeStatusText(status) + AttemptText(attempt));
    }

    static juce::String AttemptText(int attempt)
    {
        return attempt > 1 ? " (attempt " + juce::String(attempt) + " of " + juce::String(UpgradeSupervisor::kLastRestart + 1)
                                 + ")"
                           : juce::String();
    }

    // Ended workers of devices that have gone are dropped, as the window's refill does; only
    // once every worker of a gone device has ended and been recorded, so that no result is lost.
    void Settle()
    {
        // The list as it is now: a relaunched worker's constructor may have refreshed it since.
        const std::vector<DeviceKey> listed = listedDeviceKeys();
        for (const PlugIn& plugIn : m_plugIns)
            if (plugIn.state == PlugIn::State::Upgrading
                && std::none_of(listed.begin(), listed.end(),
                                [&](const DeviceKey& device) { return sameSerial(device.serialNumber, plugIn.serialNumber); }))
                return;
        std::vector<DeviceRow> scratch;
        m_supervisor.Reconcile(scratch, listed);
    }

    // ---- results ----

    void Record(PlugIn& plugIn, Outcome outcome, const juce::String& statusText, int attempts)
    {
        const bool upgraded = plugIn.state == PlugIn::State::Upgrading;
        plugIn.state = PlugIn::State::Ended;

        StationRecordEntry entry;
        entry.time = juce::Time::getCurrentTime().toISO8601(true);
        entry.serialNumber = plugIn.serialNumber;
        entry.name = plugIn.facts.name;
        entry.productCode = plugIn.facts.productCode;
        entry.revision = plugIn.row.hardwareVersion;
        entry.installedVersion = plugIn.row.installedVersion;
        entry.imageVersion = plugIn.row.availableVersion;
        const FirmwareImage* image = g_firmwareFileMgr.findImage(plugIn.facts.productCode, plugIn.facts.productVariant,
                                                                 plugIn.facts.hardwareRevision);
        const auto file = m_imageFiles.find(image);
        if (file != m_imageFiles.end())
        {
            entry.imageFile = file->second.fileName;
            entry.imageSha256 = file->second.sha256;
        }
        if (image != nullptr)
        {
            entry.imageSignature = signatureStateName(image->signatureState);
            entry.imageSignatureKeyId = image->signatureKeyId;
        }
        entry.result = outcomeName(outcome);
        entry.statusText = statusText;
        entry.attempts = attempts;
        entry.durationMs = upgraded
            ? std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - plugIn.started).count()
            : 0;

        switch (outcome)
        {
            case Outcome::Verified: ++m_nDone; break;
            case Outcome::AlreadyCurrent: ++m_nAlreadyCurrent; break;
            case Outcome::Failed:
            case Outcome::Lost: ++m_nFailed; break;
        }
        KS_LOG_INFO("StationRun::Record", plugIn.serialNumber.toStdString() << " " << outcomeName(outcome) << " after "
                                                                          << attempts << " attempt(s): "
                                                                          << statusText.toStdString());

        plugIn.endText = outcome == Outcome::AlreadyCurrent ? juce::String(outcomeWords(outcome))
                                                            : juce::String(outcomeWords(outcome)) + ": " + statusText;
        juce::String line = Lead(plugIn) + plugIn.endText;
        if (upgraded)
            line += " (" + juce::String(attempts) + (attempts == 1 ? " attempt, " : " attempts, ")
                    + juce::String(static_cast<double>(entry.durationMs) / 1000.0, 1) + " s)";
        juce::var finished = toJson(entry);
        finished.getDynamicObject()->setProperty("event", "finished");
        finished.getDynamicObject()->setProperty("totals", TotalsJson());
        m_output.Event(finished);
        m_output.Line(line);
        if (!m_output.live())
            m_output.Line(TotalsText());

        if (!m_record.Append(entry))
        {
            m_bRecordFailed = true;
            // The line is not lost: it goes to the error stream.
            m_io.err << "tovrak-cli: cannot write to the record file " << utf8(m_record.file().getFullPathName())
                     << "; the line was: " << utf8(juce::JSON::toString(toJson(entry), true)) << std::endl;
            StopTaking("Stopping: the record file cannot be written. " + devices(UpgradingCount())
                       + " still upgrading; the station ends when they are done.");
        }
    }

    juce::String TotalsText() const
    {
        return "Total: " + juce::String(m_nDone) + " done, " + juce::String(m_nFailed) + " failed, "
               + juce::String(m_nAlreadyCurrent) + " already current, " + juce::String(UpgradingCount()) + " in progress";
    }

    juce::var TotalsJson() const
    {
        auto* object = new juce::DynamicObject();
        object->setProperty("done", m_nDone);
        object->setProperty("failed", m_nFailed);
        object->setProperty("alreadyCurrent", m_nAlreadyCurrent);
        object->setProperty("inProgress", UpgradingCount());
        return juce::var(object);
    }

    std::vector<juce::String> LiveLines()
    {
        int nameWidth = 0;
        int serialWidth = 0;
        for (const PlugIn& plugIn : m_plugIns)
        {
            nameWidth = std::max(nameWidth, displayWidth(plugIn.facts.name));
            serialWidth = std::max(serialWidth, displayWidth(plugIn.serialNumber));
        }
        std::vector<juce::String> lines;
        for (const PlugIn& plugIn : m_plugIns)
        {
            juce::String line = padToWidth(plugIn.facts.name, nameWidth) + "  " + padToWidth(plugIn.serialNumber, serialWidth) + "  ";
            if (plugIn.state == PlugIn::State::Upgrading)
            {
                const CUpgradeThread* worker = WorkerOf(plugIn.serialNumber);
                const int32_t status = worker != nullptr ? worker->m_nStatus.load() : RESULT_READY;
                const int32_t percent = worker != nullptr ? worker->m_nProgress.load() : 0;
                const bool bar = UpgradeSupervisor::ShowsPercent(status) && percent >= 0 && percent <= 100;
                line += (bar ? juce::String(progressBar(percent, kBarWidth)) : juce::String::repeatedString(" ", kBarWidth + 2))
                        + "  " + UpgradeSupervisor::PollText(status, percent, false)
                        + AttemptText(worker != nullptr ? worker->m_nRestartCount + 1 : 1);
                if (!plugIn.attached)
                    line += " (unplugged)";
            }
            else
                line += juce::String::repeatedString(" ", kBarWidth + 2) + "  " + plugIn.endText;
            lines.push_back(line);
        }
        lines.push_back(TotalsText());
        return lines;
    }

    // The third Ctrl+C: the running devices are recorded as interrupted and the process ends
    // without waiting for them.
    int Quit()
    {
        const int running = UpgradingCount();
        const juce::String text = "Quitting with " + devices(running) + " unfinished.";
        for (PlugIn& plugIn : m_plugIns)
            if (plugIn.state == PlugIn::State::Upgrading)
            {
                const CUpgradeThread* worker = WorkerOf(plugIn.serialNumber);
                Record(plugIn, Outcome::Failed, getUpgradeStatusText(RESULT_INTERRUPTED),
                       worker != nullptr ? worker->m_nRestartCount + 1 : 1);
            }
        Tell("quit", text, running);
        const int exitCode = CliExit::SomeFailed;
        KS_LOG_INFO("StationRun::Quit", "exit code " << exitCode << " without waiting for the workers");
        Stopped(exitCode);
        if (m_io.quitNow != nullptr)
            m_io.quitNow(exitCode);
        return exitCode;
    }

    int Finish()
    {
        const int exitCode = m_nFailed > 0 || m_bRecordFailed ? CliExit::SomeFailed : CliExit::Ok;
        Stopped(exitCode);
        return exitCode;
    }

    void Stopped(int exitCode)
    {
        m_output.Live({});
        juce::var stopped = event("stopped");
        stopped.getDynamicObject()->setProperty("totals", TotalsJson());
        stopped.getDynamicObject()->setProperty("exitCode", exitCode);
        m_output.Event(stopped);
        m_output.Line("Station stopped: " + juce::String(m_nDone) + " done, " + juce::String(m_nFailed) + " failed, "
                      + juce::String(m_nAlreadyCurrent) + " already current.");
    }

    const CliOptions& m_options;
    CliSession& m_session;
    CliIo& m_io;
    StationOutput m_output;
    StationRecord m_record;
    std::map<const FirmwareImage*, ImageFileInfo> m_imageFiles;
    UpgradeSupervisor m_supervisor;
    std::list<PlugIn> m_plugIns;   // in the order they appeared; stable addresses
    int m_nInterrupts = 0;
    bool m_bStopping = false;
    bool m_bRecordFailed = false;
    int m_nDone = 0;
    int m_nFailed = 0;
    int m_nAlreadyCurrent = 0;
};
} // namespace

int runStationCommand(const CliOptions& options, CliSession& session, CliIo& io)
{
    StationRun run(options, session, io);
    return run.Run();
}
