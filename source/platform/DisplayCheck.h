#pragma once

#include <string>

namespace platform
{
// Whether the program can open its window at all. On Linux the window needs an X display that
// accepts a connection (DISPLAY set, server reachable, libX11 loadable); without one the
// framework's window code would crash. When there is none, `problem` gets one line for the
// user: what is missing and how to start the program instead. Windows and macOS always have a
// desktop: true.
bool checkDisplayAvailable(std::string& problem);
} // namespace platform
