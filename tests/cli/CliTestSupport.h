#pragma once

#include "Cli.h"
#include "DeviceTestSupport.h"
#include "TestSupport.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace cli_testing
{
constexpr uint32_t packed(uint32_t major, uint32_t minor, uint32_t build)
{
    return (major << 24) | (minor << 16) | build;
}

struct CliResult
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The tool driven in-process against a fresh emulator, in a temp working folder that holds
// translations.csv and the firmware files the test writes. Message boxes are recorded.
class CliTest : public device_testing::EmulatorTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    CliResult run(const std::vector<std::string>& args, const std::string& input = {}, bool terminal = false,
                  const std::atomic<bool>* interrupted = nullptr, const std::atomic<int>* interruptCount = nullptr);

    // A device with running version `running` (packed reading) of product code 100.
    std::shared_ptr<EmulatedDevice> plug(const std::string& serial, uint32_t running = packed(1, 2, 0),
                                         const std::function<void(EmulatedDeviceConfig&)>& tweak = {});
    // A firmware file for product code 100 with version major.minor and the build number.
    void firmwareFile(uint8_t major, uint8_t minor, uint16_t build);

    std::unique_ptr<testing_support::TempFolder> m_folder;
    std::vector<std::string> m_messageBoxes;

private:
    std::unique_ptr<testing_support::ScopedWorkingDirectory> m_cwd;
};

// Gives the single-instance object of this process and its children a scope of their own, so
// that a window or a test elsewhere on the machine does not hold it.
void usePrivateInstanceScope();

// Copies the demo's firmware files (built by the demo-files target) into `folder`.
void copyDemoFirmware(const juce::File& folder);

// Sets an environment variable of this process (inherited by child processes).
void setEnvironment(const char* name, const juce::String& value);

// Every erase command the device receives fails.
void refuseErase(EmulatedDeviceConfig& config);

// A few milliseconds per report exchange, so that polls see the phases.
void slow(EmulatedDeviceConfig& config);

// Parses JSON text; a void var when it is not JSON.
juce::var parseJson(const std::string& text);

// The lines of a text, without their line ends (LF or CR LF).
std::vector<std::string> linesOf(const std::string& text);
} // namespace cli_testing
