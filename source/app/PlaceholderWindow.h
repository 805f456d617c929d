#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Stand-in main window until the device table and the program's own main window exist.
class PlaceholderWindow : public juce::DocumentWindow
{
public:
    explicit PlaceholderWindow(const juce::String& name);
    ~PlaceholderWindow() override;

    void closeButtonPressed() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PlaceholderWindow)
};
