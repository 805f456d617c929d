// Upgrades run from the main component and the device table with real workers on emulated
// devices: the phases and the verified end, the relaunch of a failing worker, a device lost in
// the middle, and the selection that is left afterwards.
#include "GuiTestSupport.h"

#include "KSAlertWindow.h"
#include "KSButton.h"
#include "KSLabel.h"
#include "KSTableListBox.h"
#include "KSTextButton.h"
#include "MainComponent.h"
#include "UpgradeSupervisor.h"
#include "UpgradeThread.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

using namespace gui_testing;
using device_testing::LogCapture;

namespace
{
const juce::Colour kRed(0xfff94340);
const juce::Colour kGreen(0xff16af5d);

constexpr uint32_t packed(uint32_t major, uint32_t minor, uint32_t build)
{
    return (major << 24) | (minor << 16) | build;
}

void slow(EmulatedDeviceConfig& config)
{
    config.latency = std::chrono::milliseconds(3);
}

class UpgradeRun : public ProgramTest
{
protected:
    const CUpgradeThread* workerFor(const juce::String& serial)
    {
        const auto& supervisor = table().GetSupervisor();
        for (size_t i = 0; i < supervisor.WorkerCount(); ++i)
            if (supervisor.Worker(i).m_deviceRow.serialNumber == serial)
                return &supervisor.Worker(i);
        return nullptr;
    }
};
} // namespace

TEST_F(UpgradeRun, ConfirmedUpgradeShowsPhasesThenReplugThenTheSuccessBadge)
{
    plug("T207000001", 100, packed(1, 2, 0), slow);
    firmwareFile(100, 1, 3, 1);
    auto& main = makeMainComponent();
    LogCapture log;

    main.GetSelectAllButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return main.GetUpdateButton().isEnabled(); }));

    // "Update" asks first; the alert is answered with its first button ("OK").
    juce::String question;
    juce::Timer::callAfterDelay(300, [&question] {
        if (auto* alert = dynamic_cast<KSAlertWindow*>(juce::Component::getCurrentlyModalComponent()))
        {
            question = alert->getMessage();
            alert->getButton(0)->triggerClick(); // "OK"
        }
    });
    main.GetUpdateButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return table().IsUpgrading(); }));
    EXPECT_TRUE(question.startsWith(" Please ensure that all other applications have been closed."));
    ASSERT_TRUE(pumpUntil([&] { return !main.GetUpdateButton().isEnabled(); }));
    EXPECT_FALSE(main.GetSelectAllButton().isEnabled());
    EXPECT_FALSE(main.GetExitButton().isEnabled());

    // Every poll shows the phase with its percent and the bar, until the verified end.
    std::set<std::string> phases;
    bool barSeen = false;
    const std::regex phaseText("(Erasing|Writing|Verifying) \\.\\.\\.   ([0-9]+)%");
    ASSERT_TRUE(pumpUntil([&] {
        const auto v = view(0);
        std::smatch m;
        const std::string text = v.statusText.toStdString();
        if (std::regex_match(text, m, phaseText))
        {
            phases.insert(m[1]);
            barSeen = barSeen || (v.progressVisible && std::abs(v.progress * 100.0 - std::stoi(m[2])) < 0.5);
            EXPECT_EQ(v.buttonMode, KSButton::busyMode);
            EXPECT_FALSE(v.buttonEnabled);
        }
        return v.statusText == "Unplug and replug required";
    }));
    EXPECT_FALSE(phases.empty()) << "at least one poll fell into the procedure";
    EXPECT_TRUE(barSeen);
    EXPECT_EQ(view(0).statusColour, kGreen);
    EXPECT_FALSE(view(0).progressVisible);

    ASSERT_TRUE(pumpUntil([&] { return settled(); }));
    ASSERT_TRUE(pumpUntil([&] { return main.GetExitButton().isEnabled(); }));
    const auto after = view(0);
    EXPECT_EQ(after.buttonMode, KSButton::successMode);
    EXPECT_FALSE(after.buttonEnabled);
    EXPECT_FALSE(main.GetUpdateButton().isEnabled());
    EXPECT_FALSE(main.GetSelectAllButton().isEnabled()) << "the only row was upgraded";
    EXPECT_EQ(main.GetSelectAllButton().tick, 0) << "nothing left to select";
    EXPECT_TRUE(table().IsUpgradedSerial("T207000001"));
    EXPECT_FALSE(table().GetRows()[0].selected);
    EXPECT_EQ(log.count("INFOR", "KSTableListBox::StartUpgradeSelectedDevices", "start upgrade thread for T207000001"), 1u);
    bool verified = false;
    for (const auto& line : log.lines())
        verified = verified || line.find("verify firmware data end.") != std::string::npos;
    EXPECT_TRUE(verified);
}

