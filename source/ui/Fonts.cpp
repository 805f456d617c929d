#include "Fonts.h"

// Made with a typeface name: a plain font made without one takes the framework's default
// typeface from its typeface cache, and creating that cache while static objects are made leaves
// it to programs that never start the framework's GUI (a test executable listing its tests).
juce::Font g_fontLarge(juce::Font::getDefaultSansSerifFontName(), 24.0f, juce::Font::plain);
juce::Font g_fontMedium(juce::Font::getDefaultSansSerifFontName(), 18.0f, juce::Font::plain);
juce::Font g_fontSmall(juce::Font::getDefaultSansSerifFontName(), 15.0f, juce::Font::plain);

void useDefaultSansSerifForSharedFonts()
{
    // Fresh fonts: besides the name, this drops any typeface a font has cached, so none outlives
    // the framework's shutdown in these static objects.
    const auto name = juce::Font::getDefaultSansSerifFontName();
    g_fontLarge = juce::Font(name, 24.0f, juce::Font::plain);
    g_fontMedium = juce::Font(name, 18.0f, juce::Font::plain);
    g_fontSmall = juce::Font(name, 15.0f, juce::Font::plain);
}
