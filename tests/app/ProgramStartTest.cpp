// Starts the real program on a display of its own, with a single-instance lock of its own, to
// check the entry's log lines and that a second copy ends without a main window.
#include "ProgramTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testing_support;
using namespace program_test;

namespace
{
pid_t startProgram(const juce::File& folder)
{
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        if (::chdir(folder.getFullPathName().toRawUTF8()) != 0)
            ::_exit(97);
        ::execl(PROGRAM_PATH, PROGRAM_PATH, static_cast<char*>(nullptr));
        ::_exit(98);
    }
    return pid;
}

bool waitForLogLine(const juce::File& log, const juce::String& text, double seconds)
{
    for (int i = 0; i < seconds * 20; ++i)
    {
        if (log.loadFileAsString().contains(text))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

int windowsNamed(const juce::String& name)
{
    juce::ChildProcess search;
    if (!search.start(juce::StringArray { "xdotool", "search", "--name", name }))
        return -1;
    return juce::StringArray::fromLines(search.readAllProcessOutput().trim()).size();
}

void pressReturn()
{
    juce::ChildProcess key;
    if (key.start(juce::StringArray { "xdotool", "key", "Return" }))
        key.waitForProcessToFinish(5000);
}
} // namespace

TEST(ProgramStart, LogsVersionAndRefusesASecondCopy)
{
    if (!haveTools())
        GTEST_SKIP() << "needs Xvfb and xdotool";
    PrivateDisplay display;
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";
    TempFolder folder;
    // The copies started here lock in the test's folder, not in the user's runtime folder.
    ::setenv("XDG_RUNTIME_DIR", folder.get().getFullPathName().toRawUTF8(), 1);
    juce::File(TOVRAK_SOURCE_DIR "/resources/translations.csv").copyFileTo(folder.file("translations.csv"));
    const auto log = folder.file("TovrakUpgrade.log.txt");

    const pid_t first = startProgram(folder.get());
    ASSERT_TRUE(waitForLogLine(log, "Current TovrakUpgrade version 2.0.1.51214", 20));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const int windowsBefore = windowsNamed("Tovrak Upgrade Utility");
    EXPECT_GE(windowsBefore, 1);

    const pid_t second = startProgram(folder.get());
    ASSERT_TRUE(waitForLogLine(log, "single instance check result 1", 20));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(waitForExit(second, 0.1), -1) << "the second copy must wait for its alert to be closed";
    pressReturn();
    EXPECT_EQ(waitForExit(second, 10), 1);

    const auto lines = readLines(log);
    ASSERT_GE(lines.size(), 5);
    EXPECT_EQ(lines[0], "Log inited OK . ..............................................");
    EXPECT_TRUE(lines[1].contains(" INFOR WinMain() Current TovrakUpgrade version 2.0.1.51214 "));
    EXPECT_EQ(lines[2], "Log inited OK . ..............................................");

    // Once the first copy has gone, a new one starts.
    ::kill(first, SIGTERM);
    EXPECT_NE(waitForExit(first, 10), -1);
    const pid_t third = startProgram(folder.get());
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(waitForExit(third, 0.1), -1) << "the new copy must be running";
    EXPECT_FALSE(log.loadFileAsString().fromLastOccurrenceOf("Log inited OK", false, false).contains("single instance check result"));
    ::kill(third, SIGTERM);
    waitForExit(third, 10);
}
