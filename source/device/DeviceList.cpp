// The list of attached devices (g_devices), its refresh, and the idle thread that watches for
// devices being plugged in or pulled out.
//
// The work is split in three. A survey enumerates the interfaces, checks that every listed
// device's handle is still connected (no traffic), and hands every new interface to the set-up
// pool, whose threads probe it and set it up beside each other, so that a device that is slow or
// never answers delays only itself. A survey collects what the pool finished and keeps it (the
// devices set up and not yet listed, the paths still attached) for the next Refresh. Refresh
// applies the last survey under the list's lock, without any device traffic. While the idle
// thread runs it is the only regular surveyor, so the message thread, which runs Refresh, never
// waits on a device.
#include "TovrakDevice.h"

#include "SetUpPool.h"
#include "hid/HidBackend.h"

#include "Log.h"
#include "StringResources.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <map>
#include <set>

std::vector<std::shared_ptr<CTovrakDevice>> g_devices;
std::mutex g_devicesMutex;

// Surveys every 200 ms, and at once when the set-up pool finished a job; tells the registered
// callback when the attached devices differ from the list. Never changes the list itself.
class CTovrakDevice::IdleThread : public juce::Thread
{
public:
    IdleThread() : juce::Thread("") {}
    ~IdleThread() override = default;

    void run() override;

    juce::WaitableEvent m_stopEvent { false }; // auto-reset, not signalled

    static constexpr int kPollMilliseconds = 200;
};

namespace
{
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Init and Uninit may be called from more than one place; this keeps them from overlapping.
std::mutex g_lifecycleMutex;
CTovrakDevice::IdleThread* g_pIdleThread = nullptr; // owned; guarded by g_lifecycleMutex
std::atomic<bool> g_bMonitoring { false };          // g_pIdleThread is set
std::atomic<ICallbackDeviceChanged*> g_pDeviceChangedCallback { nullptr };

// The idle thread's event, for the pool to wake it when a job ends.
std::mutex g_wakeMutex;
juce::WaitableEvent* g_pWakeEvent = nullptr; // guarded by g_wakeMutex

// One survey at a time (the idle thread, or a caller). Never held while the list's lock waits.
std::mutex g_surveyMutex;

// Threads of the set-up pool: enough that many devices plugged in at once are set up in a few
// rounds, few enough that a hub full of dead devices costs little.
constexpr size_t kSetUpThreads = 32;
// The first fill waits for the set-ups it started while they make progress: once none has ended
// for this long, the rest (a device that does not answer waits out its request bound) arrive
// through the idle thread.
constexpr auto kFirstFillQuiet = 1000ms;
// How long a poll of the idle thread waits for the set-ups it started, so that a device that
// answers in time is reported by the poll that found it.
constexpr auto kSetUpWaitPerPoll = 100ms;
// A survey on the caller's own thread (no idle thread) waits for its set-ups to end; every
// request has its bound, so this is only the last guard.
constexpr auto kOwnSurveyWait = 60000ms;

// A path whose supported device could not be read (its probe's information report or its set-up
// failed). Tried again after a growing delay; the delay belongs to what sits behind the path.
struct SetUpFailure
{
    int failures = 0;
    Clock::time_point nextAttempt;
    std::string serialNumber;              // as the probe read it (empty when it read none)
    std::string reason;
    std::shared_ptr<CTovrakDevice> device; // the failed object: its handle tells a replug
    std::shared_ptr<HidHandle> watch;      // the probe's handle when the probe failed

