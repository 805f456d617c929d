// The per-device worker: its lookup, its decisions before any device traffic, where it puts
// the header, and several workers upgrading several devices at once.
#include "UpgradeTestSupport.h"
#include "UpgradeThread.h"

#include "FirmwareFileManager.h"

#include <gtest/gtest.h>

#include <thread>

using namespace upgrade_testing;
using testing_support::ImageSpec;
using testing_support::makeImage;
using testing_support::patternBytes;
using device_testing::LogCapture;

namespace
{
FirmwareImage imageWith(uint32_t version, uint16_t compatibilityCode, uint16_t productCode = 100, size_t sections = 1)
{
    ImageSpec spec;
    spec.productCode = productCode;
    spec.version = version;
    spec.compatibilityCode = compatibilityCode;
    spec.sections = { { "App", kSectionArea, patternBytes(2000, 5) }, { "Factory.CLR.1", kSectionArea + 0x1000, patternBytes(512) } };
    for (size_t i = 2; i < sections; ++i)
        spec.sections.push_back({ "Data" + std::to_string(i), kSectionArea + 0x1000 * static_cast<uint32_t>(i), patternBytes(100) });
    return makeImage(spec);
}

DeviceRow rowFor(const std::string& serial)
{
    DeviceRow row;
    row.serialNumber = juce::String(serial);
    row.name = juce::String("Tovrak " + serial);
    return row;
}

class UpgradeWorker : public UpgradeTest
{
protected:
    void TearDown() override
    {
        g_firmwareFileMgr.clearImages();
        UpgradeTest::TearDown();
    }

    void useImage(FirmwareImage image)
    {
        g_firmwareFileMgr.clearImages();
        g_firmwareFileMgr.addImage(std::move(image));
        ASSERT_EQ(g_firmwareFileMgr.images().size(), 1u);
    }

    // Creates the worker (its constructor refreshes the list), forgets the traffic of that
    // refresh, runs the worker to its end.
    std::unique_ptr<CUpgradeThread> runWorker(const std::string& serial, bool force,
                                              const std::shared_ptr<EmulatedDevice>& emu = nullptr)
    {
        auto worker = std::make_unique<CUpgradeThread>(rowFor(serial), force);
        if (emu)
            emu->clearHistory();
        EXPECT_TRUE(worker->startThread());
        EXPECT_TRUE(worker->waitForThreadToExit(60000));
        EXPECT_FALSE(worker->m_bRunning);
        return worker;
    }

    std::shared_ptr<EmulatedDevice> device(const std::string& serial, uint16_t compatibility = 0, uint16_t productCode = 100,
                                           uint32_t running = 0x01020000)
    {
        return addDevice(serial, productCode, [&](EmulatedDeviceConfig& c) {
            le::write32(c.deviceInfo.bytes.data() + DeviceInfo::OffRunningFirmwareVersion, running);
            setInstalledCompatibility(c, compatibility);
        });
    }
};
} // namespace

TEST_F(UpgradeWorker, MissingDeviceOrImageEndsWithoutTraffic)
{
    LogCapture log;
    auto emu = device("TVK10");
    useImage(imageWith(0x00010003, 0));

    // The serial number is compared over its whole text: "TVK1" is not "TVK10".
    auto lost = runWorker("TVK1", false, emu);
    EXPECT_EQ(lost->m_nStatus, RESULT_DEVICE_NOT_FOUND);
    EXPECT_TRUE(lost->m_bFailed);
    EXPECT_EQ(emu->totalExchanges(), 0u);
    EXPECT_TRUE(log.has("ERROR", "CUpgradeThread::CUpgradeThread", "can not find device TVK1"));
    EXPECT_TRUE(log.has("ERROR", "CUpgradeThread::run", "upgrade thread for TVK1 is ready to run. but m_pDevice is nullptr."));

    g_firmwareFileMgr.clearImages();
    auto imageless = runWorker("TVK10", false, emu);
    EXPECT_TRUE(log.has("INFOR", "CUpgradeThread::CUpgradeThread", "find device from g_devices , serial No. is :TVK10"));
    EXPECT_EQ(imageless->m_nStatus, RESULT_FIRMWARE_NOT_FOUND);
    EXPECT_TRUE(imageless->m_bFailed);
    EXPECT_EQ(emu->totalExchanges(), 0u);
    EXPECT_TRUE(log.has("ERROR", "CUpgradeThread::run",
                        "upgrade thread for TVK10 is ready to run. but can not find firmware data from g_firmwareFileMgr."));
}

