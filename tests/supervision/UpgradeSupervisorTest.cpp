// The upgrade supervision rules, driven with scripted workers (no device traffic): the texts a
// poll writes, the verified-to-replug step, the relaunch limit, the settling of ended workers
// after a refill, and the selection rules that depend on them.
#include "DeviceTestSupport.h"
#include "UpgradeSupervisor.h"
#include "UpgradeThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

using device_testing::LogCapture;

namespace
{
// A worker whose body is a script instead of a device upgrade.
class ScriptedWorker : public CUpgradeThread
{
public:
    using Script = std::function<void(ScriptedWorker&)>;
    ScriptedWorker(const DeviceRow& row, bool force, Script body)
        : CUpgradeThread(row, force), m_script(std::move(body))
    {
    }
    // The script belongs to this class: the thread must end before it goes.
    ~ScriptedWorker() override { stopThread(-1); }
    void run() override { m_script(*this); }

private:
    Script m_script;
};

void failErasing(ScriptedWorker& w)
{
    w.m_bRunning = true;
    w.m_nStatus = RESULT_ERASE_ERROR;
    w.m_bFailed = true;
    w.m_bRunning = false;
}

void verifyAtOnce(ScriptedWorker& w)
{
    w.m_bRunning = true;
    w.m_nStatus = RESULT_VERIFIED;
    w.m_bRunning = false;
}

DeviceRow row(const char* serial, bool selected = true)
{
    DeviceRow r;
    r.name = juce::String("Tovrak ") + serial;
    r.serialNumber = serial;
    r.selected = selected;
    r.firmwareMissing = false;
    r.upgradeAvailable = true;
    r.status = RESULT_CAN_UPGRADE;
    r.statusText = "Can be upgraded";
    return r;
}

bool waitFor(const std::function<bool()>& condition, int milliseconds = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class Supervision : public device_testing::EmulatorTest
{
protected:
    struct Launch
    {
        juce::String serial;
        bool force;
    };

    UpgradeSupervisor& supervisor()
    {
        if (m_supervisor == nullptr)
            m_supervisor = std::make_unique<UpgradeSupervisor>([this](const DeviceRow& r, bool force) {
                m_launches.push_back({ r.serialNumber, force });
                const auto script = m_scripts.find(r.serialNumber);
                return std::make_unique<ScriptedWorker>(r, force, script != m_scripts.end() ? script->second
                                                                                          : ScriptedWorker::Script(verifyAtOnce));
            });
        return *m_supervisor;
    }

    void waitForAllToEnd()
    {
        for (size_t i = 0; i < supervisor().WorkerCount(); ++i)
            ASSERT_TRUE(waitFor([&] { return !supervisor().Worker(i).isThreadRunning(); }));
    }

    void TearDown() override
    {
        m_supervisor.reset();
        EmulatorTest::TearDown();
    }

    std::map<juce::String, ScriptedWorker::Script> m_scripts;
    std::vector<Launch> m_launches;
    std::unique_ptr<UpgradeSupervisor> m_supervisor;
};
} // namespace

TEST(SupervisionTexts, PhasesCarryTheirPercent)
{
    EXPECT_EQ(UpgradeSupervisor::PollText(RESULT_WRITING, 37, false), "Writing ...   37%");
    EXPECT_EQ(UpgradeSupervisor::PollText(RESULT_ERASING, 0, false), "Erasing ...   0%");
    EXPECT_EQ(UpgradeSupervisor::PollText(RESULT_VERIFYING, 100, false), "Verifying ...   100%");
    EXPECT_EQ(UpgradeSupervisor::PollText(RESULT_WRITE_ERROR, 37, false), "Error in writing");
    EXPECT_EQ(UpgradeSupervisor::PollText(RESULT_CAN_DOWNGRADE, 0, false), "Can be downgraded");
    EXPECT_EQ(UpgradeSupervisor::PollText(RESULT_CAN_DOWNGRADE, 0, true), "Already upgraded");
    EXPECT_EQ(UpgradeSupervisor::PollText(RESULT_RESERVED_17, 0, true), "Already upgraded");
    EXPECT_EQ(UpgradeSupervisor::PollText(RESULT_RESERVED_17, 0, false), "");
    EXPECT_EQ(UpgradeSupervisor::PollText(RESULT_REPLUG_REQUIRED, 0, true), "Unplug and replug required");
}

TEST_F(Supervision, PollWritesPhaseAndPercentThenTurnsVerifiedIntoReplug)
{
    juce::WaitableEvent gate;
    m_scripts["A"] = [&gate](ScriptedWorker& w) {
        w.m_bRunning = true;
        w.m_nProgress = 37;
        w.m_nStatus = RESULT_WRITING;
        gate.wait(-1);
        w.m_nProgress = 100;
        w.m_nStatus = RESULT_VERIFIED;
        w.m_bRunning = false;
    };
    LogCapture log;
    // B is not selected; C is selected but has no image (not selectable, so no force).
    UpgradeSupervisor::Rows rows { row("A"), row("B", false), row("C") };
    rows[2].firmwareMissing = true;

    supervisor().StartSelected(rows, true);
    EXPECT_TRUE(supervisor().IsUpgrading());
    ASSERT_EQ(m_launches.size(), 2u);
    EXPECT_EQ(m_launches[0].serial, "A");
    EXPECT_TRUE(m_launches[0].force);
    EXPECT_EQ(m_launches[1].serial, "C");
    EXPECT_FALSE(m_launches[1].force);
    EXPECT_TRUE(log.has("INFOR", "KSTableListBox::StartUpgradeSelectedDevices", "start upgrade thread for A"));
    EXPECT_TRUE(log.has("INFOR", "KSTableListBox::StartUpgradeSelectedDevices", "start upgrade thread for C"));

    ASSERT_TRUE(waitFor([&] { return supervisor().Worker(0).m_nStatus == RESULT_WRITING; }));
    ASSERT_TRUE(supervisor().Poll(rows));
    EXPECT_TRUE(supervisor().IsUpgrading());
    EXPECT_EQ(rows[0].status, RESULT_WRITING);
    EXPECT_EQ(rows[0].statusText, "Writing ...   37%");
    EXPECT_EQ(rows[0].progress, 37);
    EXPECT_EQ(rows[1].statusText, "Can be upgraded") << "a row without a worker is not touched";
    EXPECT_EQ(supervisor().GetRowThreadState("A"), UpgradeSupervisor::RunningState);

    gate.signal();
    waitForAllToEnd();
    ASSERT_TRUE(supervisor().Poll(rows));
    EXPECT_FALSE(supervisor().IsUpgrading());
    EXPECT_EQ(rows[0].status, RESULT_REPLUG_REQUIRED);
    EXPECT_EQ(rows[0].statusText, "Unplug and replug required");
    EXPECT_EQ(rows[0].progress, -1) << "the bar goes with the verified upgrade";
    EXPECT_EQ(supervisor().Worker(0).m_nStatus.load(), RESULT_REPLUG_REQUIRED);
    EXPECT_TRUE(supervisor().IsUpgradedSerial("A"));
    EXPECT_FALSE(supervisor().IsUpgradedSerial("a")) << "serial numbers compare exactly";
    EXPECT_EQ(supervisor().GetRowThreadState("A"), UpgradeSupervisor::UpgradedState);

    // The next poll sees status 19 and keeps the text; the serial number is not added again.
    supervisor().Poll(rows);
    EXPECT_EQ(rows[0].statusText, "Unplug and replug required");
    EXPECT_EQ(supervisor().UpgradedDevices().size(), 2u) << "A, and C (whose scripted worker verified too)";
}

TEST_F(Supervision, AWorkerCountsAsRunningBeforeItsBodyHasStarted)
{
    juce::WaitableEvent gate;
    m_scripts["A"] = [&gate](ScriptedWorker& w) {
        gate.wait(-1); // the body has not yet set m_bRunning
        verifyAtOnce(w);
    };
    UpgradeSupervisor::Rows rows { row("A") };
    supervisor().StartSelected(rows, true);
    ASSERT_FALSE(supervisor().Worker(0).m_bRunning);

    ASSERT_TRUE(supervisor().Poll(rows));
    EXPECT_TRUE(supervisor().IsUpgrading()) << "a poll right after the start must not end the upgrading state";
    EXPECT_EQ(supervisor().GetRowThreadState("A"), UpgradeSupervisor::RunningState);

    gate.signal();
    waitForAllToEnd();
    supervisor().Poll(rows);
    EXPECT_FALSE(supervisor().IsUpgrading());
}

TEST_F(Supervision, AFailingWorkerIsRelaunchedWithForceUntilItsThirdAttempt)
{
    m_scripts["A"] = failErasing;
    UpgradeSupervisor::Rows rows { row("A") };
    rows[0].upgradeAvailable = false; // selectable only because downgrades are allowed
    supervisor().StartSelected(rows, true);

    for (int tick = 0; tick < 6; ++tick)
    {
        waitForAllToEnd();
        supervisor().Poll(rows);
    }
    ASSERT_EQ(m_launches.size(), 3u);
    EXPECT_TRUE(m_launches[1].force && m_launches[2].force);
    ASSERT_EQ(supervisor().WorkerCount(), 1u);
    EXPECT_EQ(supervisor().Worker(0).m_nRestartCount.load(), 2);
    EXPECT_TRUE(supervisor().Worker(0).m_bFailed);
    EXPECT_FALSE(supervisor().IsUpgrading());
    EXPECT_EQ(supervisor().GetRowThreadState("A"), UpgradeSupervisor::FailedState);
    EXPECT_FALSE(supervisor().IsUpgradedSerial("A"));

    // After the refill: the device is still attached, so its row reads the retry text and may be
    // chosen again; a new start begins with restart count 0.
    supervisor().Reconcile(rows, { { "B", {}, false }, { "A", {}, false } });
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].status, RESULT_DEVICE_NOT_FOUND);
    EXPECT_EQ(rows[0].progress, -1);
    EXPECT_EQ(rows[0].statusText, "Failed to upgrade, please retry.");
    EXPECT_TRUE(supervisor().IsRowSelectable(rows, 0, true));

    m_scripts["A"] = verifyAtOnce;
    supervisor().StartSelected(rows, true);
    ASSERT_EQ(supervisor().WorkerCount(), 1u) << "the row's previous worker is replaced";
    EXPECT_EQ(supervisor().Worker(0).m_nRestartCount.load(), 0);
}

