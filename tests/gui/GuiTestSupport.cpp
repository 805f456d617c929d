#include "GuiTestSupport.h"

#include "FirmwareFileManager.h"
#include "KSButton.h"
#include "KSTableListBox.h"
#include "MainComponent.h"
#include "Platform.h"

#include <gtest/gtest.h>

namespace gui_testing
{
bool pumpUntil(const std::function<bool()>& condition, int milliseconds)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;
    while (!condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil(10);
    }
    return true;
}

void ProgramTest::SetUp()
{
    EmulatorTest::SetUp();
    g_firmwareFileMgr.clearImages();
    m_cwd = std::make_unique<testing_support::ScopedWorkingDirectory>(m_folder.get());
    platform::setMessageBoxHandler([this](const std::string& title, const std::string& text) {
        m_messageBoxes.push_back(title + ": " + text);
    });
}

void ProgramTest::TearDown()
{
    m_main.reset();
    // Let posted messages for the destroyed components run out.
    juce::MessageManager::getInstance()->runDispatchLoopUntil(20);
    platform::setMessageBoxHandler({});
    m_cwd.reset();
    g_firmwareFileMgr.clearImages();
    EmulatorTest::TearDown();
}

std::shared_ptr<EmulatedDevice> ProgramTest::plug(const std::string& serial, uint16_t productCode,
                                                  uint32_t runningVersion,
                                                  const std::function<void(EmulatedDeviceConfig&)>& tweak)
{
    TovrakIdentity id;
    id.serialNumber = serial;
    id.name = "Tovrak " + serial;
    id.productCode = productCode;
    id.runningFirmwareVersion = runningVersion;
    EmulatedDeviceConfig config = makeTovrakDeviceConfig(id);
    if (tweak)
        tweak(config);
    return m_bus->add(std::move(config));
}

void ProgramTest::firmwareFile(uint16_t productCode, uint8_t major, uint8_t minor, uint16_t build)
{
    testing_support::ImageSpec spec;
    spec.productCode = productCode;
    spec.revision = 'A';
    spec.variant = 0;
    spec.version = (uint32_t(major) << 16) | minor;
    spec.compatibilityCode = 1;
    spec.sections = { { "App", 0x40000, testing_support::patternBytes(6000, build) } };
    testing_support::writeImageFile(m_folder.file("tovrak_" + juce::String(build) + ".ksf"),
                                    testing_support::makeImage(spec));
}

MainComponent& ProgramTest::makeMainComponent()
{
    m_main = std::make_unique<MainComponent>([this] { ++m_quitRequests; });
    // The buttons follow the table once the posted command 0 has run.
    juce::MessageManager::getInstance()->runDispatchLoopUntil(20);
    return *m_main;
}

KSTableListBox& ProgramTest::table()
{
    return *m_main->GetDeviceTable();
}

bool ProgramTest::settled()
{
    return !table().IsUpgrading() && !table().isTimerRunning();
}

void ProgramTest::clickRow(int row)
{
    auto* cell = dynamic_cast<KSTableListBox::DeviceComponent*>(
        table().GetTable().getCellComponent(KSTableListBox::DeviceNameColumn, row));
    ASSERT_NE(cell, nullptr);
    cell->GetButton().triggerClick();
    juce::MessageManager::getInstance()->runDispatchLoopUntil(20);
}

ProgramTest::RowView ProgramTest::view(int row)
{
    RowView v;
    auto& box = table().GetTable();
    if (auto* cell = dynamic_cast<KSTableListBox::DeviceComponent*>(
            box.getCellComponent(KSTableListBox::DeviceNameColumn, row)))
    {
        v.buttonMode = cell->GetButton().mode;
        v.buttonTick = cell->GetButton().tick;
        v.deviceKind = cell->GetButton().deviceKind;
        v.buttonEnabled = cell->GetButton().isEnabled();
    }
    if (auto* cell = dynamic_cast<KSTableListBox::DeviceStatusComponent*>(
            box.getCellComponent(KSTableListBox::StatusColumn, row)))
    {
        v.statusText = cell->GetLabel().getText();
        v.statusColour = cell->GetLabel().findColour(juce::Label::textColourId);
        v.progressVisible = cell->IsProgressVisible() && cell->GetProgressBar().isVisible();
        v.progress = cell->GetProgress();
    }
    return v;
}
} // namespace gui_testing
