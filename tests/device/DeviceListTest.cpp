// The device list: refresh, enumeration and the idle thread's notifications.
#include "DeviceTestSupport.h"

#include <algorithm>
#include <condition_variable>
#include <thread>

using namespace device_testing;
using namespace std::chrono_literals;

namespace
{
// Counts notifications and remembers which enumeration each one followed.
class RecordingCallback : public ICallbackDeviceChanged
{
public:
    explicit RecordingCallback(EmulatorBackend& bus) : m_bus(bus) {}

    void OnDeviceChanged() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_enumerationAtCall.push_back(m_bus.enumerationCount());
        m_changed.notify_all();
    }

    size_t calls() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_enumerationAtCall.size();
    }

    // Waits for call number `index` (0-based); its enumeration number, or 0 after the timeout.
    uint64_t waitForCall(size_t index, std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, timeout, [&] { return m_enumerationAtCall.size() > index; }))
            return 0;
        return m_enumerationAtCall[index];
    }

private:
    EmulatorBackend& m_bus;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<uint64_t> m_enumerationAtCall;
};

// Stops the idle thread when it goes out of scope: declared after the callbacks, it ends the
// monitoring before they are destroyed.
struct StopMonitoringAtEnd
{
    ~StopMonitoringAtEnd() { CTovrakDevice::Uninit(); }
};

void waitForEnumerations(const EmulatorBackend& bus, uint64_t count)
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (bus.enumerationCount() < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
}
} // namespace

using DeviceList = EmulatorTest;

TEST_F(DeviceList, RefreshAppendsNewDevicesInOrderAndLeavesKnownOnesAlone)
{
    const auto a = addDevice("A");
    addDevice("B");
    addDevice("C");
    LogCapture log;
    EXPECT_TRUE(CTovrakDevice::Refresh());
    EXPECT_EQ(listedSerials(), (std::vector<std::string> { "A", "B", "C" }));
    for (const char* serial : { "A", "B", "C" })
        EXPECT_EQ(log.count("INFOR", "CTovrakDevice::AddAllDevices", std::string("find a new device :") + serial + " added to g_devices."), 1u);

    // Known devices are matched by path: no traffic, no new objects.
    const auto before = CTovrakDevice::ListedDevices();
    const size_t exchanges = a->totalExchanges();
    CTovrakDevice::Refresh();
    EXPECT_EQ(CTovrakDevice::ListedDevices(), before);
    EXPECT_EQ(a->totalExchanges(), exchanges);
    EXPECT_FALSE(CTovrakDevice::AddAllDevices(false));
}

TEST_F(DeviceList, UnpluggedDevicesLeaveOnlyAtTheNextRefresh)
{
    addDevice("A");
    const auto b = addDevice("B");
    addDevice("C");
    CTovrakDevice::Refresh();
    m_bus->unplug(b->path());

    EXPECT_TRUE(CTovrakDevice::AddAllDevices(false));
    EXPECT_EQ(listedSerials().size(), 3u);

    LogCapture log;
    CTovrakDevice::Refresh();
    EXPECT_EQ(listedSerials(), (std::vector<std::string> { "A", "C" }));
    EXPECT_TRUE(log.has("INFOR", "CTovrakDevice::Refresh", "remove the invalid device B from g_devices."));
}

