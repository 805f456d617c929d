// Starts the real program on a display of its own, with a single-instance scope of its own: the
// entry's log lines, the refusal of a second copy, the Chinese window (glyphs drawn where the
// texts are) and a Chinese start without "translations.csv" or without a Chinese font.
#include "ProgramTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <juce_graphics/juce_graphics.h>

#include <csignal>
#include <functional>
#include <map>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace testing_support;
using namespace program_test;

namespace
{
using Environment = std::vector<std::pair<const char*, juce::String>>;

pid_t startProgram(const juce::File& folder, const Environment& environment = {})
{
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        // Copies started by tests running beside this one must not refuse this one.
        ::setenv("TOVRAK_INSTANCE_SCOPE", folder.getFullPathName().toRawUTF8(), 1);
        for (const auto& [name, value] : environment)
            ::setenv(name, value.toRawUTF8(), 1);
        if (::chdir(folder.getFullPathName().toRawUTF8()) != 0)
            ::_exit(97);
        ::execl(PROGRAM_PATH, PROGRAM_PATH, static_cast<char*>(nullptr));
        ::_exit(98);
    }
    return pid;
}

bool waitForLogLine(const juce::File& log, const juce::String& text, double seconds)
{
    return waitFor([&] { return log.loadFileAsString().contains(text); }, seconds);
}

juce::StringArray windowsNamed(const juce::String& name)
{
    return juce::StringArray::fromLines(run({ "xdotool", "search", "--onlyvisible", "--name", "^" + name + "$" }));
}

// The visible windows of a process with their names.
juce::StringArray windowsOf(pid_t pid)
{
    juce::StringArray names;
    for (const auto& id : visibleWindowsOf(pid))
        if (id.isNotEmpty())
            names.add(run({ "xdotool", "getwindowname", id }));
    return names;
}

void pressReturn()
{
    run({ "xdotool", "key", "Return" });
}

// A demo folder: the emulated devices, their firmware files and, when asked for, the texts.
Environment demoIn(const TempFolder& folder, bool withTexts)
{
    if (withTexts)
        juce::File(TOVRAK_SOURCE_DIR "/resources/translations.csv").copyFileTo(folder.file("translations.csv"));
    for (const auto& file : juce::File(TOVRAK_BUILD_DIR "/demo-firmware").findChildFiles(juce::File::findFiles, false, "*.ksf"))
        file.copyFileTo(folder.file(file.getFileName()));
    return { { "TOVRAK_EMULATOR", TOVRAK_SOURCE_DIR "/resources/scenarios/demo.json" }, { "LC_ALL", "" },
             { "LC_MESSAGES", "" } };
}

// Pixels of an area that differ clearly from the area's own background (its most common colour):
// the ink of whatever is drawn there.
int inkIn(const juce::Image& image, juce::Rectangle<int> area)
{
    std::map<juce::uint32, int> counts;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
            ++counts[image.getPixelAt(x, y).getARGB()];
    juce::Colour background;
    int most = 0;
    for (const auto& [argb, count] : counts)
        if (count > most)
            std::tie(background, most) = std::make_pair(juce::Colour(argb), count);
    int ink = 0;
    for (int y = area.getY(); y < area.getBottom(); ++y)
        for (int x = area.getX(); x < area.getRight(); ++x)
        {
            const auto c = image.getPixelAt(x, y);
            if (std::abs(c.getRed() - background.getRed()) + std::abs(c.getGreen() - background.getGreen())
                    + std::abs(c.getBlue() - background.getBlue())
                > 90)
                ++ink;
        }
    return ink;
}

// The window's pixels, cut from a shot of the whole screen: `import -window <id>` grabs the server
// and then waits for an event from the window, which a program blocked by that grab never sends.
juce::Image shotOfWindow(const juce::String& window, const juce::File& file)
{
    const auto geometry = juce::StringArray::fromLines(run({ "xdotool", "getwindowgeometry", "--shell", window }));
    int x = 0, y = 0, width = 0, height = 0;
    for (const auto& line : geometry)
    {
        const int number = line.fromFirstOccurrenceOf("=", false, false).getIntValue();
        if (line.startsWith("X=")) x = number;
        else if (line.startsWith("Y=")) y = number;
        else if (line.startsWith("WIDTH=")) width = number;
        else if (line.startsWith("HEIGHT=")) height = number;
    }
    run({ "import", "-window", "root", file.getFullPathName() });
    const auto screen = juce::ImageFileFormat::loadFrom(file);
    if (!screen.isValid() || width <= 0 || height <= 0)
        return {};
    const auto shot = screen.getClippedImage({ x, y, width, height }).createCopy();
    file.deleteFile();
    juce::FileOutputStream out(file);
    juce::PNGImageFormat().writeImageToStream(shot, out);
    return shot;
}

// Where the texts are, in window coordinates (a 40 pixel title bar above the content): the right
// half of the summary line (its picture, left of the text, moves with the text's width and stays
// left of x 600 even when the text is empty), the first row's "Device Name" cell, the text of
// "Select All" right of its box, and "Update".
const struct
{
    const char* what;
    juce::Rectangle<int> area;
} kTextAreas[] = {
    { "summary line", { 600, 40 + 30, 480, 52 } },
    { "name cell of row 1", { 135, 40 + 112 + 36, 180, 60 } },
    { "Select All", { 50, 40 + 590 + 22, 68, 35 } },
    { "Update", { 952 + 6, 40 + 590 + 22 + 6, 118 - 12, 35 - 12 } }, // inside the button's edge
};
} // namespace

