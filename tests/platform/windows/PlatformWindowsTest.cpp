// The Windows platform layer against the real system calls: named event, message box, user
// interface language and the display scale entry points.
#include "Platform.h"

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace
{
std::wstring wide(const std::string& utf8)
{
    return juce::String::fromUTF8(utf8.c_str()).toWideCharPointer();
}

std::string uniqueName(const std::string& what)
{
    return "tovrak-test-" + what + "-" + std::to_string(::GetCurrentProcessId());
}

bool namedEventExists(const std::wstring& name)
{
    HANDLE event = ::OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
    if (event == nullptr)
        return false;
    ::CloseHandle(event);
    return true;
}

// The check of a second program (the instance probe), as the program's second copy runs it.
int checkInOtherProcess(const std::string& name)
{
    // The build's path may be written the Unix way (cross build run under Wine): as a File it
    // becomes a full Windows path on the current drive.
    const juce::String probe = juce::File::getCurrentWorkingDirectory().getChildFile(INSTANCE_PROBE_PATH).getFullPathName();
    juce::ChildProcess child;
    if (!child.start(juce::StringArray { probe, juce::String::fromUTF8(name.c_str()) }, 0))
        return -1;
    if (!child.waitForProcessToFinish(60000))
        return -2;
    return static_cast<int>(child.getExitCode());
}

// Guards against a test that fails half-way leaving the name held for the next one.
struct ReleaseAtEnd
{
    ~ReleaseAtEnd() { platform::releaseInstance(); }
};
} // namespace

TEST(WindowsInstance, NamedEventIsHeldUntilReleasedAndRefusesASecondProgram)
{
    ReleaseAtEnd release;
    const std::string name = uniqueName("held");
    ASSERT_FALSE(namedEventExists(wide(name)));

    ASSERT_EQ(platform::acquireInstance(name), platform::InstanceOnly);
    EXPECT_TRUE(platform::holdsInstance());
    EXPECT_TRUE(namedEventExists(wide(name))) << "no event of exactly that name";
    // Asking again in the same process keeps the same event.
    EXPECT_EQ(platform::acquireInstance(name), platform::InstanceOnly);

    EXPECT_EQ(checkInOtherProcess(name), platform::InstanceAlreadyRunning);

    platform::releaseInstance();
    EXPECT_FALSE(platform::holdsInstance());
    EXPECT_FALSE(namedEventExists(wide(name))) << "the event outlived its release";
    // The first instance has ended: a new one may start.
    EXPECT_EQ(checkInOtherProcess(name), platform::InstanceOnly);
}

TEST(WindowsInstance, NameHeldElsewhereGivesResult1AndKeepsNothing)
{
    ReleaseAtEnd release;
    const std::string name = uniqueName("elsewhere");
    // Stands for the first running copy.
    HANDLE first = ::CreateEventW(nullptr, FALSE, FALSE, wide(name).c_str());
    ASSERT_NE(first, nullptr);

    EXPECT_EQ(platform::acquireInstance(name), platform::InstanceAlreadyRunning);
    EXPECT_FALSE(platform::holdsInstance());

    // Once the first copy has gone, the name is free: the refused check held no handle to it.
    ::CloseHandle(first);
    EXPECT_FALSE(namedEventExists(wide(name)));
    EXPECT_EQ(platform::acquireInstance(name), platform::InstanceOnly);
}

TEST(WindowsInstance, EventThatCannotBeCreatedGivesResult3)
{
    ReleaseAtEnd release;
    // A different kind of object already carries the name: CreateEventW fails.
    const std::string name = uniqueName("mutex");
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, wide(name).c_str());
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(platform::acquireInstance(name), platform::InstanceCannotCreate);
    EXPECT_FALSE(platform::holdsInstance());
    ::CloseHandle(mutex);

    // A name in a namespace that does not exist.
    EXPECT_EQ(platform::acquireInstance("NoSuchNamespace\\" + uniqueName("namespace")), platform::InstanceCannotCreate);
}

TEST(WindowsInstance, NamesAreWidenedFromUtf8)
{
    ReleaseAtEnd release;
    const std::string name = uniqueName("caf\xC3\xA9-\xE4\xB8\xAD"); // "café-中"
    ASSERT_EQ(platform::acquireInstance(name), platform::InstanceOnly);
    const std::wstring expected = L"tovrak-test-caf\u00E9-\u4E2D-" + std::to_wstring(::GetCurrentProcessId());
    EXPECT_TRUE(namedEventExists(expected));
}

TEST(WindowsLanguage, IsTheUsersDefaultUiLanguage)
{
    EXPECT_EQ(platform::getUserDefaultUILanguage(), ::GetUserDefaultUILanguage());
    // The test run sets this when it starts the process in a known language (Wine takes the
    // language from the Unix locale): 4 for Chinese, 9 for English.
    if (const char* expected = std::getenv("TOVRAK_EXPECT_PRIMARY_LANGUAGE"))
        EXPECT_EQ(platform::primaryLanguage(platform::getUserDefaultUILanguage()), std::atoi(expected));
}

