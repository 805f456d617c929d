// The modal message box with no owner on Linux and macOS: the framework's alert window with an
// OK button (Return and Escape close it too) and a warning sign drawn whole inside the box. The
// framework's own look draws its sign as a large watermark that runs off the box's top-left
// corner, which reads as a picture cut off.
#include "../PlatformDetail.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace platform
{
namespace
{
const juce::Colour kWarningAmber(0xffdea30b);

class MessageBoxLook final : public juce::LookAndFeel_V4
{
public:
    // The framework's alert box leaves this much room at the left of the text for a sign.
    static constexpr int kIconSpace = 80;
    static constexpr float kIconSize = 48.0f;

    void drawAlertBox(juce::Graphics& g, juce::AlertWindow& alert, const juce::Rectangle<int>&,
                      juce::TextLayout& textLayout) override
    {
        const float cornerSize = 4.0f;
        g.setColour(alert.findColour(juce::AlertWindow::outlineColourId));
        g.drawRoundedRectangle(alert.getLocalBounds().toFloat(), cornerSize, 2.0f);
        const auto bounds = alert.getLocalBounds().reduced(1);
        g.setColour(alert.findColour(juce::AlertWindow::backgroundColourId));
        g.fillRoundedRectangle(bounds.toFloat(), cornerSize);

        const float textTop = 30.0f;
        int iconSpaceUsed = 0;
        if (alert.getAlertType() != juce::MessageBoxIconType::NoIcon)
        {
            // A triangle with an exclamation mark, centred in the room left of the text and
            // level with its first line.
            const juce::Rectangle<float> icon((float) bounds.getX() + ((float) kIconSpace - kIconSize) * 0.5f,
                                              textTop - 4.0f, kIconSize, kIconSize);
            juce::Path triangle;
            triangle.addTriangle(icon.getCentreX(), icon.getY() + 2.0f, icon.getRight() - 1.0f,
                                 icon.getBottom() - 3.0f, icon.getX() + 1.0f, icon.getBottom() - 3.0f);
            g.setColour(kWarningAmber);
            g.strokePath(triangle.createPathWithRoundedCorners(3.0f),
                         juce::PathStrokeType(3.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
            const float barWidth = 4.0f;
            g.fillRoundedRectangle(icon.getCentreX() - barWidth * 0.5f, icon.getY() + 16.0f, barWidth, 15.0f, 2.0f);
            g.fillEllipse(icon.getCentreX() - barWidth * 0.5f - 0.5f, icon.getY() + 34.0f, barWidth + 1.0f,
                          barWidth + 1.0f);
            iconSpaceUsed = kIconSpace;
        }

        g.setColour(alert.findColour(juce::AlertWindow::textColourId));
        const juce::Rectangle<int> textBounds(bounds.getX() + iconSpaceUsed, (int) textTop, bounds.getWidth(),
                                              bounds.getHeight() - getAlertWindowButtonHeight() - 20);
        textLayout.draw(g, textBounds.toFloat());
    }
};
} // namespace

void detail::showNativeMessageBox(const std::string& title, const std::string& text)
{
    MessageBoxLook look;
    juce::AlertWindow box(juce::String::fromUTF8(title.c_str()), juce::String::fromUTF8(text.c_str()),
                          juce::MessageBoxIconType::WarningIcon);
    box.setLookAndFeel(&look);
    box.addButton(TRANS("OK"), 0, juce::KeyPress(juce::KeyPress::returnKey), juce::KeyPress(juce::KeyPress::escapeKey));
    box.setAlwaysOnTop(true);
    box.runModalLoop();
    box.setLookAndFeel(nullptr);
}
} // namespace platform