TEST_F(UpgradeRun, OnlyAnExplicitOkStartsTheUpgrade)
{
    // How the confirmation ends, and whether an upgrade may start from it. A modal loop that
    // ends without a choice returns 0 as "OK" does: that is how a quit request (a logout, the
    // desktop closing the window) ends it.
    struct Case
    {
        const char* name;
        std::function<void(KSAlertWindow&)> answer;
        bool starts;
    };
    const std::vector<Case> cases = {
        { "Cancel button", [](KSAlertWindow& a) { a.getButton(1)->triggerClick(); }, false },
        { "close button", [](KSAlertWindow& a) { a.getCloseButton()->triggerClick(); }, false },
        { "loop ended without a choice", [](KSAlertWindow& a) { a.exitModalState(0); }, false },
        { "OK button", [](KSAlertWindow& a) { a.getButton(0)->triggerClick(); }, true },
    };
    plug("T207000001", 100, packed(1, 2, 0));
    firmwareFile(100, 1, 3, 1);
    auto& main = makeMainComponent();
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        table().SelectAll(true);
        main.UpdateButtons();
        ASSERT_TRUE(main.GetUpdateButton().isEnabled());

        bool asked = false;
        juce::Timer::callAfterDelay(200, [&asked, &c] {
            if (auto* alert = dynamic_cast<KSAlertWindow*>(juce::Component::getCurrentlyModalComponent()))
            {
                asked = true;
                c.answer(*alert);
            }
        });
        main.GetUpdateButton().triggerClick();
        ASSERT_TRUE(pumpUntil([&] { return asked && juce::Component::getNumCurrentlyModalComponents() == 0; }, 5000))
            << "the confirmation opened and closed";
        pumpUntil([] { return false; }, 100);
        EXPECT_EQ(table().GetSupervisor().WorkerCount(), c.starts ? 1u : 0u);
        if (c.starts)
            break; // the last case
        EXPECT_FALSE(table().IsUpgrading());
        EXPECT_TRUE(table().GetRows()[0].selected) << "the selection stays";
    }
    ASSERT_TRUE(pumpUntil([&] { return settled(); }));
}

TEST_F(UpgradeRun, AWorkerFailingThreeTimesStopsAtRestartTwoAndAsksForARetry)
{
    auto device = plug("T207000001", 100, packed(1, 2, 0));
    firmwareFile(100, 1, 3, 1);
    auto& main = makeMainComponent();
    // Every erase command fails.
    device->configure([](EmulatedDeviceConfig& c) { c.failReports.push_back({ 0xF1, ReportDirection::Output, 1, 0 }); });
    LogCapture log;

    table().SelectAll(true);
    table().StartUpgradeSelectedDevices();
    ASSERT_TRUE(pumpUntil([&] { return settled(); }));
    const CUpgradeThread* worker = workerFor("T207000001");
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(worker->m_nRestartCount.load(), 2);
    EXPECT_TRUE(worker->m_bFailed);
    EXPECT_EQ(worker->m_nStatus.load(), RESULT_ERASE_ERROR);
    EXPECT_EQ(table().GetSupervisor().WorkerCount(), 1u);
    EXPECT_EQ(log.count("INFOR", "KSTableListBox::StartUpgradeSelectedDevices", "start upgrade thread for T207000001"), 1u)
        << "relaunches are the poll's, not new starts";

    // No fourth attempt.
    pumpUntil([] { return false; }, 1200);
    EXPECT_EQ(workerFor("T207000001")->m_nRestartCount.load(), 2);
    EXPECT_FALSE(table().IsUpgrading());

    ASSERT_TRUE(pumpUntil([&] { return main.GetUpdateButton().isEnabled() || main.GetSelectAllButton().isEnabled(); }));
    const auto v = view(0);
    EXPECT_EQ(v.statusText, "Failed to upgrade, please retry.");
    EXPECT_EQ(v.statusColour, kRed);
    EXPECT_TRUE(v.buttonEnabled) << "the row may be chosen again";
    EXPECT_EQ(table().GetRowThreadState(0), 3);
    EXPECT_EQ(main.GetSummaryLabel().getText(), "Found 1 device(s), of which 1 can be upgraded and 0 can be downgraded.");

    // A new start begins with a fresh worker at restart count 0.
    device->configure([](EmulatedDeviceConfig& c) { c.failReports.clear(); });
    table().SelectAll(true);
    table().StartUpgradeSelectedDevices();
    EXPECT_EQ(workerFor("T207000001")->m_nRestartCount.load(), 0);
    ASSERT_TRUE(pumpUntil([&] { return settled(); }));
    EXPECT_TRUE(table().IsUpgradedSerial("T207000001"));
}

