#include "Platform.h"
#include "SingleInstanceGuard.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
std::string uniqueName()
{
    return "tovrak-test-guard-" + std::to_string(::getpid());
}

// Starts the probe (a fresh program, not a fork that would inherit this process's state), as
// another user when uid is given.
pid_t startProbe(const std::string& name, const char* mode, uid_t uid = 0, int* output = nullptr)
{
    int fds[2] = { -1, -1 };
    if (output != nullptr && ::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        if (output != nullptr)
            ::dup2(fds[1], STDOUT_FILENO);
        if (uid != 0 && (::setgid(uid) != 0 || ::setuid(uid) != 0))
            ::_exit(96);
        ::execl(INSTANCE_PROBE_PATH, INSTANCE_PROBE_PATH, name.c_str(), mode, static_cast<char*>(nullptr));
        ::_exit(99);
    }
    if (output != nullptr)
    {
        ::close(fds[1]);
        *output = fds[0];
    }
    return pid;
}

int exitCodeOf(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int checkInChild(const std::string& name, const char* mode = nullptr, uid_t uid = 0)
{
    return exitCodeOf(startProbe(name, mode, uid));
}

// The first line the probe prints: the result of its check.
int firstResultOf(int fd)
{
    char c = 0;
    std::string line;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    ::close(fd);
    return line.empty() ? -1 : std::atoi(line.c_str());
}

struct ScopedScope
{
    explicit ScopedScope(const std::string& value) { ::setenv(platform::kInstanceScopeVariable, value.c_str(), 1); }
    ~ScopedScope() { ::unsetenv(platform::kInstanceScopeVariable); }
};
} // namespace

TEST(SingleInstanceGuard, SecondProcessIsRefusedUntilTheFirstReleases)
{
    const auto name = uniqueName();
    {
        SingleInstanceGuard first(name);
        ASSERT_EQ(first.check(), 0);
        EXPECT_EQ(checkInChild(name), 1);
    }
    // The first instance has passed shutdown: a new one may start.
    EXPECT_EQ(checkInChild(name), 0);
}

TEST(SingleInstanceGuard, AKilledHolderLeavesNothingBehind)
{
    const auto name = uniqueName() + "-killed";
    int output = -1;
    const pid_t holder = startProbe(name, "hold", 0, &output);
    ASSERT_EQ(firstResultOf(output), 0);
    EXPECT_EQ(checkInChild(name), 1);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(checkInChild(name), 0) << "a crashed copy must not keep later ones out";
}

TEST(SingleInstanceGuard, AnotherUsersCopyIsRefusedAndRefuses)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "starting a copy as another user needs root";
    const uid_t nobody = 65534;
    const auto name = uniqueName() + "-users";
    {
        SingleInstanceGuard root(name);
        ASSERT_EQ(root.check(), 0);
        EXPECT_EQ(checkInChild(name, nullptr, nobody), 1);
    }
    int output = -1;
    const pid_t holder = startProbe(name, "hold", nobody, &output);
    ASSERT_EQ(firstResultOf(output), 0);
    EXPECT_EQ(checkInChild(name), 1);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(checkInChild(name), 0);
}

TEST(SingleInstanceGuard, TheScopeVariableSeparatesCopies)
{
    const auto name = uniqueName() + "-scoped";
    const std::string longScope(300, 'a');
    const struct
    {
        std::string held, other;
        int expected;
    } cases[] = {
        { "/tmp/run-1", "/tmp/run-1", 1 },
        { "/tmp/run-1", "/tmp/run-2", 0 },
        { "/tmp/run-1", "", 0 },
        { longScope, longScope, 1 },               // too long for a socket name: a hash of it
        { longScope, longScope.substr(1) + "b", 0 }, // differs only at the end
    };
    for (const auto& c : cases)
    {
        ::setenv(platform::kInstanceScopeVariable, c.held.c_str(), 1);
        SingleInstanceGuard held(name);
        ASSERT_EQ(held.check(), 0);
        ScopedScope other(c.other);
        EXPECT_EQ(checkInChild(name), c.expected) << "held with '" << c.held.substr(0, 20) << "', checked with '"
                                                  << c.other.substr(0, 20) << "'";
    }
}

TEST(SingleInstanceGuard, LongNamesAreCutTo63Characters)
{
    const std::string longName(100, 'x');
    SingleInstanceGuard guard(longName);
    EXPECT_EQ(std::string(guard.getName()), std::string(63, 'x'));
}

TEST(SingleInstanceGuard, NoDescriptorForTheObjectGivesResult3)
{
    EXPECT_EQ(checkInChild(uniqueName() + "-no-files", "no-new-files"), 3);
}
