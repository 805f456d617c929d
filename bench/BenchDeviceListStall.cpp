// How long the message thread is held up by the device list while slow devices come and go.
//
// A stand-in for the message thread runs what the window runs there: a refill (Refresh, then
// the list read under its lock) whenever the idle thread reports a change, and one more refill
// every 50 ms as a user pressing Ctrl+F would. Between refills it ticks every millisecond; the
// longest gap between two ticks is the longest stall. Meanwhile the emulator plays
//   - a supported interface that answers every report after 400 ms and is rejected by the probe
//     (wrong information format): it is probed again and again;
//   - a good device that answers every report after 400 ms, plugged in after one second;
//   - a fast device pulled out and plugged in again every 700 ms.
//
// First it measures how long 64 devices of 1 ms a report take to be listed, against one.
//
// Usage: bench_device_list_stall [seconds, default 6]
// Prints figures; the exit code is 1 only when the slow good device never reaches the list.
#include "ByteOrder.h"
#include "DeviceRecords.h"
#include "Log.h"
#include "TovrakDevice.h"
#include "emulator/EmulatorBackend.h"
#include "hid/HidBackend.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class Notifications : public ICallbackDeviceChanged
{
public:
    void OnDeviceChanged() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending = true;
        ++m_count;
    }
    bool take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool pending = m_pending;
        m_pending = false;
        return pending;
    }
    int count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }

private:
    std::mutex m_mutex;
    bool m_pending = false;
    int m_count = 0;
};

EmulatedDeviceConfig device(const std::string& serial, std::chrono::milliseconds latency)
{
    TovrakIdentity id;
    id.serialNumber = serial;
    id.name = "Tovrak " + serial;
    EmulatedDeviceConfig config = makeTovrakDeviceConfig(id);
    config.latency = latency;
    return config;
}
// From the start of the device list until all `count` devices (1 ms a report) are listed, as a
// program start sees it: the first fill, then refills as the idle thread reports changes.
double secondsToList(int count)
{
    auto bus = std::make_shared<EmulatorBackend>();
    setHidBackend(bus);
    for (int i = 0; i < count; ++i)
    {
        char serial[16];
        std::snprintf(serial, sizeof serial, "MANY%04d", i);
        bus->add(device(serial, 1ms));
    }
    Notifications notifications;
    const auto start = Clock::now();
    CTovrakDevice::Init(&notifications);
    while (CTovrakDevice::ListedDevices().size() < static_cast<size_t>(count) && Clock::now() - start < 60s)
    {
        std::this_thread::sleep_for(1ms);
        if (notifications.take())
            CTovrakDevice::Refresh();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    CTovrakDevice::Uninit();
    setHidBackend(nullptr);
    return seconds;
}
} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 6;
    const juce::File log = juce::File::createTempFile(".log");
    Log::instance().init(log.getFullPathName().toStdString(), "datetime_level_func_log_source_line");

    // Many devices at once (a production hub): the best of three runs each.
    double one = 1e9;
    double many = 1e9;
    for (int run = 0; run < 3; ++run)
    {
        one = std::min(one, secondsToList(1));
        many = std::min(many, secondsToList(64));
    }
    std::printf("1 device listed after       %.1f ms\n", one * 1000.0);
    std::printf("64 devices listed after     %.1f ms (%.1f times one)\n", many * 1000.0, many / one);

    auto bus = std::make_shared<EmulatorBackend>();
    setHidBackend(bus);
    const auto fast = bus->add(device("FAST0001", 0ms));
    auto rejected = device("OLDFORMAT", 400ms);
    le::write16(rejected.deviceInfo.bytes.data() + DeviceInfo::OffInfoFormat, 1);
    bus->add(rejected);
    const auto slow = bus->add(device("SLOW0001", 400ms), false);

    Notifications notifications;
    CTovrakDevice::Init(&notifications);

    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto lastTick = Clock::now();
    auto nextUserRefill = start + 50ms;
    auto nextToggle = start + 700ms;
    bool slowPlugged = false;
    bool fastPlugged = true;
    Clock::duration longest {};
    Clock::duration longestRefill {};
    int refills = 0;
    double slowListedAfter = -1.0;

    auto refill = [&] {
        const auto t0 = Clock::now();
        CTovrakDevice::Refresh();
        for (const auto& d : CTovrakDevice::ListedDevices())
            if (d->deviceInfo().serialNumber() == "SLOW0001" && slowListedAfter < 0)
                slowListedAfter = std::chrono::duration<double>(Clock::now() - start).count() - 1.0;
        longestRefill = std::max(longestRefill, Clock::now() - t0);
        ++refills;
    };

    while (Clock::now() < end)
    {
        const auto now = Clock::now();
        longest = std::max(longest, now - lastTick);
        lastTick = now;

        if (!slowPlugged && now - start >= 1s)
        {
            bus->replug(slow);
            slowPlugged = true;
        }
        if (now >= nextToggle)
        {
            if (fastPlugged)
                bus->unplug(fast->path());
            else
                bus->replug(fast);
            fastPlugged = !fastPlugged;
            nextToggle += 700ms;
        }
        if (notifications.take())
            refill();
        if (now >= nextUserRefill)
        {
            refill();
            nextUserRefill += 50ms;
        }
        std::this_thread::sleep_for(1ms);
    }
    longest = std::max(longest, Clock::now() - lastTick);
    CTovrakDevice::Uninit();

    const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    std::printf("run                         %d s\n", seconds);
    std::printf("refills on the message thread %d (idle-thread notifications %d)\n", refills, notifications.count());
    std::printf("longest refill              %.1f ms\n", ms(longestRefill));
    std::printf("longest message-thread stall %.1f ms\n", ms(longest));
    if (slowListedAfter < 0)
    {
        std::printf("the 400 ms device never reached the list\n");
        return 1;
    }
    std::printf("400 ms device listed after  %.2f s\n", slowListedAfter);
    log.deleteFile();
    return 0;
}
