// The embedded image table: sizes, formats, sharing through the cache, and the colours that tell
// the states apart (so that an index mix-up shows).
#include "UiTestSupport.h"

#include "ImageResources.h"

#include <gtest/gtest.h>

using namespace uitest;
using juce::Colour;

namespace
{
struct Size
{
    int first, last, width, height;
};

// Index ranges and sizes as the program uses them.
const Size sizes[] = {
    { 0, 0, 145, 17 },  { 1, 1, 128, 128 }, { 2, 2, 41, 33 },   { 3, 14, 18, 18 },  { 15, 20, 16, 14 },
    { 21, 22, 102, 4 }, { 23, 26, 7, 350 }, { 27, 28, 22, 22 }, { 29, 35, 66, 46 }, { 36, 42, 22, 22 },
    { 43, 51, 108, 93 }, { 52, 53, 399, 89 }, { 54, 60, 118, 35 },
};

bool differ(const juce::Image& a, const juce::Image& b)
{
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            if (a.getPixelAt(x, y) != b.getPixelAt(x, y))
                return true;
    return false;
}
} // namespace

TEST(ImageResourcesTest, EveryImageHasItsSizeAndFormat)
{
    int checked = 0;
    for (const auto& s : sizes)
        for (int i = s.first; i <= s.last; ++i, ++checked)
        {
            const auto image = getImageResource(i);
            ASSERT_TRUE(image.isValid()) << i;
            EXPECT_EQ(image.getWidth(), s.width) << i;
            EXPECT_EQ(image.getHeight(), s.height) << i;
            // Only the no-device illustration is opaque RGB.
            EXPECT_EQ(image.getFormat(), i == 52 ? juce::Image::RGB : juce::Image::ARGB) << i;
        }
    EXPECT_EQ(checked, 61);
}

TEST(ImageResourcesTest, OutOfRangeGivesNoImageAndEachImageIsSharedOnce)
{
    EXPECT_FALSE(getImageResource(-1).isValid());
    EXPECT_FALSE(getImageResource(61).isValid());
    EXPECT_TRUE(getImageResource(5) == getImageResource(5)); // same decoded pixels
}

TEST(ImageResourcesTest, StatesAreDrawnInTheirColours)
{
    struct Probe
    {
        int index, x, y;
        Colour colour;
        int tolerance;
    };
    const Probe probes[] = {
        { 6, 0, 9, Colour(0xFF18BA62), 2 },   // ticked: green frame
        { 8, 0, 9, Colour(0xFF9DA1A6), 2 },   // not ticked: grey frame
        { 8, 9, 9, Colour(0xFF3A3F45), 2 },   // on the row fill
        { 9, 0, 9, Colour(0xFF20DC77), 2 },   // pressed ticked: bright green
        { 11, 0, 9, Colour(0xFF18BA62), 2 },  // pressed not ticked: green frame
        { 12, 0, 9, Colour(0xFF11984F), 2 },  // mouse over: dark green
        { 14, 0, 9, Colour(0xFF11984F), 2 },
        { 21, 2, 2, Colour(0xFF18BA86), 3 },  // progress fill, left end
        { 21, 99, 2, Colour(0xFF18BA63), 3 }, // right end
        { 22, 51, 2, Colour(0xFF656B72), 1 },
        { 23, 3, 175, Colour(0xFF464B50), 1 },
        { 24, 3, 175, Colour(0xFF77797A), 1 },
        { 25, 3, 175, Colour(0xFF595C5F), 1 },
        { 26, 3, 175, Colour(0xFF525558), 1 },
        { 52, 0, 0, Colour(0xFF3A3F45), 0 },  // opaque background
        { 52, 398, 88, Colour(0xFF3A3F45), 0 },
        { 55, 6, 17, Colour(0xFF18AF5E), 2 },
        { 56, 6, 17, Colour(0xFF20DC77), 2 },
        { 57, 6, 17, Colour(0xFF198A4D), 2 },
        { 58, 6, 17, Colour(0xFF60646B), 2 },
        { 59, 6, 17, Colour(0xFF30614D), 2 },
        { 59, 0, 17, Colour(0xFF20DC77), 2 },  // with its frame
        { 60, 6, 17, Colour(0xFF2F5044), 2 },
        { 60, 0, 17, Colour(0xFF11984F), 2 },
    };
    for (const auto& p : probes)
    {
        const auto c = pixel(getImageResource(p.index), p.x, p.y);
        EXPECT_TRUE(near(c, p.colour, p.tolerance)) << "image " << p.index << " at " << p.x << "," << p.y << ": "
                                                   << c.toDisplayString(true);
    }

    // Disabled check boxes and text button: about 30 % opacity.
    for (int index : { 3, 4, 5, 54 })
    {
        const int alpha = pixel(getImageResource(index), index == 54 ? 6 : 0, index == 54 ? 17 : 9).getAlpha();
        EXPECT_NEAR(alpha, 77, 4) << index;
    }
}

TEST(ImageResourcesTest, AnimationFramesAllDiffer)
{
    for (int i = 0; i < ImageId::spinnerFrameCount; ++i)
        EXPECT_TRUE(differ(getImageResource(ImageId::FirstSpinnerFrame + i),
                           getImageResource(ImageId::FirstSpinnerFrame + (i + 1) % ImageId::spinnerFrameCount)))
            << i;
    for (int i = 0; i < ImageId::searchingFrameCount; ++i)
        EXPECT_TRUE(differ(getImageResource(ImageId::FirstSearchingFrame + i),
                           getImageResource(ImageId::FirstSearchingFrame + (i + 1) % ImageId::searchingFrameCount)))
            << i;
    for (int i = 29; i < 35; ++i)
        EXPECT_TRUE(differ(getImageResource(i), getImageResource(i + 1))) << i;
}
