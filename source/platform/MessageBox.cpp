// The message box front shared by every platform: a test handler, or the platform's own box.
#include "Platform.h"
#include "PlatformDetail.h"

#include <mutex>

namespace platform
{
namespace
{
std::mutex g_boxMutex;
MessageBoxHandler g_boxHandler; // guarded by g_boxMutex
} // namespace

void setMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard<std::mutex> lock(g_boxMutex);
    g_boxHandler = std::move(handler);
}

void showMessageBox(const std::string& title, const std::string& text)
{
    MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> lock(g_boxMutex);
        handler = g_boxHandler;
    }
    if (handler)
        handler(title, text);
    else
        detail::showNativeMessageBox(title, text);
}
} // namespace platform
