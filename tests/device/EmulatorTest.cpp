// The device emulator itself: flash model, faults, timing and scenario files. Tests of other
// layers rely on these behaviours, so they are pinned down here.
#include "DeviceTestSupport.h"

#include "emulator/EmulatorScenario.h"
#include "TestSupport.h"
#include "hid/HidBackend.h"

#include <cstdlib>
#include <cstring>

#include <thread>

using namespace device_testing;
using namespace std::chrono_literals;

namespace
{
// Sends raw reports to an emulated device, as a handle would.
struct RawHost
{
    explicit RawHost(EmulatorBackend& bus, const std::string& path) : handle(bus.open(path)) {}

    bool erase(uint32_t address, uint32_t count)
    {
        uint8_t r[9] = { KSCAP_HID_FIRMWARE_ERASE };
        le::write32(r + 1, address);
        le::write32(r + 5, count);
        return handle->sendOutputReport(r, sizeof r);
    }
    bool write(uint32_t address, std::vector<uint8_t> data)
    {
        uint8_t r[263] = { KSCAP_HID_FIRMWARE_DATA };
        le::write32(r + 1, address);
        le::write16(r + 5, static_cast<uint16_t>(data.size()));
        std::copy(data.begin(), data.end(), r + 7);
        return handle->sendOutputReport(r, sizeof r);
    }
    bool read(uint32_t address, uint8_t* out64)
    {
        uint8_t a[5] = { KSCAP_HID_FIRMWARE_READ_ADDRESS };
        le::write32(a + 1, address);
        uint8_t r[263] = { KSCAP_HID_FIRMWARE_DATA };
        if (!handle->sendOutputReport(a, sizeof a) || !handle->getInputReport(r, sizeof r))
            return false;
        std::copy_n(r + 7, 64, out64);
        return true;
    }
    int wip()
    {
        uint8_t r[2] = { KSCAP_HID_FIRMWARE_WIP };
        return handle->getInputReport(r, sizeof r) ? r[1] : -1;
    }
    std::unique_ptr<HidHandle> handle;
};
} // namespace

using Emulator = EmulatorTest;

TEST_F(Emulator, FlashErasesToZeroAndReportsWritesIntoUnerasedBytes)
{
    const auto device = addDevice("E");
    RawHost host(*m_bus, device->path());
    EXPECT_EQ(device->readFlash(0x20000, 2), (std::vector<uint8_t> { 0xFF, 0xFF })); // never touched
    EXPECT_EQ(device->readFlash(0x10000, 4), (std::vector<uint8_t> { 'K', 'S', 'F', 'H' })); // installed header

    ASSERT_TRUE(host.erase(0x20000, 16));
    EXPECT_EQ(device->readFlash(0x20000, 17), [] { std::vector<uint8_t> v(17, 0); v[16] = 0xFF; return v; }());
    ASSERT_TRUE(host.write(0x20000, { 1, 2, 3 }));
    EXPECT_TRUE(device->violations().empty());

    device->setPhase("second write");
    ASSERT_TRUE(host.write(0x20002, { 9, 9 })); // 0x20002 was written already
    const auto violations = device->violations();
    ASSERT_EQ(violations.size(), 1u);
    EXPECT_EQ(violations[0].kind, ProtocolViolation::WriteIntoUnerased);
    EXPECT_EQ(violations[0].address, 0x20002u);
    EXPECT_EQ(violations[0].length, 1u);
    EXPECT_EQ(violations[0].phase, "second write");

    EXPECT_FALSE(host.erase(device->config().flashSize - 4, 8)); // past the end
    EXPECT_EQ(device->violations().back().kind, ProtocolViolation::OutOfRange);
}

TEST_F(Emulator, BusyFlagCountsPollsAndCommandsWhileBusyAreViolations)
{
    const auto device = addDevice("E", 100, [](auto& c) { c.busyPolls = 2; });
    RawHost host(*m_bus, device->path());
    ASSERT_TRUE(host.erase(0x20000, 4096));
    ASSERT_TRUE(host.write(0x20000, { 1 })); // without waiting
    EXPECT_EQ(device->violations().at(0).kind, ProtocolViolation::CommandWhileBusy);
    EXPECT_EQ(host.wip(), 1);
    EXPECT_EQ(host.wip(), 1);
    EXPECT_EQ(host.wip(), 0);

    // Busy for a time: long enough that the poll right after the erase still finds the flag
    // on a busy machine.
    device->configure([](auto& c) { c.busyPolls = 0; c.busyTime = 300ms; });
    ASSERT_TRUE(host.erase(0x21000, 4096));
    EXPECT_EQ(host.wip(), 1);
    std::this_thread::sleep_for(350ms);
    EXPECT_EQ(host.wip(), 0);

    device->configure([](auto& c) { c.stuckBusy = true; });
    EXPECT_EQ(host.wip(), 1);
}

