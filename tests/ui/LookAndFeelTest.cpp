// KSLookAndFeel, checked on snapshots of real framework components at the program's geometry.
#include "UiTestSupport.h"

#include "ImageResources.h"
#include "KSLookAndFeel.h"
#include "KSWindowButton.h"
#include "StringResources.h"

#include <gtest/gtest.h>

using namespace uitest;
using juce::Colour;

namespace
{
const Colour titleBarFill(0xFF24272C);
const Colour titleText(0xFF9DA1A6);
const Colour headerFill(0xFF1F2227);
const Colour headerLine(0xFF292C31);
const Colour scrollBackground(0xFF3A3F45);
const Colour rowBackground(0xFF3A3F45);

// A document window set up like the main window: own title bar 40 high, no border.
class TitleBarWindow : public juce::DocumentWindow
{
public:
    TitleBarWindow(juce::LookAndFeel& lf, const juce::String& name)
        : juce::DocumentWindow(name, Colour(0x00FFFFFF), minimiseButton | closeButton, false)
    {
        setLookAndFeel(&lf);
        setUsingNativeTitleBar(false);
        setTitleBarHeight(40);
        setSize(1090, 709);
    }
    ~TitleBarWindow() override { setLookAndFeel(nullptr); }

    juce::BorderSize<int> getBorderThickness() override { return {}; }
};

// The first column (from the left, starting at fromX) of the title bar that is not plain fill.
int firstInkColumn(const juce::Image& shot, int fromX, int toX)
{
    return inkBounds(shot, { fromX, 0, toX - fromX, 40 }, titleBarFill, 6).getX();
}
} // namespace

class LookAndFeelTest : public ::testing::Test
{
protected:
    KSLookAndFeel lookAndFeel;
};

TEST_F(LookAndFeelTest, TitleBarFillIconTitleAndButtons)
{
    TitleBarWindow window(lookAndFeel, getTranslatedString(StringId::ApplicationName));
    window.setIcon(getImageResource(ImageId::Wordmark));

    auto* close = window.getCloseButton();
    auto* minimise = window.getMinimiseButton();
    ASSERT_NE(close, nullptr);
    ASSERT_NE(minimise, nullptr);
    EXPECT_EQ(window.getMaximiseButton(), nullptr);
    EXPECT_NE(dynamic_cast<KSWindowButton*>(close), nullptr);
    EXPECT_NE(dynamic_cast<KSWindowButton*>(minimise), nullptr);
    EXPECT_EQ(close->getBounds(), juce::Rectangle<int>(1048, 0, 40, 40));
    EXPECT_EQ(minimise->getBounds(), juce::Rectangle<int>(1008, 0, 40, 40));

    const auto shot = snapshot(window, "title-bar");
    EXPECT_EQ(pixel(shot, 2, 2), titleBarFill);
    EXPECT_EQ(pixel(shot, 10, 35), titleBarFill);
    EXPECT_EQ(pixel(shot, 600, 5), titleBarFill);

    // The wordmark sits in 20, 14, 145 x 17; the title text starts at x 177.
    const auto icon = inkBounds(shot, { 0, 0, 175, 40 }, titleBarFill, 6);
    EXPECT_GE(icon.getX(), 20);
    EXPECT_GE(icon.getY(), 14);
    EXPECT_LE(icon.getRight(), 165);
    EXPECT_LE(icon.getBottom(), 31);
    EXPECT_GT(brightest(shot, icon).getBrightness(), 0.95f);

    const int titleStart = firstInkColumn(shot, 166, 1000);
    EXPECT_GE(titleStart, 177);
    EXPECT_LE(titleStart, 180);
    EXPECT_TRUE(near(brightest(shot, { 177, 0, 250, 40 }), titleText, 3));

    // The glyphs of the two buttons: grey × and bar centred in their 40 x 40 squares.
    EXPECT_TRUE(near(brightest(shot, { 1066, 18, 5, 5 }), Colour(0xFFA6A6A6), 40));
    EXPECT_TRUE(near(brightest(shot, { 1026, 18, 5, 5 }), Colour(0xFFA6A6A6), 40));
    EXPECT_EQ(inkBounds(shot, { 1040, 0, 8, 40 }, titleBarFill, 2), juce::Rectangle<int>()); // no gap drawn

    // Without an icon the title still starts at x 177.
    window.setIcon({});
    const auto noIcon = snapshot(window);
    EXPECT_EQ(inkBounds(noIcon, { 0, 0, 175, 40 }, titleBarFill, 6), juce::Rectangle<int>());
    EXPECT_EQ(firstInkColumn(noIcon, 166, 1000), titleStart);
}

