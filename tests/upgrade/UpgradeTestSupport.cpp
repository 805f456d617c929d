#include "UpgradeTestSupport.h"

#include <algorithm>
#include <ostream>

namespace upgrade_testing
{
std::ostream& operator<<(std::ostream& out, const Command& c)
{
    return out << "{0x" << std::hex << c.address << std::dec << ", " << c.count << "}";
}

namespace
{
std::vector<Command> commands(const EmulatedDevice& device, uint8_t reportId)
{
    std::vector<Command> result;
    for (const auto& r : device.exchanges())
        if (r.direction == ReportDirection::Output && r.reportId == reportId)
            result.push_back({ r.address, r.count });
    return result;
}
} // namespace

std::vector<Command> erases(const EmulatedDevice& device)
{
    return commands(device, KSCAP_HID_FIRMWARE_ERASE);
}

std::vector<Command> writes(const EmulatedDevice& device)
{
    return commands(device, KSCAP_HID_FIRMWARE_DATA);
}

std::vector<uint32_t> readAddresses(const EmulatedDevice& device)
{
    std::vector<uint32_t> result;
    for (const auto& c : commands(device, KSCAP_HID_FIRMWARE_READ_ADDRESS))
        result.push_back(c.address);
    return result;
}

void setEraseUnit(EmulatedDeviceConfig& config, uint32_t eraseUnit)
{
    config.flashInfo.setEraseUnitSize(eraseUnit);
}

void setInstalledCompatibility(EmulatedDeviceConfig& config, uint16_t code)
{
    const EmulatedDeviceInfo& info = config.deviceInfo;
    config.installedHeader = makeInstalledHeader(info.productCode(), info.hardwareRevision(), info.productVariant(),
                                                 headerVersionMatchingRunning(info.runningFirmwareVersion()), code);
}

void failReport(Target& target, ReportFault fault)
{
    target.emu->configure([&](EmulatedDeviceConfig& c) { c.failReports.push_back(fault); });
}

Target UpgradeTest::attach(const std::string& serial, const std::function<void(EmulatedDeviceConfig&)>& tweak)
{
    Target t;
    t.emu = addDevice(serial, 100, tweak);
    t.device = std::make_shared<CTovrakDevice>(t.emu->path());
    EXPECT_TRUE(t.device->present());
    t.device->SetWipTimeLimit(std::chrono::milliseconds(200));
    t.emu->clearHistory();
    return t;
}

Outcome UpgradeTest::upgrade(Target& target, const FirmwareImage& image, bool headerAtBase)
{
    std::atomic<int32_t> status { RESULT_READY };
    std::atomic<int32_t> progress { 0 };
    Outcome out;
    out.ok = target.device->Upgrade(image.header, image.sections, status, progress, headerAtBase);
    out.status = status;
    out.progress = progress;
    return out;
}

bool headerIsWritten(const EmulatedDevice& device, const FirmwareImage& image, uint32_t headerAddress)
{
    const size_t size = image.header.headerSize();
    return device.readFlash(headerAddress, size) == std::vector<uint8_t>(image.header.data(), image.header.data() + size);
}

::testing::AssertionResult flashHolds(const EmulatedDevice& device, const FirmwareImage& image, uint32_t headerAddress)
{
    if (!headerIsWritten(device, image, headerAddress))
        return ::testing::AssertionFailure() << "header differs";
    for (size_t i = 0; i < image.header.sectionCount(); ++i)
    {
        const auto entry = image.header.section(i);
        const auto held = device.readFlash(entry.flashAddress, entry.length);
        switch (entry.kind())
        {
        case FirmwareSectionEntry::Kind::Skipped:
            break;
        case FirmwareSectionEntry::Kind::Clear:
            if (std::any_of(held.begin(), held.end(), [](uint8_t b) { return b != 0; }))
                return ::testing::AssertionFailure() << "clear section " << entry.name << " not blank";
            break;
        case FirmwareSectionEntry::Kind::Ordinary:
            if (held != image.sections[i])
                return ::testing::AssertionFailure() << "section " << entry.name << " differs";
            break;
        }
    }
    return ::testing::AssertionSuccess();
}

size_t violationsOf(const EmulatedDevice& device, ProtocolViolation::Kind kind)
{
    const auto all = device.violations();
    return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const auto& v) { return v.kind == kind; }));
}
} // namespace upgrade_testing
