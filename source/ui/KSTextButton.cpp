#include "KSTextButton.h"

#include "Fonts.h"
#include "ImageResources.h"

KSTextButton::KSTextButton(int buttonStyle)
    : juce::Button({}),
      style(buttonStyle),
      font(g_fontSmall),
      normalImage(getImageResource(buttonStyle == 0 ? ImageId::TextButtonGreen : ImageId::TextButtonSlate)),
      overImage(getImageResource(buttonStyle == 0 ? ImageId::TextButtonGreenOver : ImageId::TextButtonSlateOver)),
      downImage(getImageResource(buttonStyle == 0 ? ImageId::TextButtonGreenDown : ImageId::TextButtonSlateDown)),
      disabledImage(getImageResource(ImageId::TextButtonDisabled))
{
}

void KSTextButton::paintButton(juce::Graphics& g, bool isMouseOverButton, bool isButtonDown)
{
    // isEnabled() is false as soon as any parent is disabled.
    const bool enabled = isEnabled();

    const juce::Image& background = ! enabled                         ? disabledImage
                                    : (isMouseOverButton && isButtonDown) ? downImage
                                    : isMouseOverButton                 ? overImage
                                                                        : normalImage;
    if (background.isValid())
        g.drawImage(background, getLocalBounds().toFloat(), juce::RectanglePlacement::stretchToFit);

    // Disabled text is white darkened by 0.4: 0xFFB6B6B6.
    g.setColour(enabled ? juce::Colours::white : juce::Colours::white.darker(0.4f));
    g.setFont(font);
    g.drawText(getButtonText(), getLocalBounds(), juce::Justification::centred, false);
}

bool KSTextButton::keyPressed(const juce::KeyPress& key)
{
    if (key.isKeyCode(juce::KeyPress::returnKey)
        && isRegisteredForShortcut(juce::KeyPress(juce::KeyPress::returnKey)))
        return false;
    return juce::Button::keyPressed(key);
}

bool KSTextButton::keyStateChanged(bool isKeyDown)
{
    return isKeyDown && isEnabled() && juce::KeyPress::isKeyCurrentlyDown(juce::KeyPress::returnKey)
           && !isRegisteredForShortcut(juce::KeyPress(juce::KeyPress::returnKey));
}