    // The connection that failed has gone: what is behind the path now is another one.
    bool connectionEnded() const
    {
        return (device != nullptr && device->ConnectionEnded()) || (watch != nullptr && !watch->isConnected());
    }
};

// What the last survey found. Guarded by g_devicesMutex (held only briefly).
struct SurveyResult
{
    bool enumerated = false;                            // the interface set could be read
    std::set<std::string> connectedPaths;               // listed devices still attached and connected
    std::vector<std::shared_ptr<CTovrakDevice>> staged; // set up, waiting for Refresh; in order found
};
SurveyResult g_survey;

// Only the surveyor touches these (under g_surveyMutex).
std::map<std::string, SetUpFailure> g_setUpFailures;
std::unique_ptr<SetUpPool> g_pPool;
bool g_bProbeAccepted = false; // a probe-only job accepted its interface since the last look
std::atomic<int64_t> g_firstRetryMilliseconds { 1000 };
constexpr int kMaxRetryFactor = 60;
constexpr int kSilentFailures = 7; // 2^6 > kMaxRetryFactor: the longest delay

Clock::duration retryDelay(int failures)
{
    int64_t factor = 1;
    for (int i = 1; i < failures && factor < kMaxRetryFactor; ++i)
        factor *= 2;
    return std::chrono::milliseconds(g_firstRetryMilliseconds.load() * std::min<int64_t>(factor, kMaxRetryFactor));
}

void wakeIdleThread()
{
    std::lock_guard<std::mutex> lock(g_wakeMutex);
    if (g_pWakeEvent != nullptr)
        g_pWakeEvent->signal();
}

SetUpOutcome runSetUpJob(const SetUpPool::Request& request, const std::atomic<bool>& cancel)
{
    const auto start = Clock::now();
    const std::shared_ptr<HidBackend> backend = currentHidBackend();
    SetUpOutcome outcome = CTovrakDevice::Probe(*backend, request.path, &cancel);
    if (outcome.kind == SetUpOutcome::Kind::Accepted && request.setUp && !cancel)
        outcome.device = std::make_shared<CTovrakDevice>(request.path, request.logFailure, &cancel);
    const bool failed = outcome.kind == SetUpOutcome::Kind::Unreadable
                     || (outcome.device != nullptr && !outcome.device->present());
    outcome.silent = failed && Clock::now() - start >= kHidRequestBound * 4 / 5;
    return outcome;
}

SetUpPool& poolLocked()
{
    if (g_pPool == nullptr)
    {
        g_pPool = std::make_unique<SetUpPool>(kSetUpThreads, runSetUpJob);
        g_pPool->setOnFinished(wakeIdleThread);
    }
    return *g_pPool;
}

template <typename Devices>
auto findByPath(Devices& devices, const std::string& path)
{
    return std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d->devicePath() == path; });
}

// Takes in what the pool finished. Called by the surveyor with g_devicesMutex held.
void absorbLocked(std::vector<SetUpOutcome> finished)
{
    const auto now = Clock::now();
    for (SetUpOutcome& outcome : finished)
    {
        const std::string& path = outcome.path;
        const auto record = g_setUpFailures.find(path);
        if (outcome.kind == SetUpOutcome::Kind::Rejected)
        {
            if (record != g_setUpFailures.end())
                g_setUpFailures.erase(record);
            continue;
        }
        if (outcome.kind == SetUpOutcome::Kind::Accepted && !outcome.setUpAsked)
        {
            g_bProbeAccepted = true;
            continue;
        }
        if (outcome.device != nullptr && outcome.device->present())
        {
            if (record != g_setUpFailures.end())
                g_setUpFailures.erase(record);
            // Never a second object for a path whose device is listed and connected.
            const auto listed = findByPath(g_devices, path);
            if (listed != g_devices.end() && (*listed)->IsConnected())
                continue;
            const auto staged = findByPath(g_survey.staged, path);
            if (staged != g_survey.staged.end())
                g_survey.staged.erase(staged);
            g_survey.staged.push_back(std::move(outcome.device));
            continue;
        }

        // A supported device that could not be read.
        SetUpFailure& failure = g_setUpFailures[path];
        const bool otherDevice = !failure.serialNumber.empty() && !outcome.serialNumber.empty()
                              && failure.serialNumber != outcome.serialNumber;
        if (otherDevice)
            failure = SetUpFailure();
        const bool first = failure.failures == 0;
        ++failure.failures;
        // A device that lets a request run out its bound is tried again only at the longest
        // delay: on Linux every hidraw open and close in the system waits while a request to it
        // is pending, so each try would hold up every other device's set-up for the bound.
        if (outcome.silent)
            failure.failures = std::max(failure.failures, kSilentFailures);
        failure.nextAttempt = now + retryDelay(failure.failures);
        if (!outcome.serialNumber.empty())
            failure.serialNumber = outcome.serialNumber;
        failure.reason = outcome.device != nullptr ? outcome.device->SetUpError() : outcome.reason;
        failure.device = std::move(outcome.device);
        failure.watch = std::move(outcome.watch);
        if (!first)
            continue;
        if (failure.device != nullptr)
            KS_LOG_INFO("CTovrakDevice::AddAllDevices",
                        "the device at " << path << " could not be set up; it is tried again later, "
                                         << "each time after a longer wait, while it stays attached");
        else
            KS_LOG_INFO("CTovrakDevice::AddAllDevices",
                        "the device at " << path << " does not answer: " << failure.reason
                                         << "; it is tried again later, each time after a longer wait");
    }
}