TEST(ProgramStart, LogsVersionAndRefusesASecondCopy)
{
    if (!haveTools())
        GTEST_SKIP() << "needs Xvfb and xdotool";
    PrivateDisplay display;
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";
    TempFolder folder;
    juce::File(TOVRAK_SOURCE_DIR "/resources/translations.csv").copyFileTo(folder.file("translations.csv"));
    const auto log = folder.file("TovrakUpgrade.log.txt");

    const pid_t first = startProgram(folder.get());
    ASSERT_TRUE(waitForLogLine(log, "Current TovrakUpgrade version 2.0.1.51214", 20));
    ASSERT_TRUE(waitFor([] { return windowsNamed("Tovrak Upgrade Utility").size() >= 1; }, 20));

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

TEST(ProgramStart, ChineseWindowDrawsItsTexts)
{
    if (!haveTools())
        GTEST_SKIP() << "needs Xvfb, xdotool and ImageMagick";
    PrivateDisplay display;
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";

    // The same window in English and in Chinese: both must have ink where the texts are, and the
    // Chinese ink must not be the English one.
    std::map<juce::String, std::vector<int>> inkByLanguage;
    for (const juce::String language : { "en_US.UTF-8", "zh_CN.UTF-8" })
    {
        TempFolder folder;
        auto environment = demoIn(folder, true);
        environment.emplace_back("LANG", language);
        const pid_t pid = startProgram(folder.get(), environment);
        const juce::String title = language.startsWith("zh") ? juce::String::fromUTF8("Tovrak \xe5\x8d\x87\xe7\xba\xa7\xe5\xb7\xa5\xe5\x85\xb7")
                                                             : juce::String("Tovrak Upgrade Utility");
        juce::String window;
        EXPECT_TRUE(waitFor([&] { return (window = windowsNamed(title)[0]).isNotEmpty(); }, 20)) << language;
        std::this_thread::sleep_for(std::chrono::seconds(2)); // the rows are filled and painted
        const juce::Image shot = shotOfWindow(window, folder.file("window.png"));
        ASSERT_TRUE(shot.isValid()) << language;
        if (const char* shots = std::getenv("TOVRAK_UI_SHOTS"))
            folder.file("window.png").copyFileTo(juce::File(shots).getChildFile("window-" + language.substring(0, 2) + ".png"));
        for (const auto& text : kTextAreas)
        {
            const int ink = inkIn(shot, text.area);
            EXPECT_GT(ink, 20) << language << ": no glyphs in the " << text.what;
            inkByLanguage[language].push_back(ink);
        }
        ::kill(pid, SIGTERM);
        waitForExit(pid, 10);
    }
    for (size_t i = 0; i < std::size(kTextAreas); ++i)
    {
        if (i == 1)
            continue; // device names come from the devices: the same in both languages
        EXPECT_NE(inkByLanguage["en_US.UTF-8"][i], inkByLanguage["zh_CN.UTF-8"][i])
            << "the " << kTextAreas[i].what << " is drawn in English on a Chinese system";
    }
}

TEST(ProgramStart, ChineseStartWithoutTextsShowsTwoBoxesThenTheWindow)
{
    if (!haveTools())
        GTEST_SKIP() << "needs Xvfb and xdotool";
    PrivateDisplay display;
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";
    TempFolder folder;
    auto environment = demoIn(folder, false);
    environment.emplace_back("LANG", "zh_CN.UTF-8");
    const pid_t pid = startProgram(folder.get(), environment);

    juce::StringArray boxesSeen;
    for (int box = 1; box <= 2; ++box)
    {
        juce::String id;
        ASSERT_TRUE(waitFor([&] {
            for (const auto& window : windowsNamed("Fatal"))
                if (window.isNotEmpty() && !boxesSeen.contains(window))
                    id = window;
            return id.isNotEmpty();
        }, 20)) << "box " << box;
        boxesSeen.add(id);
        EXPECT_EQ(waitForExit(pid, 0.1), -1) << "the program waits for its box " << box;
        pressReturn();
        ASSERT_TRUE(waitFor([&] { return !windowsNamed("Fatal").contains(id); }, 10)) << "box " << box;
    }
    // No texts: the window has an empty name, and no third box comes.
    ASSERT_TRUE(waitFor([&] { return windowsOf(pid) == juce::StringArray { "" }; }, 20)) << windowsOf(pid).joinIntoString("|");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(windowsOf(pid), juce::StringArray { "" });
    EXPECT_EQ(waitForExit(pid, 0.1), -1) << "the program runs on with its window";
    ::kill(pid, SIGTERM);
    EXPECT_EQ(waitForExit(pid, 10), 128 + SIGTERM);
}

TEST(ProgramStart, ChineseWithoutAChineseFontStaysEnglish)
{
    if (!haveTools())
        GTEST_SKIP() << "needs Xvfb and xdotool";
    PrivateDisplay display;
    ASSERT_TRUE(display.ok()) << "Xvfb did not start";
    TempFolder folder;
    auto environment = demoIn(folder, true);
    environment.emplace_back("LANG", "zh_CN.UTF-8");
    // A font configuration that knows no font at all.
    folder.file("fonts.conf").replaceWithText("<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n");
    environment.emplace_back("FONTCONFIG_FILE", folder.file("fonts.conf").getFullPathName());
    const pid_t pid = startProgram(folder.get(), environment);

    EXPECT_TRUE(waitFor([] { return windowsNamed("Tovrak Upgrade Utility").size() == 1; }, 20));
    const auto log = folder.file("TovrakUpgrade.log.txt").loadFileAsString();
    EXPECT_EQ(log.indexOf("no installed font can draw Chinese"), log.lastIndexOf("no installed font can draw Chinese"));
    EXPECT_TRUE(log.contains("no installed font can draw Chinese; the texts stay English"));
    EXPECT_FALSE(log.contains("not find translation text")) << "English texts need no lookup";
    ::kill(pid, SIGTERM);
    waitForExit(pid, 10);
}
