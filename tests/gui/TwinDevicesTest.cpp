// Devices that share a serial number ("twins") in the device table, with real workers on
// emulated devices: each twin keeps its own selection, its own upgraded badge and its own
// lost-device row.
#include "GuiTestSupport.h"

#include "KSButton.h"
#include "KSTableListBox.h"
#include "MainComponent.h"

#include <gtest/gtest.h>

using namespace gui_testing;

namespace
{
const char* const kTwinSerial = "T207000077";

constexpr uint32_t packed(uint32_t major, uint32_t minor, uint32_t build)
{
    return (major << 24) | (minor << 16) | build;
}

using TwinDevices = ProgramTest;
} // namespace

TEST_F(TwinDevices, TickingOneTwinTicksOnlyThatOneAfterARefill)
{
    plug(kTwinSerial, 100, packed(1, 2, 0));
    const auto ticked = plug(kTwinSerial, 100, packed(1, 2, 0));
    firmwareFile(100, 1, 3, 1);
    makeMainComponent();
    ASSERT_EQ(table().GetRows().size(), 2u);

    clickRow(1);
    table().RefreshDeviceRows();
    EXPECT_FALSE(table().GetRows()[0].selected);
    EXPECT_TRUE(table().GetRows()[1].selected);
    EXPECT_EQ(view(0).buttonTick, 0);
    EXPECT_EQ(view(1).buttonTick, 1);

    // The ticked twin goes: the one left was never ticked and stays so.
    m_bus->unplug(ticked->path());
    ASSERT_TRUE(pumpUntil([&] { return table().GetRows().size() == 1; }));
    EXPECT_FALSE(table().GetRows()[0].selected);
    EXPECT_EQ(view(0).buttonTick, 0);
}

TEST_F(TwinDevices, UpgradingOneTwinLeavesTheOtherUnbadgedAndSelectable)
{
    // Installed 1.3.1, image 1.3.1: a reinstall, which the downgrade permission allows.
    plug(kTwinSerial, 100, packed(1, 3, 1));
    const auto untouched = plug(kTwinSerial, 100, packed(1, 3, 1));
    firmwareFile(100, 1, 3, 1);
    makeMainComponent();
    ASSERT_EQ(view(1).statusText, "Can be downgraded");

    clickRow(0);
    table().StartUpgradeSelectedDevices();
    ASSERT_TRUE(pumpUntil([&] { return settled(); }, 20000));
    ASSERT_EQ(table().GetRows().size(), 2u);

    EXPECT_EQ(view(0).buttonMode, KSButton::successMode);
    EXPECT_FALSE(table().IsRowSelectable(0));

    EXPECT_EQ(view(1).statusText, "Can be downgraded");
    EXPECT_EQ(view(1).buttonMode, KSButton::checkBoxMode);
    EXPECT_TRUE(view(1).buttonEnabled);
    EXPECT_TRUE(table().IsRowSelectable(1));
    EXPECT_EQ(untouched->exchangeCount(0xF3, ReportDirection::Output), 0u) << "the twin was not written";
}

TEST_F(TwinDevices, ATwinPulledOutMidUpgradeGetsItsOwnLostRowWhileTheOtherStays)
{
    const auto slow = [](EmulatedDeviceConfig& c) { c.latency = std::chrono::milliseconds(3); };
    const auto pulled = plug(kTwinSerial, 100, packed(1, 2, 0), slow);
    const auto stays = plug(kTwinSerial, 100, packed(1, 2, 0), slow);
    firmwareFile(100, 1, 3, 1);
    makeMainComponent();
    // Pulled out a little way into its upgrade.
    const uint64_t vanishAt = pulled->totalExchanges() + 60;
    pulled->configure([vanishAt](EmulatedDeviceConfig& c) { c.unplugAfterExchanges = vanishAt; });

    clickRow(0);
    table().StartUpgradeSelectedDevices();
    ASSERT_TRUE(pumpUntil([&] { return settled(); }, 20000));

    const auto& rows = table().GetRows();
    ASSERT_EQ(rows.size(), 2u) << "the twin that stays, then the lost one";
    EXPECT_EQ(rows[0].devicePath, juce::String(stays->path()));
    EXPECT_FALSE(rows[0].locked);
    EXPECT_EQ(view(0).statusText, "Can be upgraded");
    EXPECT_TRUE(table().IsRowSelectable(0));
    EXPECT_EQ(rows[1].devicePath, juce::String(pulled->path()));
    EXPECT_TRUE(rows[1].locked);
    EXPECT_EQ(view(1).statusText, "Failed to upgrade, and the device may lost.");
    EXPECT_EQ(view(1).buttonMode, KSButton::failureMode);
    EXPECT_EQ(stays->exchangeCount(0xF3, ReportDirection::Output), 0u) << "no relaunch took the other twin";
}
