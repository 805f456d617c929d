#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// How a status text fits a cell without being squeezed: on one line at the label's font, or
// up to two steps (pixels) smaller when that is enough; otherwise broken into two lines at the
// largest step, down to kSmallestHeight, at which both fit. Lines break after a comma or full
// stop when such a break fits, else at a space, else between two characters of a script written
// without spaces (Chinese), never before a comma or full stop; of the breaks of that kind, the
// one that gives the shorter longest line wins. Only a text that fits in none of these is
// squeezed, at the smallest step.
struct StatusTextLayout
{
    static constexpr float kSmallestHeight = 11.0f;
    static constexpr int kMaxLines = 2;
    static constexpr float kOneLineSteps = 2.0f;

    juce::StringArray lines;
    float fontHeight = 0.0f;
    bool fits = false; // every line fits the width unsqueezed

    static StatusTextLayout make(const juce::String& text, const juce::Font& font, float width, float height);
};

// The status cell's label: the framework's label, drawing its text as StatusTextLayout lays it
// out instead of squeezing a long text onto one line.
class KSStatusLabel : public juce::Label
{
public:
    KSStatusLabel() = default;

    // The layout of the current text in the current size.
    StatusTextLayout currentLayout() const;

    void paint(juce::Graphics&) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KSStatusLabel)
};