TEST_F(Emulator, ReadBackFaultsAndStubbornErase)
{
    const auto device = addDevice("E", 100, [](auto& c) {
        c.corruptRead = true;
        c.corruptReadAddress = 0x20005;
        c.nonBlankAddress = 0x30010;
        c.nonBlankLength = 2;
    });
    RawHost host(*m_bus, device->path());
    uint8_t data[64];
    ASSERT_TRUE(host.erase(0x20000, 64));
    ASSERT_TRUE(host.read(0x20000, data));
    EXPECT_EQ(data[4], 0x00);
    EXPECT_EQ(data[5], 0xFF); // inverted on the way out
    EXPECT_EQ(device->readFlash(0x20005, 1)[0], 0x00); // but stored correctly

    ASSERT_TRUE(host.erase(0x30000, 4096));
    EXPECT_EQ(device->readFlash(0x3000F, 4), (std::vector<uint8_t> { 0x00, 0xA5, 0xA5, 0x00 }));
}

TEST_F(Emulator, NthExchangeFaultsCountOnlyMatchingReports)
{
    const auto device = addDevice("E", 100, [](auto& c) {
        c.failReports = { { KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input, 2, 2 } };
    });
    RawHost host(*m_bus, device->path());
    EXPECT_TRUE(host.erase(0x20000, 16)); // other reports do not count
    EXPECT_EQ(host.wip(), 0);
    EXPECT_EQ(host.wip(), -1);
    EXPECT_EQ(host.wip(), -1);
    EXPECT_EQ(host.wip(), 0);
    EXPECT_EQ(device->exchangeCount(KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input), 4u);
    EXPECT_EQ(device->exchangeCount(KSCAP_HID_FIRMWARE_ERASE, ReportDirection::Any), 1u);

    // A fault put in place of a spent one counts from when it is set, not from the old count.
    device->configure([](auto& c) { c.failReports = { { KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input, 1, 1 } }; });
    EXPECT_EQ(host.wip(), -1);
    EXPECT_EQ(host.wip(), 0);
}

TEST_F(Emulator, ExchangesAreCountedPerPhaseAndObserved)
{
    const auto device = addDevice("E");
    RawHost host(*m_bus, device->path());
    std::vector<uint8_t> seen;
    device->setExchangeObserver([&](const ExchangeRecord& r) { seen.push_back(r.reportId); });
    device->setPhase("erasing");
    host.erase(0x20000, 16);
    host.wip();
    device->setPhase("writing");
    host.write(0x20000, { 1 });
    host.wip();
    EXPECT_EQ(device->exchangeCount(KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input, "erasing"), 1u);
    EXPECT_EQ(device->exchangeCount(KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input, "writing"), 1u);
    EXPECT_EQ(device->exchangeCount(KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input), 2u);
    EXPECT_EQ(device->exchangeCount(KSCAP_HID_FIRMWARE_DATA, ReportDirection::Output, "erasing"), 0u);
    EXPECT_EQ(seen, (std::vector<uint8_t> { 0xF1, 0xF4, 0xF3, 0xF4 }));
}

TEST_F(Emulator, UnplugAfterExchangesAndTimedHotPlug)
{
    const auto device = addDevice("E", 100, [](auto& c) { c.unplugAfterExchanges = 2; });
    RawHost host(*m_bus, device->path());
    EXPECT_EQ(host.wip(), 0);
    EXPECT_EQ(host.wip(), 0); // the last one it answers
    EXPECT_EQ(host.wip(), -1);
    std::vector<std::string> paths;
    m_bus->enumerate(paths);
    EXPECT_TRUE(paths.empty());


    // Present from 300 ms to 1300 ms from now, on the emulator's clock; the looks fall well
    // inside and outside that window even when this thread wakes late.
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_bus->epoch());
    const auto timed = addDevice("TIMED", 100, [&](auto& c) { c.appearAt = now + 300ms; c.vanishAt = now + 1300ms; });
    m_bus->enumerate(paths);
    EXPECT_TRUE(paths.empty());
    std::this_thread::sleep_until(m_bus->epoch() + now + 400ms);
    m_bus->enumerate(paths);
    EXPECT_EQ(paths, std::vector<std::string> { timed->path() });
    std::this_thread::sleep_until(m_bus->epoch() + now + 1350ms);
    m_bus->enumerate(paths);
    EXPECT_TRUE(paths.empty());
}

