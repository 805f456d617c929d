// The whole program driven from outside as a user would: started against the demo's emulated
// devices, "Select All", "Update", Return in the confirmation, then Escape once the upgrade has
// ended. It runs on a display of its own, so that tests running at the same time cannot take
// its clicks and keys. When TOVRAK_UI_SHOTS names a folder, screenshots of the screen during
// and after the upgrade are written there.
#include "ProgramTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testing_support;

using namespace program_test;

namespace
{

int countInLog(const juce::File& log, const juce::String& text)
{
    const auto content = log.loadFileAsString();
    int count = 0;
    for (int at = content.indexOf(text); at >= 0; at = content.indexOf(at + 1, text))
        ++count;
    return count;
}

bool waitFor(const std::function<bool()>& condition, double seconds)
{
    for (int i = 0; i < seconds * 20; ++i)
    {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void screenshot(const char* name)
{
    const char* folder = std::getenv("TOVRAK_UI_SHOTS");
    if (folder == nullptr)
        return;
    juce::File(folder).createDirectory();
    run({ "import", "-window", "root", juce::File(folder).getChildFile(name).getFullPathName() });
}

// Clicks at a point of the program's window, in window coordinates.
void click(const juce::String& window, int x, int y)
{
    run({ "xdotool", "mousemove", "--window", window, juce::String(x), juce::String(y), "click", "1" });
}
} // namespace

TEST(ProgramUpgrade, DemoDevicesAreUpgradedFromTheWindow)
{
    if (!haveTools())
        GTEST_SKIP() << "needs Xvfb, xdotool and ImageMagick";
    PrivateDisplay display;
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";
    const juce::File firmware(TOVRAK_BUILD_DIR "/demo-firmware");
    ASSERT_TRUE(firmware.isDirectory()) << "build the demo-files target";

    TempFolder folder;
    juce::File(TOVRAK_SOURCE_DIR "/resources/translations.csv").copyFileTo(folder.file("translations.csv"));
    for (const auto& file : firmware.findChildFiles(juce::File::findFiles, false, "*.ksf"))
        file.copyFileTo(folder.file(file.getFileName()));
    const auto log = folder.file("TovrakUpgrade.log.txt");

    const pid_t pid = ::fork();
    if (pid == 0)
    {
        ::setenv("TOVRAK_EMULATOR", TOVRAK_SOURCE_DIR "/resources/scenarios/demo.json", 1);
        // A single-instance lock of its own: another copy of the program started by a test
        // running beside this one must not refuse this copy.
        ::setenv("XDG_RUNTIME_DIR", folder.get().getFullPathName().toRawUTF8(), 1);
        if (::chdir(folder.get().getFullPathName().toRawUTF8()) != 0)
            ::_exit(97);
        ::execl(PROGRAM_PATH, PROGRAM_PATH, static_cast<char*>(nullptr));
        ::_exit(98);
    }

    juce::String window;
    ASSERT_TRUE(waitFor([&] {
        window = run({ "xdotool", "search", "--name", "Tovrak Upgrade Utility" }).upToFirstOccurrenceOf("\n", false, false);
        return window.isNotEmpty();
    }, 20));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    screenshot("program-idle.png");

    // "Select All" sits at the left of the button strip, "Update" at its right (window
    // coordinates: 40 pixels of title bar above the content).
    click(window, 29, 40 + 612 + 17);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    click(window, 952 + 59, 40 + 612 + 17);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    screenshot("program-confirm.png");
    run({ "xdotool", "key", "Return" });

    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    screenshot("program-upgrading.png");
    EXPECT_LT(countInLog(log, "verify firmware data end."), 3) << "the upgrade should still run";

    // The demo has three devices with a firmware file.
    ASSERT_TRUE(waitFor([&] { return countInLog(log, "verify firmware data end.") == 3; }, 90));
    for (const char* serial : { "T207-533B-0042", "T204-534A-0318", "T211-412A-0007" })
    {
        EXPECT_EQ(countInLog(log, juce::String("start upgrade thread for ") + serial), 1) << serial;
        EXPECT_EQ(countInLog(log, juce::String("verify firmware data end.  device ") + serial), 1) << serial;
    }
    EXPECT_EQ(countInLog(log, "start upgrade thread for P208-300C-1977"), 0) << "no firmware file, not selectable";
    std::this_thread::sleep_for(std::chrono::seconds(2)); // the poll and the refill that follow
    screenshot("program-upgraded.png");

    // Escape is the hidden "Exit" button's shortcut: the program ends normally.
    run({ "xdotool", "key", "--window", window, "Escape" });
    const int code = waitForExit(pid, 15);
    if (code == -1)
        ::kill(pid, SIGKILL);
    EXPECT_EQ(code, 0);
}