// A listed device stays while its handle is connected and its path is enumerated, or, while an
// upgrade worker uses it, while its handle is connected at all.
bool staysListed(const CTovrakDevice& device, const std::set<std::string>& connectedPaths)
{
    return device.IsConnected() && (connectedPaths.count(device.devicePath()) != 0 || device.InUse());
}
} // namespace

void CTovrakDevice::IdleThread::run()
{
    while (!threadShouldExit())
    {
        m_stopEvent.wait(kPollMilliseconds); // also signalled when a set-up job ends
        if (threadShouldExit())
            break;
        if (CTovrakDevice::Survey(true, kSetUpWaitPerPoll))
            if (ICallbackDeviceChanged* callback = g_pDeviceChangedCallback.load())
                callback->OnDeviceChanged();
    }
}

void CTovrakDevice::SetSetUpRetryDelay(std::chrono::milliseconds first)
{
    g_firstRetryMilliseconds = std::max<int64_t>(1, first.count());
}

bool CTovrakDevice::Survey(bool setUpNew, std::chrono::milliseconds waitForSetUps, std::chrono::milliseconds quiet)
{
    std::lock_guard<std::mutex> surveying(g_surveyMutex);
    SetUpPool& pool = poolLocked();

    const std::shared_ptr<HidBackend> backend = currentHidBackend();
    std::vector<std::string> paths;
    const bool enumerated = backend->enumerate(paths);
    const std::set<std::string> present(paths.begin(), paths.end());

    std::vector<SetUpPool::Request> launch;
    {
        std::lock_guard<std::mutex> lock(g_devicesMutex);
        absorbLocked(pool.collect());
        const auto now = Clock::now();

        std::set<std::string> connected;
        for (const std::string& path : paths)
        {
            // A listed device stays while its own handle is connected; no traffic.
            const auto known = findByPath(g_devices, path);
            if (known != g_devices.end() && (*known)->IsConnected())
            {
                connected.insert(path);
                continue;
            }
            // A device set up earlier waits for Refresh.
            const auto staged = findByPath(g_survey.staged, path);
            if (staged != g_survey.staged.end())
            {
                if ((*staged)->IsConnected())
                    continue;
                g_survey.staged.erase(staged);
            }
            if (pool.isBusyWith(path))
                continue;
            // A device that could not be read is left alone until its next attempt is due, unless
            // its connection has gone (what is behind the path now is another connection).
            const auto failure = g_setUpFailures.find(path);
            if (failure != g_setUpFailures.end())
            {
                if (failure->second.connectionEnded())
                    g_setUpFailures.erase(failure);
                else if (now < failure->second.nextAttempt)
                    continue;
            }
            launch.push_back({ path, setUpNew, g_setUpFailures.count(path) == 0 });
        }
        // What is gone starts afresh when it appears again.
        for (auto it = g_setUpFailures.begin(); it != g_setUpFailures.end();)
            it = present.count(it->first) == 0 ? g_setUpFailures.erase(it) : std::next(it);
        g_survey.staged.erase(std::remove_if(g_survey.staged.begin(), g_survey.staged.end(),
                                             [&](const auto& d) { return present.count(d->devicePath()) == 0; }),
                              g_survey.staged.end());
        g_survey.enumerated = enumerated;
        g_survey.connectedPaths = std::move(connected);
    }

    std::vector<std::string> launched;
    for (SetUpPool::Request& request : launch)
    {
        launched.push_back(request.path);
        pool.submit(std::move(request));
    }
    // The set-ups this survey started (a device that is slow or does not answer goes on in the
    // pool, and a later survey collects it).
    if (waitForSetUps.count() > 0 && !launched.empty())
        pool.waitUntilDone(launched, Clock::now() + waitForSetUps,
                           quiet.count() > 0 ? Clock::duration(quiet) : Clock::duration::max());

    std::lock_guard<std::mutex> lock(g_devicesMutex);
    absorbLocked(pool.collect());
    // Devices set up beside each other wait in the order the enumeration gives their paths.
    const auto order = [&](const std::shared_ptr<CTovrakDevice>& device) {
        return std::find(paths.begin(), paths.end(), device->devicePath()) - paths.begin();
    };
    std::stable_sort(g_survey.staged.begin(), g_survey.staged.end(),
                     [&](const auto& a, const auto& b) { return order(a) < order(b); });
    bool differs = false;
    for (const auto& device : g_devices)
        differs = differs || !staysListed(*device, g_survey.connectedPaths);
    const bool newSeen = !g_survey.staged.empty() || g_bProbeAccepted;
    g_bProbeAccepted = false;
    // An unreadable interface set is no news of its own; the next Refresh empties the list.
    return enumerated && (newSeen || differs);
}