TEST_F(Emulator, LatencySleepsSoParallelDevicesDoNotAddUp)
{
    constexpr int kDevices = 8;
    constexpr int kExchanges = 20;
    std::vector<std::shared_ptr<EmulatedDevice>> devices;
    for (int i = 0; i < kDevices; ++i)
        devices.push_back(addDevice("L" + std::to_string(i), 100, [](auto& c) { c.latency = 5ms; }));

    auto exchange = [&](const std::shared_ptr<EmulatedDevice>& device) {
        RawHost host(*m_bus, device->path());
        for (int i = 0; i < kExchanges; ++i)
            host.wip();
    };
    // One device alone first, as the yardstick of this machine at this moment: the bound below
    // is a ratio measured in the same run, so a slow or busy machine does not fail it.
    auto start = std::chrono::steady_clock::now();
    exchange(devices[0]);
    const auto alone = std::chrono::steady_clock::now() - start;

    start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (const auto& device : devices)
        threads.emplace_back(exchange, device);
    for (auto& t : threads)
        t.join();
    const auto together = std::chrono::steady_clock::now() - start;
    const auto aloneMs = std::chrono::duration_cast<std::chrono::milliseconds>(alone).count();
    const auto togetherMs = std::chrono::duration_cast<std::chrono::milliseconds>(together).count();
    // Twenty 5 ms answers take at least 100 ms; the eight devices one after another would take
    // eight times as long as one alone.
    EXPECT_GE(aloneMs, 100);
    EXPECT_GE(togetherMs, 100);
    EXPECT_LT(togetherMs, aloneMs * 4) << "eight devices together took as long as one after another";
}

TEST(EmulatorScenario, TheDemoScenarioDescribesTheDemoDevices)
{
    EmulatorBackend bus;
    std::string error;
    ASSERT_TRUE(loadEmulatorScenario(juce::File(TOVRAK_SOURCE_DIR "/resources/scenarios/demo.json"), bus, error)) << error;
    ASSERT_EQ(bus.devices().size(), 5u);
    size_t tovrak = 0;
    for (const auto& device : bus.devices())
        tovrak += CTovrakDevice::ProbeInterface(bus, device->path()) ? 1 : 0;
    EXPECT_EQ(tovrak, 4u);
    EXPECT_EQ(bus.devices()[0]->config().deviceInfo.productCode(), 533);
    EXPECT_EQ(bus.devices()[3]->config().vendorId, PARTNER_USB_VENDOR_ID);
}

TEST(EmulatorScenario, ReadsEveryKindOfSetting)
{
    std::vector<EmulatedDeviceConfig> devices;
    std::string error;
    ASSERT_TRUE(parseEmulatorScenario(R"({ "devices": [ {
        "serialNumber": "S1", "productCode": "0x215", "revision": "D", "variant": 4, "runningVersion": "3.2.1",
        "infoFormat": 3, "path": "p1",
        "flash": { "size": 65536, "eraseUnitSize": 1024, "firmwareBaseAddress": 8192, "fill": 0 },
        "installed": false,
        "timing": { "latencyMs": 2, "busyPolls": 3, "busyMs": 4 },
        "faults": { "openFails": true, "stuckBusy": true, "corruptReadAddress": "0x10",
                    "failReports": [ { "reportId": "0xF0", "direction": "in", "nth": 2, "count": 0 } ],
                    "nonBlankAfterErase": { "address": 16, "length": 4 }, "unplugAfterExchanges": 9,
                    "appearAtMs": 100, "vanishAtMs": 200 } } ] })", devices, error)) << error;
    ASSERT_EQ(devices.size(), 1u);
    const auto& c = devices[0];
    EXPECT_EQ(c.path, "p1");
    EXPECT_EQ(c.vendorId, KESTRANE_USB_VENDOR_ID);
    EXPECT_EQ(c.deviceInfo.productCode(), 533);
    EXPECT_EQ(c.deviceInfo.hardwareRevision(), 'D');
    EXPECT_EQ(c.deviceInfo.runningFirmwareVersion(), 0x03020001u);
    EXPECT_EQ(c.deviceInfo.infoFormat(), 3);
    EXPECT_EQ(c.flashSize, 65536u);
    EXPECT_EQ(c.flashInfo.eraseUnitSize(), 1024u);
    EXPECT_EQ(c.flashInfo.firmwareBaseAddress(), 8192u);
    EXPECT_TRUE(c.installedHeader.empty());
    EXPECT_EQ(c.latency, 2ms);
    EXPECT_EQ(c.busyPolls, 3u);
    EXPECT_TRUE(c.openFails && c.stuckBusy && c.corruptRead);
    ASSERT_EQ(c.failReports.size(), 1u);
    EXPECT_EQ(c.failReports[0].reportId, 0xF0);
    EXPECT_EQ(c.failReports[0].count, 0u);
    EXPECT_EQ(c.nonBlankLength, 4u);
    EXPECT_EQ(c.unplugAfterExchanges, 9u);
    EXPECT_EQ(c.appearAt, 100ms);
    EXPECT_EQ(c.vanishAt, 200ms);
}

