// Setting a device up and its report commands, against the emulator.
#include "DeviceTestSupport.h"

#include "FirmwareImage.h"

#include <juce_core/juce_core.h>

#include <regex>

using namespace device_testing;

namespace
{
std::vector<ExchangeRecord> ofId(const std::vector<ExchangeRecord>& records, uint8_t id, ReportDirection direction)
{
    std::vector<ExchangeRecord> out;
    for (const auto& r : records)
        if (r.reportId == id && r.direction == direction)
            out.push_back(r);
    return out;
}
} // namespace

using DeviceSetUp = EmulatorTest;

TEST_F(DeviceSetUp, ReadsIdentityFlashLayoutAndRunningCompatibilityCode)
{
    const auto emulated = addDevice("SN-0001", 533, [](auto& c) {
        c.deviceInfo.bytes[DeviceInfo::OffHardwareRevision] = 'C';
        c.deviceInfo.bytes[DeviceInfo::OffProductVariant] = 3;
        c.installedHeader = makeInstalledHeader(533, 'C', 3, headerVersionMatchingRunning(0x01020000), 7);
    });
    CTovrakDevice device(emulated->path());
    ASSERT_TRUE(device.present());
    EXPECT_EQ(device.deviceInfo().serialNumber(), "SN-0001");
    EXPECT_EQ(device.deviceInfo().deviceName(), "Tovrak SN-0001");
    EXPECT_EQ(device.deviceInfo().productCode(), 533);
    EXPECT_EQ(device.deviceInfo().hardwareRevision(), 'C');
    EXPECT_EQ(device.deviceInfo().productVariant(), 3);
    EXPECT_EQ(device.deviceInfo().runningFirmwareVersion(), 0x01020000u);
    EXPECT_EQ(device.flashInfo().eraseUnitSize(), 4096u);
    EXPECT_EQ(device.flashInfo().firmwareBaseAddress(), 0x10000u);
    EXPECT_EQ(device.runningCompatibilityCode(), 7);
    EXPECT_EQ(device.deviceInfo().bytes, emulated->config().deviceInfo.bytes); // kept byte for byte
}

TEST_F(DeviceSetUp, CompatibilityCodeOnlyWhenTheHeaderDescribesTheRunningFirmware)
{
    // Running 1.2: the header's bits 16-23 must be 1 and bits 0-7 must be 2.
    const struct { uint32_t headerVersion; uint16_t expected; } cases[] = {
        { 0x00010002, 9 }, // split form of 1.2
        { 0x0A01FF02, 9 }, // other bits do not matter
        { 0x00020002, 0 }, // major differs
        { 0x00010003, 0 }, // minor differs
        { 0x01020000, 0 }, // packed 1.2.0 reads as major 2, minor 0
    };
    for (const auto& c : cases)
    {
        const auto emulated = addDevice("V" + std::to_string(c.headerVersion), 100, [&](auto& config) {
            config.installedHeader = makeInstalledHeader(100, 'A', 0, c.headerVersion, 9);
        });
        CTovrakDevice device(emulated->path());
        EXPECT_TRUE(device.present());
        EXPECT_EQ(device.runningCompatibilityCode(), c.expected) << std::hex << c.headerVersion;
    }
}

TEST_F(DeviceSetUp, EachFailingStepIsLoggedWithItsNumber)
{
    const struct { int step; std::function<void(EmulatedDeviceConfig&)> fault; } cases[] = {
        { 1, [](auto& c) { c.openFails = true; } },
        { 2, [](auto& c) { c.failReports = { { KSCAP_HID_DEVICE_INFO, ReportDirection::Input, 1, 0 } }; } },
        { 3, [](auto& c) { c.failReports = { { KSCAP_HID_FIRMWARE_INFO, ReportDirection::Input, 1, 0 } }; } },
        { 4, [](auto& c) { c.failReports = { { KSCAP_HID_FIRMWARE_DATA, ReportDirection::Input, 2, 1 } }; } },
    };
    for (const auto& c : cases)
    {
        const auto emulated = addDevice("F" + std::to_string(c.step), 100, c.fault);
        LogCapture log;
        CTovrakDevice device(emulated->path());
        EXPECT_FALSE(device.present());
        EXPECT_EQ(device.runningCompatibilityCode(), 0);
        EXPECT_EQ(log.count("ERROR", "CTovrakDevice::CTovrakDevice", "Failed to open the device. " + std::to_string(c.step)), 1u)
            << c.step;
    }
}