TEST_F(UpgradeWorker, OnlyANewerMajorOrMinorUpgradesWithoutForce)
{
    auto emu = device("TVK1"); // running 1.2.0
    struct Case
    {
        uint32_t imageVersion;
        bool force;
        int32_t status;
    } cases[] = {
        { 0x00010002, false, RESULT_CAN_DOWNGRADE }, // 1.2: same major and minor
        { 0x00010001, false, RESULT_CAN_DOWNGRADE }, // 1.1
        { 0x00000009, false, RESULT_CAN_DOWNGRADE }, // 0.9
        { 0x00010002, true, RESULT_VERIFIED },       // forced reinstall
        { 0x00010003, false, RESULT_VERIFIED },      // 1.3
        { 0x00020000, false, RESULT_VERIFIED },      // 2.0
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << std::hex << c.imageVersion << " force " << c.force);
        useImage(imageWith(c.imageVersion, 0));
        auto worker = runWorker("TVK1", c.force, emu);
        EXPECT_EQ(worker->m_nStatus, c.status);
        EXPECT_FALSE(worker->m_bFailed);
        if (c.status == RESULT_CAN_DOWNGRADE)
            EXPECT_EQ(emu->totalExchanges(), 0u);
        else
            EXPECT_TRUE(flashHolds(*emu, g_firmwareFileMgr.images().front(), kBase + 4096)); // 0 == 0: safe
    }
}

TEST_F(UpgradeWorker, PackedVersionDevicesCompareThePackedReading)
{
    // Product 533 keeps major.minor.build packed in the image header, as it does when running.
    auto emu = device("TVK533", 0, 533, 0x01030000); // running 1.3.0
    useImage(imageWith(0x01020007, 0, 533));         // 1.2.7: older
    EXPECT_EQ(runWorker("TVK533", false, emu)->m_nStatus, RESULT_CAN_DOWNGRADE);
    EXPECT_EQ(emu->totalExchanges(), 0u);
    useImage(imageWith(0x01040000, 0, 533)); // 1.4.0: newer
    EXPECT_EQ(runWorker("TVK533", false, emu)->m_nStatus, RESULT_VERIFIED);
}

TEST_F(UpgradeWorker, SafeUpgradeDecidesTheHeaderAddress)
{
    struct Case
    {
        uint16_t running, image;
        uint32_t headerAddress;
    } cases[] = {
        { 7, 7, kBase + 4096 }, // matching nonzero code: safe
        { 1, 1, kBase },        // code 1 is never safe
        { 7, 8, kBase },        // different codes
    };
    int n = 0;
    for (const auto& c : cases)
    {
        const std::string serial = "S" + std::to_string(++n);
        auto emu = device(serial, c.running);
        useImage(imageWith(0x00010003, c.image));
        auto worker = runWorker(serial, false, emu);
        ASSERT_EQ(worker->m_nStatus, RESULT_VERIFIED) << serial;
        const auto e = erases(*emu);
        ASSERT_FALSE(e.empty());
        EXPECT_EQ(e.front().address, c.headerAddress) << serial;
        EXPECT_EQ(writes(*emu).back().address, c.headerAddress) << serial;
        EXPECT_TRUE(flashHolds(*emu, g_firmwareFileMgr.images().front(), c.headerAddress)) << serial;
    }
}

TEST_F(UpgradeWorker, ImageWithTooLargeHeaderFailsTheWorker)
{
    auto emu = device("TVK1");
    useImage(imageWith(0x00010003, 0, 100, 4)); // four sections: a 269-byte header
    auto worker = runWorker("TVK1", false, emu);
    EXPECT_TRUE(worker->m_bFailed);
    EXPECT_EQ(worker->m_nStatus, RESULT_WRITE_ERROR);
    EXPECT_EQ(emu->totalExchanges(), 0u);
}

