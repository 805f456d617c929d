#pragma once

#include "Cli.h"
#include "TovrakDevice.h"

#include <atomic>
#include <memory>

class SingleInstanceGuard;

// What every device command sets up and takes down, in the window's order: the single-instance
// guard (shared with the window, so two programs never talk to the devices at once), the
// language, the firmware images and the device list with its idle monitoring. The thread that
// opens the session plays the part of the window's message thread: it alone refreshes the
// device list and creates workers.
class CliSession final : private ICallbackDeviceChanged
{
public:
    explicit CliSession(CliIo& io);
    // Stops the monitoring, empties the device list, releases the images and the guard.
    ~CliSession() override;

    // CliExit::Ok when the session is ready; CliExit::AnotherInstance (with the window's text on
    // the error stream) when another program holds the guard.
    int Open();

    // For commands that look once: waits for the set-ups of the attached devices, trying a failed
    // one again a few times within a second, and names on the error stream every supported device
    // that still could not be read, with its path and the reason. Returns how many there are.
    size_t SettleDevices();

    // True once after the idle thread has seen the attached devices change.
    bool TakeDeviceChange() noexcept { return m_bChanged.exchange(false); }

    bool IsInterrupted() const noexcept { return m_io.interrupted != nullptr && m_io.interrupted->load(); }

    // The program's own folder, whose firmware files are loaded before the working folder's.
    juce::File ProgramFolder() const;

private:
    void OnDeviceChanged() override { m_bChanged = true; }
    void UseTranslationTable();

    CliIo& m_io;
    std::unique_ptr<SingleInstanceGuard> m_pGuard;
    std::atomic<bool> m_bChanged { false };
    bool m_bDevicesStarted = false;
};
