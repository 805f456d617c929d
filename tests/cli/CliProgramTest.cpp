// The tovrak-cli program as a script runs it: a child process with TOVRAK_EMULATOR naming a
// scenario, its output, its exit code, its log file, and the guard it shares with the window.
#include "CliTestSupport.h"
#include "Platform.h"
#include "StringResources.h"

#include <gtest/gtest.h>


using namespace cli_testing;
using testing_support::TempFolder;

namespace
{
struct ProgramResult
{
    int exitCode = -1;
    std::string output;
};

// Runs the program in `folder` with the scenario; stdout or stderr only, so that the two can be
// told apart.
ProgramResult runProgram(const juce::File& folder, const juce::File& scenario, juce::StringArray args,
                         int streams = juce::ChildProcess::wantStdOut)
{
    setEnvironment("TOVRAK_EMULATOR", scenario.getFullPathName());
    juce::StringArray command { CLI_PATH };
    command.addArray(args);
    command.addArray({ "--folder", folder.getFullPathName() });
    juce::ChildProcess process;
    ProgramResult result;
    if (!process.start(command, streams))
        return result;
    result.output = process.readAllProcessOutput().toStdString();
    if (process.waitForProcessToFinish(120000))
        result.exitCode = static_cast<int>(process.getExitCode());
    setEnvironment("TOVRAK_EMULATOR", "");
    return result;
}

class CliProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        usePrivateInstanceScope();
        copyDemoFirmware(m_folder.get());
        juce::File(TOVRAK_SOURCE_DIR "/resources/translations.csv").copyFileTo(m_folder.file("translations.csv"));
    }

    TempFolder m_folder;
    const juce::File m_demo { TOVRAK_SOURCE_DIR "/resources/scenarios/demo.json" };
    // Runs the program through a link from a folder without texts or firmware files.
    ProgramResult runThroughLink(const juce::File& folder, juce::StringArray args, int streams)
    {
        const juce::File link = m_folder.file("bin/tovrak-cli");
        link.getParentDirectory().createDirectory();
        juce::File(CLI_PATH).createSymbolicLink(link, true);
        setEnvironment("TOVRAK_EMULATOR", m_demo.getFullPathName());
        // Found through PATH, as a shell starts it: the program then knows itself only by name.
        const juce::String path = juce::SystemStats::getEnvironmentVariable("PATH", "");
#ifdef _WIN32
        const char* const separator = ";";
#else
        const char* const separator = ":";
#endif
        setEnvironment("PATH", link.getParentDirectory().getFullPathName() + separator + path);
        juce::ChildProcess process;
        ProgramResult result;
        args.insert(0, "tovrak-cli");
        args.addArray({ "--folder", folder.getFullPathName() });
        if (process.start(args, streams))
        {
            result.output = process.readAllProcessOutput().toStdString();
            if (process.waitForProcessToFinish(60000))
                result.exitCode = static_cast<int>(process.getExitCode());
        }
        setEnvironment("TOVRAK_EMULATOR", "");
        setEnvironment("PATH", path);
        return result;
    }

    const juce::File m_line { CLI_SCENARIO_DIR "/line-one-faulty.json" };
};
} // namespace

TEST_F(CliProgram, ListsTheDemoScenarioAsTextAndJson)
{
    const ProgramResult text = runProgram(m_folder.get(), m_demo, { "list" });
    EXPECT_EQ(text.exitCode, 0) << text.output;
    const auto lines = linesOf(text.output);
    ASSERT_EQ(lines.size(), 6u) << text.output;
    EXPECT_NE(lines[1].find("T207-533B-0042"), std::string::npos);
    EXPECT_NE(lines[1].find("Can be upgraded, can be safely upgraded."), std::string::npos);
    EXPECT_NE(lines[4].find("Firmware file not found"), std::string::npos);
    EXPECT_EQ(lines[5], "Found 4 device(s), of which 2 can be upgraded and 1 can be downgraded.");

    const ProgramResult json = runProgram(m_folder.get(), m_demo, { "list", "--json" });
    EXPECT_EQ(json.exitCode, 0);
    const juce::var parsed = parseJson(json.output);
    ASSERT_TRUE(parsed.isObject()) << json.output;
    EXPECT_EQ(parsed["devices"].size(), 4) << "the keyboard of the scenario is not listed";
    EXPECT_EQ(static_cast<int>(parsed["devices"][1]["productCode"]), 534);
    EXPECT_FALSE(static_cast<bool>(parsed["devices"][1]["safe"]));
}