TEST_F(DeviceSetUp, TextFieldsWithoutTerminatorStopAtTheirFieldEnd)
{
    const auto emulated = addDevice("x", 100, [](auto& c) {
        // No NUL anywhere in the name or the serial number.
        std::fill(c.deviceInfo.bytes.begin() + DeviceInfo::OffDeviceName, c.deviceInfo.bytes.end(), 'Z');
    });
    CTovrakDevice device(emulated->path());
    ASSERT_TRUE(device.present());
    EXPECT_EQ(device.deviceInfo().deviceName(), std::string(128, 'Z'));
    EXPECT_EQ(device.deviceInfo().serialNumber(), std::string(18, 'Z'));
}

TEST_F(DeviceSetUp, ControlCharactersInTextFieldsCannotForgeLogLines)
{
    const auto emulated = addDevice("x", 100, [](auto& c) {
        const char name[] = "Cam\n2026-01-01 ERROR forged\x1b[2J";
        std::copy(name, name + sizeof(name), c.deviceInfo.bytes.begin() + DeviceInfo::OffDeviceName);
        const char serial[] = "SN\r\n1";
        std::copy(serial, serial + sizeof(serial), c.deviceInfo.bytes.begin() + DeviceInfo::OffSerialNumber);
        c.deviceInfo.bytes[4] = '\n'; // the hardware revision
    });
    LogCapture log;
    CTovrakDevice device(emulated->path());
    ASSERT_TRUE(device.present());
    EXPECT_EQ(device.deviceInfo().deviceName(), "Cam?2026-01-01 ERROR forged?[2J");
    EXPECT_EQ(device.deviceInfo().serialNumber(), "SN??1");
    EXPECT_EQ(device.deviceInfo().hardwareRevisionText(), "?");
    EXPECT_EQ(device.deviceInfo().hardwareRevision(), '\n') << "the byte itself still selects the firmware image";
    const auto lines = log.lines();
    EXPECT_FALSE(lines.empty());
    for (const auto& line : lines)
        EXPECT_TRUE(std::regex_search(line, std::regex("^[0-9]{4}-[0-9]{2}-[0-9]{2} "))) << "a split line: " << line;
}

