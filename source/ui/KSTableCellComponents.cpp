// The two cell components of the device table: the device-name cell with its check box, and the
// status cell with its text and progress bar.
#include "KSTableListBox.h"

#include "Fonts.h"
#include "KSButton.h"

// ---- DeviceComponent -----------------------------------------------------------------------

KSTableListBox::DeviceComponent::DeviceComponent(KSTableListBox& owner)
    : m_pButton(std::make_unique<KSButton>(8)), m_owner(owner)
{
    addAndMakeVisible(*m_pButton);
    m_pButton->addListener(this);
}

KSTableListBox::DeviceComponent::~DeviceComponent()
{
    m_pButton->removeListener(this);
}

void KSTableListBox::DeviceComponent::resized()
{
    m_pButton->setBounds(getLocalBounds().withTrimmedLeft(4));
}

void KSTableListBox::DeviceComponent::Update(int row, int column)
{
    m_nRow = row;
    m_nColumn = column;
    DeviceRow* record = m_owner.GetRow(row);
    if (record == nullptr)
        return;

    const int kind = DeviceKindForSerial(record->serialNumber);
    if (m_pButton->deviceKind != kind)
        m_pButton->deviceKind = kind;
    m_pButton->setButtonText(record->name);

    const bool enabled = m_owner.IsRowSelectable(row) && !m_owner.IsUpgrading();
    if (enabled)
    {
        m_pButton->mode = KSButton::checkBoxMode;
        m_pButton->tick = record->selected ? 1 : 0;
    }
    else
    {
        // A row that cannot be chosen now shows its worker state and loses its selection.
        m_pButton->mode = m_owner.GetRowThreadState(row);
        m_pButton->tick = 0;
        record->selected = false;
    }
    m_pButton->repaint();
    if (m_pButton->isEnabled() != enabled)
        m_pButton->setEnabled(enabled);
}

void KSTableListBox::DeviceComponent::buttonClicked(juce::Button* button)
{
    if (button != m_pButton.get())
        return;
    if (DeviceRow* record = m_owner.GetRow(m_nRow))
        record->selected = (m_pButton->tick == 1);
    if (auto* callback = m_owner.GetCallback())
        callback->OnCheckStateChanged();
}

// ---- DeviceStatusComponent -----------------------------------------------------------------

KSTableListBox::DeviceStatusComponent::DeviceStatusComponent(KSTableListBox& owner)
    : m_owner(owner),
      m_pLabel(std::make_unique<KSStatusLabel>()),
      m_pProgressBar(std::make_unique<juce::ProgressBar>(m_dProgress))
{
    addChildComponent(*m_pProgressBar);
    addAndMakeVisible(*m_pLabel);
    m_pLabel->setJustificationType(juce::Justification::centredRight);
    m_pLabel->setFont(g_fontSmall);
}

KSTableListBox::DeviceStatusComponent::~DeviceStatusComponent() = default;

void KSTableListBox::DeviceStatusComponent::resized()
{
    auto area = getLocalBounds();
    area.removeFromRight(kRightMargin);
    if (m_bProgressVisible)
    {
        m_pProgressBar->setBounds(area.removeFromRight(kProgressWidth));
        area.removeFromRight(kProgressGap);
    }
    m_pLabel->setBounds(area);
}

void KSTableListBox::DeviceStatusComponent::Update(int row, int column)
{
    m_nRow = row;
    m_nColumn = column;
    const DeviceRow* record = m_owner.GetRow(row);
    if (record == nullptr)
        return;

    m_pLabel->setColour(juce::Label::textColourId, GetStatusColour(record->status));
    m_pLabel->setText(record->statusText, juce::dontSendNotification);

    const double x = record->progress / 100.0;
    if (x < 0.0 || x > 1.0)
    {
        if (m_bProgressVisible)
        {
            m_bProgressVisible = false;
            m_pProgressBar->setVisible(false);
            resized();
        }
        return;
    }
    m_dProgress = x;
    if (!m_bProgressVisible)
    {
        m_bProgressVisible = true;
        m_pProgressBar->setVisible(true);
        resized();
    }
}
