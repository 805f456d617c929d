#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <ostream>

namespace uitest
{
// A snapshot of the whole component at scale 1. When the environment variable TOVRAK_UI_SHOTS
// names a folder, the snapshot is also written there as <name>.png for a person to look at.
juce::Image snapshot(juce::Component&, const juce::String& name = {});

juce::Colour pixel(const juce::Image&, int x, int y);

// Every channel, alpha included, within the tolerance.
bool near(juce::Colour a, juce::Colour b, int tolerance = 2);

// The bounding box of the pixels in the region that differ from the background by more than the
// tolerance; empty when there are none.
juce::Rectangle<int> inkBounds(const juce::Image&, juce::Rectangle<int> region, juce::Colour background,
                               int tolerance = 8);

// The brightest pixel of a region (by the sum of red, green and blue).
juce::Colour brightest(const juce::Image&, juce::Rectangle<int> region);

// Runs the message loop for a while (timers, async updates, posted clicks).
void pump(int milliseconds);

// A plain component that fills itself with one colour: a parent for widgets under test.
class Backdrop : public juce::Component
{
public:
    explicit Backdrop(juce::Colour c) : colour(c) { setOpaque(true); }
    void paint(juce::Graphics& g) override { g.fillAll(colour); }

private:
    juce::Colour colour;
};
} // namespace uitest

namespace juce
{
// Lets gtest print colours as 0xAARRGGBB.
inline void PrintTo(const Colour& c, std::ostream* os) { *os << "0x" << c.toDisplayString(true).toStdString(); }
} // namespace juce
