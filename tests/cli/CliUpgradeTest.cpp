// upgrade: the window's selection rules, one worker per device, three attempts for a failing
// device while the others go on, the confirmation, the exit codes and the JSON report.
#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

using namespace cli_testing;
using device_testing::LogCapture;

namespace
{
const std::string kStart = "start upgrade thread for ";
const std::string kStartFunction = "KSTableListBox::StartUpgradeSelectedDevices";

size_t workersMadeFor(const LogCapture& log, const std::string& serial)
{
    return log.count("INFOR", "CUpgradeThread::CUpgradeThread", "find device from g_devices , serial No. is :" + serial);
}

const juce::var* deviceIn(const juce::var& json, const juce::String& serial)
{
    if (const auto* devices = json["devices"].getArray())
        for (const auto& device : *devices)
            if (device["serialNumber"].toString() == serial)
                return &device;
    return nullptr;
}

class CliUpgrade : public CliTest
{
};
} // namespace

TEST_F(CliUpgrade, FaultyDeviceFailsAfterThreeAttemptsWhileTheOthersVerify)
{
    plug("T1");
    plug("T2", packed(1, 2, 0), refuseErase);
    plug("T3");
    firmwareFile(1, 3, 9);
    LogCapture log;

    const CliResult r = run({ "upgrade", "--all", "--yes" });
    EXPECT_EQ(r.exitCode, CliExit::SomeFailed) << r.out << r.err;
    EXPECT_EQ(workersMadeFor(log, "T1"), 1u);
    EXPECT_EQ(workersMadeFor(log, "T3"), 1u);
    EXPECT_EQ(workersMadeFor(log, "T2"), 3u) << "the first attempt and two relaunches, no more";

    const auto lines = linesOf(r.out);
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("verified  Tovrak T1  T1  Unplug and replug required")) << r.out;
    EXPECT_TRUE(has("verified  Tovrak T3  T3  Unplug and replug required")) << r.out;
    EXPECT_TRUE(has("FAILED    Tovrak T2  T2  Failed to upgrade, please retry. (Error in erasing, 3 attempts)")) << r.out;
    EXPECT_TRUE(has("2 verified, 1 failed."));
    // Every attempt's failure is a line of its own, even when a relaunch comes before the next poll.
    EXPECT_TRUE(has("Tovrak T2  T2  Error in erasing")) << r.out;
    EXPECT_TRUE(has("Tovrak T2  T2  Error in erasing (attempt 2 of 3)")) << r.out;
    EXPECT_TRUE(has("Tovrak T2  T2  Error in erasing (attempt 3 of 3)")) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "no cursor movement when not on a terminal";
}

TEST_F(CliUpgrade, JsonReportParsesBack)
{
    plug("T1");
    plug("T2", packed(1, 2, 0), refuseErase);
    plug("T9", packed(1, 3, 9));
    firmwareFile(1, 3, 9);

    const CliResult r = run({ "upgrade", "--all", "--yes", "--json" });
    EXPECT_EQ(r.exitCode, CliExit::SomeFailed);
    const juce::var json = parseJson(r.out);
    ASSERT_TRUE(json.isObject()) << "standard output carries only the JSON object:\n" << r.out;
    EXPECT_EQ(static_cast<int>(json["exitCode"]), CliExit::SomeFailed);
    EXPECT_EQ(static_cast<int>(json["verifiedCount"]), 1);
    EXPECT_EQ(static_cast<int>(json["failedCount"]), 1);
    EXPECT_EQ(static_cast<int>(json["skippedCount"]), 1);
    EXPECT_EQ(static_cast<int>(json["notFoundCount"]), 0);

    const juce::var* t1 = deviceIn(json, "T1");
    const juce::var* t2 = deviceIn(json, "T2");
    const juce::var* t9 = deviceIn(json, "T9");
    ASSERT_TRUE(t1 && t2 && t9);
    EXPECT_EQ((*t1)["result"].toString(), "verified");
    EXPECT_EQ((*t1)["statusText"].toString(), "Unplug and replug required");
    EXPECT_EQ(static_cast<int>((*t1)["attempts"]), 1);
    EXPECT_EQ((*t1)["installedVersion"].toString(), "1.2.0");
    EXPECT_EQ((*t1)["availableVersion"].toString(), "1.3.9");
    EXPECT_EQ((*t2)["result"].toString(), "failed");
    EXPECT_EQ((*t2)["statusText"].toString(), "Failed to upgrade, please retry.");
    EXPECT_EQ((*t2)["lastStatusText"].toString(), "Error in erasing");
    EXPECT_EQ(static_cast<int>((*t2)["attempts"]), 3);
    EXPECT_EQ((*t9)["result"].toString(), "skipped");
    EXPECT_EQ((*t9)["statusText"].toString(), "Can be downgraded");
    // The human-readable lines went to the error stream.
    EXPECT_NE(r.err.find("1 verified, 1 failed."), std::string::npos) << r.err;
}

