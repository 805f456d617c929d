#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

// The check-box button of the device rows and of "Select All". From the left: a 20-pixel margin,
// an 18-pixel box (a check box, a busy spinner or a result badge), an 18-pixel gap, optionally a
// 66-pixel device picture and an 8-pixel gap, then the button text centred in the rest.
//
// The owner reads and writes deviceKind, mode and tick directly and repaints after a change.
class KSButton : public juce::Button, public juce::Timer
{
public:
    // What the box shows.
    enum Mode : int
    {
        checkBoxMode = 0,
        busyMode = 1,    // spinner, advancing every 120 ms
        successMode = 2, // green badge
        failureMode = 3  // red badge (any value other than 0, 1 and 2)
    };

    // Picture geometry, also used by the table header to line up its first column title.
    static constexpr int marginWidth = 20, boxWidth = 18, boxGap = 18, pictureWidth = 66, pictureGap = 8;

    explicit KSButton(int deviceKind);
    ~KSButton() override;

    // 0 or less: no picture and no picture space; 1 to 7: a product picture; 8 and above: the
    // generic picture.
    int deviceKind;
    int mode = checkBoxMode;
    // 1 ticked, 0 not ticked; any other value shows no check box. A click makes 1 into 0 and
    // anything else into 1, before the listeners hear of it.
    int tick = 0;

    // The spinner frame shown in busy mode, 0 to 6.
    int getFrame() const noexcept { return frame; }

    // The picture index for a device kind, or -1 for none.
    static int pictureForDeviceKind(int kind) noexcept;

    void paintButton(juce::Graphics&, bool isMouseOverButton, bool isButtonDown) override;
    void clicked() override;
    // Space ticks a focused box. Return is never kept: it goes on to the window, where it is the
    // "Update" button's shortcut, so a box the mouse last clicked does not swallow it.
    bool keyPressed(const juce::KeyPress& key) override;
    void timerCallback() override;

private:
    int frame = 0;
    juce::Font font;
    std::array<juce::Image, 12> checkBoxImages; // images 3 to 14
    juce::Image successImage;
    juce::Image failureImage;
    std::array<juce::Image, 7> spinnerFrames;
    juce::Image picture; // the picture of pictureKind, loaded when deviceKind changes
    int pictureKind = 0;

    const juce::Image& checkBoxImage(int index) const { return checkBoxImages[(size_t) (index - 3)]; }

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KSButton)
};
