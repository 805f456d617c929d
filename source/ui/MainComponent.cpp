#include "MainComponent.h"

#include "DeviceRowList.h"
#include "ImageResources.h"
#include "KSAlertWindow.h"
#include "KSButton.h"
#include "KSLabel.h"
#include "KSTableListBox.h"
#include "KSTextButton.h"
#include "StringResources.h"

namespace
{
const juce::Colour kBackground(0xff45484f);
const juce::Colour kSummaryBackground(0xff24272c);
const juce::Colour kSummaryText(0xff18bb62);
const juce::Colour kNoDeviceCover(0xff3a3f45);

void askApplicationToQuit()
{
    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}

void setEnabledIfChanged(juce::Component& c, bool enabled)
{
    if (c.isEnabled() != enabled)
        c.setEnabled(enabled);
}
} // namespace

MainComponent::MainComponent(std::function<void()> requestQuit)
    : m_requestQuit(requestQuit ? std::move(requestQuit) : std::function<void()>(askApplicationToQuit))
{
    m_pSummaryLabel = std::make_unique<KSLabel>(juce::String());
    addAndMakeVisible(*m_pSummaryLabel);
    m_pSummaryLabel->setColour(juce::Label::backgroundColourId, kSummaryBackground);
    m_pSummaryLabel->setColour(juce::Label::textColourId, kSummaryText);

    // The table fills its rows in its constructor and reports the counts to this component.
    m_pDeviceTable = std::make_unique<KSTableListBox>(this);
    addAndMakeVisible(*m_pDeviceTable);

    m_pUpdateButton = std::make_unique<KSTextButton>(0);
    addAndMakeVisible(*m_pUpdateButton);
    m_pUpdateButton->setButtonText(getTranslatedString(StringId::Update));
    m_pUpdateButton->addListener(this);
    m_pUpdateButton->addShortcut(juce::KeyPress(juce::KeyPress::returnKey));

    // Never given a size, so never seen: it is there for its Escape shortcut.
    m_pExitButton = std::make_unique<KSTextButton>(1);
    addAndMakeVisible(*m_pExitButton);
    m_pExitButton->setButtonText(getTranslatedString(StringId::Exit));
    m_pExitButton->addListener(this);
    m_pExitButton->addShortcut(juce::KeyPress(juce::KeyPress::escapeKey));

    m_pSelectAllButton = std::make_unique<KSButton>(0);
    addAndMakeVisible(*m_pSelectAllButton);
    m_pSelectAllButton->setButtonText(getTranslatedString(StringId::SelectAll));
    m_pSelectAllButton->addListener(this);

    m_noDeviceImage = getImageResource(ImageId::NoDevice);
    setSize(kWidth, kHeight);
}

MainComponent::~MainComponent()
{
    m_pSummaryLabel.reset();
    m_pUpdateButton.reset();
    m_pExitButton.reset();
    m_pSelectAllButton.reset();
    // Waits for running upgrade workers and stops the device monitoring.
    m_pDeviceTable.reset();
}

void MainComponent::OnShowMessage(const juce::String& text)
{
    m_pSummaryLabel->setText(text);
}

void MainComponent::OnCheckAllFinished(int32_t deviceCount, int32_t upgradableCount, int32_t downgradableCount)
{
    m_bNoDevices = (deviceCount == 0);
    juce::String text;
    if (deviceCount != 0)
        text = summaryLine(deviceCount, upgradableCount, downgradableCount);
    else
        text = getTranslatedString(StringId::SearchingForDevices);
    m_pSummaryLabel->setText(text);
    repaint(); // draws or removes the cover of paintOverChildren
}

void MainComponent::OnCheckStateChanged()
{
    postCommandMessage(kUpdateButtonsCommand);
}