TEST_F(UpgradeRun, ADeviceLostMidUpgradeLeavesALockedRowAndSelectAllSkipsIt)
{
    plug("T207000001", 100, packed(1, 2, 0), slow);      // DONE: upgraded in this run
    auto lost = plug("T207000002", 100, packed(1, 2, 0), slow); // vanishes while being written
    plug("T207000003", 300, packed(1, 0, 0));              // no image
    plug("T207000004", 100, packed(1, 2, 0));              // newer image, not chosen this time
    firmwareFile(100, 1, 3, 1);
    auto& main = makeMainComponent();
    // Pulled out a little way into its upgrade.
    const uint64_t vanishAt = lost->totalExchanges() + 60;
    lost->configure([vanishAt](EmulatedDeviceConfig& c) { c.unplugAfterExchanges = vanishAt; });

    clickRow(0);
    clickRow(1);
    table().StartUpgradeSelectedDevices();
    ASSERT_TRUE(pumpUntil([&] { return settled(); }, 20000));
    ASSERT_TRUE(pumpUntil([&] { return main.GetExitButton().isEnabled(); }));

    const auto& rows = table().GetRows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].serialNumber, "T207000001");
    EXPECT_EQ(rows[1].serialNumber, "T207000003");
    EXPECT_EQ(rows[2].serialNumber, "T207000004");
    EXPECT_EQ(rows[3].serialNumber, "T207000002");
    EXPECT_TRUE(rows[3].locked);
    const auto lostView = view(3);
    EXPECT_EQ(lostView.statusText, "Failed to upgrade, and the device may lost.");
    EXPECT_EQ(lostView.statusColour, kRed);
    EXPECT_EQ(lostView.buttonMode, KSButton::failureMode);
    EXPECT_FALSE(lostView.buttonEnabled);
    EXPECT_EQ(workerFor("T207000002")->m_nRestartCount.load(), 2);
    // The lost row counts only among the devices; the upgraded device still reports its old
    // version, so it counts as upgradable.
    EXPECT_EQ(main.GetSummaryLabel().getText(), "Found 4 device(s), of which 2 can be upgraded and 0 can be downgraded.");
    EXPECT_EQ(view(0).buttonMode, KSButton::successMode);

    // Select All: only the row that may be chosen.
    main.GetSelectAllButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return main.GetUpdateButton().isEnabled(); }));
    std::vector<bool> selected;
    for (const auto& row : table().GetRows())
        selected.push_back(row.selected);
    EXPECT_EQ(selected, (std::vector<bool> { false, false, true, false }));

    // The locked row is rebuilt by every refill while its failed worker exists.
    table().RefreshDeviceRows();
    ASSERT_EQ(table().GetRows().size(), 4u);
    EXPECT_TRUE(table().GetRows()[3].locked);
    EXPECT_TRUE(table().GetRows()[2].selected);
}

