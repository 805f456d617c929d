#include "KSStatusLabel.h"

#include <algorithm>

namespace
{
// Scripts written without spaces between words may break between any two of their characters.
bool breaksAnywhere(juce::juce_wchar c)
{
    return (c >= 0x2E80 && c <= 0x9FFF)    // CJK radicals, punctuation, kana, ideographs
           || (c >= 0xF900 && c <= 0xFAFF) // compatibility ideographs
           || (c >= 0xFF00 && c <= 0xFFEF); // full-width forms (the Chinese comma and full stop)
}

bool isClosingPunctuation(juce::juce_wchar c)
{
    // Never at the start of a line.
    return c == 0x3001 || c == 0x3002 || c == 0xFF0C || c == 0xFF0E || c == 0xFF01 || c == 0xFF1F
           || c == 0xFF1A || c == 0xFF1B || c == 0xFF09 || c == ',' || c == '.';
}

struct Split
{
    juce::String first, second;
    float longest = 0.0f;
};

// Where a line may break, best first: after a comma or a full stop (between the parts of a
// sentence), at any space, between characters of a script without spaces.
enum class BreakKind
{
    AfterPunctuation,
    AtSpace,
    BetweenCharacters
};

bool isClauseEnd(juce::juce_wchar c)
{
    return c == ',' || c == '.' || c == ';' || c == 0xFF0C || c == 0x3001 || c == 0x3002 || c == 0xFF1B;
}

bool breakAllowed(BreakKind kind, juce::juce_wchar before, juce::juce_wchar at)
{
    switch (kind)
    {
        case BreakKind::AfterPunctuation:
            return isClauseEnd(before) && (at == ' ' || breaksAnywhere(before));
        case BreakKind::AtSpace:
            return at == ' ';
        case BreakKind::BetweenCharacters:
            return (breaksAnywhere(before) || breaksAnywhere(at)) && before != ' ' && at != ' '
                   && !isClosingPunctuation(at);
    }
    return false;
}

// The best two-line split that fits the width at this font, if any: of the breaks of the best
// kind that fits, the one with the shorter longest line.
bool bestSplit(const juce::String& text, const juce::Font& font, float width, Split& best)
{
    const int n = text.length();
    for (const BreakKind kind : { BreakKind::AfterPunctuation, BreakKind::AtSpace, BreakKind::BetweenCharacters })
    {
        bool found = false;
        for (int i = 1; i < n; ++i)
        {
            if (!breakAllowed(kind, text[i - 1], text[i]))
                continue;
            Split s { text.substring(0, i).trimEnd(), text.substring(i).trimStart(), 0.0f };
            if (s.first.isEmpty() || s.second.isEmpty())
                continue;
            s.longest = std::max(font.getStringWidthFloat(s.first), font.getStringWidthFloat(s.second));
            if (s.longest > width)
                continue;
            if (!found || s.longest < best.longest)
                best = s;
            found = true;
        }
        if (found)
            return true;
    }
    return false;
}
} // namespace

StatusTextLayout StatusTextLayout::make(const juce::String& text, const juce::Font& font, float width, float height)
{
    StatusTextLayout layout;
    const juce::String trimmed = text.trim();
    const float full = font.getHeight();
    // A short text that misses by a little stays on one line, a step or two smaller.
    for (float h = full; h >= std::max(kSmallestHeight, full - kOneLineSteps); h -= 1.0f)
        if (font.withHeight(h).getStringWidthFloat(trimmed) <= width)
        {
            layout.lines = juce::StringArray(trimmed);
            layout.fontHeight = h;
            layout.fits = true;
            return layout;
        }
    // A longer one takes two lines, at the largest step at which both fit.
    for (float h = full; h >= kSmallestHeight; h -= 1.0f)
    {
        const juce::Font f = font.withHeight(h);
        Split split;
        if ((float) kMaxLines * f.getHeight() <= height && bestSplit(trimmed, f, width, split))
        {
            layout.lines = juce::StringArray(split.first, split.second);
            layout.fontHeight = h;
            layout.fits = true;
            return layout;
        }
        if (f.getStringWidthFloat(trimmed) <= width)
        {
            layout.lines = juce::StringArray(trimmed);
            layout.fontHeight = h;
            layout.fits = true;
            return layout;
        }
    }
    layout.lines = juce::StringArray(trimmed);
    layout.fontHeight = std::min(full, kSmallestHeight);
    layout.fits = false;
    return layout;
}

StatusTextLayout KSStatusLabel::currentLayout() const
{
    const auto area = getBorderSize().subtractedFrom(getLocalBounds()).toFloat();
    return StatusTextLayout::make(getText(), getFont(), area.getWidth(), area.getHeight());
}

void KSStatusLabel::paint(juce::Graphics& g)
{
    g.fillAll(findColour(backgroundColourId));
    if (isBeingEdited())
        return;
    const auto area = getBorderSize().subtractedFrom(getLocalBounds()).toFloat();
    const StatusTextLayout layout = currentLayout();
    const juce::Font font = getFont().withHeight(layout.fontHeight);
    const float lineHeight = font.getHeight();
    const float total = lineHeight * (float) layout.lines.size();

    auto justification = getJustificationType();
    float y = area.getY();
    if (justification.testFlags(juce::Justification::verticallyCentred))
        y += (area.getHeight() - total) * 0.5f;
    else if (justification.testFlags(juce::Justification::bottom))
        y += area.getHeight() - total;
    const auto horizontal = juce::Justification(justification.getOnlyHorizontalFlags()
                                                | juce::Justification::verticallyCentred);

    g.setColour(findColour(textColourId).withMultipliedAlpha(isEnabled() ? 1.0f : 0.5f));
    g.setFont(font);
    for (const auto& line : layout.lines)
    {
        const juce::Rectangle<float> lineArea(area.getX(), y, area.getWidth(), lineHeight);
        if (layout.fits)
            g.drawText(line, lineArea, horizontal, false);
        else
            g.drawFittedText(line, lineArea.toNearestInt(), horizontal, 1, 0.5f);
        y += lineHeight;
    }
}