TEST_F(DeviceSetUp, TextFieldsBecomeValidUtf8BoundedByTheirField)
{
    struct Case
    {
        const char* what;
        std::vector<uint8_t> bytes; // the name field's bytes (NUL-terminated unless 128 long)
        std::string name;
    };
    std::vector<uint8_t> overlongPairs;
    for (int i = 0; i < 64; ++i)
        overlongPairs.insert(overlongPairs.end(), { 0xC0, 0x80 });
    const std::vector<Case> cases {
        { "overlong NULs filling the field", overlongPairs, std::string(128, '?') },
        { "lone continuation", { 0x80, 'A', 0 }, "?A" },
        { "GBK", { 0xC4, 0xE3, 0xBA, 0xC3, 0 }, "????" },
        { "0xFF", { 'a', 0xFF, 'b', 0 }, "a?b" },
        { "valid Chinese", { 0xE7, 0x9B, 0xB8, 0xE6, 0x9C, 0xBA, 0 }, "\xE7\x9B\xB8\xE6\x9C\xBA" },
        { "four bytes", { 0xF0, 0x9F, 0x98, 0x80, 0 }, "\xF0\x9F\x98\x80" },
        { "beyond U+10FFFF", { 0xF4, 0x90, 0x80, 0x80, 0 }, "????" },
        { "surrogate", { 0xED, 0xA0, 0x80, 0 }, "???" },
        { "C1 control", { 'x', 0xC2, 0x85, 'y', 0 }, "x?y" },
        { "overlong slash", { 0xE0, 0x80, 0xAF, 0 }, "???" },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        const auto emulated = addDevice("x", 100, [&](auto& config) {
            auto* field = config.deviceInfo.bytes.data() + DeviceInfo::OffDeviceName;
            std::fill(field, field + DeviceInfo::DeviceNameSize, 0);
            std::copy(c.bytes.begin(), c.bytes.end(), field);
            // A serial number cut off by its field's end in the middle of a character.
            auto* serial = config.deviceInfo.bytes.data() + DeviceInfo::OffSerialNumber;
            std::fill(serial, serial + DeviceInfo::SerialNumberSize, 'S');
            serial[DeviceInfo::SerialNumberSize - 2] = static_cast<char>(0xE7);
            serial[DeviceInfo::SerialNumberSize - 1] = static_cast<char>(0x9B);
        });
        CTovrakDevice device(emulated->path());
        ASSERT_TRUE(device.present());
        EXPECT_EQ(device.deviceInfo().deviceName(), c.name);
        EXPECT_EQ(device.deviceInfo().serialNumber(), std::string(16, 'S') + "??");
        const std::string name = device.deviceInfo().deviceName();
        EXPECT_TRUE(juce::CharPointer_UTF8::isValidString(name.c_str(), static_cast<int>(name.size())));
        EXPECT_EQ(juce::String::fromUTF8(name.c_str()).toStdString(), name);
        emulated->unplug();
    }
}

class DeviceCommands : public EmulatorTest
{
protected:
    void SetUp() override
    {
        EmulatorTest::SetUp();
        m_emulated = addDevice("CMD1");
        m_device = std::make_unique<CTovrakDevice>(m_emulated->path());
        ASSERT_TRUE(m_device->present());
        m_emulated->clearHistory();
    }
    std::shared_ptr<EmulatedDevice> m_emulated;
    std::unique_ptr<CTovrakDevice> m_device;
};

TEST_F(DeviceCommands, SetDataSendsTheIdThenExactlyThePayload)
{
    const uint8_t payload[4] = { 0x10, 0x20, 0x30, 0x40 };
    EXPECT_TRUE(m_device->SetData(KSCAP_HID_FIRMWARE_READ_ADDRESS, payload, 4));
    const auto records = m_emulated->exchanges();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].reportId, KSCAP_HID_FIRMWARE_READ_ADDRESS);
    EXPECT_EQ(records[0].length, 5u);
    EXPECT_EQ(records[0].address, 0x40302010u);
}

TEST_F(DeviceCommands, FailedSetDataLogsTheReportIdAndTheError)
{
    m_emulated->configure([](auto& c) { c.failReports = { { KSCAP_HID_FIRMWARE_ERASE, ReportDirection::Output, 1, 0 } }; });
    LogCapture log;
    EXPECT_FALSE(m_device->SetFirmwareErase(0x20000, 4096));
    EXPECT_TRUE(log.has("ERROR", "CTovrakDevice::SetData",
                        "Failed to write data. , SetData flag = 241, GetLastError()=output report 0xf1 failed (emulated fault)"));
    EXPECT_EQ(m_emulated->exchangeCount(KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input), 0u); // no wait after a failed send
}

