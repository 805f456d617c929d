#pragma once

#include <juce_graphics/juce_graphics.h>

// The three shared plain fonts. They use the default sans-serif typeface name, so they follow
// the typeface that the language selection sets.
extern juce::Font g_fontLarge;  // height 24
extern juce::Font g_fontMedium; // height 18
extern juce::Font g_fontSmall;  // height 15

// Points the three fonts at the framework's default sans-serif name and drops the typefaces they
// have cached (called at start, and at shutdown before the framework frees its typefaces).
void useDefaultSansSerifForSharedFonts();
