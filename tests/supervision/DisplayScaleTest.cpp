// The display scale rule: the window keeps its design size where it fits and shrinks to fit a
// small primary display.
#include "Platform.h"

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

TEST(DisplayScale, FitsAtTheDpiScaleOrShrinksToTheSmallerRatio)
{
    // 1920 x 1080 at 150 %: logical 1280 x 720, the window fits.
    EXPECT_FLOAT_EQ(platform::scaleToFitDisplay(1090, 709, 1920, 1080, 1.5f), 1.5f);
    // At 200 %: logical 960 x 540; both ratios below 1, the smaller (height) wins.
    EXPECT_NEAR(platform::scaleToFitDisplay(1090, 709, 1920, 1080, 2.0f), 2.0f * 540.0f / 709.0f, 1e-5);
    // Only too narrow: the width ratio wins even though the height ratio is above 1.
    EXPECT_NEAR(platform::scaleToFitDisplay(1090, 709, 1000, 1000, 1.0f), 1000.0f / 1090.0f, 1e-5);
    // Only too low: the width ratio (above 1) is limited to 1, the height ratio wins.
    EXPECT_NEAR(platform::scaleToFitDisplay(1090, 709, 2000, 700, 1.0f), 700.0f / 709.0f, 1e-5);
    // The logical size is cut to whole pixels before it is compared: 1634 / 1.5 = 1089.33 -> 1089.
    EXPECT_LT(platform::scaleToFitDisplay(1090, 709, 1634, 1200, 1.5f), 1.5f);
    EXPECT_FLOAT_EQ(platform::scaleToFitDisplay(1090, 709, 1635, 1200, 1.5f), 1.5f);
    // Nonsense input does not scale.
    EXPECT_FLOAT_EQ(platform::scaleToFitDisplay(1090, 709, 1920, 1080, 0.0f), 1.0f);
}

TEST(DisplayScale, WithoutAPerMonitorDpiQueryTheScaleIsOne)
{
    if ((juce::SystemStats::getOperatingSystemType() & juce::SystemStats::Windows) != 0)
        GTEST_SKIP() << "on Windows the rule depends on the display";
    EXPECT_FLOAT_EQ(platform::getScaleForWindowSize(1090, 709), 1.0f);
    EXPECT_FLOAT_EQ(platform::getScaleForWindowSize(5000, 5000), 1.0f);
}