TEST_F(DeviceCommands, ReadsInPiecesOfSixtyFourBytes)
{
    const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> d(200);
        for (size_t i = 0; i < d.size(); ++i)
            d[i] = static_cast<uint8_t>(i * 7 + 1);
        return d;
    }();
    m_emulated->loadFlash(0x30000, data);

    std::vector<uint8_t> buffer(157, 0xEE);
    ASSERT_TRUE(m_device->ReadFirmwareData(0x30000, buffer.data(), 157));
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin()));
    const auto addresses = ofId(m_emulated->exchanges(), KSCAP_HID_FIRMWARE_READ_ADDRESS, ReportDirection::Output);
    ASSERT_EQ(addresses.size(), 3u);
    EXPECT_EQ(addresses[0].address, 0x30000u);
    EXPECT_EQ(addresses[1].address, 0x30040u);
    EXPECT_EQ(addresses[2].address, 0x30080u);
    EXPECT_EQ(m_emulated->exchangeCount(KSCAP_HID_FIRMWARE_DATA, ReportDirection::Input), 3u);
    for (const auto& r : ofId(m_emulated->exchanges(), KSCAP_HID_FIRMWARE_DATA, ReportDirection::Input))
        EXPECT_EQ(r.length, 263u);

    m_emulated->clearHistory();
    std::vector<uint8_t> exact(64 + 8, 0xEE); // the bytes past 64 must stay untouched
    ASSERT_TRUE(m_device->ReadFirmwareData(0x30000, exact.data(), 64));
    EXPECT_EQ(m_emulated->totalExchanges(), 2u);
    EXPECT_EQ(exact[63], data[63]);
    EXPECT_EQ(exact[64], 0xEE);
}

TEST_F(DeviceCommands, FailedReadKeepsEarlierPiecesAndLogsOnce)
{
    m_emulated->loadFlash(0x30000, std::vector<uint8_t>(128, 0x5A));
    m_emulated->configure([](auto& c) { c.failReports = { { KSCAP_HID_FIRMWARE_DATA, ReportDirection::Input, 2, 1 } }; });
    LogCapture log;
    std::vector<uint8_t> buffer(128, 0);
    EXPECT_FALSE(m_device->ReadFirmwareData(0x30000, buffer.data(), 128));
    EXPECT_EQ(buffer[63], 0x5A);
    EXPECT_EQ(buffer[64], 0x00);
    EXPECT_EQ(log.count("ERROR", "CTovrakDevice::ReadFirmwareData",
                        "GetData for KSCAP_HID_FIRMWARE_DATA failed. Failed to read firmware data"), 1u);
}

TEST_F(DeviceCommands, WaitForWipPollsUntilTheFlagClears)
{
    m_emulated->configure([](auto& c) { c.busyPolls = 2; });
    ASSERT_TRUE(m_device->SetFirmwareErase(0x20000, 4096)); // sets the flag for two polls
    EXPECT_EQ(m_emulated->exchangeCount(KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input), 3u);
    EXPECT_TRUE(m_emulated->violations().empty());
}

TEST_F(DeviceCommands, WaitForWipGivesUpOnAStuckFlagOrAFailedRead)
{
    m_emulated->configure([](auto& c) { c.stuckBusy = true; });
    m_device->SetWipTimeLimit(std::chrono::milliseconds(60));
    LogCapture log;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(m_device->WaitForWIP());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
    EXPECT_TRUE(log.has("ERROR", "CTovrakDevice::WaitForWIP", "KSCAP_HID_FIRMWARE_WIP still set after 60 ms, giving up."));

    // The same stuck flag is not waited on again: one poll each, until it is seen clear.
    m_emulated->clearHistory();
    EXPECT_FALSE(m_device->WaitForWIP());
    EXPECT_FALSE(m_device->WaitUntilIdle());
    EXPECT_EQ(m_emulated->exchangeCount(KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input), 2u);
    m_emulated->configure([](auto& c) {
        c.stuckBusy = false;
        c.busyPolls = 2;
    });
    EXPECT_TRUE(m_device->WaitUntilIdle()); // seen clear: the next flag is waited for again
    ASSERT_TRUE(m_device->SetFirmwareErase(0x20000, 4096));
    m_emulated->configure([](auto& c) { c.stuckBusy = true; });
    m_emulated->clearHistory();
    EXPECT_FALSE(m_device->WaitForWIP());
    EXPECT_GT(m_emulated->exchangeCount(KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input), 1u);
    m_emulated->configure([](auto& c) { c.stuckBusy = false; });

    m_emulated->configure([](auto& c) { c.failReports = { { KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input, 1, 0 } }; });
    EXPECT_FALSE(m_device->WaitForWIP());
    EXPECT_TRUE(log.has("ERROR", "CTovrakDevice::WaitForWIP", "GetData for KSCAP_HID_FIRMWARE_WIP failed."));
}

