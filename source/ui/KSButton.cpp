#include "KSButton.h"

#include "Fonts.h"
#include "ImageResources.h"

namespace
{
const juce::Colour textColour(0xFF9DA1A6);
}

KSButton::KSButton(int kind)
    : juce::Button({}),
      deviceKind(kind),
      font(g_fontSmall),
      successImage(getImageResource(ImageId::SuccessBadge)),
      failureImage(getImageResource(ImageId::FailureBadge))
{
    for (size_t i = 0; i < checkBoxImages.size(); ++i)
        checkBoxImages[i] = getImageResource(ImageId::CheckBoxDisabledTicked + (int) i);
    for (size_t i = 0; i < spinnerFrames.size(); ++i)
        spinnerFrames[i] = getImageResource(ImageId::FirstSpinnerFrame + (int) i);
    startTimer(120);
}

KSButton::~KSButton()
{
    stopTimer();
}

bool KSButton::keyPressed(const juce::KeyPress& key)
{
    if (key.isKeyCode(juce::KeyPress::spaceKey) && key.getModifiers().getRawFlags() == 0)
    {
        if (isEnabled())
            triggerClick();
        return true;
    }
    return false;
}

int KSButton::pictureForDeviceKind(int kind) noexcept
{
    switch (kind)
    {
    case 1: return ImageId::FirstDevicePicture;     // 29
    case 2: return ImageId::FirstDevicePicture + 4; // 33
    case 3: return ImageId::FirstDevicePicture + 5; // 34
    case 4: return ImageId::FirstDevicePicture + 2; // 31
    case 5: return ImageId::FirstDevicePicture + 3; // 32
    case 6: return ImageId::FirstDevicePicture + 1; // 30
    case 7: return ImageId::FirstDevicePicture + 2; // 31, the same product look as kind 4
    default: return kind > 7 ? ImageId::GenericDevicePicture : -1;
    }
}

void KSButton::clicked()
{
    tick = tick == 1 ? 0 : 1;
}

void KSButton::timerCallback()
{
    if (mode != busyMode)
        return;
    // The counter only ever selects a frame, so it wraps instead of growing without end.
    frame = (frame + 1) % (int) spinnerFrames.size();
    repaint();
}

void KSButton::paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown)
{
    auto area = getLocalBounds();
    area.removeFromLeft(marginWidth);
    const auto box = area.removeFromLeft(boxWidth);
    area.removeFromLeft(boxGap);

    g.setImageResamplingQuality(juce::Graphics::lowResamplingQuality);

    // isEnabled() is false as soon as any parent is disabled.
    const bool enabled = isEnabled();
    const bool over = enabled && isMouseOverButton;
    const bool down = over && isButtonDown;

    const juce::Image* boxImage = nullptr;
    if (mode == checkBoxMode)
    {
        // The partly-ticked images have no state that shows them.
        if (tick == 1)
            boxImage = &checkBoxImage(! enabled ? ImageId::CheckBoxDisabledTicked
                                      : down    ? ImageId::CheckBoxPressedTicked
                                      : over    ? ImageId::CheckBoxOverTicked
                                                : ImageId::CheckBoxTicked);
        else if (tick == 0)
            boxImage = &checkBoxImage(! enabled ? ImageId::CheckBoxDisabledEmpty
                                      : down    ? ImageId::CheckBoxPressedEmpty
                                      : over    ? ImageId::CheckBoxOverEmpty
                                                : ImageId::CheckBoxEmpty);
    }
    else if (mode == busyMode)
        boxImage = &spinnerFrames[(size_t) (frame % (int) spinnerFrames.size())];
    else if (mode == successMode)
        boxImage = &successImage;
    else
        boxImage = &failureImage;

    if (boxImage != nullptr)
        drawImageCentred(g, *boxImage, box);

    if (deviceKind > 0)
    {
        const auto pictureArea = area.removeFromLeft(pictureWidth);
        area.removeFromLeft(pictureGap);
        const int wanted = pictureForDeviceKind(deviceKind);
        if (wanted != pictureKind)
        {
            picture = getImageResource(wanted);
            pictureKind = wanted;
        }
        drawImageCentred(g, picture, pictureArea);
    }

    g.setFont(font);
    g.setColour(textColour);
    g.drawFittedText(getButtonText(), area, juce::Justification::centred, 1);
}
