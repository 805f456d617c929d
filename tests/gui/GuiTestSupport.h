#pragma once

#include "DeviceTestSupport.h"
#include "TestSupport.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class KSTableListBox;
class MainComponent;

namespace gui_testing
{
// Runs the message loop until the condition holds or the time is up; true when it held.
bool pumpUntil(const std::function<bool()>& condition, int milliseconds = 10000);

// Each test gets a fresh emulator, an empty device list, its own working directory for firmware
// files, and a recorder in place of the platform's message box.
class ProgramTest : public device_testing::EmulatorTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A well-behaved device of that kind running the packed version, plugged in.
    std::shared_ptr<EmulatedDevice> plug(const std::string& serial, uint16_t productCode, uint32_t runningVersion,
                                         const std::function<void(EmulatedDeviceConfig&)>& tweak = {});
    // Writes "tovrak_<build>.ksf" for the kind (revision A, variant 0): split version
    // major.minor, never a safe upgrade, one small section.
    void firmwareFile(uint16_t productCode, uint8_t major, uint8_t minor, uint16_t build);

    // The main component, built after the devices and files are in place; destroyed by TearDown.
    MainComponent& makeMainComponent();
    KSTableListBox& table();

    // The visible state of one row's cells.
    struct RowView
    {
        int buttonMode = -1;
        int buttonTick = -1;
        int deviceKind = -1;
        bool buttonEnabled = false;
        juce::String statusText;
        juce::Colour statusColour;
        bool progressVisible = false;
        double progress = 0.0;
    };
    RowView view(int row);
    // Clicks the tick button of a row and lets the message loop run the click.
    void clickRow(int row);
    // The upgrading state has ended and the refill that ends it has run.
    bool settled();

    // Messages in the order the devices were added by plug().
    testing_support::TempFolder m_folder;
    std::unique_ptr<testing_support::ScopedWorkingDirectory> m_cwd;
    std::vector<std::string> m_messageBoxes;
    std::unique_ptr<MainComponent> m_main;
    int m_quitRequests = 0;
};
} // namespace gui_testing
