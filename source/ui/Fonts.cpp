#include "Fonts.h"

// Made with a typeface name: a plain font made without one takes the framework's default
// typeface from its typeface cache, and creating that cache while static objects are made leaves
// it to programs that never start the framework's GUI (a test executable listing its tests).
juce::Font g_fontLarge(juce::Font::getDefaultSansSerifFontName(), 24.0f, juce::Font::plain);
juce::Font g_fontMedium(juce::Font::getDefaultSansSerifFontName(), 18.0f, juce::Font::plain);
juce::Font g_fontSmall(juce::Font::getDefaultSansSerifFontName(), 15.0f, juce::Font::plain);

void useDefaultSansSerifForSharedFonts()
{
    const auto name = juce::Font::getDefaultSansSerifFontName();
    g_fontLarge.setTypefaceName(name);
    g_fontMedium.setTypefaceName(name);
    g_fontSmall.setTypefaceName(name);
}