TEST_F(UpgradeWorker, EightDevicesAtOnceOneUnpluggedWhileWriting)
{
    std::vector<std::shared_ptr<EmulatedDevice>> emus;
    for (int i = 0; i < 8; ++i)
        emus.push_back(addDevice("PAR" + std::to_string(i), 100, [](EmulatedDeviceConfig& c) {
            c.latency = std::chrono::microseconds(100);
            c.busyPolls = 1;
        }));
    useImage(imageWith(0x00010003, 0));
    const FirmwareImage& image = g_firmwareFileMgr.images().front();
    ASSERT_TRUE(CTovrakDevice::Init(nullptr)); // the idle thread enumerates while the workers run

    const auto& lost = emus[3];
    std::atomic<int> lostWrites { 0 };
    lost->setExchangeObserver([&](const ExchangeRecord& r) {
        if (r.direction == ReportDirection::Output && r.reportId == KSCAP_HID_FIRMWARE_DATA && ++lostWrites == 4)
            lost->unplug();
    });

    std::vector<std::unique_ptr<CUpgradeThread>> workers;
    for (int i = 0; i < 8; ++i)
    {
        workers.push_back(std::make_unique<CUpgradeThread>(rowFor("PAR" + std::to_string(i)), false));
        ASSERT_NE(workers.back()->device(), nullptr);
        workers.back()->startThread();
    }

    // Meanwhile the message thread polls the workers and refills, as the table does.
    bool anyRunning = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (anyRunning && std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        CTovrakDevice::Refresh();
        anyRunning = false;
        for (const auto& w : workers)
        {
            const int32_t status = w->m_nStatus;
            const int32_t progress = w->m_nProgress;
            EXPECT_TRUE(progress >= 0 && progress <= 100) << progress;
            EXPECT_TRUE(status >= RESULT_READY && status <= RESULT_VERIFY_ERROR) << status;
            anyRunning = anyRunning || w->m_bRunning || w->isThreadRunning();
        }
    }
    ASSERT_FALSE(anyRunning);

    for (int i = 0; i < 8; ++i)
    {
        SCOPED_TRACE(i);
        if (i == 3)
        {
            EXPECT_TRUE(workers[i]->m_bFailed);
            EXPECT_EQ(workers[i]->m_nStatus, RESULT_ERASE_ERROR); // the attempts after the unplug fail at once
            continue;
        }
        EXPECT_FALSE(workers[i]->m_bFailed);
        EXPECT_EQ(workers[i]->m_nStatus, RESULT_VERIFIED);
        EXPECT_TRUE(flashHolds(*emus[i], image, kBase + 4096));
        EXPECT_TRUE(emus[i]->violations().empty());
    }
    // The lost device left the list while its worker held it; a relaunch finds nothing.
    CTovrakDevice::Refresh();
    EXPECT_EQ(CTovrakDevice::FindBySerialNumber("PAR3"), nullptr);
    EXPECT_EQ(runWorker("PAR3", true)->m_nStatus, RESULT_DEVICE_NOT_FOUND);
    lost->setExchangeObserver({});
    workers.clear();
}

TEST_F(UpgradeWorker, FindsItsDeviceBySerialNumberAndLetsThePathChooseOnlyBetweenTwins)
{
    struct Case
    {
        const char* name;
        std::vector<std::string> attached; // paths of the devices with the row's serial number
        std::string rowPath;
        bool rowSawTwin;       // another device had the serial number when the row was built
        std::string expected;  // the path of the device the worker takes; empty for none
    } cases[] = {
        { "back on a new path", { "usb/7" }, "usb/3", false, "usb/7" },
        { "twins, one on the row's path", { "usb/8", "usb/9" }, "usb/9", true, "usb/9" },
        { "twins, none on the row's path", { "usb/10", "usb/11" }, "usb/3", false, "" },
        { "the twin of a device that has gone", { "usb/12" }, "usb/3", true, "" },
    };
    useImage(imageWith(0x00010003, 0));
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        std::vector<std::shared_ptr<EmulatedDevice>> emus;
        for (const std::string& path : c.attached)
            emus.push_back(addDevice("TWIN", 100, [&](EmulatedDeviceConfig& config) { config.path = path; }));
        DeviceRow row = rowFor("TWIN");
        row.devicePath = juce::String(c.rowPath);
        row.sharesSerial = c.rowSawTwin;

        CUpgradeThread worker(row, false);
        if (c.expected.empty())
        {
            EXPECT_EQ(worker.device(), nullptr);
            ASSERT_TRUE(worker.startThread());
            ASSERT_TRUE(worker.waitForThreadToExit(10000));
            EXPECT_EQ(worker.m_nStatus, RESULT_DEVICE_NOT_FOUND);
            for (const auto& emu : emus)
                EXPECT_EQ(emu->exchangeCount(0xF3, ReportDirection::Output), 0u) << emu->path();
        }
        else
        {
            ASSERT_NE(worker.device(), nullptr);
            EXPECT_EQ(worker.device()->devicePath(), c.expected);
        }
        for (const auto& emu : emus)
            m_bus->unplug(emu->path());
    }
}
