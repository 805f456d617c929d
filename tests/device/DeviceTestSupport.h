#pragma once

#include "TovrakDevice.h"
#include "emulator/EmulatorBackend.h"

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <functional>

#include <memory>
#include <string>
#include <vector>

namespace device_testing
{
// The log lines written since construction. The process's logger writes to a temp file that
// is set up on first use.
class LogCapture
{
public:
    LogCapture();
    std::vector<std::string> lines() const;
    // True when a line of that level ("INFOR", "ERROR") under that function carries exactly
    // that message.
    bool has(const std::string& level, const std::string& function, const std::string& message) const;
    size_t count(const std::string& level, const std::string& function, const std::string& message) const;

private:
    juce::int64 m_start;
};

// Each test gets a fresh emulator as the HID backend and an empty device list.
class EmulatorTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A well-behaved Tovrak device, changed by `tweak` before it is plugged in.
    std::shared_ptr<EmulatedDevice> addDevice(const std::string& serial, uint16_t productCode = 100,
                                              const std::function<void(EmulatedDeviceConfig&)>& tweak = {},
                                              bool plugged = true);
    std::vector<std::string> listedSerials() const;

    std::shared_ptr<EmulatorBackend> m_bus;
};
} // namespace device_testing