TEST_F(DeviceCommands, WriteSendsOneFullReportAndWaits)
{
    ASSERT_TRUE(m_device->SetFirmwareErase(0x20000, 4096));
    m_emulated->clearHistory();
    const uint8_t data[3] = { 0xA1, 0xB2, 0xC3 };
    ASSERT_TRUE(m_device->WriteFirmwareData(0x20010, data, 3));
    const auto writes = ofId(m_emulated->exchanges(), KSCAP_HID_FIRMWARE_DATA, ReportDirection::Output);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].length, 263u);
    EXPECT_EQ(writes[0].address, 0x20010u);
    EXPECT_EQ(writes[0].count, 3u);
    EXPECT_EQ(m_emulated->readFlash(0x2000F, 5), (std::vector<uint8_t> { 0x00, 0xA1, 0xB2, 0xC3, 0x00 }));
    EXPECT_EQ(m_emulated->exchangeCount(KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input), 1u);
    EXPECT_TRUE(m_emulated->violations().empty());
}

TEST_F(DeviceCommands, WriteRefusesLengthsOutsideOneTo256WithoutTraffic)
{
    std::vector<uint8_t> data(300, 0x11);
    LogCapture log;
    EXPECT_FALSE(m_device->WriteFirmwareData(0x20000, data.data(), 0));
    EXPECT_FALSE(m_device->WriteFirmwareData(0x20000, data.data(), 257));
    EXPECT_EQ(m_emulated->totalExchanges(), 0u);
    EXPECT_EQ(log.count("ERROR", "CTovrakDevice::WriteFirmwareData", "Failed to write firmware data: 257 bytes is not 1 to 256"), 1u);
    EXPECT_TRUE(m_device->SetFirmwareErase(0x20000, 4096));
    EXPECT_TRUE(m_device->WriteFirmwareData(0x20000, data.data(), 256));
}

TEST_F(DeviceCommands, FailedWriteLogsBothLines)
{
    m_emulated->configure([](auto& c) { c.failReports = { { KSCAP_HID_FIRMWARE_DATA, ReportDirection::Output, 1, 0 } }; });
    LogCapture log;
    const uint8_t data[1] = { 1 };
    EXPECT_FALSE(m_device->WriteFirmwareData(0x20000, data, 1));
    EXPECT_EQ(log.count("ERROR", "CTovrakDevice::SetData",
                        "Failed to write data. , SetData flag = 243, GetLastError()=output report 0xf3 failed (emulated fault)"), 1u);
    EXPECT_EQ(log.count("ERROR", "CTovrakDevice::WriteFirmwareData", "Failed to write firmware data"), 1u);
}

TEST_F(DeviceCommands, AnUnpluggedDeviceFailsEveryCommand)
{
    m_bus->unplug(m_emulated->path());
    uint8_t buffer[16] = {};
    EXPECT_FALSE(m_device->ReadFirmwareData(0x10000, buffer, 16));
    EXPECT_FALSE(m_device->WaitForWIP());
    m_bus->replug(m_emulated); // a new connection: the old handle stays dead
    EXPECT_FALSE(m_device->WaitForWIP());
}
