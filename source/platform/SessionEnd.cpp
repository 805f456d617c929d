#include "Platform.h"

namespace platform
{
int sessionEndExitCode(SessionEnd reason)
{
    // 128 + the signal number: SIGTERM is 15 and SIGHUP 1 wherever they exist.
    switch (reason)
    {
    case SessionEnd::Terminated:
        return 128 + 15;
    case SessionEnd::HungUp:
        return 128 + 1;
    case SessionEnd::DisplayLost:
        break;
    }
    return 1;
}

const char* describeSessionEnd(SessionEnd reason)
{
    switch (reason)
    {
    case SessionEnd::Terminated:
        return "SIGTERM";
    case SessionEnd::HungUp:
        return "SIGHUP";
    case SessionEnd::DisplayLost:
        break;
    }
    return "the display connection broke";
}
} // namespace platform
