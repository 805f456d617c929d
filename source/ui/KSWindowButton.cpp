#include "KSWindowButton.h"

#include "ImageResources.h"

KSWindowButton::KSWindowButton(int type)
    : juce::Button({})
{
    if (type == juce::DocumentWindow::minimiseButton)
    {
        normalImage = getImageResource(ImageId::MinimiseNormal);
        downImage = getImageResource(ImageId::MinimiseDown);
        overImage = getImageResource(ImageId::MinimiseOver);
    }
    else if (type == juce::DocumentWindow::closeButton)
    {
        normalImage = getImageResource(ImageId::CloseNormal);
        downImage = getImageResource(ImageId::CloseDown);
        overImage = getImageResource(ImageId::CloseOver);
    }
}

void KSWindowButton::paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown)
{
    // A disabled button gets no mouse-over from the framework, so it shows the normal image.
    const auto& image = ! isMouseOverButton ? normalImage : (isButtonDown ? downImage : overImage);
    drawImageCentred(g, image, getLocalBounds());
}
