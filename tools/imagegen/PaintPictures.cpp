// The pictures: the device products, the searching animation and the unplugged-device
// illustration.
#include "Drawing.h"

#include <cmath>

using namespace juce;

namespace imagegen
{
namespace
{
constexpr float pi = MathConstants<float>::pi;

// A box in oblique projection: the front face is the rectangle (x, y, w, h); the top face leans
// back to the upper right by (dx, -dy); the right side face joins them.
struct Box
{
    float x, y, w, h, dx, dy;

    Rectangle<float> front() const { return { x, y, w, h }; }
    Path top() const
    {
        Path p;
        p.startNewSubPath(x, y);
        p.lineTo(x + dx, y - dy);
        p.lineTo(x + w + dx, y - dy);
        p.lineTo(x + w, y);
        p.closeSubPath();
        return p;
    }
    Path side() const
    {
        Path p;
        p.startNewSubPath(x + w, y);
        p.lineTo(x + w + dx, y - dy);
        p.lineTo(x + w + dx, y - dy + h);
        p.lineTo(x + w, y + h);
        p.closeSubPath();
        return p;
    }
    // A point on the top face: u along the width, v from the front edge (0) to the back edge (1).
    Point<float> onTop(float u, float v) const { return { x + u * w + v * dx, y - v * dy }; }
};

void drawBox(Graphics& g, const Box& b, Colour base, float topLift = 0.32f)
{
    fillSoftShadow(g, { b.x - 3.0f, b.y + b.h - 5.0f, b.w + b.dx + 8.0f, 10.0f }, 0.55f);

    const auto topColour = base.brighter(topLift);
    g.setGradientFill(ColourGradient(topColour.brighter(0.08f), b.x, b.y,
                                     topColour.darker(0.06f), b.x + b.w + b.dx, b.y - b.dy, false));
    g.fillPath(b.top());
    g.setGradientFill(ColourGradient(base, 0, b.y, base.darker(0.22f), 0, b.y + b.h, false));
    g.fillRect(b.front());
    g.setColour(base.darker(0.45f));
    g.fillPath(b.side());

    // Light catches the two front edges of the top face.
    Path edge;
    edge.startNewSubPath(b.x, b.y);
    edge.lineTo(b.x + b.w, b.y);
    edge.lineTo(b.x + b.w + b.dx, b.y - b.dy);
    g.setColour(Colours::white.withAlpha(0.28f));
    g.strokePath(edge, PathStrokeType(0.8f));
}

void hdmiPort(Graphics& g, float x, float y, float w = 7.0f)
{
    Path p;
    p.startNewSubPath(x, y);
    p.lineTo(x + w, y);
    p.lineTo(x + w, y + 2.0f);
    p.lineTo(x + w - 1.0f, y + 3.0f);
    p.lineTo(x + 1.0f, y + 3.0f);
    p.lineTo(x, y + 2.0f);
    p.closeSubPath();
    g.setColour(Colour(0xff0d0f12));
    g.fillPath(p);
    g.setColour(Colour(0xff8a9098));
    g.strokePath(p, PathStrokeType(0.6f));
}

void usbcPort(Graphics& g, float x, float y)
{
    g.setColour(Colour(0xff0d0f12));
    g.fillRoundedRectangle(x, y, 5.0f, 2.2f, 1.1f);
    g.setColour(Colour(0xff8a9098));
    g.drawRoundedRectangle(x, y, 5.0f, 2.2f, 1.1f, 0.6f);
}

void bncConnector(Graphics& g, float cx, float cy)
{
    g.setGradientFill(ColourGradient(Colour(0xffe6e9ec), cx - 2, cy - 3, Colour(0xff80868e), cx + 2, cy + 3, false));
    g.fillEllipse(cx - 3.4f, cy - 3.4f, 6.8f, 6.8f);
    g.setColour(Colour(0xff2a2d31));
    g.fillEllipse(cx - 1.6f, cy - 1.6f, 3.2f, 3.2f);
    g.setColour(Colour(0xffd9b45a));
    g.fillEllipse(cx - 0.6f, cy - 0.6f, 1.2f, 1.2f);
}

void led(Graphics& g, float cx, float cy, Colour colour)
{
    g.setGradientFill(ColourGradient(colour.withAlpha(0.55f), cx, cy, colour.withAlpha(0.0f), cx + 4.0f, cy, true));
    g.fillEllipse(cx - 4.0f, cy - 4.0f, 8.0f, 8.0f);
    g.setColour(colour.brighter(0.5f));
    g.fillEllipse(cx - 1.1f, cy - 1.1f, 2.2f, 2.2f);
}

void topSlots(Graphics& g, const Box& b, float u0, float u1, int count, Colour colour)
{
    for (int i = 0; i < count; ++i)
    {
        const float u = u0 + (u1 - u0) * (float) i / (float) (count - 1);
        const auto a = b.onTop(u, 0.28f), c = b.onTop(u, 0.72f);
        g.setColour(colour);
        g.drawLine(a.x, a.y, c.x, c.y, 1.1f);
    }
}
} // namespace

void paintDevice(Graphics& g, int w, int h, int model)
{
    ignoreUnused(w, h);
    const auto green = colours::green;
    switch (model)
    {
    case 0: // compact stick with its USB plug
    {
        const Box body { 6.0f, 24.0f, 41.0f, 9.0f, 10.0f, 8.0f };
        drawBox(g, body, Colour(0xff2f3339));
        hdmiPort(g, 10.0f, 27.0f);
        const auto l = body.onTop(0.82f, 0.5f);
        led(g, l.x, l.y, green);
        const auto s0 = body.onTop(0.12f, 0.5f), s1 = body.onTop(0.55f, 0.5f);
        g.setColour(Colours::white.withAlpha(0.22f));
        g.drawLine(s0.x, s0.y, s1.x, s1.y, 1.0f);

        // The plug leaves the right end face from the middle of its depth.
        const Box plug { body.x + body.w + body.dx * 0.25f, body.y - body.dy * 0.25f + 2.2f, 8.0f, 4.6f, 5.0f, 4.0f };
        drawBox(g, plug, Colour(0xffaab0b7), 0.25f);
        g.setColour(Colour(0xff2b2e33));
        const auto h1 = plug.onTop(0.35f, 0.5f), h2 = plug.onTop(0.75f, 0.5f);
        g.fillRect(h1.x - 0.9f, h1.y - 0.7f, 1.8f, 1.4f);
        g.fillRect(h2.x - 0.9f, h2.y - 0.7f, 1.8f, 1.4f);
        break;
    }
    case 1: // small aluminium cube
    {
        const Box body { 13.0f, 19.0f, 30.0f, 15.0f, 12.0f, 10.0f };
        drawBox(g, body, Colour(0xff7b828b), 0.38f);
        hdmiPort(g, 16.5f, 25.0f);
        usbcPort(g, 27.5f, 25.4f);
        led(g, 38.5f, 26.5f, green);
        const auto c = body.onTop(0.5f, 0.5f);
        g.setColour(Colours::white.withAlpha(0.35f));
        g.drawEllipse(c.x - 3.5f, c.y - 1.8f, 7.0f, 3.6f, 0.8f);
        break;
    }
    case 2: // wide flat black box with vents
    {
        const Box body { 4.0f, 23.0f, 46.0f, 10.0f, 12.0f, 9.0f };
        drawBox(g, body, Colour(0xff26292e), 0.28f);
        topSlots(g, body, 0.1f, 0.42f, 6, Colours::black.withAlpha(0.55f));
        hdmiPort(g, 8.0f, 26.5f);
        hdmiPort(g, 18.0f, 26.5f);
        usbcPort(g, 29.0f, 26.9f);
        led(g, 45.0f, 28.0f, green);
        const auto s0 = body.onTop(0.6f, 0.5f), s1 = body.onTop(0.9f, 0.5f);
        g.setColour(green.withAlpha(0.8f));
        g.drawLine(s0.x, s0.y, s1.x, s1.y, 1.2f);
        break;
    }
    case 3: // white box with a lit status strip
    {
        const Box body { 8.0f, 21.0f, 38.0f, 12.0f, 13.0f, 10.0f };
        drawBox(g, body, Colour(0xffc4c9cf), 0.22f);
        const auto a = body.onTop(0.14f, 0.5f), b = body.onTop(0.86f, 0.5f);
        g.setColour(green.withAlpha(0.35f));
        g.drawLine(a.x, a.y, b.x, b.y, 3.2f);
        g.setColour(green.brighter(0.3f));
        g.drawLine(a.x, a.y, b.x, b.y, 1.4f);
        hdmiPort(g, 12.0f, 25.5f);
        hdmiPort(g, 22.0f, 25.5f);
        usbcPort(g, 33.0f, 25.9f);
        break;
    }
    case 4: // broadcast box with two BNC connectors
    {
        const Box body { 7.0f, 20.0f, 40.0f, 14.0f, 11.0f, 9.0f };
        drawBox(g, body, Colour(0xff35414f), 0.3f);
        bncConnector(g, 14.0f, 27.0f);
        bncConnector(g, 24.0f, 27.0f);
        usbcPort(g, 31.5f, 26.0f);
        led(g, 42.0f, 27.0f, green);
        const auto s0 = body.onTop(0.1f, 0.5f), s1 = body.onTop(0.35f, 0.5f);
        g.setColour(Colour(0xffe0a21a).withAlpha(0.85f));
        g.drawLine(s0.x, s0.y, s1.x, s1.y, 1.3f);
        break;
    }
    case 5: // tall dual-input box with a button on top
    {
        const Box body { 10.0f, 17.0f, 33.0f, 18.0f, 12.0f, 10.0f };
        drawBox(g, body, Colour(0xff4b5058), 0.3f);
        hdmiPort(g, 13.5f, 22.0f);
        hdmiPort(g, 13.5f, 28.0f);
        usbcPort(g, 25.0f, 28.4f);
        led(g, 38.0f, 23.0f, green);
        led(g, 38.0f, 29.0f, green.withAlpha(0.6f));
        const auto c = body.onTop(0.55f, 0.5f);
        g.setColour(Colour(0xff2a2d32));
        g.fillEllipse(c.x - 5.0f, c.y - 2.5f, 10.0f, 5.0f);
        g.setColour(green);
        g.drawEllipse(c.x - 5.0f, c.y - 2.5f, 10.0f, 5.0f, 1.1f);
        break;
    }
    default: // the generic box
    {
        const Box body { 11.0f, 20.0f, 35.0f, 13.0f, 12.0f, 9.0f };
        drawBox(g, body, Colour(0xff7d838a), 0.3f);
        g.setColour(Colour(0xff4a4f55));
        g.drawRoundedRectangle(15.0f, 24.5f, 8.0f, 4.0f, 1.0f, 0.8f);
        break;
    }
    }
}

void paintSearchFrame(Graphics& g, int w, int h, int frame, int frameCount)
{
    const float cx = (float) w * 0.5f, cy = 42.0f, r = 32.0f;
    const float phase = (float) frame / (float) frameCount;

    fillSoftShadow(g, { cx - 34.0f, (float) h - 14.0f, 68.0f, 12.0f }, 0.5f);

    // A pulse ring leaves the disc once per cycle.
    const float ringR = r + 2.0f + 8.0f * phase;
    g.setColour(colours::green.withAlpha(0.45f * (1.0f - phase)));
    g.drawEllipse(cx - ringR, cy - ringR, ringR * 2.0f, ringR * 2.0f, 2.0f);

    const auto disc = Rectangle<float>(cx - r, cy - r, r * 2.0f, r * 2.0f);
    ColourGradient fill(Colour(0xff2ccc78), cx - 10.0f, cy - 14.0f, Colour(0xff139c53), cx + r, cy + r, true);
    fill.addColour(0.45, colours::green);
    g.setGradientFill(fill);
    g.fillEllipse(disc);
    g.setColour(Colours::white.withAlpha(0.12f));
    g.drawEllipse(disc.reduced(0.8f), 1.2f);

    // The magnifier circles slowly over the disc.
    const float a = 2.0f * pi * phase;
    const float mx = cx - 3.0f + 5.0f * std::cos(a), my = cy - 3.0f + 5.0f * std::sin(a);
    constexpr float lensR = 10.5f;
    const float d = 1.0f / std::sqrt(2.0f);
    Path magnifier;
    magnifier.addEllipse(mx - lensR, my - lensR, lensR * 2.0f, lensR * 2.0f);
    Path handle;
    handle.startNewSubPath(mx + (lensR + 1.5f) * d, my + (lensR + 1.5f) * d);
    handle.lineTo(mx + (lensR + 10.0f) * d, my + (lensR + 10.0f) * d);

    const auto offset = AffineTransform::translation(1.2f, 2.0f);
    g.setColour(Colours::black.withAlpha(0.16f));
    g.strokePath(magnifier, PathStrokeType(3.6f), offset);
    g.strokePath(handle, PathStrokeType(5.4f, PathStrokeType::curved, PathStrokeType::rounded), offset);

    const Colour light(0xfff1fbf5);
    g.setColour(Colours::white.withAlpha(0.16f));
    g.fillPath(magnifier);
    g.setColour(light);
    g.strokePath(magnifier, PathStrokeType(3.4f));
    g.strokePath(handle, PathStrokeType(5.2f, PathStrokeType::curved, PathStrokeType::rounded));

    Path glint;
    glint.addCentredArc(mx, my, 6.0f, 6.0f, 0.0f, -0.42f * pi, -0.12f * pi, true);
    g.setColour(Colours::white.withAlpha(0.75f));
    g.strokePath(glint, PathStrokeType(1.6f, PathStrokeType::curved, PathStrokeType::rounded));
}

namespace
{
// A cable drawn as a tube outline: a wide stroke in the line colour hollowed by a narrower one.
void cable(Graphics& g, const Path& centre, Colour line, Colour background)
{
    g.setColour(line);
    g.strokePath(centre, PathStrokeType(7.0f, PathStrokeType::curved, PathStrokeType::butt));
    g.setColour(background);
    g.strokePath(centre, PathStrokeType(3.0f, PathStrokeType::curved, PathStrokeType::square));
}
} // namespace

void paintUnpluggedDevice(Graphics& g, int w, int h, bool crossedOut)
{
    const Colour background = colours::rowBackground;
    const Colour line(0xffb4b9bf);
    const Colour dim(0xff80858c);
    g.fillAll(background);
    constexpr float stroke = 2.0f;

    // Video input cable and its plug, entering the device from the left.
    Path inCable;
    inCable.startNewSubPath(-6.0f, 58.0f);
    inCable.cubicTo(30.0f, 58.0f, 44.0f, 44.0f, 88.0f, 44.0f);
    cable(g, inCable, line, background);
    g.setColour(line);
    g.drawRoundedRectangle(88.0f, 35.0f, 24.0f, 18.0f, 3.0f, stroke);
    g.drawRect(112.0f, 38.0f, 14.0f, 12.0f, stroke);
    g.setColour(dim);
    g.drawLine(94.0f, 39.5f, 94.0f, 48.5f, 1.2f);
    g.drawLine(98.0f, 39.5f, 98.0f, 48.5f, 1.2f);

    // The device.
    const auto device = Rectangle<float>(126.0f, 18.0f, 136.0f, 52.0f);
    g.setColour(Colour(0xff41464d));
    g.fillRoundedRectangle(device, 9.0f);
    g.setColour(line);
    g.drawRoundedRectangle(device, 9.0f, stroke);
    g.setColour(dim);
    for (int i = 0; i < 5; ++i)
        g.drawLine(140.0f + 6.0f * (float) i, 27.0f, 140.0f + 6.0f * (float) i, 33.0f, 1.6f);
    g.drawEllipse(244.0f - 3.0f, 28.0f - 3.0f, 6.0f, 6.0f, 1.4f); // status light, dark
    const auto screen = Rectangle<float>(180.0f, 35.0f, 30.0f, 21.0f);
    g.setColour(line);
    g.drawRoundedRectangle(screen, 3.0f, 1.8f);
    Path play;
    play.addTriangle(screen.getCentreX() - 3.5f, screen.getCentreY() - 5.0f,
                     screen.getCentreX() - 3.5f, screen.getCentreY() + 5.0f,
                     screen.getCentreX() + 5.0f, screen.getCentreY());
    g.fillPath(play);

    // USB cable leaving to the right, ending in a plug that hangs free of the computer's port.
    g.drawRect(262.0f, 39.0f, 10.0f, 12.0f, stroke);
    Path usbCable;
    usbCable.startNewSubPath(272.0f, 45.0f);
    usbCable.cubicTo(292.0f, 45.0f, 296.0f, 57.0f, 318.0f, 57.0f);
    cable(g, usbCable, line, background);
    g.setColour(line);
    g.drawRoundedRectangle(318.0f, 48.0f, 22.0f, 18.0f, 3.0f, stroke);
    g.drawRect(340.0f, 50.0f, 18.0f, 14.0f, stroke);
    g.fillRect(345.0f, 54.0f, 3.0f, 2.5f);
    g.fillRect(351.0f, 54.0f, 3.0f, 2.5f);

    // The computer's port at the right edge, open towards the plug.
    Path port;
    port.startNewSubPath((float) w + 2.0f, 46.0f);
    port.lineTo(381.0f, 46.0f);
    port.lineTo(381.0f, 68.0f);
    port.lineTo((float) w + 2.0f, 68.0f);
    g.strokePath(port, PathStrokeType(stroke));
    g.fillRect(385.0f, 55.0f, (float) w - 385.0f, 4.0f);

    if (! crossedOut)
    {
        // Short dashes between plug and port: the missing connection.
        g.setColour(dim);
        for (float y : { 51.0f, 57.0f, 63.0f })
            g.drawLine(363.0f, y, 376.0f, y, 1.4f);
    }
    else
    {
        Path cross;
        const float cx = 369.5f, cy = 57.0f, r = 9.0f;
        cross.startNewSubPath(cx - r, cy - r);
        cross.lineTo(cx + r, cy + r);
        cross.startNewSubPath(cx + r, cy - r);
        cross.lineTo(cx - r, cy + r);
        g.setColour(colours::red);
        g.strokePath(cross, PathStrokeType(3.4f, PathStrokeType::curved, PathStrokeType::rounded));
    }
    ignoreUnused(h);
}
} // namespace imagegen
