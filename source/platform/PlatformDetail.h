#pragma once

#include <string>

// Hooks that each platform's file supplies to the shared parts of the platform layer.
namespace platform::detail
{
// Raises the system timer resolution to 1 ms; true when the platform accepted it.
bool beginSystemTimerResolution();
// Restores what beginSystemTimerResolution raised (called only after it returned true).
void endSystemTimerResolution();
// Shows the platform's own modal message box with no owner and an OK button.
void showNativeMessageBox(const std::string& title, const std::string& text);
} // namespace platform::detail
