#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

// A text with the searching animation in front of it; picture and text form one block centred
// in the label. Background and text colours are read from the label under the framework's label
// colour ids (Label::backgroundColourId, Label::textColourId), which the owner sets.
class KSLabel : public juce::Component, public juce::Timer
{
public:
    explicit KSLabel(const juce::String& text);
    ~KSLabel() override;

    void setText(const juce::String& newText);
    const juce::String& getText() const noexcept { return text; }

    // The animation frame shown, 0 to 8; it advances every 60 ms.
    int getFrame() const noexcept { return frame; }

    void paint(juce::Graphics&) override;
    void timerCallback() override;

private:
    int frame = 0;
    int pictureWidth;
    std::array<juce::Image, 9> frames;
    juce::String text;
    juce::Font font;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KSLabel)
};
