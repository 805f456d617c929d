#include "Fonts.h"

juce::Font g_fontLarge(24.0f, juce::Font::plain);
juce::Font g_fontMedium(18.0f, juce::Font::plain);
juce::Font g_fontSmall(15.0f, juce::Font::plain);

void useDefaultSansSerifForSharedFonts()
{
    const auto name = juce::Font::getDefaultSansSerifFontName();
    g_fontLarge.setTypefaceName(name);
    g_fontMedium.setTypefaceName(name);
    g_fontSmall.setTypefaceName(name);
}
