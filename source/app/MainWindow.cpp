#include "MainWindow.h"

#include "ImageResources.h"
#include "KSTableListBox.h"
#include "Log.h"
#include "MainComponent.h"
#include "Platform.h"
#include "StringResources.h"

namespace
{
void askApplicationToQuit()
{
    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}
} // namespace

MainWindow::MainWindow(const juce::String& name, std::function<void()> quit)
    : DocumentWindow(name, juce::Colour(0x00ffffff), DocumentWindow::minimiseButton | DocumentWindow::closeButton,
                     true),
      requestQuit(quit ? std::move(quit) : std::function<void()>(askApplicationToQuit))
{
    setLookAndFeel(&lookAndFeel);
    setOpaque(true);
    setDropShadowEnabled(true);
    setTitleBarHeight(kTitleBarHeight);
    if (auto* peer = getPeer())
        peer->setIcon(getImageResource(ImageId::ApplicationIcon));
    setName(getTranslatedString(StringId::ApplicationName));
    setIcon(getImageResource(ImageId::Wordmark)); // the title-bar icon

    try
    {
        mainComponent = std::make_unique<MainComponent>(requestQuit);
    }
    catch (const std::exception& e)
    {
        KS_LOG_ERROR("MainWindow::MainWindow", "the main component cannot be created: " << e.what());
        mainComponent.reset();
    }
    if (mainComponent == nullptr)
    {
        requestQuit();
        return;
    }

    setContentNonOwned(mainComponent.get(), true);
    addKeyListener(this);
    centreWithSize(kWidth, kHeight);
    setVisible(true);
    startTimer(kScaleWatchMilliseconds);
}

MainWindow::~MainWindow()
{
    stopTimer();
    removeKeyListener(this);
    // The content goes before the look and feel it is drawn with.
    clearContentComponent();
    mainComponent.reset();
    setLookAndFeel(nullptr);
}

bool MainWindow::IsUpgrading() const
{
    if (mainComponent == nullptr)
        return false;
    const auto* table = mainComponent->GetDeviceTable();
    return table != nullptr && table->IsUpgrading();
}

void MainWindow::activeWindowStatusChanged()
{
    // The framework enables the title-bar buttons when the window becomes active and disables
    // them when it becomes inactive; an upgrade keeps the close button disabled.
    DocumentWindow::activeWindowStatusChanged();
    if (IsUpgrading())
        if (auto* close = getCloseButton())
            close->setEnabled(false);
}

juce::BorderSize<int> MainWindow::getBorderThickness()
{
    return juce::BorderSize<int>(0);
}

void MainWindow::closeButtonPressed()
{
    // Also the platform's close request (Alt+F4, the window manager's close, a logout).
    if (IsUpgrading())
        return;
    // An open upgrade confirmation is answered "Cancel" first: the request then quits the
    // program as it would with nothing running, and no upgrade starts behind it.
    if (mainComponent != nullptr)
        mainComponent->CancelConfirmation();
    requestQuit();
}

bool MainWindow::IsRefillShortcut(const juce::KeyPress& key)
{
    const juce::KeyPress ctrlF('f', juce::ModifierKeys::ctrlModifier, 'f');
    return key == ctrlF
           || (key.getKeyCode() == 'f' && key.getModifiers().getRawFlags() == juce::ModifierKeys::ctrlModifier);
}

bool MainWindow::keyPressed(const juce::KeyPress& key, juce::Component*)
{
    if (IsRefillShortcut(key) && mainComponent != nullptr)
        mainComponent->postCommandMessage(MainComponent::kAllowDowngradeCommand);
    // Every key that reaches the window counts as used.
    return true;
}

void MainWindow::timerCallback()
{
    const float scale = platform::getScaleForWindowSize(getWidth(), getHeight());
    if (scale == 0.0f || scale == lastScale)
        return;
    auto& desktop = juce::Desktop::getInstance();
    if (desktop.getGlobalScaleFactor() != scale)
        desktop.setGlobalScaleFactor(scale);
    lastScale = scale;
    setBounds(getX(), getY(), kWidth, kHeight);
}
