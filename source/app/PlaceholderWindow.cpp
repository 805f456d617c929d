#include "PlaceholderWindow.h"

PlaceholderWindow::PlaceholderWindow(const juce::String& name)
    : DocumentWindow(name, juce::Colour(0xff2b2f33), DocumentWindow::closeButton | DocumentWindow::minimiseButton)
{
    setUsingNativeTitleBar(true);
    setResizable(false, false);
    centreWithSize(1090, 709);
    setVisible(true);
}

PlaceholderWindow::~PlaceholderWindow() = default;

void PlaceholderWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}
