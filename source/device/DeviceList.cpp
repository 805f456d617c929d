// The list of attached devices (g_devices), its refresh, and the idle thread that watches for
// devices being plugged in or pulled out.
//
// The work is split in two. A survey enumerates the interfaces, checks that every listed
// device's handle is still connected, probes the new interfaces and sets up the new devices,
// all without holding the list's lock; it keeps what it found (the devices set up and not yet
// listed, the paths still attached) for the next Refresh. Refresh applies the last survey under
// the lock, without any device traffic. While the idle thread runs it is the only surveyor, so
// the message thread, which runs Refresh, never waits on a device.
#include "TovrakDevice.h"

#include "hid/HidBackend.h"

#include "Log.h"
#include "StringResources.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <map>
#include <set>

std::vector<std::shared_ptr<CTovrakDevice>> g_devices;
std::mutex g_devicesMutex;

// Surveys every 200 ms and tells the registered callback when the attached devices differ
// from the list. Never changes the list itself.
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

// Init and Uninit may be called from more than one place; this keeps them from overlapping.
std::mutex g_lifecycleMutex;
CTovrakDevice::IdleThread* g_pIdleThread = nullptr; // owned; guarded by g_lifecycleMutex
std::atomic<bool> g_bMonitoring { false };          // g_pIdleThread is set
std::atomic<ICallbackDeviceChanged*> g_pDeviceChangedCallback { nullptr };

// One survey at a time (the idle thread, or a caller while there is none). Held during device
// traffic, so never taken by Refresh while the idle thread runs.
std::mutex g_surveyMutex;

// A path whose device passed the probe but could not be set up.
struct SetUpFailure
{
    int failures = 0;
    Clock::time_point nextAttempt;
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
std::atomic<int64_t> g_firstRetryMilliseconds { 1000 };
constexpr int kMaxRetryFactor = 60;

Clock::duration retryDelay(int failures)
{
    int64_t factor = 1;
    for (int i = 1; i < failures && factor < kMaxRetryFactor; ++i)
        factor *= 2;
    return std::chrono::milliseconds(g_firstRetryMilliseconds.load() * std::min<int64_t>(factor, kMaxRetryFactor));
}
} // namespace

void CTovrakDevice::IdleThread::run()
{
    while (!threadShouldExit())
    {
        if (m_stopEvent.wait(kPollMilliseconds))
            break;
        if (threadShouldExit())
            break;
        if (CTovrakDevice::Survey(true))
            if (ICallbackDeviceChanged* callback = g_pDeviceChangedCallback.load())
                callback->OnDeviceChanged();
    }
}

void CTovrakDevice::SetSetUpRetryDelay(std::chrono::milliseconds first)
{
    g_firstRetryMilliseconds = std::max<int64_t>(1, first.count());
}

bool CTovrakDevice::Survey(bool setUpNew)
{
    std::lock_guard<std::mutex> surveying(g_surveyMutex);

    std::vector<std::shared_ptr<CTovrakDevice>> listed;
    std::vector<std::shared_ptr<CTovrakDevice>> staged;
    {
        std::lock_guard<std::mutex> lock(g_devicesMutex);
        listed = g_devices;
        staged = g_survey.staged;
    }
    const auto byPath = [](const std::vector<std::shared_ptr<CTovrakDevice>>& devices, const std::string& path) {
        return std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d->m_devicePath == path; });
    };

    const std::shared_ptr<HidBackend> backend = currentHidBackend();
    std::vector<std::string> paths;
    const bool enumerated = backend->enumerate(paths);

    std::set<std::string> connected;
    std::vector<std::shared_ptr<CTovrakDevice>> stillStaged;
    bool newSeen = false;
    const auto now = Clock::now();
    for (const std::string& path : paths)
    {
        // A listed device stays while its own handle is connected; no traffic.
        const auto known = byPath(listed, path);
        if (known != listed.end() && (*known)->IsConnected())
        {
            connected.insert(path);
            continue;
        }
        // A device set up by an earlier survey waits for Refresh.
        const auto waiting = byPath(staged, path);
        if (waiting != staged.end() && (*waiting)->IsConnected())
        {
            stillStaged.push_back(*waiting);
            newSeen = true;
            continue;
        }
        // A device whose set-up failed is left alone until its next attempt is due.
        const auto failure = g_setUpFailures.find(path);
        if (failure != g_setUpFailures.end() && now < failure->second.nextAttempt)
            continue;

        if (!ProbeInterface(*backend, path))
            continue;
        if (!setUpNew)
        {
            newSeen = true;
            continue;
        }
        const bool firstAttempt = failure == g_setUpFailures.end();
        auto device = std::make_shared<CTovrakDevice>(path, firstAttempt);
        if (device->present())
        {
            if (!firstAttempt)
                g_setUpFailures.erase(failure);
            stillStaged.push_back(std::move(device));
            newSeen = true;
            continue;
        }
        SetUpFailure& record = g_setUpFailures[path];
        ++record.failures;
        record.nextAttempt = Clock::now() + retryDelay(record.failures);
        if (firstAttempt)
            KS_LOG_INFO("CTovrakDevice::AddAllDevices",
                        "the device at " << path << " could not be set up; it is tried again later, "
                                         << "each time after a longer wait, while it stays attached");
    }

    // A device whose path is gone starts afresh when it appears again.
    for (auto it = g_setUpFailures.begin(); it != g_setUpFailures.end();)
        it = std::find(paths.begin(), paths.end(), it->first) == paths.end() ? g_setUpFailures.erase(it) : std::next(it);

    bool differs = false;
    {
        std::lock_guard<std::mutex> lock(g_devicesMutex);
        g_survey.enumerated = enumerated;
        g_survey.connectedPaths = std::move(connected);
        g_survey.staged = std::move(stillStaged);
        for (const auto& device : g_devices)
            differs = differs || g_survey.connectedPaths.count(device->m_devicePath) == 0;
    }
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
        if (g_survey.connectedPaths.count(g_devices[i]->m_devicePath) != 0 && g_devices[i]->IsConnected())
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
    return Survey(addNew);
}

bool CTovrakDevice::Refresh()
{
    if (!g_bMonitoring)
        Survey(true);
    ApplySurvey();
    return true;
}

bool CTovrakDevice::Init(ICallbackDeviceChanged* callback)
{
    std::lock_guard<std::mutex> lifecycle(g_lifecycleMutex);
    g_pDeviceChangedCallback = callback;
    if (g_pIdleThread == nullptr)
    {
        // The first fill surveys here, before the idle thread takes the surveys over.
        Survey(true);
        auto thread = std::make_unique<IdleThread>();
        if (!thread->startThread())
        {
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
        g_pIdleThread->signalThreadShouldExit();
        g_pIdleThread->m_stopEvent.signal();
        g_pIdleThread->waitForThreadToExit(-1);
        delete g_pIdleThread;
        g_pIdleThread = nullptr;
        g_bMonitoring = false;
    }

    std::vector<std::shared_ptr<CTovrakDevice>> devices;
    {
        std::lock_guard<std::mutex> lock(g_devicesMutex);
        devices.swap(g_devices);
        g_devices.shrink_to_fit();
        g_survey = SurveyResult();
    }
    {
        std::lock_guard<std::mutex> surveying(g_surveyMutex);
        g_setUpFailures.clear();
    }
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