void CTovrakDevice::ApplySurvey()
{
    // Dropped devices are destroyed after the list is unlocked (declared before the lock).
    std::vector<std::shared_ptr<CTovrakDevice>> dropped;
    std::lock_guard<std::mutex> lock(g_devicesMutex);
    for (size_t i = 0; i < g_devices.size();)
    {
        // A device pulled out since the last survey goes now: its handle tells, without traffic.
        if (staysListed(*g_devices[i], g_survey.connectedPaths))
        {
            ++i;
            continue;
        }
        KS_LOG_INFO("CTovrakDevice::Refresh",
                    "remove the invalid device " << g_devices[i]->m_deviceInfo.serialNumber() << " from g_devices.");
        // The object goes when the refresh ends, or later when an upgrade worker that still
        // holds it lets go.
        dropped.push_back(std::move(g_devices[i]));
        g_devices.erase(g_devices.begin() + static_cast<std::ptrdiff_t>(i));
    }
    for (auto& device : g_survey.staged)
    {
        KS_LOG_INFO("CTovrakDevice::AddAllDevices",
                    "find a new device :" << device->m_deviceInfo.serialNumber() << " added to g_devices.");
        g_survey.connectedPaths.insert(device->m_devicePath);
        g_devices.push_back(std::move(device));
    }
    g_survey.staged.clear();
}

bool CTovrakDevice::AddAllDevices(bool addNew)
{
    return Survey(addNew, g_bMonitoring ? 0ms : kOwnSurveyWait);
}

bool CTovrakDevice::Refresh()
{
    if (!g_bMonitoring)
        Survey(true, kOwnSurveyWait);
    ApplySurvey();
    return true;
}

std::vector<CTovrakDevice::SetUpProblem> CTovrakDevice::SettleSetUps(std::chrono::milliseconds retryWindow)
{
    const auto windowEnd = Clock::now() + retryWindow;
    for (;;)
    {
        Survey(true, kOwnSurveyWait);
        Clock::time_point nextDue = Clock::time_point::max();
        bool waited = false;
        {
            std::lock_guard<std::mutex> surveying(g_surveyMutex);
            // Set-ups that an earlier survey started (the first fill's slow ones) end first; the
            // next survey takes in what they found.
            if (g_pPool != nullptr && g_pPool->busyCount() > 0)
                waited = g_pPool->waitUntilIdle(Clock::now() + kOwnSurveyWait);
            for (const auto& [path, failure] : g_setUpFailures)
                nextDue = std::min(nextDue, failure.nextAttempt);
        }
        if (waited)
            continue;
        if (nextDue > windowEnd)
            break;
        std::this_thread::sleep_until(std::max(nextDue, Clock::now() + 10ms));
    }
    std::vector<SetUpProblem> problems;
    std::lock_guard<std::mutex> surveying(g_surveyMutex);
    for (const auto& [path, failure] : g_setUpFailures)
        problems.push_back({ path, failure.reason });
    return problems;
}

