#pragma once

#include "KSLookAndFeel.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

class MainComponent;

// The program's one top-level window: borderless, 1090 x 709, with a 40-pixel title bar that the
// look and feel draws, minimise and close buttons of the program's own kind, and the main
// component below the title bar. It refuses to close while an upgrade runs, posts a refill to
// the main component on Ctrl+F, and keeps its size as the display scale changes.
class MainWindow : public juce::DocumentWindow, public juce::KeyListener, public juce::Timer
{
public:
    static constexpr int kWidth = 1090, kHeight = 709, kTitleBarHeight = 40;
    static constexpr int kScaleWatchMilliseconds = 500;

    // `requestQuit` is what a close request and the "Exit" button do; by default they ask the
    // application to quit.
    explicit MainWindow(const juce::String& name, std::function<void()> requestQuit = {});
    ~MainWindow() override;

    MainComponent* GetMainComponent() const noexcept { return mainComponent.get(); }
    // True while the device table upgrades: the window then refuses to close.
    bool IsUpgrading() const;

    // ---- framework ----
    void activeWindowStatusChanged() override;
    juce::BorderSize<int> getBorderThickness() override;
    void closeButtonPressed() override;
    bool keyPressed(const juce::KeyPress& key, juce::Component* originatingComponent) override;
    void timerCallback() override;

    // Ctrl+F as the window recognises it.
    static bool IsRefillShortcut(const juce::KeyPress& key);

private:
    float lastScale = 0.0f;
    std::function<void()> requestQuit;
    std::unique_ptr<MainComponent> mainComponent;
    KSLookAndFeel lookAndFeel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MainWindow)
};