TEST_F(Supervision, EndedWorkersOfGoneDevicesLeaveALockedRowOrNothing)
{
    m_scripts["LOST"] = failErasing;
    m_scripts["DONE"] = verifyAtOnce;
    UpgradeSupervisor::Rows rows { row("LOST"), row("DONE") };
    supervisor().StartSelected(rows, true);
    for (int tick = 0; tick < 4; ++tick)
    {
        waitForAllToEnd();
        supervisor().Poll(rows);
    }
    ASSERT_FALSE(supervisor().IsUpgrading());
    ASSERT_EQ(supervisor().WorkerCount(), 2u);

    // The refill found neither device.
    UpgradeSupervisor::Rows refilled;
    supervisor().Reconcile(refilled, {});
    ASSERT_EQ(refilled.size(), 1u) << "only the failed worker leaves a row";
    const DeviceRow& lost = refilled[0];
    EXPECT_EQ(lost.serialNumber, "LOST");
    EXPECT_EQ(lost.name, "Tovrak LOST");
    EXPECT_TRUE(lost.locked);
    EXPECT_FALSE(lost.selected);
    EXPECT_EQ(lost.status, RESULT_DEVICE_NOT_FOUND);
    EXPECT_EQ(lost.statusText, "Failed to upgrade, and the device may lost.");
    EXPECT_FALSE(supervisor().IsRowSelectable(refilled, 0, true));
    EXPECT_EQ(supervisor().GetRowThreadState("LOST"), UpgradeSupervisor::FailedState);

    ASSERT_EQ(supervisor().WorkerCount(), 1u) << "the worker that did not fail is dropped with its device";
    EXPECT_EQ(supervisor().Worker(0).m_deviceRow.serialNumber, "LOST");
    EXPECT_EQ(supervisor().GetRowThreadState("DONE"), UpgradeSupervisor::UpgradedState);

    // Every refill rebuilds the locked row while the failed worker exists.
    UpgradeSupervisor::Rows again;
    supervisor().Reconcile(again, {});
    EXPECT_EQ(again.size(), 1u);
    supervisor().StopAll();
    EXPECT_EQ(supervisor().WorkerCount(), 0u);
}

