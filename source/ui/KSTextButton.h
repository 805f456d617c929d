#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A push button with its text on an image background (118 x 35). Style 0 is the green primary
// button, style 1 the slate grey secondary one; a disabled button of either style is flat grey
// with grey text. The owner sets text, size, listener, shortcut keys and command id through the
// framework's button operations.
class KSTextButton : public juce::Button
{
public:
    explicit KSTextButton(int style);

    int getStyle() const noexcept { return style; }

    void paintButton(juce::Graphics&, bool isMouseOverButton, bool isButtonDown) override;

    // Return on a focused button: a button whose shortcut is Return leaves the key to that
    // shortcut, which clicks it once when the key is released (the framework would otherwise
    // click it a second time on the press). Any other focused button takes Return for itself
    // and keeps it from the window, so that the shortcut of another button cannot fire too.
    bool keyPressed(const juce::KeyPress& key) override;
    bool keyStateChanged(bool isKeyDown) override;

private:
    int style;
    juce::Font font;
    juce::Image normalImage;
    juce::Image overImage;
    juce::Image downImage;
    juce::Image disabledImage;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KSTextButton)
};
