// The list of attached devices (g_devices), its refresh, and the idle thread that watches for
// devices being plugged in or pulled out.
#include "TovrakDevice.h"

#include "hid/HidBackend.h"

#include "Log.h"
#include "StringResources.h"

#include <juce_core/juce_core.h>

#include <algorithm>

std::vector<std::shared_ptr<CTovrakDevice>> g_devices;
std::mutex g_devicesMutex;

// Enumerates every 200 ms and tells the registered callback when the attached devices differ
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
// Init and Uninit may be called from more than one place; this keeps them from overlapping.
std::mutex g_lifecycleMutex;
CTovrakDevice::IdleThread* g_pIdleThread = nullptr; // owned; guarded by g_lifecycleMutex
std::atomic<ICallbackDeviceChanged*> g_pDeviceChangedCallback { nullptr };
} // namespace

void CTovrakDevice::IdleThread::run()
{
    while (!threadShouldExit())
    {
        if (m_stopEvent.wait(kPollMilliseconds))
            break;
        if (threadShouldExit())
            break;
        if (CTovrakDevice::AddAllDevices(false))
            if (ICallbackDeviceChanged* callback = g_pDeviceChangedCallback.load())
                callback->OnDeviceChanged();
    }
}

bool CTovrakDevice::AddAllDevices(bool addNew)
{
    std::lock_guard<std::mutex> lock(g_devicesMutex);
    return AddAllDevicesLocked(addNew);
}

bool CTovrakDevice::AddAllDevicesLocked(bool addNew)
{
    const size_t previous = g_devices.size();
    size_t found = 0;
    bool newSeen = false;

    const std::shared_ptr<HidBackend> backend = currentHidBackend();
    std::vector<std::string> paths;
    if (!backend->enumerate(paths))
        return false;

    for (const std::string& path : paths)
    {
        const auto known = std::find_if(g_devices.begin(), g_devices.end(),
                                        [&](const auto& device) { return device->m_devicePath == path; });
        if (known != g_devices.end())
        {
            // Known devices are matched by path alone, without any traffic.
            (*known)->m_bPresent = true;
            ++found;
            continue;
        }
        if (!ProbeInterface(*backend, path))
            continue;
        newSeen = true;
        ++found;
        if (addNew)
        {
            // Appended even when its set-up failed: the refresh that asked for it drops it again.
            auto device = std::make_shared<CTovrakDevice>(path);
            KS_LOG_INFO("CTovrakDevice::AddAllDevices",
                        "find a new device :" << device->m_deviceInfo.serialNumber() << " added to g_devices.");
            g_devices.push_back(std::move(device));
        }
    }
    return newSeen || found != previous;
}

bool CTovrakDevice::Refresh()
{
    // Dropped devices are destroyed after the list is unlocked (declared before the lock).
    std::vector<std::shared_ptr<CTovrakDevice>> dropped;
    // One lock for the whole refresh: an idle poll in between could otherwise mark a device
    // whose set-up failed as present before it is dropped, and keep it in the list.
    std::lock_guard<std::mutex> lock(g_devicesMutex);
    for (const auto& device : g_devices)
        device->m_bPresent = false;

    AddAllDevicesLocked(true);

    for (size_t i = 0; i < g_devices.size();)
    {
        if (g_devices[i]->m_bPresent)
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
    return true;
}

bool CTovrakDevice::Init(ICallbackDeviceChanged* callback)
{
    std::lock_guard<std::mutex> lifecycle(g_lifecycleMutex);
    if (g_pIdleThread == nullptr)
    {
        auto thread = std::make_unique<IdleThread>();
        if (!thread->startThread())
        {
            KS_LOG_ERROR("CTovrakDevice::Init", getTranslatedString(StringId::FailedToInitializeDevice).toStdString());
            return false;
        }
        g_pIdleThread = thread.release();
    }
    g_pDeviceChangedCallback = callback;
    Refresh();
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
    }

    std::lock_guard<std::mutex> lock(g_devicesMutex);
    while (!g_devices.empty())
        g_devices.erase(g_devices.begin());
    g_devices.shrink_to_fit();
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

std::vector<std::shared_ptr<CTovrakDevice>> CTovrakDevice::ListedDevices()
{
    std::lock_guard<std::mutex> lock(g_devicesMutex);
    return g_devices;
}
