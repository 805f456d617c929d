// The program started where there is no display to open its window on: over ssh without X
// forwarding, or with DISPLAY naming a server that is not there.
#include "ProgramTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using testing_support::TempFolder;

namespace
{
struct Outcome
{
    int status = -1; // exit code, or 128 + signal
    std::string err;
};

// Runs the program in `folder` with DISPLAY set to `display` (unset when null) and collects its
// standard error.
Outcome runWithDisplay(const juce::File& folder, const char* display)
{
    const juce::File errFile = folder.getChildFile("stderr.txt");
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        if (::chdir(folder.getFullPathName().toRawUTF8()) != 0)
            ::_exit(97);
        const int fd = ::open(errFile.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::dup2(fd, 2) < 0)
            ::_exit(96);
        if (display == nullptr)
            ::unsetenv("DISPLAY");
        else
            ::setenv("DISPLAY", display, 1);
        ::execl(PROGRAM_PATH, PROGRAM_PATH, static_cast<char*>(nullptr));
        ::_exit(98);
    }
    Outcome outcome;
    outcome.status = program_test::waitForExit(pid, 30);
    if (outcome.status == -1)
    {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    outcome.err = errFile.loadFileAsString().toStdString();
    return outcome;
}
} // namespace

TEST(ProgramWithoutDisplay, SaysSoInOneLineAndExitsWithStatusOne)
{
    struct Case
    {
        const char* display;
        const char* says;
    } const cases[] = {
        { nullptr, "DISPLAY is not set" },
        { "", "DISPLAY is not set" },
        { ":4711", "cannot open the display \":4711\"" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.display == nullptr ? "DISPLAY unset" : c.display);
        TempFolder folder;
        const Outcome outcome = runWithDisplay(folder.get(), c.display);
        EXPECT_EQ(outcome.status, 1) << "not a crash, not success";
        ASSERT_FALSE(outcome.err.empty());
        EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << "exactly one line: " << outcome.err;
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find("tovrak-cli"), std::string::npos) << "names the way to work without a display";
        const juce::String log = folder.file("TovrakUpgrade.log.txt").loadFileAsString();
        EXPECT_TRUE(log.contains(" ERROR WinMain() ") && log.contains(c.says)) << log;
    }
}