TEST_F(Supervision, SelectionRules)
{
    UpgradeSupervisor::Rows rows { row("NEWER"), row("SAME"), row("NOIMAGE"), row("LOCKED"), row("UPGRADED") };
    rows[1].upgradeAvailable = false;
    rows[2].firmwareMissing = true;
    rows[3].locked = true;
    // UPGRADED becomes an upgraded serial through a verified worker.
    UpgradeSupervisor::Rows only { rows[4] };
    supervisor().StartSelected(only, true);
    waitForAllToEnd();
    supervisor().Poll(only);
    ASSERT_TRUE(supervisor().IsUpgradedSerial("UPGRADED"));

    const std::vector<bool> withDowngrade { true, true, false, false, false };
    const std::vector<bool> withoutDowngrade { true, false, false, false, false };
    for (size_t i = 0; i < rows.size(); ++i)
    {
        EXPECT_EQ(supervisor().IsRowSelectable(rows, i, true), withDowngrade[i]) << rows[i].serialNumber;
        EXPECT_EQ(supervisor().IsRowSelectable(rows, i, false), withoutDowngrade[i]) << rows[i].serialNumber;
    }
    EXPECT_FALSE(supervisor().IsRowSelectable(rows, rows.size(), true));

    supervisor().SelectAll(rows, true, true);
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].selected, withDowngrade[i]) << rows[i].serialNumber;
    EXPECT_TRUE(UpgradeSupervisor::HasSelectedRows(rows, true));
    // A selected row whose image is not newer makes the whole selection unusable without
    // downgrades.
    EXPECT_FALSE(UpgradeSupervisor::HasSelectedRows(rows, false));
    supervisor().SelectAll(rows, false, true);
    EXPECT_FALSE(UpgradeSupervisor::HasSelectedRows(rows, true));
    EXPECT_TRUE(supervisor().HasSelectableRows(rows, false));

    UpgradeSupervisor::Rows none { rows[2], rows[3], rows[4] };
    EXPECT_FALSE(supervisor().HasSelectableRows(none, true));
}

