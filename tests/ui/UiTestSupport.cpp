#include "UiTestSupport.h"

#include <cstdlib>

namespace uitest
{
juce::Image snapshot(juce::Component& c, const juce::String& name)
{
    auto image = c.createComponentSnapshot(c.getLocalBounds(), true, 1.0f);

    if (const char* folder = std::getenv("TOVRAK_UI_SHOTS"); folder != nullptr && name.isNotEmpty())
    {
        const auto file = juce::File(juce::String::fromUTF8(folder)).getChildFile(name + ".png");
        file.getParentDirectory().createDirectory();
        file.deleteFile();
        juce::FileOutputStream out(file);
        if (out.openedOk())
            juce::PNGImageFormat().writeImageToStream(image, out);
    }
    return image;
}

juce::Colour pixel(const juce::Image& image, int x, int y)
{
    return image.getPixelAt(x, y);
}

bool near(juce::Colour a, juce::Colour b, int tolerance)
{
    auto close = [tolerance](int p, int q) { return std::abs(p - q) <= tolerance; };
    return close(a.getRed(), b.getRed()) && close(a.getGreen(), b.getGreen()) && close(a.getBlue(), b.getBlue())
           && close(a.getAlpha(), b.getAlpha());
}

juce::Rectangle<int> inkBounds(const juce::Image& image, juce::Rectangle<int> region, juce::Colour background,
                               int tolerance)
{
    region = region.getIntersection(image.getBounds());
    int left = region.getRight(), right = region.getX() - 1, top = region.getBottom(), bottom = region.getY() - 1;
    for (int y = region.getY(); y < region.getBottom(); ++y)
        for (int x = region.getX(); x < region.getRight(); ++x)
            if (! near(image.getPixelAt(x, y), background, tolerance))
            {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    if (right < left)
        return {};
    return { left, top, right - left + 1, bottom - top + 1 };
}

juce::Colour brightest(const juce::Image& image, juce::Rectangle<int> region)
{
    region = region.getIntersection(image.getBounds());
    juce::Colour best;
    int bestSum = -1;
    for (int y = region.getY(); y < region.getBottom(); ++y)
        for (int x = region.getX(); x < region.getRight(); ++x)
        {
            const auto c = image.getPixelAt(x, y);
            const int sum = c.getRed() + c.getGreen() + c.getBlue();
            if (sum > bestSum)
            {
                bestSum = sum;
                best = c;
            }
        }
    return best;
}

void pump(int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(milliseconds);
}
} // namespace uitest