TEST_F(UpgradeRun, DevicesSharingASerialNumberAreEachUpgradedOnceWithoutBlockingTheWindow)
{
    // Factory-fresh devices often carry the same (blank) serial number.
    const auto first = plug("0000000000", 100, packed(1, 2, 0), slow);
    const auto second = plug("0000000000", 100, packed(1, 2, 0), slow);
    firmwareFile(100, 1, 3, 1);
    makeMainComponent();
    ASSERT_EQ(table().GetRows().size(), 2u);
    EXPECT_EQ(table().SerialNumberText(0), "0000000000 (1)");
    EXPECT_EQ(table().SerialNumberText(1), "0000000000 (2)");

    table().SelectAll(true);
    table().StartUpgradeSelectedDevices();
    // Back at once: the second row's worker did not wait for the first one's upgrade.
    const auto& supervisor = table().GetSupervisor();
    ASSERT_EQ(supervisor.WorkerCount(), 2u);
    EXPECT_TRUE(UpgradeSupervisor::IsWorkerRunning(supervisor.Worker(0)));
    EXPECT_TRUE(UpgradeSupervisor::IsWorkerRunning(supervisor.Worker(1)));
    ASSERT_NE(supervisor.Worker(0).device(), nullptr);
    EXPECT_NE(supervisor.Worker(0).device(), supervisor.Worker(1).device());

    ASSERT_TRUE(pumpUntil([&] { return settled(); }, 30000));
    // Each device was written once: the same number of data reports on both.
    const size_t writesFirst = first->exchangeCount(0xF3, ReportDirection::Output);
    EXPECT_GT(writesFirst, 0u);
    EXPECT_EQ(second->exchangeCount(0xF3, ReportDirection::Output), writesFirst);
    EXPECT_TRUE(first->violations().empty());
    EXPECT_TRUE(second->violations().empty());
}

TEST_F(UpgradeRun, RowsShowTheirWorkersAtOnceAndSelectAllFollowsTheRows)
{
    auto failing = plug("T207000001", 100, packed(1, 2, 0));
    plug("T207000002", 100, packed(1, 2, 0), slow);
    firmwareFile(100, 1, 3, 1);
    auto& main = makeMainComponent();
    failing->configure([](EmulatedDeviceConfig& c) { c.failReports.push_back({ 0xF1, ReportDirection::Output, 1, 0 }); });

    main.GetSelectAllButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return main.GetUpdateButton().isEnabled(); }));
    EXPECT_EQ(main.GetSelectAllButton().tick, 1);

    // Right after the start, before any tick of the poll: spinners, no ticked boxes.
    table().StartUpgradeSelectedDevices();
    for (int row = 0; row < 2; ++row)
    {
        EXPECT_EQ(view(row).buttonMode, KSButton::busyMode) << row;
        EXPECT_EQ(view(row).buttonTick, 0) << row;
    }

    // One device failed three times, the other was upgraded: the failed row may be chosen again
    // but is not chosen, so "Select All" is not ticked, and one click selects it.
    ASSERT_TRUE(pumpUntil([&] { return settled(); }, 20000));
    ASSERT_TRUE(pumpUntil([&] { return main.GetSelectAllButton().isEnabled(); }));
    EXPECT_EQ(view(0).statusText, "Failed to upgrade, please retry.");
    EXPECT_FALSE(table().GetRows()[0].selected);
    EXPECT_EQ(main.GetSelectAllButton().tick, 0);
    main.GetSelectAllButton().triggerClick();
    pumpUntil([] { return false; }, 50);
    EXPECT_TRUE(table().GetRows()[0].selected) << "the first click selects";
    EXPECT_EQ(main.GetSelectAllButton().tick, 1);

    // Unticking the only selectable row by hand unticks "Select All"; ticking it again ticks it.
    clickRow(0);
    pumpUntil([] { return false; }, 50);
    EXPECT_EQ(main.GetSelectAllButton().tick, 0);
    clickRow(0);
    pumpUntil([] { return false; }, 50);
    EXPECT_EQ(main.GetSelectAllButton().tick, 1);
}
