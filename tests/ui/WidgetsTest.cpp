// KSWindowButton, KSTextButton, KSButton and KSLabel: painting at their real sizes and the
// behaviour their owners rely on.
#include "UiTestSupport.h"

#include "ImageResources.h"
#include "KSButton.h"
#include "KSLabel.h"
#include "KSTextButton.h"
#include "KSWindowButton.h"

#include <gtest/gtest.h>

using namespace uitest;
using juce::Colour;

namespace
{
const Colour rowBackground(0xFF3A3F45);
const Colour alertBody(0xFF353A40);
const Colour buttonText(0xFF9DA1A6);

bool sameImage(const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return false;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt(x, y) != b.getPixelAt(x, y))
                return false;
    return true;
}
} // namespace

TEST(KSWindowButtonTest, CloseShowsItsGlyphAndUnknownTypesPaintNothing)
{
    Backdrop parent(rowBackground);
    parent.setSize(100, 40);
    KSWindowButton close(4), maximise(2);
    close.setBounds(0, 0, 50, 40);
    maximise.setBounds(50, 0, 50, 40);
    parent.addAndMakeVisible(close);
    parent.addAndMakeVisible(maximise);

    const auto shot = snapshot(parent);
    // The 16 x 14 glyph centred in 50 x 40: x 17..32, y 13..26.
    const auto glyph = inkBounds(shot, { 0, 0, 50, 40 }, rowBackground, 10);
    EXPECT_GE(glyph.getX(), 17);
    EXPECT_LE(glyph.getRight(), 33);
    EXPECT_GE(glyph.getY(), 13);
    EXPECT_LE(glyph.getBottom(), 27);
    EXPECT_TRUE(inkBounds(shot, { 50, 0, 50, 40 }, rowBackground, 0).isEmpty());
}

TEST(KSTextButtonTest, EnabledAndDisabledLooks)
{
    Backdrop parent(alertBody);
    parent.setSize(236, 35);
    KSTextButton enabled(0), disabled(0);
    enabled.setButtonText("OK");
    disabled.setButtonText("OK");
    enabled.setBounds(0, 0, 118, 35);
    disabled.setBounds(118, 0, 118, 35);
    disabled.setEnabled(false);
    parent.addAndMakeVisible(enabled);
    parent.addAndMakeVisible(disabled);

    const auto shot = snapshot(parent, "text-buttons");
    EXPECT_TRUE(near(pixel(shot, 6, 17), Colour(0xFF18AF5E), 2));
    EXPECT_EQ(brightest(shot, { 0, 0, 118, 35 }), Colour(0xFFFFFFFF));

    // Image 54 is slate grey at about 30 % over the body; the text is 0xFFB6B6B6.
    const auto flat = pixel(shot, 118 + 6, 17);
    const auto expected = alertBody.interpolatedWith(Colour(0xFF60646B), 0.3f);
    EXPECT_TRUE(near(flat, expected, 4)) << flat.toDisplayString(true);
    EXPECT_TRUE(near(brightest(shot, { 118, 0, 118, 35 }), Colour(0xFFB6B6B6), 2));

    // A disabled parent disables the look too.
    Backdrop outer(alertBody);
    outer.setSize(118, 35);
    KSTextButton child(1);
    child.setButtonText("OK");
    child.setBounds(0, 0, 118, 35);
    outer.addAndMakeVisible(child);
    outer.setEnabled(false);
    EXPECT_TRUE(near(brightest(snapshot(outer), outer.getLocalBounds()), Colour(0xFFB6B6B6), 2));
}

TEST(KSButtonTest, ClickTogglesTick)
{
    KSButton button(0);
    button.setSize(300, 40);
    int heardTick = -1;
    button.onClick = [&] { heardTick = button.tick; };

    auto click = [&] {
        button.triggerClick();
        pump(30);
    };

    EXPECT_EQ(button.tick, 0);
    click();
    EXPECT_EQ(button.tick, 1);
    EXPECT_EQ(heardTick, 1); // listeners see the new value
    click();
    EXPECT_EQ(button.tick, 0);
    button.tick = 2;
    click();
    EXPECT_EQ(button.tick, 1);
}

TEST(KSButtonTest, SpinnerAdvancesOnlyWhenBusyAndWrapsAfterSevenFrames)
{
    Backdrop parent(rowBackground);
    parent.setSize(60, 40);
    KSButton button(0);
    button.setBounds(parent.getLocalBounds());
    parent.addAndMakeVisible(button);

    for (int i = 0; i < 3; ++i)
        button.timerCallback();
    EXPECT_EQ(button.getFrame(), 0); // check-box mode: no animation

    button.mode = KSButton::busyMode;
    const auto first = snapshot(parent);
    button.timerCallback();
    EXPECT_EQ(button.getFrame(), 1);
    EXPECT_FALSE(sameImage(snapshot(parent), first));
    for (int i = 1; i < 7; ++i)
        button.timerCallback();
    EXPECT_EQ(button.getFrame(), 0);
    EXPECT_TRUE(sameImage(snapshot(parent), first));

    // Its own 120 ms timer drives it.
    pump(400);
    EXPECT_GE(button.getFrame(), 2);
    button.mode = KSButton::successMode;
    const int stopped = button.getFrame();
    pump(300);
    EXPECT_EQ(button.getFrame(), stopped);
}

