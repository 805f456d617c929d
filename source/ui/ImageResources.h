#pragma once

#include <juce_graphics/juce_graphics.h>

// Indices of the embedded PNG images.
namespace ImageId
{
enum : int
{
    Wordmark = 0,           // 145 x 17, white maker's wordmark
    ApplicationIcon = 1,    // 128 x 128
    WarningSign = 2,        // 41 x 33
    CheckBoxDisabledTicked = 3, // 18 x 18 check boxes: disabled, normal, pressed, mouse over;
    CheckBoxDisabledPartly = 4, // in each group ticked, partly ticked, not ticked
    CheckBoxDisabledEmpty = 5,
    CheckBoxTicked = 6,
    CheckBoxPartly = 7,
    CheckBoxEmpty = 8,
    CheckBoxPressedTicked = 9,
    CheckBoxPressedPartly = 10,
    CheckBoxPressedEmpty = 11,
    CheckBoxOverTicked = 12,
    CheckBoxOverPartly = 13,
    CheckBoxOverEmpty = 14,
    CloseDown = 15,         // 16 x 14 title-bar glyphs
    CloseNormal = 16,
    CloseOver = 17,
    MinimiseDown = 18,
    MinimiseNormal = 19,
    MinimiseOver = 20,
    ProgressFill = 21,      // 102 x 4
    ProgressTrack = 22,
    ScrollTrack = 23,       // 7 x 350
    ScrollBarLight = 24,
    ScrollThumb = 25,
    ScrollBarDark = 26,
    FailureBadge = 27,      // 22 x 22
    SuccessBadge = 28,
    FirstDevicePicture = 29, // 66 x 46, 29 to 34 the products, 35 the generic box
    GenericDevicePicture = 35,
    FirstSpinnerFrame = 36, // 22 x 22, 7 frames
    FirstSearchingFrame = 43, // 108 x 93, 9 frames
    NoDevice = 52,          // 399 x 89, opaque RGB
    NoDeviceCrossedOut = 53,
    TextButtonDisabled = 54, // 118 x 35 text button backgrounds
    TextButtonGreen = 55,
    TextButtonGreenOver = 56,
    TextButtonGreenDown = 57,
    TextButtonSlate = 58,
    TextButtonSlateOver = 59,
    TextButtonSlateDown = 60,
    Count = 61
};
constexpr int spinnerFrameCount = 7;
constexpr int searchingFrameCount = 9;
} // namespace ImageId

// The embedded image with the given index, decoded once through the framework's image cache.
// An index outside 0..60 logs an error and gives an invalid (null) image.
juce::Image getImageResource(int index);

// Draws an image centred in an area at its own size (neither shrunk nor enlarged).
// A null image draws nothing.
void drawImageCentred(juce::Graphics&, const juce::Image&, juce::Rectangle<int> area);