TEST_F(CliProgram, ProductionLineWithOneFaultyDevice)
{
    const ProgramResult r = runProgram(m_folder.get(), m_line, { "upgrade", "--all", "--yes" });
    EXPECT_EQ(r.exitCode, 1) << r.output;
    const auto lines = linesOf(r.output);
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("verified  Tovrak HD60 Pro  TVK533B000042  Unplug and replug required")) << r.output;
    EXPECT_TRUE(has("verified  Tovrak Studio    TVK534A000318  Unplug and replug required")) << r.output;
    EXPECT_TRUE(has("FAILED    Tovrak HD60 Pro  TVK533B000043  Failed to upgrade, please retry. (Error in erasing, 3 attempts)"))
        << r.output;
    EXPECT_TRUE(has("2 verified, 1 failed."));

    // The window's log file, in the folder the command worked in.
    const juce::String log = m_folder.file("TovrakUpgrade.log.txt").loadFileAsString();
    EXPECT_TRUE(log.contains("INFOR main() command line: upgrade --all --yes --folder "));
    EXPECT_TRUE(log.contains("start upgrade thread for TVK533B000043"));
    EXPECT_TRUE(log.contains("TVK533B000043 failed after 3 attempt(s)"));
    EXPECT_TRUE(log.contains("exit code 1"));
}

TEST_F(CliProgram, RefusesWhileTheWindowHoldsTheGuardAndRunsAfterwards)
{
    // This test process stands in for the window: it holds the same named object.
    const std::string name = getStringFromBinaryData(StringId::InstanceName).toStdString();
    ASSERT_EQ(platform::acquireInstance(name), platform::InstanceOnly);
    const ProgramResult refused = runProgram(m_folder.get(), m_demo, { "list" }, juce::ChildProcess::wantStdErr);
    EXPECT_EQ(refused.exitCode, 5);
    EXPECT_EQ(linesOf(refused.output), (std::vector<std::string> { "Another Tovrak Utility is already running." }));
    const ProgramResult refusedUpgrade = runProgram(m_folder.get(), m_demo, { "upgrade", "--all", "--yes" });
    EXPECT_EQ(refusedUpgrade.exitCode, 5);
    EXPECT_TRUE(refusedUpgrade.output.empty());
    platform::releaseInstance();

    EXPECT_EQ(runProgram(m_folder.get(), m_demo, { "list" }).exitCode, 0);
}

TEST_F(CliProgram, UsageErrorsAndTheHotPluggedDeviceOfAScenario)
{
    const ProgramResult usage = runProgram(m_folder.get(), m_demo, { "upgrade" }, juce::ChildProcess::wantStdErr);
    EXPECT_EQ(usage.exitCode, 4);
    EXPECT_NE(usage.output.find("upgrade needs --all or --serial SN"), std::string::npos) << usage.output;

    m_folder.file("plug.json").replaceWithText(R"({ "devices": [
        { "name": "Late", "serialNumber": "LATE1", "productCode": 533, "revision": "B", "variant": 1,
          "runningVersion": "1.2.30", "faults": { "appearAtMs": 600, "vanishAtMs": 1400 } } ] })");
    const ProgramResult watch = runProgram(m_folder.get(), m_folder.file("plug.json"), { "watch", "--seconds", "3" });
    EXPECT_EQ(watch.exitCode, 0);
    EXPECT_EQ(linesOf(watch.output),
              (std::vector<std::string> { "attached  LATE1  Late  1.2.30", "detached  LATE1  Late  1.2.30" }));
}

TEST_F(CliProgram, StartedThroughALinkItFindsTheTextsBesideTheRealProgram)
{
#ifdef _WIN32
    GTEST_SKIP() << "the link on the PATH is the Linux package's layout";
#endif
    TempFolder empty;
    const ProgramResult err = runThroughLink(empty.get(), { "list" }, juce::ChildProcess::wantStdErr);
    EXPECT_EQ(err.exitCode, 0);
    EXPECT_EQ(err.output, "") << "no complaint about translations.csv";
    EXPECT_TRUE(empty.file("TovrakUpgrade.log.txt").existsAsFile()) << "the log goes to the folder worked in";
    const ProgramResult out = runThroughLink(empty.get(), { "list" }, juce::ChildProcess::wantStdOut);
    EXPECT_NE(out.output.find("Firmware file not found"), std::string::npos) << "no firmware files there: " << out.output;
}

