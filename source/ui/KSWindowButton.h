#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A title-bar button drawn from images: the minimise and close buttons of the main window and the
// close button of the alert window. The type uses the framework's title-bar button numbers
// (DocumentWindow::minimiseButton 1, closeButton 4); any other type paints nothing.
class KSWindowButton : public juce::Button
{
public:
    explicit KSWindowButton(int type);

    void paintButton(juce::Graphics&, bool isMouseOverButton, bool isButtonDown) override;

private:
    juce::Image normalImage; // the mouse is not over the button
    juce::Image downImage;   // over and pressed
    juce::Image overImage;   // over, not pressed

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KSWindowButton)
};
