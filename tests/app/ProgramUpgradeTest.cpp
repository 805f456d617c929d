// The whole program driven from outside as a user would: started against the demo's emulated
// devices, "Select All", "Update", Return in the confirmation, then Escape once the upgrade has
// ended. It runs on a display of its own, so that tests running at the same time cannot take
// its clicks and keys. Every step waits for what the program does (its windows, its log lines,
// its exit), never for a fixed time. When TOVRAK_UI_SHOTS names a folder, screenshots of the
// screen during and after the upgrade are written there.
//
// Then the ends a desktop session forces on the program: the display going away and SIGTERM /
// SIGHUP, while idle and while devices are being written.
#include "ProgramTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testing_support;

using namespace program_test;

namespace
{
// Generous nets for a program slowed down by a sanitizer on a busy machine; the steps end as
// soon as the program has done what they wait for.
constexpr double kStartSeconds = 120;
constexpr double kUpgradeSeconds = 240;

// The demo's devices with a firmware file, and the one without.
const char* const kUpgradedSerials[] = { "T207-533B-0042", "T204-534A-0318", "T211-412A-0007" };

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

// The program in a folder of its own with the demo's firmware files and texts, on the display
// the test set up, its standard error kept in the folder.
class ProgramRun
{
public:
    ProgramRun() : m_keep(log())
    {
        const juce::File firmware(TOVRAK_BUILD_DIR "/demo-firmware");
        juce::File(TOVRAK_SOURCE_DIR "/resources/translations.csv").copyFileTo(m_folder.file("translations.csv"));
        for (const auto& file : firmware.findChildFiles(juce::File::findFiles, false, "*.ksf"))
            file.copyFileTo(m_folder.file(file.getFileName()));
    }

    ~ProgramRun()
    {
        m_keep.keepNow(); // while the program still shows what went wrong
        if (m_pid > 0 && waitForExit(m_pid, 0.05) == -1)
        {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    juce::File log() const { return m_folder.file("TovrakUpgrade.log.txt"); }
    juce::File errors() const { return m_folder.file("stderr.txt"); }
    pid_t pid() const { return m_pid; }

    void start()
    {
        const std::string folder = m_folder.get().getFullPathName().toStdString();
        const std::string errors = this->errors().getFullPathName().toStdString();
        m_pid = ::fork();
        if (m_pid == 0)
        {
            ::setenv("TOVRAK_EMULATOR", TOVRAK_SOURCE_DIR "/resources/scenarios/demo.json", 1);
            // A single-instance lock of its own: another copy of the program started by a test
            // running beside this one must not refuse this copy.
            ::setenv("TOVRAK_INSTANCE_SCOPE", folder.c_str(), 1);
            if (::chdir(folder.c_str()) != 0)
                ::_exit(97);
            const int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0)
                ::dup2(fd, 2);
            ::execl(PROGRAM_PATH, PROGRAM_PATH, static_cast<char*>(nullptr));
            ::_exit(98);
        }
    }

    // The main window once it is on the screen (created and filled with the device rows) and has
    // stopped moving: the window is mapped first and centred afterwards, and a click placed
    // relative to it in between lands where the window no longer is.
    juce::String waitForWindow()
    {
        juce::String window;
        waitFor([&] {
            window = run({ "xdotool", "search", "--onlyvisible", "--name", "Tovrak Upgrade Utility" })
                         .upToFirstOccurrenceOf("\n", false, false);
            return window.isNotEmpty();
        }, kStartSeconds);
        if (window.isEmpty())
            return {};
        juce::String previous;
        waitFor([&] {
            const auto geometry = run({ "xdotool", "getwindowgeometry", window });
            const bool settled = geometry.isNotEmpty() && geometry == previous;
            previous = geometry;
            if (!settled)
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
            return settled;
        }, kStartSeconds);
        return window;
    }

    // "Select All", "Update", and Return in the confirmation once it is on the screen. Returns
    // false (with the reason recorded) when a step has no effect.
    bool startUpgradeOfAll(const juce::String& window)
    {
        // A click that arrives while the new window is still settling can be lost. The pair of
        // clicks is repeated until the confirmation is on the screen; "Select All" toggles, so a
        // repeat after a lost "Update" unticks and the next one ticks again.
        juce::String alert;
        for (int attempt = 0; attempt < 6 && alert.isEmpty(); ++attempt)
        {
            // "Select All" sits at the left of the button strip, "Update" at its right (window
            // coordinates: 40 pixels of title bar above the content).
            click(window, 29, 40 + 612 + 17);
            click(window, 952 + 59, 40 + 612 + 17);
            waitFor([&] {
                alert = confirmationWindow(window);
                return alert.isNotEmpty();
            }, kStartSeconds / 6);
        }
        EXPECT_TRUE(alert.isNotEmpty()) << "no confirmation after \"Select All\" and \"Update\"";
        if (alert.isEmpty())
            return false;
        screenshot("program-confirm.png");
        run({ "xdotool", "key", "--window", alert, "Return" });
        const bool started = waitFor([&] { return countInFile(log(), "start upgrade thread for ") == 3; }, kStartSeconds);
        EXPECT_TRUE(started) << "three upgrade workers should start";
        return started;
    }

    // The program's confirmation: a visible window of its own, 500 x 300, beside the main one.
    juce::String confirmationWindow(const juce::String& window) const
    {
        for (const auto& id : visibleWindowsOf(m_pid))
            if (id.isNotEmpty() && id != window
                && run({ "xdotool", "getwindowgeometry", id }).contains("Geometry: 500x300"))
                return id;
        return {};
    }

    bool waitForLog(const juce::String& text, int count, double seconds)
    {
        return waitFor([&] { return countInFile(log(), text) >= count; }, seconds);
    }

private:
    TempFolder m_folder;
    KeepOnFailure m_keep;
    pid_t m_pid = -1;
};

bool haveDemoFiles()
{
    return juce::File(TOVRAK_BUILD_DIR "/demo-firmware").isDirectory();
}

// The program started on a display of its own, its main window on the screen.
class ProgramWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveTools())
            GTEST_SKIP() << "needs Xvfb, xdotool and ImageMagick";
        ASSERT_TRUE(haveDemoFiles()) << "build the demo-files target";
        display = std::make_unique<PrivateDisplay>();
        ASSERT_TRUE(display->ok()) << "Xvfb did not start";
        program = std::make_unique<ProgramRun>();
        program->start();
        window = program->waitForWindow();
        ASSERT_TRUE(window.isNotEmpty()) << "the main window did not appear";
    }

    void TearDown() override
    {
        program.reset(); // keeps what a failure needs while the display is still there
        display.reset();
    }

    std::unique_ptr<PrivateDisplay> display;
    std::unique_ptr<ProgramRun> program;
    juce::String window;
};

