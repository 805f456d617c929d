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

// Takes the process-wide instance object of the given name. Windows: a named event. Linux: a
// socket bound to the abstract name, one per machine for every user, released by the kernel when
// the process ends in any way. macOS: an exclusive lock on a file named after it in the user's
// runtime or temp folder. Holding it again in the same process returns the previous result
// without a new object.
int acquireInstance(const std::string& name);

// Releases what acquireInstance took (no effect when nothing is held).
void releaseInstance();

// True while this process holds the instance object.
bool holdsInstance();

// When this environment variable is set and not empty, its value is added to every instance
// name, so that programs started with different values do not refuse each other (test runs
// beside each other and beside a running copy of the program).
constexpr const char* kInstanceScopeVariable = "TOVRAK_INSTANCE_SCOPE";

// The name of the object that acquireInstance takes for a name: the scoped name (Linux: cut to
// fit a socket name, a long scope replaced by a hash), the event name (Windows), the lock file's
// path (macOS).
std::string instanceObjectName(const std::string& name);

// ---- User interface language --------------------------------------------------------------
// The user's default UI language as a Windows language id: the primary language is the low
// 10 bits (4 = Chinese). On Linux and macOS it comes from the first of LC_ALL, LC_MESSAGES and
// LANG that is set and not empty: 0x0804 when it starts with "zh", 0x0409 otherwise.
uint16_t getUserDefaultUILanguage();

constexpr uint16_t kPrimaryLanguageChinese = 4;
inline uint16_t primaryLanguage(uint16_t languageId) { return static_cast<uint16_t>(languageId & 0x3ff); }

// ---- Interface typeface ------------------------------------------------------------------------
// Makes the framework's default sans-serif typeface, which the program's fonts use, one that can
// draw Chinese. Windows: the family "FangSong". Linux and macOS: the installed font that
// fontconfig says covers Simplified Chinese, WenQuanYi Micro Hei or Noto Sans CJK SC first.
// Returns the family name chosen; an empty text, with nothing changed, when no installed font
// can draw Chinese.
std::string useChineseInterfaceTypeface();

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

// ---- The session ending the program from outside ----------------------------------------------------
// Why the desktop session ends the program: its display connection broke (logout, an X server
// that crashed or restarted, a lost ssh forwarding), or it was sent SIGTERM or SIGHUP.
enum class SessionEnd : int
{
    DisplayLost = 1,
    Terminated = 2, // SIGTERM
    HungUp = 3      // SIGHUP
};

// What the program does when the session ends it.
//  - DisplayLost: called on the thread whose display call found the connection broken (the
//    message thread), from inside the display library. The handler must not touch the display;
//    it ends the program's own work (upgrades, devices, log) and returns. This layer then ends
//    the process at once with sessionEndExitCode(DisplayLost), without running the static
//    destructors, which threads of the framework may still be using.
//  - Terminated, HungUp: called on a watcher thread of this layer, never inside the signal
//    handler; the handler hands the work to the message thread. Later signals while the first
//    is being handled are handed on as well.
using SessionEndHandler = std::function<void(SessionEnd)>;

// Starts watching (Linux: SIGTERM, SIGHUP and the X connection of the framework, which must be
// open already; macOS: the signals). Replaces an earlier handler. Returns false when nothing
// could be watched. Windows: does nothing and returns false (the framework's close request
// serves there).
bool watchSessionEnd(SessionEndHandler handler);

// Stops watching: from now on SIGTERM and SIGHUP are ignored (the program is ending anyway) and
// the watcher thread has ended when this returns. The display hook stays: a display that breaks
// during the rest of the shutdown still ends the process at once.
void stopWatchingSessionEnd();

// The exit code for an end the session forced: 1 for a lost display, 128 + the signal number
// for a signal (the code a shell shows for a process ended by that signal).
int sessionEndExitCode(SessionEnd reason);

// Words for the log: "the display connection broke", "SIGTERM", "SIGHUP".
const char* describeSessionEnd(SessionEnd reason);

} // namespace platform
