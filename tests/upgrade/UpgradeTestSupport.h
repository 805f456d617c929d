#pragma once

#include "DeviceTestSupport.h"
#include "TestSupport.h"
#include "UpgradeStatus.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace upgrade_testing
{
constexpr uint32_t kBase = 0x10000;        // firmware base address of the emulated devices
constexpr uint32_t kSectionArea = 0x40000; // where test images put their sections

// One erase or write command as the device received it.
struct Command
{
    uint32_t address;
    uint32_t count;
    bool operator==(const Command& o) const { return address == o.address && count == o.count; }
};
std::ostream& operator<<(std::ostream& out, const Command& c);

std::vector<Command> erases(const EmulatedDevice& device);
std::vector<Command> writes(const EmulatedDevice& device);
// Addresses of the read-address commands: one per 64-byte read report.
std::vector<uint32_t> readAddresses(const EmulatedDevice& device);

void setEraseUnit(EmulatedDeviceConfig& config, uint32_t eraseUnit);
// Replaces the installed header by one that describes the running firmware with this code.
void setInstalledCompatibility(EmulatedDeviceConfig& config, uint16_t code);

// A device under test: the emulated hardware and the device object talking to it.
struct Target
{
    std::shared_ptr<EmulatedDevice> emu;
    std::shared_ptr<CTovrakDevice> device;
};

struct Outcome
{
    bool ok = false;
    int32_t status = RESULT_READY;
    int32_t progress = -1;
};

// Adds a report fault; counting starts with the next exchange (the device is already open).
void failReport(Target& target, ReportFault fault);

class UpgradeTest : public device_testing::EmulatorTest
{
protected:
    // A device set up and opened; its history starts empty.
    Target attach(const std::string& serial, const std::function<void(EmulatedDeviceConfig&)>& tweak = {});
    Outcome upgrade(Target& target, const FirmwareImage& image, bool headerAtBase = true);
};

// The flash holds the image: its header at headerAddress, every ordinary section's data, every
// clear section blank. Sections whose names begin with "Upgrade." are not looked at.
::testing::AssertionResult flashHolds(const EmulatedDevice& device, const FirmwareImage& image, uint32_t headerAddress);

// The header at headerAddress equals the image's header.
bool headerIsWritten(const EmulatedDevice& device, const FirmwareImage& image, uint32_t headerAddress);

size_t violationsOf(const EmulatedDevice& device, ProtocolViolation::Kind kind);
} // namespace upgrade_testing
