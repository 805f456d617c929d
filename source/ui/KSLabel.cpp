#include "KSLabel.h"

#include "Fonts.h"
#include "ImageResources.h"

#include <cmath>

KSLabel::KSLabel(const juce::String& initialText)
    : text(initialText),
      font(g_fontLarge)
{
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i] = getImageResource(ImageId::FirstSearchingFrame + (int) i);
    pictureWidth = frames[0].getWidth();
    startTimer(60);
}

KSLabel::~KSLabel()
{
    stopTimer();
}

void KSLabel::setText(const juce::String& newText)
{
    text = newText;
    repaint();
}

void KSLabel::timerCallback()
{
    // Runs also while hidden. The counter only selects a frame, so it wraps.
    frame = (frame + 1) % (int) frames.size();
    repaint();
}

void KSLabel::paint(juce::Graphics& g)
{
    g.fillAll(findColour(juce::Label::backgroundColourId));

    const int textWidth = (int) std::ceil(font.getStringWidthFloat(text));
    // A block wider than the label starts at its left edge and the text is squeezed into the
    // space right of the picture, rather than pushing the picture out of view.
    const int total = juce::jmin(pictureWidth + textWidth, getWidth());
    auto group = juce::Rectangle<int>((getWidth() - total) / 2, 0, total, getHeight());

    drawImageCentred(g, frames[(size_t) (frame % (int) frames.size())], group.removeFromLeft(pictureWidth));

    g.setColour(findColour(juce::Label::textColourId));
    g.setFont(font);
    g.drawFittedText(text, group, juce::Justification::centredLeft, 1);
}