using ProgramUpgrade = ProgramWindow;
} // namespace

TEST_F(ProgramUpgrade, DemoDevicesAreUpgradedFromTheWindow)
{
    ProgramRun& program = *this->program;
    screenshot("program-idle.png");
    ASSERT_TRUE(program.startUpgradeOfAll(window));
    if (program.waitForLog("write firmware data begin.", 1, kUpgradeSeconds))
        screenshot("program-upgrading.png");

    ASSERT_TRUE(program.waitForLog("verify firmware data end.", 3, kUpgradeSeconds));
    for (const char* serial : kUpgradedSerials)
    {
        EXPECT_EQ(countInFile(program.log(), juce::String("start upgrade thread for ") + serial), 1) << serial;
        EXPECT_EQ(countInFile(program.log(), juce::String("verify firmware data end.  device ") + serial), 1) << serial;
    }
    EXPECT_EQ(countInFile(program.log(), "start upgrade thread for P208-300C-1977"), 0) << "no firmware file, not selectable";

    // Escape is the hidden "Exit" button's shortcut. The window refuses it until the table's
    // poll has seen every worker end, so it is pressed until the program has ended normally.
    int code = -1;
    for (int attempt = 0; attempt < 60 && code == -1; ++attempt)
    {
        if (attempt == 0)
            screenshot("program-upgraded.png");
        run({ "xdotool", "key", "--window", window, "Escape" });
        code = waitForExit(program.pid(), 2);
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(countInFile(program.log(), "the program ends, exit code 0"), 1);
}

// The session takes the display away or sends a signal: the program ends in order. Devices being
// written are written to the end and verified before the program ends, no upgrade starts
// afterwards, the log says why, and the exit code is not 0.
struct SessionEndCase
{
    const char* name;
    bool duringUpgrade;
    int signalNumber;     // 0: the X server goes away instead
    int exitCode;
    const char* reason;   // as the log gives it
};

class ProgramSessionEnd : public ProgramWindow, public ::testing::WithParamInterface<SessionEndCase>
{
};

TEST_P(ProgramSessionEnd, EndsInOrder)
{
    const SessionEndCase& c = GetParam();
    ProgramRun& program = *this->program;

    if (c.duringUpgrade)
    {
        ASSERT_TRUE(program.startUpgradeOfAll(window));
        // A device is being written.
        ASSERT_TRUE(program.waitForLog("write firmware data begin.", 1, kUpgradeSeconds));
    }

    if (c.signalNumber == 0)
        display->kill();
    else
        ::kill(program.pid(), c.signalNumber);
    const int code = waitForExit(program.pid(), kUpgradeSeconds);
    EXPECT_EQ(code, c.exitCode);

    const juce::String log = program.log().loadFileAsString();
    EXPECT_TRUE(log.contains(juce::String("the session ends the program (") + c.reason + ")")) << c.reason;
    EXPECT_EQ(countInFile(program.log(), "the program ends with exit code " + juce::String(c.exitCode)), 1);
    if (c.duringUpgrade)
    {
        // Written to the end and verified, each once, and only after the session ended it.
        const juce::String afterEnd = log.fromFirstOccurrenceOf("the session ends the program", false, false);
        for (const char* serial : kUpgradedSerials)
            EXPECT_EQ(countInFile(program.log(), juce::String("verify firmware data end.  device ") + serial), 1) << serial;
        EXPECT_EQ(countInFile(program.log(), "start upgrade thread for "), 3) << "no upgrade starts again";
        EXPECT_TRUE(afterEnd.contains("verify firmware data end.")) << "the flashes were still running at the end";
        // The end comes after the last flash.
        EXPECT_FALSE(log.fromLastOccurrenceOf("upgrades ended and devices released", false, false)
                         .contains("CTovrakDevice::Upgrade"));
    }
    else
    {
        EXPECT_EQ(countInFile(program.log(), "start upgrade thread for "), 0);
    }
    // Nothing of the threads' ends for a sanitizer to find (empty in a plain build).
    const juce::String errors = program.errors().loadFileAsString();
    EXPECT_FALSE(errors.contains("Sanitizer")) << errors;
}

INSTANTIATE_TEST_SUITE_P(, ProgramSessionEnd,
                         ::testing::Values(SessionEndCase { "DisplayGoesWhileIdle", false, 0, 1, "the display connection broke" },
                                           SessionEndCase { "DisplayGoesWhileWriting", true, 0, 1, "the display connection broke" },
                                           SessionEndCase { "SigtermWhileWriting", true, SIGTERM, 128 + 15, "SIGTERM" },
                                           SessionEndCase { "SighupWhileIdle", false, SIGHUP, 128 + 1, "SIGHUP" }),
                         [](const auto& info) { return std::string(info.param.name); });
