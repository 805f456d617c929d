#pragma once

#include "KSTextButton.h"
#include "KSWindowButton.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

// The program's modal message box: a borderless 500 x 300 window with a title strip showing the
// application name, a close button, the warning sign, a message of up to four lines and one or
// two text buttons.
//
// Construct it on the stack and run it with runModalLoop(), which returns 0 for the first button
// (shortcut Return) and 1 for the second button (shortcut Escape), the close button or the
// platform's close request. An empty button text leaves that button and its shortcut out.
//
//     KSAlertWindow alert(owner, message, getTranslatedString(StringId::Ok), getTranslatedString(StringId::Cancel));
//     if (alert.runModalLoop() == 0) ...
class KSAlertWindow : public juce::TopLevelWindow, public juce::Button::Listener
{
public:
    static constexpr int windowWidth = 500, windowHeight = 300;

    // With an associated component the window is centred over its screen bounds; without one it
    // is centred in the usable area of the main display.
    KSAlertWindow(juce::Component* associatedComponent, const juce::String& message,
                  const juce::String& button1Text, const juce::String& button2Text);
    ~KSAlertWindow() override;

    const juce::String& getMessage() const noexcept { return message; }
    // The return value of the button the user chose (1 for the close button or the platform's
    // close request), or -1 while nothing was chosen. A modal loop can also end without a
    // choice (the application quits, or the program ends it), and then returns 0 all the same:
    // only this tells an explicit first button from that.
    int getChosenResult() const noexcept { return chosenResult; }
    // Ends the modal loop as the close button would.
    void dismiss();
    int getNumButtons() const noexcept { return buttons.size(); }
    juce::Button* getButton(int index) const noexcept { return buttons[index]; }
    juce::Button* getCloseButton() const noexcept { return closeButton.get(); }

    void mouseDown(const juce::MouseEvent&) override;
    void mouseDrag(const juce::MouseEvent&) override;
    void userTriedToCloseWindow() override;
    void paint(juce::Graphics&) override;
    void resized() override;

    void buttonClicked(juce::Button*) override;

private:
    void addButton(const juce::String& text, int returnValue, const juce::KeyPress& shortcut);

    juce::String message;
    int chosenResult = -1;
    juce::OwnedArray<KSTextButton> buttons;
    std::unique_ptr<KSWindowButton> closeButton;
    juce::Font titleFont;
    juce::Font messageFont;
    juce::Image icon;
    juce::Component::SafePointer<juce::Component> associatedComponent;
    juce::ComponentBoundsConstrainer constrainer;
    juce::ComponentDragger dragger;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KSAlertWindow)
};