TEST_F(CliUpgrade, NothingToDoUnlessDowngradesAreAllowed)
{
    plug("T9", packed(1, 3, 9));
    addDevice("T200", 200); // no image
    firmwareFile(1, 3, 9);
    LogCapture log;

    const CliResult r = run({ "upgrade", "--all", "--yes" });
    EXPECT_EQ(r.exitCode, CliExit::NothingToDo) << r.out << r.err;
    EXPECT_NE(r.out.find("skip  Tovrak T9    T9    Can be downgraded (--allow-downgrade)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("skip  Tovrak T200  T200  Firmware file not found"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Nothing to upgrade."), std::string::npos);
    EXPECT_EQ(log.count("INFOR", kStartFunction, kStart + "T9"), 0u);

    const CliResult allowed = run({ "upgrade", "--all", "--yes", "--allow-downgrade" });
    EXPECT_EQ(allowed.exitCode, CliExit::Ok) << allowed.out << allowed.err;
    EXPECT_EQ(log.count("INFOR", kStartFunction, kStart + "T9"), 1u);
    EXPECT_EQ(log.count("INFOR", kStartFunction, kStart + "T200"), 0u) << "a device without an image is never selectable";
}

TEST_F(CliUpgrade, SerialNumbersSelectExactlyTheNamedDevices)
{
    plug("T1");
    plug("T2");
    plug("T20");
    firmwareFile(1, 3, 9);
    LogCapture log;

    EXPECT_EQ(run({ "upgrade", "--serial", "T2", "--yes" }).exitCode, CliExit::Ok);
    EXPECT_EQ(log.count("INFOR", kStartFunction, kStart + "T2"), 1u);
    EXPECT_EQ(log.count("INFOR", kStartFunction, kStart + "T1"), 0u);
    EXPECT_EQ(log.count("INFOR", kStartFunction, kStart + "T20"), 0u) << "serial numbers compare exactly";

    EXPECT_EQ(run({ "upgrade", "--serial", "t1", "--yes" }).exitCode, CliExit::NoDevice) << "letter case counts";

    const CliResult mixed = run({ "upgrade", "--serial", "T1", "--serial", "NOPE", "--yes", "--json" });
    EXPECT_EQ(mixed.exitCode, CliExit::SomeFailed) << "a named device that is missing is not verified";
    const juce::var json = parseJson(mixed.out);
    ASSERT_TRUE(json.isObject()) << mixed.out;
    ASSERT_NE(deviceIn(json, "NOPE"), nullptr);
    EXPECT_EQ((*deviceIn(json, "NOPE"))["result"].toString(), "notFound");
    EXPECT_EQ((*deviceIn(json, "T1"))["result"].toString(), "verified");
    EXPECT_EQ(deviceIn(json, "T20"), nullptr) << "devices not named are not reported";
}

TEST_F(CliUpgrade, NoSupportedDeviceExitsWithThree)
{
    firmwareFile(1, 3, 9);
    const CliResult r = run({ "upgrade", "--all", "--yes" });
    EXPECT_EQ(r.exitCode, CliExit::NoDevice);
    EXPECT_NE(r.err.find("No supported device found."), std::string::npos);
}

