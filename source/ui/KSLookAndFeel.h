#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The program's dark flat theme. It changes only the window background and title bar, the
// title-bar buttons, the table header, the progress bar and the scroll bar; everything else keeps
// the first-generation framework look. The main window owns one and sets it on itself.
class KSLookAndFeel : public juce::LookAndFeel_V1
{
public:
    KSLookAndFeel();

    // Scroll bar
    bool areScrollbarButtonsVisible() override;
    void drawScrollbar(juce::Graphics&, juce::ScrollBar&, int x, int y, int width, int height,
                       bool isScrollbarVertical, int thumbStartPosition, int thumbSize,
                       bool isMouseOver, bool isMouseDown) override;

    // Resizable window
    void fillResizableWindowBackground(juce::Graphics&, int w, int h, const juce::BorderSize<int>&,
                                       juce::ResizableWindow&) override;

    // Document window
    void drawDocumentWindowTitleBar(juce::DocumentWindow&, juce::Graphics&, int w, int h,
                                    int titleSpaceX, int titleSpaceW, const juce::Image* icon,
                                    bool drawTitleTextOnLeft) override;
    juce::Button* createDocumentWindowButton(int buttonType) override;
    void positionDocumentWindowButtons(juce::DocumentWindow&, int titleBarX, int titleBarY, int titleBarW,
                                       int titleBarH, juce::Button* minimiseButton, juce::Button* maximiseButton,
                                       juce::Button* closeButton, bool positionTitleBarButtonsOnLeft) override;

    // Table header
    void drawTableHeaderBackground(juce::Graphics&, juce::TableHeaderComponent&) override;
    void drawTableHeaderColumn(juce::Graphics&, juce::TableHeaderComponent&, const juce::String& columnName,
                               int columnId, int width, int height, bool isMouseOver, bool isMouseDown,
                               int columnFlags) override;

    // Progress bar
    void drawProgressBar(juce::Graphics&, juce::ProgressBar&, int width, int height, double progress,
                         const juce::String& textToShow) override;

    // Fixed geometry shared with the main window and the table.
    static constexpr int titleIconX = 20, titleIconY = 14, titleIconWidth = 145, titleIconHeight = 17;
    static constexpr int titleTextX = 177;
    static constexpr int firstColumnTitleOffset = 130; // margin, check box, gap, picture, gap of a KSButton
    static constexpr int progressBarHeight = 4;
    static constexpr int scrollBarWidth = 7;

private:
    juce::Font titleFont;
    juce::Font smallFont;
    juce::Image progressFillImage;
    juce::Image progressTrackImage;
    juce::Image scrollTrackImage;
    juce::Image scrollThumbImage;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KSLookAndFeel)
};