TEST_F(LookAndFeelTest, WindowButtonsLineUpFromEitherEnd)
{
    TitleBarWindow window(lookAndFeel, "x");
    KSWindowButton close(4), maximise(2), minimise(1);

    lookAndFeel.positionDocumentWindowButtons(window, 0, 0, 1090, 40, &minimise, &maximise, &close, false);
    EXPECT_EQ(close.getX(), 1048);
    EXPECT_EQ(maximise.getX(), 1008);
    EXPECT_EQ(minimise.getX(), 968);

    lookAndFeel.positionDocumentWindowButtons(window, 10, 5, 500, 30, &minimise, &maximise, &close, true);
    EXPECT_EQ(close.getBounds(), juce::Rectangle<int>(12, 5, 30, 30));
    EXPECT_EQ(minimise.getBounds(), juce::Rectangle<int>(42, 5, 30, 30));
    EXPECT_EQ(maximise.getBounds(), juce::Rectangle<int>(72, 5, 30, 30));
}

TEST_F(LookAndFeelTest, TableHeaderDividersAndFirstColumnTitle)
{
    juce::TableHeaderComponent header;
    header.setLookAndFeel(&lookAndFeel);
    const int widths[] = { 300, 150, 130, 130, 130, 250 };
    for (int id = 1; id <= 6; ++id)
        header.addColumn(getTranslatedString(StringId::ColumnDeviceName + id - 1), id, widths[id - 1]);
    header.setSize(1090, 35);

    auto dividersAt = [](const juce::Image& shot) {
        juce::Array<int> xs;
        for (int x = 1; x < shot.getWidth() - 1; ++x) // the outer columns are the rounded edge
        {
            EXPECT_TRUE(pixel(shot, x, 5) == headerFill || pixel(shot, x, 5) == headerLine) << "x " << x;
            if (pixel(shot, x, 5) == headerLine)
                xs.add(x);
        }
        return xs;
    };

    const auto six = snapshot(header, "table-header");
    EXPECT_EQ(dividersAt(six), juce::Array<int>({ 299, 449, 579, 709, 839 }));
    EXPECT_EQ(pixel(six, 500, 34), headerLine); // bottom line
    EXPECT_EQ(pixel(six, 1088, 17), headerFill); // nothing after the last column

    // The first title is centred over the column minus its leftmost 130 pixels.
    const auto title = inkBounds(six, { 1, 4, 298, 28 }, headerFill, 10);
    ASSERT_FALSE(title.isEmpty());
    EXPECT_GT(title.getX(), 130);
    EXPECT_NEAR(title.getCentreX(), 130 + (300 - 130) / 2, 3);

    // Hidden columns do not count: one visible column, no divider.
    for (int id = 2; id <= 6; ++id)
        header.setColumnVisible(id, false);
    header.setColumnWidth(1, 1090);
    EXPECT_TRUE(dividersAt(snapshot(header)).isEmpty());

    header.setLookAndFeel(nullptr);
}