TEST(KSButtonTest, LayoutOfBoxPictureAndText)
{
    Backdrop parent(rowBackground);
    parent.setSize(400, 62);
    KSButton button(0);
    button.setButtonText("Select All");
    button.setBounds(parent.getLocalBounds());
    parent.addAndMakeVisible(button);

    // deviceKind 0: box at 20..37, then the text centred in 56..399.
    auto shot = snapshot(parent, "select-all-button");
    const auto box = inkBounds(shot, { 0, 0, 50, 62 }, rowBackground, 6);
    EXPECT_EQ(box, juce::Rectangle<int>(20, 22, 18, 18));
    EXPECT_TRUE(near(pixel(shot, 20, 31), Colour(0xFF9DA1A6), 2)); // empty box, grey frame
    const auto text = inkBounds(shot, { 40, 0, 360, 62 }, rowBackground, 10);
    EXPECT_GT(text.getX(), 56);
    EXPECT_NEAR(text.getCentreX(), 56 + (400 - 56) / 2, 2);
    EXPECT_TRUE(near(brightest(shot, text), buttonText, 3));

    // deviceKind 9: the generic picture in 56..121, the text centred in 130..399.
    button.deviceKind = 9;
    shot = snapshot(parent, "device-button");
    const auto picture = getImageResource(ImageId::GenericDevicePicture);
    int opaquePixels = 0, mismatches = 0;
    for (int y = 0; y < picture.getHeight(); ++y)
        for (int x = 0; x < picture.getWidth(); ++x)
            if (picture.getPixelAt(x, y).getAlpha() == 255)
            {
                ++opaquePixels;
                mismatches += pixel(shot, 56 + x, 8 + y) != picture.getPixelAt(x, y) ? 1 : 0;
            }
    EXPECT_GT(opaquePixels, 300);
    EXPECT_EQ(mismatches, 0);
    const auto shifted = inkBounds(shot, { 128, 0, 272, 62 }, rowBackground, 10);
    EXPECT_NEAR(shifted.getCentreX(), 130 + (400 - 130) / 2, 2);

    // Ticked, then inside a disabled parent: the disabled ticked image at about 30 %.
    button.tick = 1;
    EXPECT_TRUE(near(pixel(snapshot(parent), 20, 31), Colour(0xFF18BA62), 2));
    parent.setEnabled(false);
    const auto dim = pixel(snapshot(parent), 20, 31);
    EXPECT_TRUE(near(dim, rowBackground.interpolatedWith(Colour(0xFF9DA1A6), 0.3f), 4)) << dim.toDisplayString(true);

    // Other tick values in check-box mode show no box; badges replace it in modes 2 and 3.
    parent.setEnabled(true);
    button.tick = 5;
    EXPECT_TRUE(inkBounds(snapshot(parent), { 0, 0, 50, 62 }, rowBackground, 0).isEmpty());
    button.mode = KSButton::successMode;
    EXPECT_TRUE(near(pixel(snapshot(parent), 29, 25), Colour(0xFF18BA62), 40));
    button.mode = 7;
    EXPECT_TRUE(near(pixel(snapshot(parent), 29, 25), Colour(0xFFF84242), 40));
}

TEST(KSButtonTest, DeviceKindPictures)
{
    const int expected[] = { -1, 29, 33, 34, 31, 32, 30, 31, 35, 35 };
    for (int kind = 0; kind <= 9; ++kind)
        EXPECT_EQ(KSButton::pictureForDeviceKind(kind), expected[kind]) << kind;
    EXPECT_EQ(KSButton::pictureForDeviceKind(-3), -1);
    EXPECT_EQ(KSButton::pictureForDeviceKind(1000), 35);
}

TEST(KSLabelTest, PictureAndTextFormOneCentredBlock)
{
    const Colour background(0xFF24272C), textColour(0xFF18BB62);
    KSLabel label("Searching for devices ...");
    label.setColour(juce::Label::backgroundColourId, background);
    label.setColour(juce::Label::textColourId, textColour);
    label.setSize(1090, 112);

    const auto shot = snapshot(label, "summary-label");
    EXPECT_EQ(pixel(shot, 2, 2), background);
    const int textWidth = (int) std::ceil(juce::Font(24.0f).getStringWidthFloat(label.getText()));
    const int groupX = (1090 - (108 + textWidth)) / 2;
    // The picture's ink lies in its 108-pixel space; the text starts right after it.
    const auto picture = inkBounds(shot, { 0, 0, groupX + 108, 112 }, background, 10);
    EXPECT_GE(picture.getX(), groupX);
    const auto text = inkBounds(shot, { groupX + 108, 0, 1090 - groupX - 108, 112 }, background, 10);
    EXPECT_LE(text.getX(), groupX + 108 + 3);
    EXPECT_LE(text.getRight(), groupX + 108 + textWidth + 1);

    // Frames advance every 60 ms, also while nothing shows the label.
    const int before = label.getFrame();
    pump(300);
    EXPECT_NE(label.getFrame(), before);

    // A text too long for the label is squeezed right of the picture, which stays in view.
    label.setText(juce::String::repeatedString("Found 12 device(s) ", 8));
    label.setSize(600, 112);
    const auto longShot = snapshot(label);
    const auto ink = inkBounds(longShot, longShot.getBounds(), background, 10);
    EXPECT_GE(ink.getX(), 0);
    EXPECT_LT(ink.getX(), 108);
    EXPECT_TRUE(inkBounds(longShot, { 108, 0, 492, 112 }, background, 10).getWidth() > 300);
}
