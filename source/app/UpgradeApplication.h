#pragma once

#include "MainWindow.h"
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

private:
    void releaseInstanceGuard();

    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<SingleInstanceGuard> instanceGuard;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(UpgradeApplication)
};
