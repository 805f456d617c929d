// The station as a child process: Ctrl+C and termination requests while a device is being
// written, and the guard it shares with the window.
#include "CliTestSupport.h"
#include "Platform.h"
#include "StringResources.h"
#include "UpgradeStatus.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

using namespace cli_testing;
using testing_support::TempFolder;

namespace
{
const char* const kOneStudio = R"({ "devices": [ {
    "name": "Tovrak Studio", "serialNumber": "TVK534A000900", "productId": "0x0012",
    "productCode": 534, "revision": "A", "variant": 0, "runningVersion": "1.0.12",
    "flash": { "size": 8388608, "eraseUnitSize": 4096, "firmwareBaseAddress": "0x10000" },
    "installed": { "compatibilityCode": 3 },
    "timing": { "latencyMs": 1, "busyPolls": 1 } } ] })";

class StationProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        usePrivateInstanceScope();
        copyDemoFirmware(m_folder.get());
        juce::File(TOVRAK_SOURCE_DIR "/resources/translations.csv").copyFileTo(m_folder.file("translations.csv"));
        m_folder.file("studio.json").replaceWithText(kOneStudio);
        setEnvironment("TOVRAK_EMULATOR", m_folder.file("studio.json").getFullPathName());
    }

    void TearDown() override { setEnvironment("TOVRAK_EMULATOR", ""); }

    std::vector<juce::var> records() const
    {
        std::vector<juce::var> entries;
        for (const auto& line : linesOf(m_folder.file("TovrakStation.jsonl").loadFileAsString().toStdString()))
            entries.push_back(parseJson(line));
        return entries;
    }

    TempFolder m_folder;
};

#ifndef _WIN32
// The program with its standard output on a pipe, read line by line.
class Child
{
public:
    explicit Child(const std::vector<std::string>& args)
    {
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        std::vector<char*> argv;
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        m_fd = pipeEnds[0];
    }

    ~Child()
    {
        if (m_pid > 0 && m_exitCode < 0)
        {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool started() const { return m_pid > 0; }
    void signal(int number) { ::kill(m_pid, number); }

    // The next output line (without its end); empty when the output ended or the time ran out.
    std::string line(int timeoutMilliseconds = 30000)
    {
        const juce::uint32 until = juce::Time::getMillisecondCounter() + static_cast<juce::uint32>(timeoutMilliseconds);
        for (;;)
        {
            const size_t end = m_buffer.find('\n');
            if (end != std::string::npos)
            {
                std::string text = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                m_all += text + "\n";
                return text;
            }
            const int left = static_cast<int>(until - juce::Time::getMillisecondCounter());
            pollfd p { m_fd, POLLIN, 0 };
            if (left <= 0 || ::poll(&p, 1, left) <= 0)
                return {};
            char chunk[4096];
            const ssize_t got = ::read(m_fd, chunk, sizeof chunk);
            if (got <= 0)
                return {};
            m_buffer.append(chunk, static_cast<size_t>(got));
        }
    }

    // The next event of that name (other events are skipped); void when none came.
    juce::var event(const juce::String& name)
    {
        for (std::string text = line(); !text.empty(); text = line())
        {
            const juce::var parsed = parseJson(text);
            if (parsed["event"].toString() == name)
                return parsed;
        }
        return {};
    }

    int wait()
    {
        while (!line().empty())
        {
        }
        int status = 0;
        if (::waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status))
            m_exitCode = WEXITSTATUS(status);
        return m_exitCode;
    }

    const std::string& output() const { return m_all; }

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_buffer;
    std::string m_all;
    int m_exitCode = -1;
};
#endif
} // namespace

TEST_F(StationProgram, InterruptsWhileADeviceIsWritten)
{
#ifdef _WIN32
    GTEST_SKIP() << "signals are sent the POSIX way";
#else
    const struct
    {
        std::vector<int> signals;
        int exitCode;
        const char* result;
    } cases[] = {
        // The upgrade runs to its end; the second interrupt only warns.
        { { SIGINT }, 0, "verified" },
        { { SIGTERM, SIGINT }, 0, "verified" },
        // The third quits at once and leaves the device unfinished.
        { { SIGINT, SIGINT, SIGINT }, 1, "failed" },
    };
    for (const auto& c : cases)
    {
        m_folder.file("TovrakStation.jsonl").deleteFile();
        Child station({ CLI_PATH, "station", "--json", "--folder", m_folder.get().getFullPathName().toStdString() });
        ASSERT_TRUE(station.started());
        SCOPED_TRACE("signals: " + std::to_string(c.signals.size()));
        juce::var writing;
        do
            writing = station.event("phase");
        while (writing.isObject() && static_cast<int>(writing["status"]) != RESULT_WRITING);
        ASSERT_TRUE(writing.isObject()) << station.output();

        const char* answers[] = { "stopping", "warning", "quit" };
        for (size_t i = 0; i < c.signals.size(); ++i)
        {
            station.signal(c.signals[i]);
            const juce::var told = station.event(answers[i]);
            ASSERT_TRUE(told.isObject()) << answers[i] << ": " << station.output();
            EXPECT_EQ(static_cast<int>(told["running"]), 1);
            if (i == 1)
            {
                EXPECT_TRUE(told["message"].toString().contains("unusable")) << told["message"].toString();
            }
        }
        EXPECT_EQ(station.wait(), c.exitCode) << station.output();
        const auto entries = records();
        ASSERT_EQ(entries.size(), 1u) << station.output();
        EXPECT_EQ(entries[0]["serialNumber"].toString(), "TVK534A000900");
        EXPECT_EQ(entries[0]["result"].toString(), c.result);
    }
#endif
}

TEST_F(StationProgram, RefusesWhileTheWindowHoldsTheGuard)
{
    const std::string name = getStringFromBinaryData(StringId::InstanceName).toStdString();
    ASSERT_EQ(platform::acquireInstance(name), platform::InstanceOnly);
    juce::ChildProcess process;
    ASSERT_TRUE(process.start(juce::StringArray { CLI_PATH, "station", "--folder", m_folder.get().getFullPathName() },
                              juce::ChildProcess::wantStdErr));
    const std::string err = process.readAllProcessOutput().toStdString();
    process.waitForProcessToFinish(60000);
    platform::releaseInstance();
    EXPECT_EQ(process.getExitCode(), 5u);
    EXPECT_EQ(linesOf(err), (std::vector<std::string> { "Another Tovrak Utility is already running." }));
    EXPECT_FALSE(m_folder.file("TovrakStation.jsonl").exists()) << "nothing recorded, nothing touched";
}