void MainComponent::UpdateButtons()
{
    if (m_pDeviceTable == nullptr)
        return;
    const bool upgrading = m_pDeviceTable->IsUpgrading();
    const bool selected = m_pDeviceTable->HasSelectedRows();
    const bool selectable = m_pDeviceTable->HasSelectableRows();

    if (auto* window = findParentComponentOfClass<juce::DocumentWindow>())
        if (auto* close = window->getCloseButton())
            setEnabledIfChanged(*close, !upgrading);
    setEnabledIfChanged(*m_pExitButton, !upgrading);
    setEnabledIfChanged(*m_pUpdateButton, !upgrading && selected);
    setEnabledIfChanged(*m_pSelectAllButton, !upgrading && selectable);

    // The "Select All" tick follows the rows after every refill and every click: ticked exactly
    // when every row that may be chosen is chosen, so that its next click does what it shows.
    const int tick = m_pDeviceTable->AreAllSelectableRowsSelected() ? 1 : 0;
    if (m_pSelectAllButton->tick != tick)
    {
        m_pSelectAllButton->tick = tick;
        m_pSelectAllButton->repaint();
    }
}

void MainComponent::paint(juce::Graphics& g)
{
    g.fillAll(kBackground);
}

void MainComponent::paintOverChildren(juce::Graphics& g)
{
    if (!m_bNoDevices)
        return;
    const auto area = getLocalBounds().withTrimmedTop(kSummaryHeight);
    g.setColour(kNoDeviceCover);
    g.fillRect(area);
    g.setImageResamplingQuality(juce::Graphics::lowResamplingQuality);
    drawImageCentred(g, m_noDeviceImage, area);
}

void MainComponent::resized()
{
    auto area = getLocalBounds();
    m_pSummaryLabel->setBounds(area.removeFromTop(kSummaryHeight));
    m_pDeviceTable->setBounds(area.removeFromTop(kTableHeight));
    auto strip = area.removeFromTop(kStripHeight);
    strip.removeFromTop(22);
    strip.removeFromBottom(22);
    strip.removeFromRight(20);
    m_pUpdateButton->setBounds(strip.removeFromRight(118));
    m_pSelectAllButton->setBounds(strip.removeFromLeft(118));
    // The "Exit" button keeps its zero size; the band below the strip stays empty.
}

void MainComponent::handleCommandMessage(int commandId)
{
    if (commandId == kUpdateButtonsCommand)
    {
        UpdateButtons();
    }
    else if (commandId == kAllowDowngradeCommand)
    {
        m_pDeviceTable->m_bAllowDowngrade = true;
        m_pDeviceTable->RefreshDeviceRows();
    }
}

void MainComponent::buttonClicked(juce::Button* button)
{
    if (button == m_pExitButton.get())
    {
        m_requestQuit();
    }
    else if (button == m_pSelectAllButton.get())
    {
        // The button has already toggled its tick.
        m_pDeviceTable->SelectAll(m_pSelectAllButton->tick == 1);
        UpdateButtons();
    }
    else if (button == m_pUpdateButton.get())
    {
        ConfirmAndStartUpgrade();
    }
}

void MainComponent::ConfirmAndStartUpgrade()
{
    if (m_pConfirmation != nullptr)
        return; // already asking
    const juce::String message = " " + getTranslatedString(StringId::UpgradeConfirmation);
    auto alert = std::make_unique<KSAlertWindow>(this, message, getTranslatedString(StringId::Ok),
                                                 getTranslatedString(StringId::Cancel));
    m_pConfirmation = alert.get();
    const juce::Component::SafePointer<MainComponent> alive(this);
    const int result = alert->runModalLoop();
    // Only the "OK" button (or its Return shortcut) starts the upgrade. The loop also ends, with
    // the same result 0, when the application is asked to quit (a close request from the
    // desktop, a logout or shutdown) while the question is open: that must start nothing.
    const bool confirmed = result == 0 && alert->getChosenResult() == 0
                           && !juce::MessageManager::getInstance()->hasStopMessageBeenSent();
    alert.reset();
    if (alive == nullptr)
        return;
    m_pConfirmation = nullptr;
    if (confirmed)
        m_pDeviceTable->StartUpgradeSelectedDevices();
}

bool MainComponent::CancelConfirmation()
{
    if (m_pConfirmation == nullptr)
        return false;
    m_pConfirmation->dismiss();
    return true;
}
