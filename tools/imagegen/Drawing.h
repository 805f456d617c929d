#pragma once

#include <juce_graphics/juce_graphics.h>

#include <functional>
#include <vector>

// Small drawing helpers and the palette shared by the image painters.
namespace imagegen
{
using Painter = std::function<void(juce::Graphics&, int width, int height)>;

struct ImageSpec
{
    int index;
    const char* role;
    int width;
    int height;
    bool opaqueRgb; // written as an RGB PNG without alpha
    Painter paint;
};

// Every image of the program, in index order.
std::vector<ImageSpec> buildImageTable();

// Painters, grouped by file.
void paintWordmark(juce::Graphics&, int w, int h);
void paintAppIcon(juce::Graphics&, int w, int h);
void paintWarningSign(juce::Graphics&, int w, int h);

enum class BoxMark { tick, partial, none };
struct CheckBoxLook
{
    juce::Colour fill, frame, mark;
    BoxMark markKind;
    float opacity;
};
void paintCheckBox(juce::Graphics&, int w, int h, const CheckBoxLook&);

void paintCloseGlyph(juce::Graphics&, int w, int h, juce::Colour);
void paintMinimiseGlyph(juce::Graphics&, int w, int h, juce::Colour);
void paintProgressFill(juce::Graphics&, int w, int h);
void paintRoundedBar(juce::Graphics&, int w, int h, juce::Colour);
void paintFailureBadge(juce::Graphics&, int w, int h);
void paintSuccessBadge(juce::Graphics&, int w, int h);
void paintSpinnerFrame(juce::Graphics&, int w, int h, int frame, int frameCount);

struct TextButtonLook
{
    juce::Colour fill;
    juce::Colour frame; // transparent: no frame
    bool bottomEdge;
    float opacity;
};
void paintTextButton(juce::Graphics&, int w, int h, const TextButtonLook&);

void paintDevice(juce::Graphics&, int w, int h, int model); // model 0..5, 6 = generic box
void paintSearchFrame(juce::Graphics&, int w, int h, int frame, int frameCount);
void paintUnpluggedDevice(juce::Graphics&, int w, int h, bool crossedOut);

// Palette.
namespace colours
{
const juce::Colour white { 0xffffffff };
const juce::Colour green { 0xff18ba62 };
const juce::Colour brightGreen { 0xff20dc77 };
const juce::Colour darkGreen { 0xff11984f };
const juce::Colour grey { 0xff9da1a6 };
const juce::Colour rowBackground { 0xff3a3f45 };
const juce::Colour amber { 0xffdea30b };
const juce::Colour red { 0xfff84242 };
} // namespace colours

// A rounded rectangle as a path.
inline juce::Path roundedRect(juce::Rectangle<float> r, float radius)
{
    juce::Path p;
    p.addRoundedRectangle(r, radius);
    return p;
}

// A soft elliptical shadow, darkest in the middle.
void fillSoftShadow(juce::Graphics&, juce::Rectangle<float> ellipse, float alpha);
} // namespace imagegen
