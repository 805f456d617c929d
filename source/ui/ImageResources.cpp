#include "ImageResources.h"

#include "KSImageData.h"
#include "Log.h"

juce::Image getImageResource(int index)
{
    if (index < 0 || index >= ImageId::Count)
    {
        KS_LOG_ERROR("getImageResource", "no image with index " << index);
        return {};
    }

    const auto name = juce::String::formatted("image%02d_png", index);
    int size = 0;
    const char* data = KSImageData::getNamedResource(name.toRawUTF8(), size);
    if (data == nullptr || size <= 0)
    {
        KS_LOG_ERROR("getImageResource", "image " << index << " is not embedded");
        return {};
    }
    return juce::ImageCache::getFromMemory(data, size);
}

void drawImageCentred(juce::Graphics& g, const juce::Image& image, juce::Rectangle<int> area)
{
    if (image.isValid())
        g.drawImage(image, area.toFloat(), juce::RectanglePlacement::centred | juce::RectanglePlacement::doNotResize);
}
