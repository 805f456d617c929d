// The process-wide count behind ScopedTimerResolution: the first object raises the system timer
// resolution, the last one restores it.
#include "Platform.h"
#include "PlatformDetail.h"

#include <mutex>

namespace platform
{
namespace
{
std::mutex g_timerMutex;
int g_timerUsers = 0;     // guarded by g_timerMutex
bool g_timerRaised = false; // guarded by g_timerMutex
} // namespace

ScopedTimerResolution::ScopedTimerResolution()
{
    std::lock_guard<std::mutex> lock(g_timerMutex);
    if (g_timerUsers++ == 0)
        g_timerRaised = detail::beginSystemTimerResolution();
}

ScopedTimerResolution::~ScopedTimerResolution()
{
    std::lock_guard<std::mutex> lock(g_timerMutex);
    if (--g_timerUsers == 0 && g_timerRaised)
    {
        detail::endSystemTimerResolution();
        g_timerRaised = false;
    }
}

int ScopedTimerResolution::activeCount()
{
    std::lock_guard<std::mutex> lock(g_timerMutex);
    return g_timerUsers;
}

bool ScopedTimerResolution::isRaised()
{
    std::lock_guard<std::mutex> lock(g_timerMutex);
    return g_timerRaised;
}

} // namespace platform
