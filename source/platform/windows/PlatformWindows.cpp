// Windows versions of the platform layer: named event, MessageBoxW, GetUserDefaultUILanguage,
// the SHCore display scaling entry points and the system timer resolution.
#include "../Platform.h"
#include "../PlatformDetail.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>

#include "WideText.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace platform
{
namespace
{
std::mutex g_instanceMutex;
HANDLE g_instanceEvent = nullptr; // guarded by g_instanceMutex

// The shell scaling entry points, fetched once from an already loaded SHCore.dll.
// Signatures as in shellscalingapi.h (PROCESS_DPI_AWARENESS and MONITOR_DPI_TYPE are ints).
using SetProcessDpiAwarenessFunc = HRESULT(WINAPI*)(int awareness);
using GetDpiForMonitorFunc = HRESULT(WINAPI*)(HMONITOR monitor, int dpiType, UINT* dpiX, UINT* dpiY);
std::mutex g_scalingMutex;
SetProcessDpiAwarenessFunc g_setProcessDpiAwareness = nullptr; // guarded by g_scalingMutex
std::atomic<GetDpiForMonitorFunc> g_getDpiForMonitor { nullptr };

constexpr int kProcessPerMonitorDpiAware = 2;
constexpr int kMonitorDpiEffective = 0;   // MDT_EFFECTIVE_DPI
constexpr double kDefaultDpi = 96.0;

} // namespace

std::string instanceObjectName(const std::string& name)
{
    std::string scoped = name;
    if (const char* scope = std::getenv(kInstanceScopeVariable); scope != nullptr && *scope != '\0')
    {
        // A backslash in an event name would name a kernel namespace.
        scoped += ' ';
        for (const char* c = scope; *c != '\0'; ++c)
            scoped += (*c == '\\') ? '_' : *c;
    }
    return scoped;
}

int acquireInstance(const std::string& name)
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (g_instanceEvent != nullptr)
        return InstanceOnly;

    // Default security, automatic reset, initially not signalled.
    ::SetLastError(ERROR_SUCCESS);
    HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, widen(instanceObjectName(name)).c_str());
    if (event == nullptr)
        return InstanceCannotCreate;
    if (::GetLastError() == ERROR_ALREADY_EXISTS)
    {
        // Another process holds the name. The handle is let go at once, so that a refused
        // instance does not keep the name alive after the first one has ended.
        ::CloseHandle(event);
        return InstanceAlreadyRunning;
    }
    g_instanceEvent = event;
    return InstanceOnly;
}

void releaseInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (g_instanceEvent == nullptr)
        return;
    ::SetEvent(g_instanceEvent);
    ::CloseHandle(g_instanceEvent);
    g_instanceEvent = nullptr;
}

bool holdsInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    return g_instanceEvent != nullptr;
}

std::string useChineseInterfaceTypeface()
{
    // Windows draws missing glyphs from other fonts itself; the name is the system's own choice.
    juce::LookAndFeel::getDefaultLookAndFeel().setDefaultSansSerifTypefaceName("FangSong");
    return "FangSong";
}

uint16_t getUserDefaultUILanguage()
{
    return static_cast<uint16_t>(::GetUserDefaultUILanguage());
}

void detail::showNativeMessageBox(const std::string& title, const std::string& text)
{
    // No owner window, type 0: an OK button only.
    ::MessageBoxW(nullptr, widen(text).c_str(), widen(title).c_str(), MB_OK);
}

bool initialiseDisplayScaling()
{
    std::lock_guard<std::mutex> lock(g_scalingMutex);
    if (g_setProcessDpiAwareness != nullptr && g_getDpiForMonitor.load() != nullptr)
        return true;

    // Only a library that is already loaded counts: GetModuleHandle does not load it.
    HMODULE shcore = ::GetModuleHandleW(L"SHCore.dll");
    if (shcore == nullptr)
        return false;
    const auto setAwareness = reinterpret_cast<SetProcessDpiAwarenessFunc>(
        reinterpret_cast<void*>(::GetProcAddress(shcore, "SetProcessDpiAwareness")));
    const auto getDpi = reinterpret_cast<GetDpiForMonitorFunc>(
        reinterpret_cast<void*>(::GetProcAddress(shcore, "GetDpiForMonitor")));
    if (setAwareness == nullptr || getDpi == nullptr)
        return false;

    g_setProcessDpiAwareness = setAwareness;
    g_getDpiForMonitor = getDpi;
    // Fails harmlessly when the awareness was set before (by a manifest or an earlier call).
    setAwareness(kProcessPerMonitorDpiAware);
    return true;
}

float getScaleForWindowSize(int width, int height)
{
    const GetDpiForMonitorFunc getDpi = g_getDpiForMonitor.load();
    if (getDpi == nullptr)
        return 1.0f;

    // The client area of a full-screen window on the primary display, in physical pixels.
    const int screenWidth = ::GetSystemMetrics(SM_CXFULLSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYFULLSCREEN);

    const HMONITOR monitor = ::MonitorFromPoint(POINT { 1, 1 }, MONITOR_DEFAULTTOPRIMARY);
    UINT dpiX = 0;
    UINT dpiY = 0;
    if (monitor == nullptr || getDpi(monitor, kMonitorDpiEffective, &dpiX, &dpiY) != S_OK)
        return 1.0f; // no answer: keep the framework's own scale
    const float dpiScale = static_cast<float>(dpiX / kDefaultDpi);
    return scaleToFitDisplay(width, height, screenWidth, screenHeight, dpiScale);
}

namespace detail
{
bool beginSystemTimerResolution()
{
    return ::timeBeginPeriod(1) == TIMERR_NOERROR;
}

void endSystemTimerResolution()
{
    ::timeEndPeriod(1);
}
} // namespace detail

int runApplicationMain(int, const char*[])
{
    // The Windows framework has only the argument-free main (it would read the command line
    // itself, which the program never asks for).
    return juce::JUCEApplicationBase::main();
}

// The framework's close request serves for a session that ends; the display of a Windows
// session does not go away under a running program.
bool watchSessionEnd(SessionEndHandler)
{
    return false;
}

void stopWatchingSessionEnd() {}

} // namespace platform