TEST_F(DeviceList, ADeviceFailingItsSetUpIsLoggedOnceAndTriedAgainLessAndLessOften)
{
    CTovrakDevice::SetSetUpRetryDelay(100ms);
    addDevice("GOOD");
    const auto bad = addDevice("BAD3", 100, [](auto& c) {
        c.failReports = { { KSCAP_HID_FIRMWARE_INFO, ReportDirection::Input, 1, 0 } }; // every time
    });
    auto attempts = [&] { return bad->exchangeCount(KSCAP_HID_FIRMWARE_INFO, ReportDirection::Input); };
    LogCapture log;

    // Refreshed every 10 ms for 1.5 s: retries after 100, 200, 400 and 800 ms at most.
    const auto end = std::chrono::steady_clock::now() + 1500ms;
    size_t changes = 0;
    while (std::chrono::steady_clock::now() < end)
    {
        CTovrakDevice::Refresh();
        changes += CTovrakDevice::AddAllDevices(false) ? 1 : 0;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(listedSerials(), std::vector<std::string> { "GOOD" });
    EXPECT_EQ(changes, 0u) << "a device that keeps failing is no change: no refills";
    EXPECT_GE(attempts(), 3u);
    EXPECT_LE(attempts(), 5u);
    EXPECT_EQ(log.count("ERROR", "CTovrakDevice::CTovrakDevice", "Failed to open the device. 3"), 1u);
    size_t aboutBad = 0;
    for (const auto& line : log.lines())
        aboutBad += line.find("Failed to open") != std::string::npos || line.find(bad->path()) != std::string::npos;
    EXPECT_EQ(aboutBad, 2u) << "the failure and the note that it is tried again, once";

    // Pulled out and plugged in again: a new appearance, tried and logged at once.
    m_bus->unplug(bad->path());
    CTovrakDevice::Refresh();
    m_bus->replug(bad);
    const size_t before = attempts();
    CTovrakDevice::Refresh();
    EXPECT_EQ(attempts(), before + 1);
    EXPECT_EQ(log.count("ERROR", "CTovrakDevice::CTovrakDevice", "Failed to open the device. 3"), 2u);

    // Once it answers, the next due attempt lists it.
    bad->configure([](auto& c) { c.failReports.clear(); });
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (listedSerials().size() < 2 && std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for(20ms);
        CTovrakDevice::Refresh();
    }
    EXPECT_EQ(listedSerials(), (std::vector<std::string> { "GOOD", "BAD3" }));
    CTovrakDevice::SetSetUpRetryDelay(1000ms);
}

TEST_F(DeviceList, APathThatComesBackWithADeadHandleOrAnotherDeviceIsSetUpAgain)
{
    struct Case
    {
        const char* name;
        std::string expectedSerial;
        // Changes what sits behind the listed device's path between two refreshes.
        std::function<void(EmulatorBackend&, const std::shared_ptr<EmulatedDevice>&)> change;
    };
    const std::vector<Case> cases = {
        { "the same device unplugged and plugged in again", "A",
          [](EmulatorBackend& bus, const std::shared_ptr<EmulatedDevice>& a) {
              bus.unplug(a->path());
              bus.replug(a);
          } },
        { "another device on the same path", "B",
          [this](EmulatorBackend& bus, const std::shared_ptr<EmulatedDevice>& a) {
              const auto b = addDevice("B", 100, [&](auto& c) { c.path = a->path(); }, false);
              bus.swap(a->path(), b);
          } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        CTovrakDevice::Uninit();
        m_bus = std::make_shared<EmulatorBackend>();
        setHidBackend(m_bus);
        const auto a = addDevice("A");
        CTovrakDevice::Refresh();
        const auto before = CTovrakDevice::FindBySerialNumber("A");
        ASSERT_NE(before, nullptr);

        c.change(*m_bus, a);
        EXPECT_TRUE(CTovrakDevice::AddAllDevices(false)) << "a change, although the path list is the same";
        CTovrakDevice::Refresh();
        const auto listed = CTovrakDevice::ListedDevices();
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_NE(listed[0], before) << "a new object for what is behind the path now";
        EXPECT_EQ(listed[0]->deviceInfo().serialNumber(), c.expectedSerial);
        EXPECT_TRUE(listed[0]->WaitForWIP()) << "its handle talks to the device";
        EXPECT_FALSE(CTovrakDevice::AddAllDevices(false));
    }
}

TEST_F(DeviceList, SwapWithUnchangedCountIsStillAChange)
{
    const auto a = addDevice("A");
    const auto b = addDevice("B", 100, {}, false);
    CTovrakDevice::Refresh();
    m_bus->swap(a->path(), b);
    EXPECT_TRUE(CTovrakDevice::AddAllDevices(false));
    CTovrakDevice::Refresh();
    EXPECT_EQ(listedSerials(), std::vector<std::string> { "B" });
}

TEST_F(DeviceList, ForeignAndUnsupportedInterfacesNeverCount)
{
    m_bus->add(makeForeignDeviceConfig(0x046D, 0xC52B));
    addDevice("UNSUPPORTED", 100, [](auto& c) { c.productId = 0x0002; });
    addDevice("OLDFORMAT", 100, [](auto& c) { le::write16(c.deviceInfo.bytes.data(), 1); });
    CTovrakDevice::Refresh();
    EXPECT_TRUE(listedSerials().empty());
    EXPECT_FALSE(CTovrakDevice::AddAllDevices(false));
}

TEST_F(DeviceList, FailedEnumerationEmptiesTheListAtTheNextRefresh)
{
    addDevice("A");
    CTovrakDevice::Refresh();
    m_bus->setEnumerationFails(true);
    EXPECT_FALSE(CTovrakDevice::AddAllDevices(false));
    CTovrakDevice::Refresh();
    EXPECT_TRUE(listedSerials().empty());
}

TEST_F(DeviceList, ADroppedDeviceLivesOnForWhoeverHoldsIt)
{
    const auto a = addDevice("A");
    CTovrakDevice::Refresh();
    std::shared_ptr<CTovrakDevice> held = CTovrakDevice::FindBySerialNumber("A");
    ASSERT_NE(held, nullptr);
    m_bus->unplug(a->path());
    CTovrakDevice::Refresh();
    EXPECT_TRUE(listedSerials().empty());
    EXPECT_EQ(held.use_count(), 1);
    EXPECT_EQ(held->deviceInfo().serialNumber(), "A");
    EXPECT_FALSE(held->WaitForWIP()); // gone, but the object is intact

    std::weak_ptr<CTovrakDevice> watch = held;
    held.reset();
    EXPECT_TRUE(watch.expired());
}

TEST_F(DeviceList, FindBySerialNumberComparesTheWholeText)
{
    addDevice("AB");
    addDevice("ABC");
    CTovrakDevice::Refresh();
    ASSERT_NE(CTovrakDevice::FindBySerialNumber("ABC"), nullptr);
    EXPECT_EQ(CTovrakDevice::FindBySerialNumber("ABC")->deviceInfo().serialNumber(), "ABC");
    EXPECT_EQ(CTovrakDevice::FindBySerialNumber("A"), nullptr);
    EXPECT_EQ(CTovrakDevice::FindBySerialNumber("ABCD"), nullptr);
}

using IdleMonitoring = EmulatorTest;

TEST_F(IdleMonitoring, PlugAndUnplugAreReportedByTheNextPoll)
{
    const auto a = addDevice("A");
    RecordingCallback callback(*m_bus);
    StopMonitoringAtEnd stopMonitoring;
    ASSERT_TRUE(CTovrakDevice::Init(&callback));
    EXPECT_EQ(listedSerials(), std::vector<std::string> { "A" });
    waitForEnumerations(*m_bus, m_bus->enumerationCount() + 2);
    ASSERT_EQ(callback.calls(), 0u);

    // Plugged in: the first enumeration that starts afterwards reports it.
    const auto b = addDevice("B");
    uint64_t plugged = m_bus->enumerationCount();
    auto start = std::chrono::steady_clock::now();
    uint64_t noticed = callback.waitForCall(0, 2s);
    ASSERT_NE(noticed, 0u);
    EXPECT_LE(noticed, plugged + 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s); // a poll every 200 ms, with room for a busy machine
    EXPECT_EQ(listedSerials(), std::vector<std::string> { "A" }); // only a refresh changes the list

    CTovrakDevice::Refresh();
    EXPECT_EQ(listedSerials(), (std::vector<std::string> { "A", "B" }));
    size_t calls = callback.calls();
    waitForEnumerations(*m_bus, m_bus->enumerationCount() + 2);
    // At most the one poll that may have overlapped the refresh.
    EXPECT_LE(callback.calls(), calls + 1);
    calls = callback.calls();

    // Pulled out.
    m_bus->unplug(a->path());
    plugged = m_bus->enumerationCount();
    start = std::chrono::steady_clock::now();
    noticed = callback.waitForCall(calls, 2s);
    ASSERT_NE(noticed, 0u);
    EXPECT_LE(noticed, plugged + 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s); // a poll every 200 ms, with room for a busy machine
    CTovrakDevice::Refresh();
    EXPECT_EQ(listedSerials(), std::vector<std::string> { "B" });
    (void) b;
}

TEST_F(IdleMonitoring, SwapBetweenTwoPollsIsReportedAndRepeatedUntilRefreshed)
{
    const auto a = addDevice("A");
    const auto b = addDevice("B", 100, {}, false);
    RecordingCallback callback(*m_bus);
    StopMonitoringAtEnd stopMonitoring;
    ASSERT_TRUE(CTovrakDevice::Init(&callback));
    m_bus->swap(a->path(), b);
    const uint64_t swapped = m_bus->enumerationCount();
    const uint64_t noticed = callback.waitForCall(0, 2s);
    ASSERT_NE(noticed, 0u);
    EXPECT_LE(noticed, swapped + 1);
    // Every later poll reports it again while the list is behind.
    EXPECT_NE(callback.waitForCall(2, 2s), 0u);
}

TEST_F(IdleMonitoring, ForeignDevicesNeverTriggerTheCallback)
{
    addDevice("A");
    RecordingCallback callback(*m_bus);
    StopMonitoringAtEnd stopMonitoring;
    ASSERT_TRUE(CTovrakDevice::Init(&callback));
    m_bus->add(makeForeignDeviceConfig(0x046D, 0xC31C));
    addDevice("WRONGPID", 100, [](auto& c) { c.productId = 0x000A; });
    addDevice("NOSERIAL", 100, [](auto& c) { c.serialStringReadable = false; });
    waitForEnumerations(*m_bus, m_bus->enumerationCount() + 4);
    EXPECT_EQ(callback.calls(), 0u);
}

TEST_F(IdleMonitoring, InitTwiceKeepsOneThreadAndTakesTheNewCallback)
{
    RecordingCallback first(*m_bus);
    RecordingCallback second(*m_bus);
    StopMonitoringAtEnd stopMonitoring;
    ASSERT_TRUE(CTovrakDevice::Init(&first));
    ASSERT_TRUE(CTovrakDevice::Init(&second));
    EXPECT_TRUE(CTovrakDevice::IsMonitoring());

    // One thread polls five times a second; two would poll about ten times.
    const uint64_t before = m_bus->enumerationCount();
    std::this_thread::sleep_for(1s);
    const uint64_t polls = m_bus->enumerationCount() - before;
    EXPECT_GE(polls, 3u);
    EXPECT_LE(polls, 6u);

    addDevice("A");
    EXPECT_NE(second.waitForCall(0, 2s), 0u);
    EXPECT_EQ(first.calls(), 0u);

    CTovrakDevice::Uninit();
    EXPECT_FALSE(CTovrakDevice::IsMonitoring());
    EXPECT_TRUE(CTovrakDevice::ListedDevices().empty());
    const uint64_t stopped = m_bus->enumerationCount();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(m_bus->enumerationCount(), stopped);
}

// Run under ThreadSanitizer: the idle thread polls, one thread refreshes the list (the message
// thread's job), one plugs and unplugs, and a worker talks to a device it holds while the
// refreshes drop it and bring it back.
TEST_F(IdleMonitoring, PollsRefreshesHotPlugAndAWorkerRunTogether)
{
    std::vector<std::shared_ptr<EmulatedDevice>> devices;
    for (int i = 0; i < 4; ++i)
        devices.push_back(addDevice("T" + std::to_string(i)));
    RecordingCallback callback(*m_bus);
    StopMonitoringAtEnd stopMonitoring;
    ASSERT_TRUE(CTovrakDevice::Init(&callback));

    std::atomic<bool> stop { false };
    std::thread plugger([&] {
        for (unsigned round = 0; !stop; ++round)
        {
            const auto& device = devices[round % devices.size()];
            m_bus->unplug(device->path());
            std::this_thread::sleep_for(3ms);
            m_bus->replug(device);
            std::this_thread::sleep_for(2ms);
        }
    });
    std::thread worker([&] {
        while (!stop)
        {
            const std::shared_ptr<CTovrakDevice> mine = CTovrakDevice::FindBySerialNumber("T1");
            if (mine == nullptr)
                continue;
            for (int i = 0; i < 20 && !stop; ++i)
            {
                uint8_t buffer[100];
                mine->ReadFirmwareData(mine->flashInfo().firmwareBaseAddress(), buffer, sizeof buffer);
            }
        }
    });

    const auto end = std::chrono::steady_clock::now() + 1500ms;
    size_t refreshes = 0;
    while (std::chrono::steady_clock::now() < end)
    {
        CTovrakDevice::Refresh();
        // Whatever the polls did in between, a refresh leaves only devices that were set up.
        for (const auto& device : CTovrakDevice::ListedDevices())
            EXPECT_TRUE(device->present()) << device->deviceInfo().serialNumber();
        ++refreshes;
        std::this_thread::sleep_for(1ms);
    }
    stop = true;
    plugger.join();
    worker.join();

    for (const auto& device : devices)
        m_bus->replug(device);
    // The idle thread sets the replugged devices up; refreshes take them in.
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    do
    {
        std::this_thread::sleep_for(20ms);
        CTovrakDevice::Refresh();
    } while (listedSerials().size() < devices.size() && std::chrono::steady_clock::now() < deadline);
    auto serials = listedSerials();
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(serials, (std::vector<std::string> { "T0", "T1", "T2", "T3" }));
    EXPECT_GT(refreshes, 10u);
}

// The message thread's refresh never talks to a device while the idle thread runs: here a
// device that answers each report after 150 ms is plugged in and set up while the test thread
// refreshes; every exchange happens on the idle thread, and the device still reaches the list.
TEST_F(IdleMonitoring, RefreshMakesNoDeviceTrafficWhileTheIdleThreadRuns)
{
    addDevice("A");
    RecordingCallback callback(*m_bus);
    StopMonitoringAtEnd stopMonitoring;
    ASSERT_TRUE(CTovrakDevice::Init(&callback));

    const auto slow = addDevice("SLOW", 100, [](auto& c) { c.latency = 150ms; }, false);
    std::mutex mutex;
    size_t onThisThread = 0;
    size_t total = 0;
    const auto self = std::this_thread::get_id();
    slow->setExchangeObserver([&](const ExchangeRecord&) {
        std::lock_guard<std::mutex> lock(mutex);
        ++total;
        onThisThread += std::this_thread::get_id() == self ? 1 : 0;
    });
    m_bus->replug(slow);

    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (listedSerials().size() < 2 && std::chrono::steady_clock::now() < deadline)
    {
        CTovrakDevice::Refresh();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(listedSerials(), (std::vector<std::string> { "A", "SLOW" }));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_GT(total, 2u);
    EXPECT_EQ(onThisThread, 0u);
}

TEST_F(DeviceList, ADeviceThatNeverAnswersDelaysOnlyItself)
{
    using Clock = std::chrono::steady_clock;
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    addDevice("DEAD", 100, [](auto& c) {
        c.neverAnswers = true;
        c.requestBound = 1500ms;
    });
    addDevice("A");
    const auto b = addDevice("B", 100, {}, false);
    RecordingCallback callback(*m_bus);
    StopMonitoringAtEnd stopAtEnd;

    auto start = Clock::now();
    ASSERT_TRUE(CTovrakDevice::Init(&callback));
    EXPECT_LT(seconds(Clock::now() - start), 1.3) << "the first fill does not wait out the dead device";
    EXPECT_EQ(listedSerials(), std::vector<std::string> { "A" });

    // Plugged in while the dead device's requests run out, one after another.
    m_bus->replug(b);
    start = Clock::now();
    while (listedSerials().size() < 2 && Clock::now() - start < 5s)
    {
        callback.waitForCall(callback.calls(), 50ms);
        CTovrakDevice::Refresh();
    }
    EXPECT_EQ(listedSerials(), (std::vector<std::string> { "A", "B" }));
    EXPECT_LT(seconds(Clock::now() - start), 1.0) << "a device beside a dead one gets its row within a second";

    start = Clock::now();
    CTovrakDevice::Uninit();
    EXPECT_LT(seconds(Clock::now() - start), 2.0 + 1.5) << "the end waits for one request bound at most";
}

TEST_F(DeviceList, ADeviceInUseOutlivesAMissedEnumerationAndGetsNoSecondObject)
{
    struct Case
    {
        const char* name;
        void (EmulatorBackend::*fault)(bool);
    };
    for (const Case& c : { Case { "enumeration fails", &EmulatorBackend::setEnumerationFails },
                           Case { "enumeration comes back empty", &EmulatorBackend::setEnumerationEmpty } })
    {
        SCOPED_TRACE(c.name);
        CTovrakDevice::Uninit();
        m_bus = std::make_shared<EmulatorBackend>();
        setHidBackend(m_bus);
        addDevice("A");
        CTovrakDevice::Refresh();
        const auto device = CTovrakDevice::FindBySerialNumber("A");
        ASSERT_NE(device, nullptr);
        LogCapture log;
        {
            const CTovrakDevice::Use use(device);
            ((*m_bus).*c.fault)(true);
            CTovrakDevice::Refresh();
            EXPECT_EQ(CTovrakDevice::ListedDevices(), std::vector<std::shared_ptr<CTovrakDevice>> { device });
            ((*m_bus).*c.fault)(false);
            CTovrakDevice::Refresh();
            EXPECT_EQ(CTovrakDevice::ListedDevices(), std::vector<std::shared_ptr<CTovrakDevice>> { device })
                << "no second object for the path of a device in use";
            EXPECT_FALSE(log.has("INFOR", "CTovrakDevice::AddAllDevices", "find a new device :A added to g_devices."));
        }
        // Not in use any more: the list follows the enumeration again.
        ((*m_bus).*c.fault)(true);
        CTovrakDevice::Refresh();
        EXPECT_TRUE(listedSerials().empty());
        ((*m_bus).*c.fault)(false);
    }
}

TEST_F(DeviceList, ARetryDelayEndsWhenAnotherDeviceTakesThePath)
{
    const auto bad = addDevice("BAD", 100, [](auto& c) {
        c.failReports = { { KSCAP_HID_FIRMWARE_INFO, ReportDirection::Input, 1, 0 } };
    });
    CTovrakDevice::Refresh(); // fails; the next try is a second away
    const auto good = addDevice("GOOD", 100, [&](auto& c) { c.path = bad->path(); }, false);
    m_bus->swap(bad->path(), good);
    CTovrakDevice::Refresh();
    EXPECT_EQ(listedSerials(), std::vector<std::string> { "GOOD" });
}