TEST_F(CliUpgrade, ConfirmationUsesTheWindowsTextAndDefaultsToNo)
{
    plug("T1");
    firmwareFile(1, 3, 9);
    LogCapture log;

    for (const std::string& answer : { std::string("n\n"), std::string(), std::string("maybe\n") })
    {
        const CliResult r = run({ "upgrade", "--all" }, answer);
        EXPECT_EQ(r.exitCode, CliExit::NothingToDo) << "answer '" << answer << "'";
        EXPECT_NE(r.out.find("Please ensure that all other applications have been closed. DO not unplug the Tovrak device."),
                  std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Continue? [y/N] "), std::string::npos);
    }
    EXPECT_EQ(log.count("INFOR", kStartFunction, kStart + "T1"), 0u);

    const CliResult json = run({ "upgrade", "--all", "--json" }, "n\n");
    EXPECT_TRUE(parseJson(json.out).isObject()) << "the question goes to the error stream: " << json.out;
    EXPECT_NE(json.err.find("Continue? [y/N]"), std::string::npos);

    EXPECT_EQ(run({ "upgrade", "--all" }, " Yes \n").exitCode, CliExit::Ok);
    EXPECT_EQ(log.count("INFOR", kStartFunction, kStart + "T1"), 1u);
}

TEST_F(CliUpgrade, PhaseLinesOffTerminalLiveLinesOnOne)
{
    plug("T1", packed(1, 2, 0), slow);
    firmwareFile(1, 3, 9);
    const CliResult plain = run({ "upgrade", "--all", "--yes" });
    ASSERT_EQ(plain.exitCode, CliExit::Ok) << plain.out;
    const auto lines = linesOf(plain.out);
    std::vector<std::string> phases;
    for (const auto& line : lines)
        if (line.rfind("Tovrak T1  T1  ", 0) == 0)
            phases.push_back(line.substr(15));
    ASSERT_FALSE(phases.empty()) << plain.out;
    EXPECT_EQ(phases.back(), "Unplug and replug required");
    for (size_t i = 1; i < phases.size(); ++i)
        EXPECT_NE(phases[i], phases[i - 1]) << "one line per change";
    for (const auto& phase : phases)
        EXPECT_EQ(phase.find('%'), std::string::npos) << phase;

    // A new emulator device for the second run: the first one now runs the new firmware's header.
    plug("T2", packed(1, 2, 0), slow);
    const CliResult live = run({ "upgrade", "--serial", "T2", "--yes" }, {}, true);
    ASSERT_EQ(live.exitCode, CliExit::Ok) << live.out;
    EXPECT_NE(live.out.find("\x1b[1A\r\x1b[2KTovrak T2  T2  "), std::string::npos) << "redrawn in place";
    EXPECT_TRUE(std::regex_search(live.out, std::regex(R"(\[#*\.*\]  (Erasing|Writing|Verifying) \.\.\.   [0-9]+%)")))
        << live.out;
    EXPECT_NE(live.out.find("Unplug and replug required"), std::string::npos);
}

TEST_F(CliUpgrade, DeviceLostDuringItsUpgradeIsReportedAndTheOthersFinish)
{
    plug("T1", packed(1, 2, 0), slow);
    auto lost = plug("T2", packed(1, 2, 0), slow);
    firmwareFile(1, 3, 9);

    CliResult r;
    std::thread upgrade([&] { r = run({ "upgrade", "--all", "--yes", "--json" }); });
    // Pulled out once its erasing has begun.
    for (int waited = 0; waited < 10000 && lost->exchangeCount(0xF1, ReportDirection::Output) == 0; ++waited)
        juce::Thread::sleep(1);
    m_bus->unplug(lost->path());
    upgrade.join();

    EXPECT_EQ(r.exitCode, CliExit::SomeFailed);
    const juce::var json = parseJson(r.out);
    ASSERT_TRUE(json.isObject()) << r.out;
    EXPECT_EQ((*deviceIn(json, "T1"))["result"].toString(), "verified");
    EXPECT_EQ((*deviceIn(json, "T2"))["result"].toString(), "failed");
    EXPECT_EQ((*deviceIn(json, "T2"))["statusText"].toString(), "Failed to upgrade, and the device may lost.");
    EXPECT_EQ(static_cast<int>((*deviceIn(json, "T2"))["attempts"]), 3);
}

TEST_F(CliUpgrade, ASetUpThatFailsOnceIsTriedAgainAndOneThatKeepsFailingIsNamed)
{
    struct Case
    {
        const char* name;
        uint64_t failedInfoReports; // flash information reports that fail before one comes (0: all fail)
        int exitCode;
        bool verified;
    };
    const Case cases[] = {
        { "one dropped report", 1, CliExit::Ok, true },
        { "two dropped reports", 2, CliExit::Ok, true },
        { "never answers its flash information", 0, 6, false },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        m_bus = std::make_shared<EmulatorBackend>();
        setHidBackend(m_bus);
        const auto device = plug("T1", packed(1, 2, 0), [&](EmulatedDeviceConfig& config) {
            config.failReports = { { KSCAP_HID_FIRMWARE_INFO, ReportDirection::Input, 1, c.failedInfoReports } };
        });
        firmwareFile(1, 3, 9);

        const auto start = std::chrono::steady_clock::now();
        const CliResult r = run({ "upgrade", "--all", "--yes" });
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        const auto lines = linesOf(r.out);
        const bool verified
            = std::find(lines.begin(), lines.end(), "verified  Tovrak T1  T1  Unplug and replug required") != lines.end();
        EXPECT_EQ(verified, c.verified) << r.out << r.err;
        if (!c.verified)
        {
            EXPECT_NE(r.err.find("Could not read the device at " + device->path()
                                 + ": the flash information report failed"),
                      std::string::npos)
                << r.err;
            EXPECT_LT(seconds, 5.0) << "a few tries within about a second";
        }
    }
}

TEST_F(CliUpgrade, ASerialNumberSelectsEveryDeviceThatCarriesIt)
{
    const auto first = plug("T1");
    const auto second = plug("T1"); // a twin: the same serial number on another interface
    plug("T2");
    firmwareFile(1, 3, 9);

    const CliResult r = run({ "upgrade", "--serial", "T1", "--yes", "--json" });
    EXPECT_EQ(r.exitCode, CliExit::Ok) << r.out << r.err;
    const juce::var json = parseJson(r.out);
    ASSERT_TRUE(json.isObject()) << r.out;
    EXPECT_EQ(static_cast<int>(json["verifiedCount"]), 2);
    EXPECT_EQ(static_cast<int>(json["skippedCount"]), 0);
    ASSERT_EQ(json["devices"].size(), 2);
    for (const auto& device : *json["devices"].getArray())
    {
        EXPECT_EQ(device["serialNumber"].toString(), "T1");
        EXPECT_EQ(device["result"].toString(), "verified");
        EXPECT_EQ(static_cast<int>(device["attempts"]), 1);
    }
    EXPECT_GT(first->exchangeCount(0xF3, ReportDirection::Output), 0u);
    EXPECT_EQ(second->exchangeCount(0xF3, ReportDirection::Output), first->exchangeCount(0xF3, ReportDirection::Output));
}