// A worker that ends failed between the poll's look at its outcome and its look at whether it
// runs must still be relaunched. The long row list stretches the time the poll spends between
// its reads of one worker; the worker fails at a different moment of that time in every round.
TEST_F(Supervision, AWorkerThatFailsDuringAPollIsRelaunched)
{
    std::atomic<bool> polling { false };
    std::atomic<int> delayMicroseconds { 0 };
    m_scripts["A"] = [&](ScriptedWorker& w) {
        w.m_bRunning = true;
        w.m_nStatus = RESULT_ERASING;
        if (w.m_nRestartCount == 0)
        {
            while (!polling)
                std::this_thread::yield();
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(delayMicroseconds.load());
            while (std::chrono::steady_clock::now() < until)
                ; // spin: a sleep would come back far too late
        }
        failErasing(w);
    };
    UpgradeSupervisor::Rows rows(200000, row("OTHER", false));
    rows.push_back(row("A"));
    for (int round = 0; round < 40; ++round)
    {
        SCOPED_TRACE("round " + std::to_string(round));
        m_launches.clear();
        polling = false;
        delayMicroseconds = 50 * round;
        supervisor().StartSelected(rows, true);
        ASSERT_TRUE(waitFor([&] { return supervisor().Worker(0).m_nStatus == RESULT_ERASING; }));
        polling = true;
        supervisor().Poll(rows);
        // Either the poll saw the worker still running (and a later poll relaunches it) or it saw
        // it failed and relaunched it; it must not end the upgrading state without a relaunch.
        for (int tick = 0; tick < 8 && supervisor().IsUpgrading(); ++tick)
        {
            waitForAllToEnd();
            supervisor().Poll(rows);
        }
        ASSERT_EQ(m_launches.size(), 3u) << "every attempt of the row was made";
    }
}

// A worker whose device left the list while it still ran, and that then failed, keeps its
// outcome: its row becomes the lost-device row instead of vanishing with the worker.
TEST_F(Supervision, AWorkerThatFailsAfterItsDeviceWentKeepsItsFailure)
{
    m_scripts["GONE"] = [](ScriptedWorker& w) {
        w.m_bRunning = true;
        w.m_nStatus = RESULT_WRITING;
        // Runs until the refill asks it to end, as a worker whose writes time out would.
        while (!w.threadShouldExit())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        failErasing(w);
    };
    UpgradeSupervisor::Rows rows { row("GONE") };
    supervisor().StartSelected(rows, true);
    ASSERT_TRUE(waitFor([&] { return supervisor().Worker(0).m_nStatus == RESULT_WRITING; }));

    UpgradeSupervisor::Rows refilled;
    supervisor().Reconcile(refilled, {});
    ASSERT_EQ(refilled.size(), 1u) << "the failure is shown, not dropped";
    EXPECT_EQ(refilled[0].serialNumber, "GONE");
    EXPECT_TRUE(refilled[0].locked);
    EXPECT_EQ(refilled[0].statusText, "Failed to upgrade, and the device may lost.");
    ASSERT_EQ(supervisor().WorkerCount(), 1u);
    EXPECT_TRUE(supervisor().Poll(refilled));
    EXPECT_EQ(m_launches.size(), 2u) << "the failed worker is relaunched like any other";
}