TEST_F(LookAndFeelTest, ProgressBarHalvesAndIndeterminateFallback)
{
    Backdrop parent(rowBackground);
    parent.setLookAndFeel(&lookAndFeel);
    parent.setSize(102, 80);
    double values[] = { 0.0, 0.5, 1.0, -1.0 };
    juce::OwnedArray<juce::ProgressBar> bars;
    for (int i = 0; i < 4; ++i)
    {
        auto* bar = bars.add(new juce::ProgressBar(values[i]));
        bar->setBounds(0, i * 20, 102, 20);
        parent.addAndMakeVisible(bar);
    }
    pump(1000); // the bars move towards their values

    const auto shot = snapshot(parent, "progress-bars");
    const Colour track(0xFF656B72);
    auto isGreen = [](Colour c) { return c.getGreen() > c.getRed() + 100 && c.getGreen() > 150; };
    constexpr int barRow = 9; // the 4-pixel bar of a 20-high bar starts at y 8

    for (int i = 0; i < 3; ++i)
    {
        const int top = i * 20;
        // Nothing outside the 4-pixel bar: no text, no background.
        EXPECT_EQ(inkBounds(shot, { 0, top, 102, 8 }, rowBackground, 0), juce::Rectangle<int>()) << i;
        EXPECT_EQ(inkBounds(shot, { 0, top + 12, 102, 8 }, rowBackground, 0), juce::Rectangle<int>()) << i;
    }

    // 0.0: the whole track, no fill.
    for (int x = 3; x < 99; ++x)
        EXPECT_TRUE(near(pixel(shot, x, barRow), track, 3)) << x;

    // 0.5: the fill covers the left half, the track shows on the right.
    for (int x = 2; x < 49; ++x)
        EXPECT_TRUE(isGreen(pixel(shot, x, 20 + barRow))) << x;
    for (int x = 53; x < 99; ++x)
        EXPECT_TRUE(near(pixel(shot, x, 20 + barRow), track, 3)) << x;

    // 1.0: the fill all the way, its two halves meeting in the middle.
    for (int x = 2; x < 100; ++x)
        EXPECT_TRUE(isGreen(pixel(shot, x, 40 + barRow))) << x;

    // Outside 0..1 the framework's own bar paints its whole area.
    EXPECT_FALSE(near(pixel(shot, 51, 60 + 3), rowBackground, 2));
    EXPECT_FALSE(near(pixel(shot, 51, 60 + 16), rowBackground, 2));

    parent.setLookAndFeel(nullptr);
}

TEST_F(LookAndFeelTest, ScrollBarIsACentredSevenPixelBar)
{
    const Colour trackColour(0xFF464B50), thumbColour(0xFF595C5F);

    auto makeBar = [this](int width, int height) {
        auto bar = std::make_unique<juce::ScrollBar>(true);
        bar->setLookAndFeel(&lookAndFeel);
        bar->setAutoHide(false);
        bar->setRangeLimits(0.0, 1000.0);
        bar->setCurrentRange(100.0, 300.0);
        bar->setSize(width, height);
        return bar;
    };

    // The table's 23-pixel bar: background, then the bar from x 8 to 14, thumb at 30..119.
    {
        auto bar = makeBar(23, 300);
        const auto shot = snapshot(*bar, "scroll-bar");
        EXPECT_EQ(pixel(shot, 2, 150), scrollBackground);
        EXPECT_EQ(pixel(shot, 7, 150), scrollBackground);
        EXPECT_EQ(pixel(shot, 15, 150), scrollBackground);
        EXPECT_EQ(pixel(shot, 20, 150), scrollBackground);
        for (int x = 8; x < 15; ++x)
        {
            EXPECT_TRUE(near(pixel(shot, x, 150), trackColour, 2)) << x;
            EXPECT_TRUE(near(pixel(shot, x, 75), thumbColour, 2)) << x;
        }
        EXPECT_TRUE(near(pixel(shot, 11, 27), trackColour, 2));
        EXPECT_TRUE(near(pixel(shot, 11, 123), trackColour, 2));
        bar->setLookAndFeel(nullptr);
    }

    // An 8-pixel bar starts at 0.
    {
        auto bar = makeBar(8, 300);
        const auto shot = snapshot(*bar);
        EXPECT_TRUE(near(pixel(shot, 0, 150), trackColour, 2));
        EXPECT_TRUE(near(pixel(shot, 6, 150), trackColour, 2));
        EXPECT_EQ(pixel(shot, 7, 150), scrollBackground);
        bar->setLookAndFeel(nullptr);
    }

    // Thumb size 0: background only. (The framework's scroll bar never passes 0 in practice: a bar
    // too short for a thumb is not painted at all, so the hook is called directly.)
    {
        auto bar = makeBar(23, 300);
        juce::Image shot(juce::Image::ARGB, 23, 300, true);
        juce::Graphics g(shot);
        lookAndFeel.drawScrollbar(g, *bar, 0, 0, 23, 300, true, 40, 0, false, false);
        EXPECT_EQ(inkBounds(shot, shot.getBounds(), scrollBackground, 0), juce::Rectangle<int>());
        bar->setLookAndFeel(nullptr);
    }
    EXPECT_FALSE(lookAndFeel.areScrollbarButtonsVisible());
}