TEST(EmulatorScenario, RejectsMistakesAndSaysWhere)
{
    const struct { const char* json; const char* where; } cases[] = {
        { "not json", "not valid JSON" },
        { "[]", "scenario must be an object" },
        { "{ \"devices\": [ { \"name\": \"\xC3\" } ] }", "not valid UTF-8" },
        { R"({ "devices": [ { "variant": 1234567890123456789012 } ] })", "more than 18 digits" },
        { R"({ "devices": {} })", "scenario.devices" },
        { R"({ "devics": [] })", "scenario.devics is not a known setting" },
        { R"({ "devices": [ { "productCode": 70000 } ] })", "devices[0].productCode must be" },
        { R"({ "devices": [ { "revision": "AB" } ] })", "devices[0].revision" },
        { R"({ "devices": [ { "serialNumber": "0123456789012345678" } ] })", "devices[0].serialNumber" },
        { R"({ "devices": [ { "runningVersion": "1.2" } ] })", "devices[0].runningVersion" },
        { R"({ "devices": [ { "flash": { "size": 1073741824 } } ] })", "devices[0].flash.size" },
        { R"({ "devices": [ {}, { "faults": { "stuckbusy": true } } ] })", "devices[1].faults.stuckbusy" },
        { R"({ "devices": [ { "faults": { "failReports": [ { "direction": "up" } ] } } ] })", "devices[0].faults.failReports[0].direction" },
    };
    for (const auto& c : cases)
    {
        std::vector<EmulatedDeviceConfig> devices;
        std::string error;
        EXPECT_FALSE(parseEmulatorScenario(c.json, devices, error)) << c.json;
        EXPECT_NE(error.find(c.where), std::string::npos) << error;
        EXPECT_TRUE(devices.empty());
    }
}

TEST(BackendChoice, TheEnvironmentVariableSelectsTheEmulator)
{
    LogCapture log;
    ::setenv("TOVRAK_EMULATOR", TOVRAK_SOURCE_DIR "/resources/scenarios/demo.json", 1);
    setHidBackend(nullptr);
    const auto* emulator = dynamic_cast<EmulatorBackend*>(currentHidBackend().get());
    ASSERT_NE(emulator, nullptr);
    EXPECT_EQ(emulator->devices().size(), 5u);

    // Asked for but unreadable: emulation without devices, never the real hardware.
    ::setenv("TOVRAK_EMULATOR", "/no/such/scenario.json", 1);
    setHidBackend(nullptr);
    emulator = dynamic_cast<EmulatorBackend*>(currentHidBackend().get());
    ASSERT_NE(emulator, nullptr);
    EXPECT_TRUE(emulator->devices().empty());
    EXPECT_TRUE(log.has("ERROR", "HidBackend::choose",
                        "device emulator: scenario not loaded, no devices: no scenario file /no/such/scenario.json"));

    ::unsetenv("TOVRAK_EMULATOR");
    setHidBackend(nullptr);
    EXPECT_EQ(dynamic_cast<EmulatorBackend*>(currentHidBackend().get()), nullptr);
    setHidBackend(nullptr);
}

TEST(BackendChoice, ThePlatformBackendCopesWithoutDevices)
{
    // This machine may have no HID devices at all: enumeration still works and a path that does
    // not exist is refused with a reason.
    const auto backend = createPlatformHidBackend();
    std::vector<std::string> paths;
    backend->enumerate(paths);
    EXPECT_EQ(backend->open("/dev/hidraw-does-not-exist"), nullptr);
    EXPECT_FALSE(backend->lastOpenError().empty());
}

