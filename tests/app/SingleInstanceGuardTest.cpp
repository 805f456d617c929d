#include "Platform.h"
#include "SingleInstanceGuard.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace
{
std::string uniqueName()
{
    return "tovrak-test-guard-" + std::to_string(::getpid());
}

// Runs the check in another process (a fresh program, not a fork that would inherit this
// process's state) and returns its result.
int checkInChild(const std::string& name)
{
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        ::execl(INSTANCE_PROBE_PATH, INSTANCE_PROBE_PATH, name.c_str(), static_cast<char*>(nullptr));
        ::_exit(99);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
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

TEST(SingleInstanceGuard, LongNamesAreCutTo63Characters)
{
    const std::string longName(100, 'x');
    SingleInstanceGuard guard(longName);
    EXPECT_EQ(std::string(guard.getName()), std::string(63, 'x'));
}

TEST(SingleInstanceGuard, UncreatableLockGivesResult3)
{
    const char* previous = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = previous != nullptr ? previous : "";
    ::setenv("XDG_RUNTIME_DIR", "/proc", 1); // exists but is not writable: falls back to TMPDIR
    ::setenv("TMPDIR", "/nonexistent-tovrak-folder", 1);
    SingleInstanceGuard guard(uniqueName() + "-unwritable");
    EXPECT_EQ(guard.check(), 3);
    ::unsetenv("TMPDIR");
    if (previous != nullptr)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

TEST(SingleInstanceGuard, NameWithSlashStaysInTheRuntimeFolder)
{
    const auto path = platform::instanceLockPath("a/../b");
    EXPECT_EQ(path.find("/../"), std::string::npos) << path;
}
