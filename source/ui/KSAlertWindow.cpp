#include "KSAlertWindow.h"

#include "Fonts.h"
#include "ImageResources.h"
#include "StringResources.h"

#include <cmath>

namespace
{
const juce::Colour bodyColour(0xFF353A40);
const juce::Colour titleStripColour(0xFF2C2F34);
const juce::Colour titleTextColour(0xFFD8DDE3);
const juce::Colour messageColour(0xFF9CA1A5);

constexpr int titleHeight = 40;
constexpr int titleTextIndent = 18;
constexpr int closeButtonWidth = 50;
constexpr int messageBandHeight = 170;
constexpr int buttonRowFromBottom = 85;
constexpr int buttonWidth = 118;
constexpr int buttonHeight = 35;
constexpr int buttonGap = 48;
constexpr int iconColumnWidth = 41;
constexpr int iconTextGap = 14;
constexpr int maxTextWidth = 350;
constexpr int maxMessageLines = 4;
} // namespace

KSAlertWindow::KSAlertWindow(juce::Component* associated, const juce::String& messageText,
                             const juce::String& button1Text, const juce::String& button2Text)
    : juce::TopLevelWindow({}, true),
      message(messageText),
      titleFont(g_fontMedium),
      messageFont(g_fontSmall),
      associatedComponent(associated)
{
    closeButton = std::make_unique<KSWindowButton>(juce::DocumentWindow::closeButton);
    addAndMakeVisible(*closeButton);
    closeButton->addListener(this);
    closeButton->setCommandToTrigger(nullptr, 1, false);

    addButton(button1Text, 0, juce::KeyPress(juce::KeyPress::returnKey));
    addButton(button2Text, 1, juce::KeyPress(juce::KeyPress::escapeKey));

    icon = getImageResource(ImageId::WarningSign);

    if (associatedComponent != nullptr)
    {
        const auto owner = associatedComponent->getScreenBounds();
        setBounds(owner.getX() + owner.getWidth() / 2 - windowWidth / 2,
                  owner.getY() + owner.getHeight() / 2 - windowHeight / 2, windowWidth, windowHeight);
    }
    else if (const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay())
    {
        setBounds(display->userArea.withSizeKeepingCentre(windowWidth, windowHeight));
    }
    else
    {
        centreWithSize(windowWidth, windowHeight);
    }
}

KSAlertWindow::~KSAlertWindow()
{
    for (auto* b : buttons)
        b->removeListener(this);
    closeButton->removeListener(this);
    buttons.clear();
    closeButton.reset();
}

void KSAlertWindow::addButton(const juce::String& text, int returnValue, const juce::KeyPress& shortcut)
{
    if (text.isEmpty())
        return;

    // The return value doubles as the style: the first button is green, the second slate grey.
    auto* b = buttons.add(new KSTextButton(returnValue));
    b->setButtonText(text);
    b->addListener(this);
    b->setCommandToTrigger(nullptr, returnValue, false);
    b->addShortcut(shortcut);
    addAndMakeVisible(b);
}

void KSAlertWindow::mouseDown(const juce::MouseEvent& e)
{
    dragger.startDraggingComponent(this, e);
}

void KSAlertWindow::mouseDrag(const juce::MouseEvent& e)
{
    // The constrainer has no minimum on-screen amounts: the window may be dragged off the screen.
    dragger.dragComponent(this, e, &constrainer);
}

void KSAlertWindow::userTriedToCloseWindow()
{
    dismiss();
}

void KSAlertWindow::dismiss()
{
    chosenResult = 1;
    exitModalState(1);
}

void KSAlertWindow::buttonClicked(juce::Button* b)
{
    chosenResult = b->getCommandID();
    exitModalState(chosenResult);
}

void KSAlertWindow::resized()
{
    closeButton->setBounds(getWidth() - closeButtonWidth, 0, closeButtonWidth, titleHeight);

    auto row = getLocalBounds().removeFromBottom(buttonRowFromBottom);
    row.removeFromBottom(buttonRowFromBottom - buttonHeight);

    if (buttons.size() == 1)
    {
        buttons[0]->setBounds(row.getX() + row.getWidth() / 2 - buttonWidth / 2, row.getY(), buttonWidth,
                              row.getHeight());
    }
    else if (buttons.size() == 2)
    {
        const int left = row.getX() + row.getWidth() / 2 - (2 * buttonWidth + buttonGap) / 2;
        buttons[0]->setBounds(left, row.getY(), buttonWidth, row.getHeight());
        buttons[1]->setBounds(left + buttonWidth + buttonGap, row.getY(), buttonWidth, row.getHeight());
    }
}

void KSAlertWindow::paint(juce::Graphics& g)
{
    g.fillAll(bodyColour);

    auto bounds = getLocalBounds();
    auto titleStrip = bounds.removeFromTop(titleHeight);
    g.setColour(titleStripColour);
    g.fillRect(titleStrip);

    titleStrip.removeFromLeft(titleTextIndent);
    g.setFont(titleFont);
    g.setColour(titleTextColour);
    g.drawText(getTranslatedString(StringId::ApplicationName), titleStrip, juce::Justification::centredLeft, true);

    // Warning sign, gap and text form one block centred in the window; the text is at most
    // maxTextWidth wide and wraps onto up to four lines.
    const auto band = bounds.removeFromTop(messageBandHeight);
    const int textWidth = (int) std::ceil(messageFont.getStringWidthFloat(message));
    const int margin = (getWidth() - juce::jmin(textWidth, maxTextWidth) - iconColumnWidth - iconTextGap) / 2;

    drawImageCentred(g, icon, band.withX(margin).withWidth(iconColumnWidth));

    const int textX = margin + iconColumnWidth + iconTextGap;
    const auto textArea = band.withX(textX).withWidth(juce::jmax(0, getWidth() - margin - textX));
    g.setFont(messageFont);
    g.setColour(messageColour);
    g.drawFittedText(message, textArea, juce::Justification::centredLeft, maxMessageLines);
}
