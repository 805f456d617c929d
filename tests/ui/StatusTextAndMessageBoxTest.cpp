// The status cell's text layout (never squeezed, in English and Chinese) and the ownerless
// message box of the platform layer on this desktop (an OK button, the sign drawn whole).
#include "UiTestSupport.h"

#include "KSStatusLabel.h"
#include "Platform.h"

#include <gtest/gtest.h>

using namespace uitest;

namespace
{
// The status label of the device table: the status column (245) less the cell's right margin
// (22) and the label's border (5 + 5); the row is 62 high less the border (1 + 1).
constexpr float kLabelWidth = 245 - 22 - 10;
constexpr float kLabelHeight = 60;

// The cell font: 15 px of the default sans-serif, which draws Chinese once the program (here:
// the test) has chosen a typeface that covers it.
juce::Font cellFont()
{
    return juce::Font(15.0f);
}
} // namespace

TEST(StatusTextLayoutTest, LongStatusesFitUnsqueezedOnAtMostTwoLines)
{
    struct Case
    {
        const char* text;
        bool chinese;
        int lines;          // expected line count at the full 15 px
    };
    const Case cases[] = {
        { "Can be upgraded, can be safely upgraded.", false, 2 },
        { "Can be downgraded, can be safely upgraded.", false, 2 },
        { "Already upgraded, can be safely upgraded.", false, 2 },
        { "Failed to upgrade, and the device may lost.", false, 2 },
        { "Error in loading firmware, shutdown required.", false, 2 },
        { "Unplug and replug required", false, 1 },
        { "Can be upgraded", false, 1 },
        { "可以升级，可以安全升级。", true, 1 },
        { "升级失败，设备可能已丢失。", true, 1 },
    };
    // English first, then Chinese in the typeface the program would choose for it.
    bool chineseTypeface = false;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.text);
        if (c.chinese && !chineseTypeface)
        {
            if (platform::useChineseInterfaceTypeface().empty())
                GTEST_SKIP() << "no installed font covers Chinese (fonts-wqy-microhei)";
            chineseTypeface = true;
        }
        const juce::String text = juce::String::fromUTF8(c.text);
        const juce::Font font = cellFont();
        const auto layout = StatusTextLayout::make(text, font, kLabelWidth, kLabelHeight);
        EXPECT_TRUE(layout.fits);
        EXPECT_EQ(layout.fontHeight, 15.0f);
        EXPECT_EQ(layout.lines.size(), c.lines);
        const juce::Font drawn = font.withHeight(layout.fontHeight);
        for (const auto& line : layout.lines)
            EXPECT_LE(drawn.getStringWidthFloat(line), kLabelWidth) << line;
        EXPECT_EQ(layout.lines.joinIntoString(" "), text) << "broken at a space, nothing lost";
        if (layout.lines.size() == 2)
        {
            EXPECT_TRUE(layout.lines[0].endsWith(",")) << "between the parts of the sentence: " << layout.lines[0];
        }
    }

    ASSERT_TRUE(chineseTypeface);

    // Beside the progress bar (102 + 10 pixels less): a phase text stays on one line, at most two
    // steps smaller.
    for (const char* text : { "Writing ...   15%", "Verifying ...   100%" })
    {
        const auto phase = StatusTextLayout::make(text, cellFont(), kLabelWidth - 112, kLabelHeight);
        EXPECT_TRUE(phase.fits) << text;
        ASSERT_EQ(phase.lines.size(), 1) << text;
        EXPECT_GE(phase.fontHeight, 13.0f) << text;
        EXPECT_LE(cellFont().withHeight(phase.fontHeight).getStringWidthFloat(text), kLabelWidth - 112) << text;
    }

    // A Chinese text too long for one line breaks between characters, never before the comma.
    const juce::String longZh = juce::String::fromUTF8("升级失败，设备可能已丢失。升级失败，设备可能已丢失。");
    const auto zh = StatusTextLayout::make(longZh, cellFont(), kLabelWidth, kLabelHeight);
    EXPECT_TRUE(zh.fits);
    ASSERT_EQ(zh.lines.size(), 2);
    EXPECT_EQ(zh.lines[0] + zh.lines[1], longZh);
    EXPECT_NE(zh.lines[1][0], (juce::juce_wchar) 0xFF0C);
    EXPECT_NE(zh.lines[1][0], (juce::juce_wchar) 0x3002);
}

TEST(OwnerlessMessageBoxTest, HasAnOkButtonAndItsWholeSign)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows shows its own MessageBoxW, which waits for a person";
#endif
    platform::setMessageBoxHandler({}); // the real box
    int buttons = -1;
    juce::String buttonText;
    bool signInside = false, edgesClean = false;
    juce::Timer::callAfterDelay(500, [&] {
        auto* box = dynamic_cast<juce::AlertWindow*>(juce::Component::getCurrentlyModalComponent());
        if (box == nullptr)
            return;
        buttons = box->getNumButtons();
        for (auto* child : box->getChildren())
            if (auto* b = dynamic_cast<juce::TextButton*>(child))
                buttonText = b->getButtonText();
        const auto image = snapshot(*box, "ownerless-message-box");
        const auto background = box->findColour(juce::AlertWindow::backgroundColourId);
        // The sign: amber ink in the room left of the text, clear of the edges.
        const juce::Colour amber(0xffdea30b);
        const auto ink = inkBounds(image, { 2, 2, 76, image.getHeight() - 4 }, background, 40);
        signInside = !ink.isEmpty() && ink.getX() > 4 && ink.getY() > 4 && near(brightest(image, ink), amber, 40);
        // Nothing but the frame and the background along the outer three pixels of the box.
        edgesClean = true;
        const auto outline = box->findColour(juce::AlertWindow::outlineColourId);
        for (int x = 0; x < image.getWidth(); ++x)
            for (int y : { 2, image.getHeight() - 3 })
                edgesClean = edgesClean && (near(pixel(image, x, y), background, 24) || near(pixel(image, x, y), outline, 24));
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x : { 2, image.getWidth() - 3 })
                edgesClean = edgesClean && (near(pixel(image, x, y), background, 24) || near(pixel(image, x, y), outline, 24));
        box->exitModalState(0);
    });
    platform::showMessageBox("Fatal", "this device is a newer device , it comes from the future.");
    EXPECT_EQ(buttons, 1);
    EXPECT_EQ(buttonText, "OK");
    EXPECT_TRUE(signInside);
    EXPECT_TRUE(edgesClean) << "no sign cut off at a corner";
}