// Where the log goes, and that --help and --version leave none: the program copied into the
// package's layout (<prefix>/lib/tovrak-upgrade, texts in <prefix>/share/tovrak-upgrade) and
// the program in the build tree, each run from a folder of its own.
TEST_F(CliProgram, TheInstalledProgramLogsIntoTheUsersFolderAndHelpLogsNothing)
{
#ifdef _WIN32
    GTEST_SKIP() << "the package's layout is Linux's";
#else
    TempFolder tree;
    const juce::File installed = tree.file("usr/lib/tovrak-upgrade/tovrak-cli");
    installed.getParentDirectory().createDirectory();
    ASSERT_TRUE(juce::File(CLI_PATH).copyFileTo(installed));
    ASSERT_TRUE(installed.setExecutePermission(true));
    tree.file("usr/share/tovrak-upgrade").createDirectory();
    juce::File(TOVRAK_SOURCE_DIR "/resources/translations.csv").copyFileTo(tree.file("usr/share/tovrak-upgrade/translations.csv"));
    const juce::File work = tree.file("work"), home = tree.file("home"), given = tree.file("given"), xdg = tree.file("xdg");
    for (const auto& folder : { work, home, given, xdg })
        folder.createDirectory();
    const juce::String previousHome = juce::SystemStats::getEnvironmentVariable("HOME", "");
    setEnvironment("HOME", home.getFullPathName());
    testing_support::ScopedWorkingDirectory inWork(work);

    struct Case
    {
        const char* what;
        juce::String program;
        juce::StringArray args;
        const char* xdgDataHome;
        juce::File expectedLog; // juce::File() when no log may be written anywhere
    };
    const juce::File userFolder = home.getChildFile(".local/share/tovrak-upgrade");
    const Case cases[] = {
        { "installed, no --folder", installed.getFullPathName(), { "list" }, "", userFolder.getChildFile("TovrakUpgrade.log.txt") },
        { "installed, XDG_DATA_HOME", installed.getFullPathName(), { "list" }, "xdg", xdg.getChildFile("tovrak-upgrade/TovrakUpgrade.log.txt") },
        { "installed, relative XDG_DATA_HOME is ignored", installed.getFullPathName(), { "list" }, "relative/data",
          userFolder.getChildFile("TovrakUpgrade.log.txt") },
        { "installed, --folder", installed.getFullPathName(), { "list", "--folder", given.getFullPathName() }, "",
          given.getChildFile("TovrakUpgrade.log.txt") },
        { "build tree", CLI_PATH, { "list" }, "", work.getChildFile("TovrakUpgrade.log.txt") },
        { "installed --help", installed.getFullPathName(), { "--help" }, "", juce::File() },
        { "installed --version", installed.getFullPathName(), { "--version" }, "", juce::File() },
        { "build tree --version", CLI_PATH, { "--version" }, "", juce::File() },
        { "build tree list --help", CLI_PATH, { "list", "--help" }, "", juce::File() },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        // (The folders stay: the test runs in one of them.)
        for (const auto& folder : { work, home, given, xdg })
            for (const auto& log : folder.findChildFiles(juce::File::findFiles, true, "TovrakUpgrade.log.txt"))
                log.deleteFile();
        const juce::String xdgValue = juce::String(c.xdgDataHome) == "xdg" ? xdg.getFullPathName() : juce::String(c.xdgDataHome);
        setEnvironment("XDG_DATA_HOME", xdgValue);
        setEnvironment("TOVRAK_EMULATOR", m_demo.getFullPathName());
        juce::StringArray command { c.program };
        command.addArray(c.args);
        juce::ChildProcess process;
        ASSERT_TRUE(process.start(command, juce::ChildProcess::wantStdOut));
        const std::string output = process.readAllProcessOutput().toStdString();
        ASSERT_TRUE(process.waitForProcessToFinish(60000));
        EXPECT_EQ(process.getExitCode(), 0u) << output;

        juce::Array<juce::File> logs;
        for (const auto& folder : { work, home, given, xdg })
            logs.addArray(folder.findChildFiles(juce::File::findFiles, true, "TovrakUpgrade.log.txt"));
        if (c.expectedLog == juce::File())
            EXPECT_TRUE(logs.isEmpty()) << logs[0].getFullPathName();
        else
        {
            ASSERT_EQ(logs.size(), 1) << (logs.isEmpty() ? juce::String("no log") : logs[0].getFullPathName());
            EXPECT_EQ(logs[0], c.expectedLog);
            EXPECT_TRUE(logs[0].loadFileAsString().contains("exit code 0"));
        }
        if (c.args[0] == "--version")
        {
            EXPECT_EQ(output, "tovrak-cli 2.0.1.51214\n");
        }
        if (c.args.contains("--help"))
        {
            EXPECT_EQ(output.rfind("Usage:\n", 0), 0u) << output;
        }
    }
    setEnvironment("XDG_DATA_HOME", "");
    setEnvironment("TOVRAK_EMULATOR", "");
    setEnvironment("HOME", previousHome);
#endif
}
