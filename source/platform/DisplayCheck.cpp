#include "DisplayCheck.h"

#if !defined(_WIN32) && !defined(__APPLE__)
#include <cstdlib>
#include <dlfcn.h>

namespace platform
{
namespace
{
const char* const kHowToStart = "start it from a desktop session (over ssh: ssh -X), or use tovrak-cli in a terminal.";
} // namespace

bool checkDisplayAvailable(std::string& problem)
{
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
    {
        problem = std::string("Tovrak Upgrade Utility needs a graphical display, but DISPLAY is not set: ") + kHowToStart;
        return false;
    }

    // The framework loads libX11 at run time as well; this only asks the server once.
    // RTLD_NODELETE keeps the library loaded for the life of the process, also after the
    // framework lets go of it at shutdown: Xlib keeps caches (its locale and key tables) that
    // only its own globals point to, and unloading it would leave them behind unreachable,
    // which the leak checker reports at exit.
    void* x11 = ::dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE);
    if (x11 == nullptr)
    {
        problem = "Tovrak Upgrade Utility needs the X11 library (libX11.so.6), which cannot be loaded: install libx11-6.";
        return false;
    }
    using OpenDisplay = void* (*)(const char*);
    using CloseDisplay = int (*)(void*);
    const auto open = reinterpret_cast<OpenDisplay>(::dlsym(x11, "XOpenDisplay"));
    const auto close = reinterpret_cast<CloseDisplay>(::dlsym(x11, "XCloseDisplay"));
    void* connection = (open != nullptr && close != nullptr) ? open(display) : nullptr;
    if (connection != nullptr)
        close(connection);
    ::dlclose(x11);

    if (connection == nullptr)
    {
        problem = std::string("Tovrak Upgrade Utility cannot open the display \"") + display + "\": " + kHowToStart;
        return false;
    }
    return true;
}
} // namespace platform
#else
namespace platform
{
bool checkDisplayAvailable(std::string&)
{
    return true;
}
} // namespace platform
#endif
