#pragma once
// Helpers for tests that start the real program: a private X display, child processes, waits,
// and what a failing test keeps for the person reading the CI log.

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace program_test
{
// Runs a tool (xdotool, import, ...) and returns its output; a tool that has not ended after a
// minute is killed, so a tool stuck on the display fails the test instead of hanging it.
inline juce::String run(const juce::StringArray& command)
{
    juce::StringArray limited{ "timeout", "-k", "5", "60" };
    limited.addArray(command);
    juce::ChildProcess process;
    if (!process.start(limited))
        return {};
    auto output = process.readAllProcessOutput();
    process.waitForProcessToFinish(10000);
    return output.trim();
}

// The ids of a process's visible windows.
inline juce::StringArray visibleWindowsOf(pid_t pid)
{
    return juce::StringArray::fromLines(run({ "xdotool", "search", "--onlyvisible", "--pid", juce::String(pid) }));
}

inline bool haveTools()
{
    return std::system("command -v Xvfb >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1 "
                       "&& command -v import >/dev/null 2>&1") == 0;
}

// A virtual X display of its own for the duration of a test; DISPLAY points at it meanwhile, so
// the program and the tools started from the test use it. A server that names its display but
// does not answer a client there is replaced (up to three servers), so a test never starts the
// program on a display that is not there; the servers' own messages go to `log()`. The server
// never resets: by default an X server resets when its last client leaves, and a client that
// connects during the reset (the program, right after a tool has looked at the display) is
// refused.
class PrivateDisplay
{
public:
    PrivateDisplay()
    {
        m_log = juce::File::createTempFile(".xvfb.txt");
        for (int attempt = 0; attempt < 3 && m_display.empty(); ++attempt)
        {
            const std::string number = start();
            if (number.empty())
                continue;
            const std::string probe = "xdpyinfo -display :" + number + " >/dev/null 2>>'"
                                      + m_log.getFullPathName().toStdString() + "'";
            if (waitForAnswer(probe))
                m_display = ":" + number;
            else
                kill(SIGTERM);
        }
        if (m_display.empty())
            return;
        if (const char* previous = std::getenv("DISPLAY"))
            m_previous = previous;
        ::setenv("DISPLAY", m_display.c_str(), 1);
    }

    ~PrivateDisplay()
    {
        if (m_previous.empty())
            ::unsetenv("DISPLAY");
        else
            ::setenv("DISPLAY", m_previous.c_str(), 1);
        kill(SIGTERM);
        if (::testing::Test::HasFailure() && m_log.getSize() > 0)
            std::cout << "---- the X server's messages ----\n" << m_log.loadFileAsString() << std::endl;
        m_log.deleteFile();
    }

    bool ok() const { return !m_display.empty(); }
    const juce::File& log() const { return m_log; }
    bool running() const { return m_pid > 0; }

    // Ends the X server now (SIGKILL: as if it crashed), breaking every client's connection.
    void kill(int signalNumber = SIGKILL)
    {
        if (m_pid > 0)
        {
            ::kill(m_pid, signalNumber);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    // Starts one server; its display number once it accepts connections, or "".
    std::string start()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return {};
        const std::string logPath = m_log.getFullPathName().toStdString();
        m_pid = ::fork();
        if (m_pid == 0)
        {
            ::close(fds[0]);
            if (FILE* log = std::freopen(logPath.c_str(), "a", stderr); log == nullptr)
                ::_exit(126);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (number.empty())
            kill(SIGTERM);
        return number;
    }

    static bool waitForAnswer(const std::string& probe)
    {
        for (int i = 0; i < 50; ++i)
        {
            if (std::system(probe.c_str()) == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    pid_t m_pid = -1;
    juce::File m_log;
    std::string m_display;
    std::string m_previous;
};

inline int waitForExit(pid_t pid, double seconds)
{
    for (int i = 0; i < seconds * 20; ++i)
    {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

// Polls a condition every 50 ms until it holds; false when it still does not after `seconds`
// (a net for a program that hangs, not a measure of its speed). The limit is wall time: a
// condition that runs tools takes longer than the pause between polls, most of all in a
// sanitizer build, where each fork of the test process is slow.
inline bool waitFor(const std::function<bool()>& condition, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now()
                        + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

inline int countInFile(const juce::File& file, const juce::String& text)
{
    const auto content = file.loadFileAsString();
    int count = 0;
    for (int at = content.indexOf(text); at >= 0; at = content.indexOf(at + 1, text))
        ++count;
    return count;
}

// When the test running now has failed by the time this goes (declare it after the display and
// the program's folder, so it goes first), it keeps a screenshot of the display and the program's
// log under <build>/test-failures/<suite>.<test>/ and prints the log's end and the folder into
// the test's output, which ctest --output-on-failure (and so CI) shows. With TOVRAK_KEEP_LOGS set
// it keeps them for a test that passed as well (to read what the program did).
class KeepOnFailure
{
public:
    explicit KeepOnFailure(juce::File log) : m_log(std::move(log)) {}
    KeepOnFailure(const KeepOnFailure&) = delete;
    KeepOnFailure& operator=(const KeepOnFailure&) = delete;

    ~KeepOnFailure() { keepNow(); }

    // Keeps what there is now (once), e.g. before the program is stopped.
    void keepNow()
    {
        if (m_kept || (!::testing::Test::HasFailure() && std::getenv("TOVRAK_KEEP_LOGS") == nullptr))
            return;
        m_kept = true;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const juce::File folder = juce::File(TOVRAK_BUILD_DIR "/test-failures")
                                      .getChildFile(juce::String(info->test_suite_name()) + "." + info->name());
        folder.deleteRecursively();
        folder.createDirectory();
        if (std::getenv("DISPLAY") != nullptr)
            run({ "import", "-window", "root", folder.getChildFile("screen.png").getFullPathName() });
        m_log.copyFileTo(folder.getChildFile(m_log.getFileName()));
        const auto lines = juce::StringArray::fromLines(m_log.loadFileAsString());
        std::cout << "---- the program's log (last lines of " << lines.size() << ") ----\n";
        for (int i = juce::jmax(0, lines.size() - 80); i < lines.size(); ++i)
            std::cout << lines[i] << "\n";
        std::cout << "---- log and screenshot kept in " << folder.getFullPathName() << std::endl;
    }

private:
    juce::File m_log;
    bool m_kept = false;
};
} // namespace program_test