bool CTovrakDevice::Init(ICallbackDeviceChanged* callback)
{
    std::lock_guard<std::mutex> lifecycle(g_lifecycleMutex);
    g_pDeviceChangedCallback = callback;
    if (g_pIdleThread == nullptr)
    {
        // The first fill surveys and is applied here, before the idle thread takes the surveys
        // over: its first poll must not take the first fill's devices, still waiting for this
        // Refresh, for a change (a set-up's end may wake it at once).
        Survey(true, kOwnSurveyWait, kFirstFillQuiet);
        ApplySurvey();
        auto thread = std::make_unique<IdleThread>();
        {
            std::lock_guard<std::mutex> lock(g_wakeMutex);
            g_pWakeEvent = &thread->m_stopEvent;
        }
        if (!thread->startThread())
        {
            {
                std::lock_guard<std::mutex> lock(g_wakeMutex);
                g_pWakeEvent = nullptr;
            }
            g_pDeviceChangedCallback = nullptr;
            KS_LOG_ERROR("CTovrakDevice::Init", getTranslatedString(StringId::FailedToInitializeDevice).toStdString());
            return false;
        }
        g_pIdleThread = thread.release();
        g_bMonitoring = true;
    }
    ApplySurvey();
    return true;
}

void CTovrakDevice::Uninit()
{
    std::lock_guard<std::mutex> lifecycle(g_lifecycleMutex);
    if (g_pIdleThread != nullptr)
    {
        {
            std::lock_guard<std::mutex> lock(g_wakeMutex);
            g_pWakeEvent = nullptr;
        }
        g_pIdleThread->signalThreadShouldExit();
        g_pIdleThread->m_stopEvent.signal();
        g_pIdleThread->waitForThreadToExit(-1);
        delete g_pIdleThread;
        g_pIdleThread = nullptr;
        g_bMonitoring = false;
    }

    // Set-ups still running stop at their next exchange; one inside a request ends with it.
    std::unique_ptr<SetUpPool> pool;
    {
        std::lock_guard<std::mutex> surveying(g_surveyMutex);
        pool = std::move(g_pPool);
        g_setUpFailures.clear();
        g_bProbeAccepted = false;
    }
    if (pool != nullptr)
        pool->shutDown();

    std::vector<std::shared_ptr<CTovrakDevice>> devices;
    {
        std::lock_guard<std::mutex> lock(g_devicesMutex);
        devices.swap(g_devices);
        g_devices.shrink_to_fit();
        g_survey = SurveyResult();
    }
    pool.reset();
    // First entry first.
    while (!devices.empty())
        devices.erase(devices.begin());
}

bool CTovrakDevice::IsMonitoring()
{
    std::lock_guard<std::mutex> lifecycle(g_lifecycleMutex);
    return g_pIdleThread != nullptr;
}

std::shared_ptr<CTovrakDevice> CTovrakDevice::FindBySerialNumber(const std::string& serialNumber)
{
    std::lock_guard<std::mutex> lock(g_devicesMutex);
    for (const auto& device : g_devices)
        if (device->m_deviceInfo.serialNumber() == serialNumber)
            return device;
    return nullptr;
}

std::shared_ptr<CTovrakDevice> CTovrakDevice::FindDevice(const std::string& serialNumber, const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_devicesMutex);
    for (const auto& device : g_devices)
        if (device->m_devicePath == path && device->m_deviceInfo.serialNumber() == serialNumber)
            return device;
    return nullptr;
}

std::shared_ptr<CTovrakDevice> CTovrakDevice::FindForWorker(const std::string& serialNumber, const std::string& path,
                                                           bool samePathOnly)
{
    std::lock_guard<std::mutex> lock(g_devicesMutex);
    std::shared_ptr<CTovrakDevice> onlyOne;
    size_t withSerial = 0;
    for (const auto& device : g_devices)
    {
        if (device->m_deviceInfo.serialNumber() != serialNumber)
            continue;
        if (path.empty() || device->m_devicePath == path)
            return device;
        ++withSerial;
        onlyOne = device;
    }
    return withSerial == 1 && !samePathOnly ? onlyOne : nullptr;
}

std::vector<std::shared_ptr<CTovrakDevice>> CTovrakDevice::ListedDevices()
{
    std::lock_guard<std::mutex> lock(g_devicesMutex);
    return g_devices;
}
