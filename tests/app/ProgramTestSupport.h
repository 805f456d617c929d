#pragma once
// Helpers for tests that start the real program: a private X display, child processes, waits.

#include <juce_core/juce_core.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace program_test
{
inline juce::String run(const juce::StringArray& command)
{
    juce::ChildProcess process;
    if (!process.start(command))
        return {};
    auto output = process.readAllProcessOutput();
    process.waitForProcessToFinish(10000);
    return output.trim();
}

inline bool haveTools()
{
    return std::system("command -v Xvfb >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1 "
                       "&& command -v import >/dev/null 2>&1") == 0;
}

// A virtual X display of its own for the duration of a test; DISPLAY points at it meanwhile, so
// the program and the tools started from the test use it.
class PrivateDisplay
{
public:
    PrivateDisplay()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0)
        {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // Xvfb writes its display number once it accepts connections.
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (number.empty())
            return;
        if (const char* previous = std::getenv("DISPLAY"))
            m_previous = previous;
        m_display = ":" + number;
        ::setenv("DISPLAY", m_display.c_str(), 1);
    }

    ~PrivateDisplay()
    {
        if (m_previous.empty())
            ::unsetenv("DISPLAY");
        else
            ::setenv("DISPLAY", m_previous.c_str(), 1);
        if (m_pid > 0)
        {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    bool ok() const { return !m_display.empty(); }

private:
    pid_t m_pid = -1;
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
} // namespace program_test
