#pragma once

#include "MainWindow.h"
#include "Platform.h"
#include "SingleInstanceGuard.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

// The application object: refuses to run twice, selects the language and owns the main window.
class UpgradeApplication : public juce::JUCEApplication
{
public:
    UpgradeApplication() = default;
    ~UpgradeApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override { return true; }
    void initialise(const juce::String& commandLine) override;
    void shutdown() override;
    void suspended() override {}
    void resumed() override {}
    void memoryWarningReceived() override {}
    bool initialiseApp() override;

    MainWindow* getMainWindow() const noexcept { return mainWindow.get(); }

    // The desktop session ends the program (its display went away, or SIGTERM / SIGHUP):
    // no new upgrade starts, running upgrades finish, the devices are released and the log says
    // why. A signal then quits the message loop with a non-zero exit code, so the ordinary
    // shutdown follows; for a lost display the platform layer ends the process once this
    // returns. Message thread; a second call does nothing.
    void endForSession(platform::SessionEnd reason);

private:
    void releaseInstanceGuard();
    // Waits for running upgrades and releases the devices, without touching the display.
    void releaseDevices();

    bool endingForSession = false;

    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<SingleInstanceGuard> instanceGuard;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(UpgradeApplication)
};