namespace
{
struct SeenBox
{
    std::wstring text;
    bool hasOwner = true;
    bool hasOk = false;
    bool hasCancel = true;
};

// Waits for a top-level dialog of that title, notes what it shows and presses its OK button.
bool pressOkOnBox(const std::wstring& title, SeenBox& seen)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (HWND box = ::FindWindowW(L"#32770", title.c_str()))
        {
            wchar_t text[512] = {};
            ::GetDlgItemTextW(box, 0xFFFF, text, 512); // the message box's static text
            seen.text = text;
            seen.hasOwner = ::GetWindow(box, GW_OWNER) != nullptr;
            seen.hasOk = ::GetDlgItem(box, IDOK) != nullptr;
            seen.hasCancel = ::GetDlgItem(box, IDCANCEL) != nullptr;
            ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}
} // namespace

TEST(WindowsMessageBox, ShowsTitleAndTextWithOnlyAnOkButtonAndNoOwner)
{
    platform::setMessageBoxHandler({});
    const std::string title = "Fatal " + std::to_string(::GetCurrentProcessId());
    SeenBox seen;
    std::atomic<bool> pressed { false };
    std::thread presser([&] { pressed = pressOkOnBox(wide(title), seen); });

    // Returns only when the box is closed.
    platform::showMessageBox(title, "Can not find translations.csv. \xE4\xB8\xAD\xE6\x96\x87");
    presser.join();

    ASSERT_TRUE(pressed.load()) << "no message box with that title appeared";
    EXPECT_EQ(seen.text, L"Can not find translations.csv. \u4E2D\u6587");
    EXPECT_FALSE(seen.hasOwner);
    EXPECT_TRUE(seen.hasOk);
    EXPECT_FALSE(seen.hasCancel);
}

TEST(WindowsDisplayScale, ShcoreIsLookedUpAmongLoadedModulesOnly)
{
    const bool loadedBefore = ::GetModuleHandleW(L"SHCore.dll") != nullptr;
    const bool available = platform::initialiseDisplayScaling();
    EXPECT_EQ(::GetModuleHandleW(L"SHCore.dll") != nullptr, loadedBefore) << "the lookup loaded SHCore.dll";
    if (!loadedBefore)
    {
        EXPECT_FALSE(available);
        EXPECT_FLOAT_EQ(platform::getScaleForWindowSize(1090, 709), 1.0f);
        EXPECT_FLOAT_EQ(platform::getScaleForWindowSize(100000, 100000), 1.0f);
    }
}

TEST(WindowsDisplayScale, FollowsTheRuleWithThePrimaryDisplaysMetrics)
{
    // Loaded by the test, as the framework or the shell would have loaded it in the program.
    HMODULE shcore = ::LoadLibraryW(L"shcore.dll");
    ASSERT_NE(shcore, nullptr);
    ASSERT_TRUE(platform::initialiseDisplayScaling());
    // Fetched once: a second call changes nothing.
    EXPECT_TRUE(platform::initialiseDisplayScaling());

    using GetDpiForMonitorFunc = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    const auto getDpi = reinterpret_cast<GetDpiForMonitorFunc>(
        reinterpret_cast<void*>(::GetProcAddress(shcore, "GetDpiForMonitor")));
    ASSERT_NE(getDpi, nullptr);
    UINT dpiX = 0;
    UINT dpiY = 0;
    ASSERT_EQ(getDpi(::MonitorFromPoint(POINT { 1, 1 }, MONITOR_DEFAULTTOPRIMARY), 0, &dpiX, &dpiY), S_OK);
    const float dpiScale = static_cast<float>(dpiX / 96.0);
    const int screenWidth = ::GetSystemMetrics(SM_CXFULLSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYFULLSCREEN);
    ASSERT_GT(screenWidth, 0);
    ASSERT_GT(screenHeight, 0);

    // A window that fits gets the DPI scale itself.
    EXPECT_FLOAT_EQ(platform::getScaleForWindowSize(1, 1), dpiScale);
    // The design size, whatever the display.
    EXPECT_FLOAT_EQ(platform::getScaleForWindowSize(1090, 709),
                    platform::scaleToFitDisplay(1090, 709, screenWidth, screenHeight, dpiScale));
    // A window larger than the display is shrunk by the smaller fit ratio.
    const int logicalWidth = static_cast<int>(screenWidth / dpiScale);
    const int logicalHeight = static_cast<int>(screenHeight / dpiScale);
    const float expected = dpiScale * std::min(static_cast<float>(logicalWidth / 4.0 / screenWidth),
                                               static_cast<float>(logicalHeight / 4.0 / screenHeight));
    EXPECT_NEAR(platform::getScaleForWindowSize(screenWidth * 4, screenHeight * 4), expected, 1e-5);
}
