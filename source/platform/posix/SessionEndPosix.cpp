// The desktop session ending the program: SIGTERM and SIGHUP, and (Linux) the X connection of
// the framework breaking.
//
// Signals: the handler only writes the signal number into a pipe (write is async-signal-safe); a
// watcher thread reads it and calls the program's handler outside signal context.
//
// X: when the connection breaks, Xlib calls the I/O error handler and then exit(), which runs the
// static destructors while the program's threads (device monitoring, upgrade workers, the
// framework's timer thread) still use what they free. The framework's own handler only stops
// its message loop. This layer puts its own handler in the framework's place, so the program can
// end in order from there and leave without exit(). Xlib is the one the framework loaded at run
// time; it is looked up here without loading it.
#include "Platform.h"

#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform
{
namespace
{
std::mutex g_handlerMutex;
SessionEndHandler g_handler; // guarded by g_handlerMutex

void callHandler(SessionEnd reason)
{
    SessionEndHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        handler = g_handler;
    }
    if (handler)
        handler(reason);
}

// ---- signals ----
int g_signalPipe[2] = { -1, -1 };
std::thread g_watcher;         // runs while signals are watched
std::mutex g_watcherMutex;     // guards g_watcher and the pipe's set-up
constexpr char kStopWatcher = 0;

extern "C" void onSessionSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    // A full pipe drops the byte: enough are queued already to end the program.
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void watchSignals()
{
    for (;;)
    {
        char byte = kStopWatcher;
        const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != 1 || byte == kStopWatcher)
            return;
        callHandler(byte == SIGHUP ? SessionEnd::HungUp : SessionEnd::Terminated);
    }
}

bool setSignalAction(void (*action)(int))
{
    struct sigaction sa = {};
    sa.sa_handler = action;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &sa, nullptr) == 0 && ::sigaction(SIGHUP, &sa, nullptr) == 0;
}

bool startSignalWatcher()
{
    std::lock_guard<std::mutex> lock(g_watcherMutex);
    if (g_watcher.joinable())
        return true;
    if (g_signalPipe[0] < 0)
    {
        if (::pipe(g_signalPipe) != 0)
            return false;
        for (const int fd : g_signalPipe)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        // The signal handler never blocks on a full pipe.
        ::fcntl(g_signalPipe[1], F_SETFL, ::fcntl(g_signalPipe[1], F_GETFL) | O_NONBLOCK);
    }
    g_watcher = std::thread(watchSignals);
    return setSignalAction(onSessionSignal);
}

// A watcher still running when the static objects go (a program that never called
// stopWatchingSessionEnd) is stopped, not left to std::thread's terminate.
struct WatcherStopper
{
    ~WatcherStopper() { stopWatchingSessionEnd(); }
} g_watcherStopper;

// ---- the X connection (Linux) ----
#ifdef __linux__
struct XDisplay;
using XIOErrorHandlerFunction = int (*)(XDisplay*);
using XSetIOErrorHandlerFunction = XIOErrorHandlerFunction (*)(XIOErrorHandlerFunction);

std::atomic<bool> g_displayLost { false };

int onDisplayConnectionBroken(XDisplay*)
{
    if (g_displayLost.exchange(true))
    {
        // Another thread found the broken connection first and is ending the process.
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
    callHandler(SessionEnd::DisplayLost);
    std::_Exit(sessionEndExitCode(SessionEnd::DisplayLost));
}

bool hookDisplayConnection()
{
    // RTLD_NOLOAD: only the library the framework already loaded; no display, no hook.
    // RTLD_NODELETE: it stays loaded after the framework lets go of it at shutdown, so the hook
    // stays valid, and Xlib's own caches stay reachable instead of showing up as leaks.
    void* xlib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    if (xlib == nullptr)
        return false;
    auto setHandler = reinterpret_cast<XSetIOErrorHandlerFunction>(::dlsym(xlib, "XSetIOErrorHandler"));
    if (setHandler != nullptr)
        setHandler(&onDisplayConnectionBroken);
    // The library stays loaded for the life of the process: the framework holds it too, and the
    // hook must outlive the framework's shutdown.
    return setHandler != nullptr;
}
#else
bool hookDisplayConnection()
{
    return false;
}
#endif
} // namespace

bool watchSessionEnd(SessionEndHandler handler)
{
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        g_handler = std::move(handler);
    }
    const bool signals = startSignalWatcher();
    const bool display = hookDisplayConnection();
    return signals || display;
}

void stopWatchingSessionEnd()
{
    std::lock_guard<std::mutex> lock(g_watcherMutex);
    if (!g_watcher.joinable())
        return;
    setSignalAction(SIG_IGN);
    const char stop = kStopWatcher;
    while (::write(g_signalPipe[1], &stop, 1) < 0 && errno == EINTR)
    {
    }
    g_watcher.join();
}

} // namespace platform
