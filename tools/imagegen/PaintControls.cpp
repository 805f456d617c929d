// The small interface images: wordmark, icons, check boxes, glyphs, bars, badges, spinner and
// the text button backgrounds.
#include "Drawing.h"

#include <cmath>

using namespace juce;

namespace imagegen
{
namespace
{
constexpr float pi = MathConstants<float>::pi;

// Wordmark letters are drawn as centre lines stroked with a fixed weight, inside a cap box that
// later clips the strokes flat at top and bottom.
struct CapBox
{
    float top, bottom, stroke;
    float ct() const { return top + stroke * 0.5f; }
    float cb() const { return bottom - stroke * 0.5f; }
};

void addLine(Path& p, float x1, float y1, float x2, float y2)
{
    p.startNewSubPath(x1, y1);
    p.lineTo(x2, y2);
}

// Returns the advance of the letter.
float addLetter(Path& p, juce_wchar c, float x, const CapBox& b)
{
    const float s = b.stroke, h = s * 0.5f, t = b.ct(), bt = b.cb();
    const float mid = (b.top + b.bottom) * 0.5f - 0.5f;
    switch (c)
    {
    case 'K':
    {
        const float w = 12.0f;
        addLine(p, x + h, b.top - 2, x + h, b.bottom + 2);
        addLine(p, x + s, mid + 1.6f, x + w + 0.6f, b.top - 1.2f);
        addLine(p, x + 4.6f, mid - 0.4f, x + w + 0.6f, b.bottom + 1.2f);
        return w;
    }
    case 'E':
    {
        const float w = 10.0f;
        addLine(p, x + h, b.top - 2, x + h, b.bottom + 2);
        addLine(p, x, t, x + w, t);
        addLine(p, x, mid, x + w - 1.0f, mid);
        addLine(p, x, bt, x + w, bt);
        return w;
    }
    case 'S':
    {
        const float w = 11.0f, cx = x + w * 0.5f;
        p.startNewSubPath(x + w - 1.0f, t + 1.7f);
        p.cubicTo(x + w - 2.2f, t + 0.2f, cx + 1.5f, t, cx, t);
        p.cubicTo(x + 2.4f, t, x + h, t + 1.2f, x + h, t + 2.7f);
        p.cubicTo(x + h, mid - 0.6f, x + 2.6f, mid - 0.1f, cx, mid + 0.3f);
        p.cubicTo(x + w - 2.6f, mid + 0.7f, x + w - h, mid + 1.4f, x + w - h, bt - 2.8f);
        p.cubicTo(x + w - h, bt - 1.0f, x + w - 2.6f, bt, cx, bt);
        p.cubicTo(cx - 1.8f, bt, x + 1.9f, bt - 0.3f, x + 0.6f, bt - 1.9f);
        return w;
    }
    case 'T':
    {
        const float w = 12.0f;
        addLine(p, x, t, x + w, t);
        addLine(p, x + w * 0.5f, t, x + w * 0.5f, b.bottom + 2);
        return w;
    }
    case 'R':
    {
        const float w = 11.0f, bowlBottom = mid + 0.5f;
        addLine(p, x + h, b.top - 2, x + h, b.bottom + 2);
        p.startNewSubPath(x + h, t);
        p.lineTo(x + w - 4.2f, t);
        p.cubicTo(x + w - 1.6f, t, x + w - h, t + 1.3f, x + w - h, (t + bowlBottom) * 0.5f);
        p.cubicTo(x + w - h, bowlBottom - 1.3f, x + w - 1.6f, bowlBottom, x + w - 4.2f, bowlBottom);
        p.lineTo(x + h, bowlBottom);
        addLine(p, x + w - 4.6f, bowlBottom, x + w + 0.4f, b.bottom + 1.6f);
        return w;
    }
    case 'A':
    {
        const float w = 14.0f, apexX = x + w * 0.5f, apexY = b.top - 1.6f;
        const float footY = b.bottom + 1.6f;
        addLine(p, apexX, apexY, x - 0.4f, footY);
        addLine(p, apexX, apexY, x + w + 0.4f, footY);
        const float barY = b.bottom - 3.5f;
        const float f = (barY - apexY) / (footY - apexY);
        addLine(p, apexX + (x - 0.4f - apexX) * f + 1.0f, barY, apexX + (x + w + 0.4f - apexX) * f - 1.0f, barY);
        return w;
    }
    case 'N':
    {
        const float w = 12.0f;
        addLine(p, x + h, b.top - 2, x + h, b.bottom + 2);
        addLine(p, x + w - h, b.top - 2, x + w - h, b.bottom + 2);
        addLine(p, x + h, b.top - 1.0f, x + w - h, b.bottom + 1.0f);
        return w;
    }
    default:
        return 0.0f;
    }
}
} // namespace

void fillSoftShadow(Graphics& g, Rectangle<float> e, float alpha)
{
    ColourGradient grad(Colours::black.withAlpha(alpha), e.getCentreX(), e.getCentreY(),
                        Colours::black.withAlpha(0.0f), e.getRight(), e.getCentreY(), true);
    g.saveState();
    g.addTransform(AffineTransform::scale(1.0f, e.getHeight() / e.getWidth(), e.getCentreX(), e.getCentreY()));
    g.setGradientFill(grad);
    g.fillEllipse(e.withSizeKeepingCentre(e.getWidth(), e.getWidth()));
    g.restoreState();
}

void paintWordmark(Graphics& g, int w, int h)
{
    const CapBox box { 2.0f, 15.0f, 2.2f };
    const String name("KESTRANE");
    constexpr float tracking = 6.6f;

    Path letters;
    float width = 0.0f;
    {
        Path probe;
        for (auto c : name)
            width += addLetter(probe, c, 0.0f, box) + tracking;
        width -= tracking;
    }
    float x = std::round(((float) w - width) * 0.5f);
    for (auto c : name)
        x += addLetter(letters, c, x, box) + tracking;

    g.saveState();
    g.reduceClipRegion(0, (int) box.top, w, (int) (box.bottom - box.top));
    g.setColour(colours::white);
    g.strokePath(letters, PathStrokeType(box.stroke, PathStrokeType::mitered, PathStrokeType::butt));
    g.restoreState();
    ignoreUnused(h);
}

void paintAppIcon(Graphics& g, int w, int h)
{
    const auto area = Rectangle<float>(0, 0, (float) w, (float) h).reduced(6.0f);
    const float radius = area.getWidth() * 0.22f;

    // Tile with a soft drop shadow.
    DropShadow(Colours::black.withAlpha(0.45f), 6, { 0, 2 }).drawForPath(g, roundedRect(area, radius));
    g.setGradientFill(ColourGradient(Colour(0xff353a41), 0, area.getY(), Colour(0xff1c1f24), 0, area.getBottom(), false));
    g.fillRoundedRectangle(area, radius);
    g.setColour(Colours::white.withAlpha(0.08f));
    g.drawRoundedRectangle(area.reduced(0.5f), radius, 1.0f);

    // Green disc with an upward arrow standing on a bar: "bring the device up to date".
    const auto disc = area.withSizeKeepingCentre(76, 76);
    g.setGradientFill(ColourGradient(Colour(0xff2bd67c), disc.getX(), disc.getY(),
                                     Colour(0xff129a50), disc.getRight(), disc.getBottom(), false));
    g.fillEllipse(disc);
    g.setColour(Colours::white.withAlpha(0.18f));
    g.drawEllipse(disc.reduced(1.0f), 1.5f);

    const float cx = disc.getCentreX(), cy = disc.getCentreY();
    Path arrow;
    arrow.startNewSubPath(cx, cy + 12);
    arrow.lineTo(cx, cy - 17);
    arrow.startNewSubPath(cx - 13, cy - 5);
    arrow.lineTo(cx, cy - 18);
    arrow.lineTo(cx + 13, cy - 5);
    g.setColour(Colours::white);
    g.strokePath(arrow, PathStrokeType(7.0f, PathStrokeType::curved, PathStrokeType::rounded));
    g.fillRoundedRectangle(cx - 17, cy + 18, 34, 6, 3);
}

void paintWarningSign(Graphics& g, int w, int h)
{
    const float cx = (float) w * 0.5f;
    Path triangle;
    triangle.startNewSubPath(cx, 2.4f);
    triangle.lineTo((float) w - 2.4f, (float) h - 2.2f);
    triangle.lineTo(2.4f, (float) h - 2.2f);
    triangle.closeSubPath();

    g.setColour(colours::amber.withAlpha(0.1f));
    g.fillPath(triangle);
    g.setColour(colours::amber);
    g.strokePath(triangle, PathStrokeType(2.6f, PathStrokeType::curved, PathStrokeType::rounded));

    Path bar;
    bar.startNewSubPath(cx, 11.5f);
    bar.lineTo(cx, 21.5f);
    g.strokePath(bar, PathStrokeType(3.0f, PathStrokeType::curved, PathStrokeType::rounded));
    g.fillEllipse(cx - 1.9f, 24.6f, 3.8f, 3.8f);
}

void paintCheckBox(Graphics& g, int w, int h, const CheckBoxLook& look)
{
    Image layer(Image::ARGB, w, h, true);
    {
        Graphics lg(layer);
        const auto outer = Rectangle<float>(0, 0, (float) w, (float) h);
        lg.setColour(look.frame);
        lg.fillRoundedRectangle(outer, 3.5f);
        lg.setColour(look.fill);
        lg.fillRoundedRectangle(outer.reduced(1.0f), 2.6f);

        lg.setColour(look.mark);
        if (look.markKind == BoxMark::tick)
        {
            Path tick;
            tick.startNewSubPath(4.6f, 9.3f);
            tick.lineTo(7.7f, 12.3f);
            tick.lineTo(13.4f, 5.9f);
            lg.strokePath(tick, PathStrokeType(2.1f, PathStrokeType::curved, PathStrokeType::rounded));
        }
        else if (look.markKind == BoxMark::partial)
        {
            lg.fillRoundedRectangle(outer.withSizeKeepingCentre(8.0f, 8.0f), 1.5f);
        }
    }
    if (look.opacity < 1.0f)
        layer.multiplyAllAlphas(look.opacity);
    g.drawImageAt(layer, 0, 0);
}

void paintCloseGlyph(Graphics& g, int w, int h, Colour colour)
{
    const float cx = (float) w * 0.5f, cy = (float) h * 0.5f, r = 4.6f;
    Path cross;
    addLine(cross, cx - r, cy - r, cx + r, cy + r);
    addLine(cross, cx + r, cy - r, cx - r, cy + r);
    g.setColour(colour);
    g.strokePath(cross, PathStrokeType(1.5f, PathStrokeType::curved, PathStrokeType::rounded));
}

void paintMinimiseGlyph(Graphics& g, int w, int h, Colour colour)
{
    g.setColour(colour);
    g.fillRoundedRectangle((float) w * 0.5f - 5.0f, (float) h * 0.5f - 0.75f, 10.0f, 1.5f, 0.5f);
}

void paintProgressFill(Graphics& g, int w, int h)
{
    g.setGradientFill(ColourGradient(Colour(0xff18ba86), 0, 0, Colour(0xff18ba63), (float) w, 0, false));
    g.fillRoundedRectangle(0, 0, (float) w, (float) h, (float) h * 0.5f);
}

void paintRoundedBar(Graphics& g, int w, int h, Colour colour)
{
    g.setColour(colour);
    g.fillRoundedRectangle(0, 0, (float) w, (float) h, (float) std::min(w, h) * 0.5f);
}

namespace
{
void paintBadgeDisc(Graphics& g, int w, int h, Colour colour)
{
    const auto disc = Rectangle<float>(0, 0, (float) w, (float) h).reduced(1.0f);
    g.setGradientFill(ColourGradient(colour.brighter(0.18f), disc.getCentreX(), disc.getY(),
                                     colour.darker(0.12f), disc.getCentreX(), disc.getBottom(), false));
    g.fillEllipse(disc);
}
} // namespace

void paintFailureBadge(Graphics& g, int w, int h)
{
    paintBadgeDisc(g, w, h, colours::red);
    const float c = (float) w * 0.5f, r = 3.9f;
    Path cross;
    addLine(cross, c - r, c - r, c + r, c + r);
    addLine(cross, c + r, c - r, c - r, c + r);
    g.setColour(colours::white);
    g.strokePath(cross, PathStrokeType(2.1f, PathStrokeType::curved, PathStrokeType::rounded));
}

void paintSuccessBadge(Graphics& g, int w, int h)
{
    paintBadgeDisc(g, w, h, colours::green);
    Path tick;
    tick.startNewSubPath(6.4f, 11.4f);
    tick.lineTo(9.7f, 14.6f);
    tick.lineTo(15.6f, 7.9f);
    g.setColour(colours::white);
    g.strokePath(tick, PathStrokeType(2.2f, PathStrokeType::curved, PathStrokeType::rounded));
}

void paintSpinnerFrame(Graphics& g, int w, int h, int frame, int frameCount)
{
    const float cx = (float) w * 0.5f, cy = (float) h * 0.5f, r = (float) std::min(w, h) * 0.5f - 2.4f;
    constexpr float thickness = 2.6f;

    Path track;
    track.addCentredArc(cx, cy, r, r, 0.0f, 0.0f, 2.0f * pi, true);
    g.setColour(colours::green.withAlpha(0.16f));
    g.strokePath(track, PathStrokeType(thickness));

    // A comet-like arc: the head is solid, the tail fades out.
    const float head = 2.0f * pi * (float) frame / (float) frameCount + 0.5f * pi;
    constexpr float sweep = 0.8f * pi;
    constexpr int steps = 18;
    for (int i = 0; i < steps; ++i)
    {
        const float a0 = head - sweep + sweep * (float) i / steps;
        const float a1 = head - sweep + sweep * (float) (i + 1) / steps + 0.02f;
        Path piece;
        piece.addCentredArc(cx, cy, r, r, 0.0f, a0, a1, true);
        const float alpha = 0.1f + 0.9f * std::pow((float) (i + 1) / steps, 0.6f);
        g.setColour(colours::green.withAlpha(alpha));
        g.strokePath(piece, PathStrokeType(thickness, PathStrokeType::curved,
                                           i == steps - 1 ? PathStrokeType::rounded : PathStrokeType::butt));
    }
}

void paintTextButton(Graphics& g, int w, int h, const TextButtonLook& look)
{
    Image layer(Image::ARGB, w, h, true);
    {
        Graphics lg(layer);
        const auto area = Rectangle<float>(0, 0, (float) w, (float) h);
        constexpr float radius = 4.0f;
        const auto shape = roundedRect(area, radius);
        lg.setColour(look.fill);
        lg.fillPath(shape);

        lg.saveState();
        lg.reduceClipRegion(shape);
        // A faint light top line and, where asked, a faint dark bottom edge.
        lg.setColour(Colours::white.withAlpha(0.07f));
        lg.fillRect(0, 0, w, 1);
        if (look.bottomEdge)
        {
            lg.setColour(Colours::black.withAlpha(0.22f));
            lg.fillRect(0, h - 2, w, 2);
        }
        lg.restoreState();

        if (! look.frame.isTransparent())
        {
            lg.setColour(look.frame);
            lg.drawRoundedRectangle(area.reduced(0.5f), radius - 0.5f, 1.0f);
        }
    }
    if (look.opacity < 1.0f)
        layer.multiplyAllAlphas(look.opacity);
    g.drawImageAt(layer, 0, 0);
}
} // namespace imagegen