namespace
{
// A header block typed from the layout: "KSFH", byte sum of bytes 8.. at 4, size at 10, version
// at 16, section count at 156, then 28-byte entries (name, address, length, byte sum).
struct Entry
{
    const char* name;
    uint32_t address;
    uint32_t length;
    uint32_t sum;
};
std::vector<uint8_t> headerBlock(uint32_t version, std::vector<Entry> entries = {}, bool goodSum = true)
{
    std::vector<uint8_t> b(157 + 28 * entries.size(), 0);
    std::memcpy(b.data(), "KSFH", 4);
    le::write16(b.data() + 10, static_cast<uint16_t>(b.size()));
    le::write32(b.data() + 16, version);
    b[156] = static_cast<uint8_t>(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
    {
        uint8_t* e = b.data() + 157 + 28 * i;
        std::memcpy(e, entries[i].name, std::strlen(entries[i].name));
        le::write32(e + 16, entries[i].address);
        le::write32(e + 20, entries[i].length);
        le::write32(e + 24, entries[i].sum);
    }
    uint32_t sum = goodSum ? 0 : 1;
    for (size_t i = 8; i < b.size(); ++i)
        sum += b[i];
    le::write32(b.data() + 4, sum);
    return b;
}
} // namespace

TEST_F(Emulator, BootsTheValidHeaderAboveTheBaseElseTheOneAtTheBaseElseNothing)
{
    using emulated_boot::BootView;
    constexpr uint32_t kBase = 0x10000;
    const std::vector<uint8_t> app { 1, 2, 3 }; // byte sum 6, at 0x40000
    struct Case
    {
        const char* what;
        std::vector<uint8_t> atBase, above;
        BootView::Choice boots;
        uint32_t running; // packed: major in bits 24-31, minor in 16-23
        bool holds;
    };
    const std::vector<Case> cases {
        { "base only", headerBlock(0x00010003), {}, BootView::Base, 0x01030000, true },
        { "both valid: the upper wins", headerBlock(0x00010003), headerBlock(0x00020005), BootView::Safe, 0x02050000, true },
        { "upper checksum wrong", headerBlock(0x00010003), headerBlock(0x00020005, {}, false), BootView::Base, 0x01030000, true },
        { "neither", headerBlock(0x00010003, {}, false), {}, BootView::UpgradeMode, 0, true },
        { "section holds", {}, headerBlock(0x00010004, { { "App", 0x40000, 3, 6 } }), BootView::Safe, 0x01040000, true },
        { "booted over foreign bytes", {}, headerBlock(0x00010004, { { "App", 0x40000, 3, 7 } }), BootView::Safe, 0x01040000, false },
        { "clear section not blank", headerBlock(0x00010004, { { "Factory.CLR.1", 0x40000, 3, 0 } }), {}, BootView::Base, 0x01040000, false },
        { "kept section not looked at", headerBlock(0x00010004, { { "Upgrade.Cfg", 0x40000, 3, 0 } }), {}, BootView::Base, 0x01040000, true },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        TovrakIdentity id;
        id.firmwareBaseAddress = kBase;
        EmulatedDeviceConfig config = makeTovrakDeviceConfig(id);
        config.installedHeader.clear();
        const auto emu = m_bus->add(config);
        emu->loadFlash(0x40000, app);
        emu->loadFlash(kBase, c.atBase);
        emu->loadFlash(kBase + 4096, c.above);
        emu->unplug();
        emu->plug(); // it starts again and runs what it boots
        const BootView view = emu->bootedAtStart();
        EXPECT_EQ(view.choice, c.boots);
        EXPECT_EQ(emu->config().deviceInfo.runningFirmwareVersion(), c.running);
        EXPECT_EQ(view.everyValidHeaderHolds(), c.holds);
    }
}

TEST_F(Emulator, FlashFileKeepsTheFlashFromOneDeviceObjectToTheNext)
{
    testing_support::TempFolder folder;
    EmulatedDeviceConfig config = makeTovrakDeviceConfig(TovrakIdentity {});
    config.flashSize = 64 * 1024;
    config.flashInfo.setFirmwareBaseAddress(0x4000);
    config.flashFile = folder.file("device.flash").getFullPathName().toStdString();
    {
        EmulatedDevice first(config, std::chrono::steady_clock::now());
        first.loadFlash(0x4000 + 4096, headerBlock(0x00030001));
    } // destroyed: the flash goes to the file
    EXPECT_EQ(folder.file("device.flash").getSize(), 64 * 1024);
    EmulatedDevice second(config, std::chrono::steady_clock::now());
    EXPECT_EQ(second.bootedAtStart().choice, emulated_boot::BootView::Safe);
    EXPECT_EQ(second.config().deviceInfo.runningFirmwareVersion(), 0x03010000u);
}
