#pragma once

#include <cstdint>
#include <functional>
#include <string>

// What the operating system provides, with one contract on every platform.
// This layer is the only place that knows which platform it runs on.
namespace platform
{

// ---- Single running instance -------------------------------------------------------------
// Result of acquireInstance: the numbering of the single-instance check.
enum InstanceResult : int
{
    InstanceOnly = 0,          // this is the only running instance; the name is now held
    InstanceAlreadyRunning = 1, // another process holds the name
    InstancePermissionDenied = 2, // reserved, never produced
    InstanceCannotCreate = 3   // the named object could not be created
};

// Takes the process-wide instance object of the given name (Windows: a named event; Linux and
// macOS: an exclusive lock on a file named after it in the user's runtime or temp folder).
// Holding it again in the same process returns the previous result without a new object.
int acquireInstance(const std::string& name);

// Releases what acquireInstance took (no effect when nothing is held).
void releaseInstance();

// True while this process holds the instance object.
bool holdsInstance();

// Path of the lock file for a name (Linux and macOS only; empty elsewhere). For tests.
std::string instanceLockPath(const std::string& name);

// ---- User interface language --------------------------------------------------------------
// The user's default UI language as a Windows language id: the primary language is the low
// 10 bits (4 = Chinese). On Linux and macOS it comes from the first of LC_ALL, LC_MESSAGES and
// LANG that is set and not empty: 0x0804 when it starts with "zh", 0x0409 otherwise.
uint16_t getUserDefaultUILanguage();

constexpr uint16_t kPrimaryLanguageChinese = 4;
inline uint16_t primaryLanguage(uint16_t languageId) { return static_cast<uint16_t>(languageId & 0x3ff); }

// ---- Modal message box with no owner ---------------------------------------------------------
// Shows a modal message box with an OK button and waits until it is closed.
// Texts are UTF-8.
void showMessageBox(const std::string& title, const std::string& text);

// Tests replace the box (which would wait for a person) with a recorder; an empty function
// restores the real box.
using MessageBoxHandler = std::function<void(const std::string& title, const std::string& text)>;
void setMessageBoxHandler(MessageBoxHandler handler);

// ---- Display scale -----------------------------------------------------------------------------
// The global scale factor at which a window of the given design size fits the primary display.
// Windows: the primary display's effective DPI / 96, reduced when the display's logical
// full-screen area is smaller than the window (scaleToFitDisplay). Where no per-monitor DPI query
// exists (Linux, macOS, Windows before 8.1) it is 1.0 and the framework's own scaling applies.
float getScaleForWindowSize(int width, int height);

// The arithmetic of the rule: screen size in physical pixels and the DPI scale (DPI / 96).
// The logical area is the physical size divided by dpiScale, each cut to a whole number. A window
// that fits gets dpiScale; otherwise dpiScale times the smaller of the two fit ratios (logical
// size / window size), so that the window fits in both directions. A dpiScale of 0 or less
// gives 1.0.
float scaleToFitDisplay(int width, int height, int screenWidth, int screenHeight, float dpiScale);

// ---- Per-monitor display scaling ---------------------------------------------------------------
// Program start: looks for the shell scaling library "SHCore.dll" among the modules already
// loaded into the process (it is not loaded for this purpose) and fetches SetProcessDpiAwareness
// and GetDpiForMonitor from it; when both exist, the process is declared per-monitor DPI aware
// (SetProcessDpiAwareness(2), result ignored) and GetDpiForMonitor serves getScaleForWindowSize.
// Does nothing once the entry points have been fetched; elsewhere than Windows it does nothing.
// Returns true when the per-monitor DPI query is available.
bool initialiseDisplayScaling();

// ---- System timer resolution ---------------------------------------------------------------------
// While at least one object of this class exists anywhere in the process, the system timer runs
// at 1 ms resolution (Windows: timeBeginPeriod(1), restored by timeEndPeriod(1) when the last
// object goes), so that 1 ms sleeps are not stretched to the default 15.6 ms tick. Objects may be
// created and destroyed on any thread. Elsewhere than Windows only the count is kept.
class ScopedTimerResolution
{
public:
    ScopedTimerResolution();
    ~ScopedTimerResolution();
    ScopedTimerResolution(const ScopedTimerResolution&) = delete;
    ScopedTimerResolution& operator=(const ScopedTimerResolution&) = delete;

    // Number of objects that exist now, and whether the platform accepted the raised resolution
    // (false where there is nothing to raise). For tests.
    static int activeCount();
    static bool isRaised();
};

// ---- Application main loop -------------------------------------------------------------------------
// Runs the framework's application main loop (JUCEApplicationBase::main) and returns its exit
// code. On Windows the framework reads nothing from the arguments, which are ignored; elsewhere
// they are handed on, as the framework needs them on some platforms.
int runApplicationMain(int argc, const char* argv[]);

} // namespace platform
