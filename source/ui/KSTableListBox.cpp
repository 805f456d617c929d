#include "KSTableListBox.h"

#include "DeviceRowList.h"
#include "FirmwareFileManager.h"
#include "Fonts.h"
#include "KSButton.h"
#include "Log.h"
#include "StringResources.h"

namespace
{
const juce::Colour kTableBackground(0xff3a3f45);
const juce::Colour kRowLine(0xff31363c);
const juce::Colour kCellText(0xff9da1a6);

const juce::Colour kGrey(0xff9da1a6);
const juce::Colour kBlue(0xff08a8d8);
const juce::Colour kGreen(0xff16af5d);
const juce::Colour kRed(0xfff94340);

struct ColumnSpec
{
    int id;
    int textId;
    int width;
};
const ColumnSpec kColumns[] = {
    { KSTableListBox::DeviceNameColumn, StringId::ColumnDeviceName, 320 },
    { KSTableListBox::SerialNumberColumn, StringId::ColumnSerialNo, 160 },
    { KSTableListBox::HardwareVersionColumn, StringId::ColumnHardwareVersion, 114 },
    { KSTableListBox::InstalledColumn, StringId::ColumnInstalled, 114 },
    { KSTableListBox::AvailableColumn, StringId::ColumnAvailable, 114 },
    { KSTableListBox::StatusColumn, StringId::ColumnStatus, 245 },
};

// The reading of a number as the C library's atoi does it: leading white space, one sign,
// then digits up to the first other character; 0 when there is no digit.
int leadingDecimal(const juce::String& text)
{
    auto p = text.getCharPointer();
    while (juce::CharacterFunctions::isWhitespace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    int value = 0;
    while (*p >= '0' && *p <= '9')
        value = value * 10 + static_cast<int>(*p++ - '0');
    return negative ? -value : value;
}

// The framework's table with Return left alone: the list box would take it (and its key-down
// state) for its own row selection, which this table does not use, and keep it from the
// window, where it is the "Update" button's shortcut.
class ReturnPassingTable final : public juce::TableListBox
{
public:
    ReturnPassingTable() : juce::TableListBox(juce::String(), nullptr) {}

    bool keyPressed(const juce::KeyPress& key) override
    {
        if (key.isKeyCode(juce::KeyPress::returnKey))
            return false;
        return juce::TableListBox::keyPressed(key);
    }

    bool keyStateChanged(bool isKeyDown) override
    {
        if (juce::KeyPress::isKeyCurrentlyDown(juce::KeyPress::returnKey))
            return false;
        return juce::TableListBox::keyStateChanged(isKeyDown);
    }
};
} // namespace

// ---- KSTableListBox ------------------------------------------------------------------------

KSTableListBox::KSTableListBox(ICallbackCheckAll* callback)
    : m_cellFont(g_fontSmall), m_pCallback(callback), m_self(this),
      m_table(std::make_unique<ReturnPassingTable>())
{
    CTovrakDevice::Init(this);
    g_firmwareFileMgr.loadFirmwareFiles();

    addAndMakeVisible(*m_table);
    m_table->setModel(this);
    m_table->setHeader(std::make_unique<KSTableHeaderComponent>());

    m_table->setColour(juce::ListBox::backgroundColourId, kTableBackground);
    m_table->setRowHeight(kRowHeight);
    m_table->setOutlineThickness(0);
    m_table->setHeaderHeight(kHeaderHeight);

    // Fixed columns: neither resized, moved, sorted nor hidden.
    for (const auto& column : kColumns)
        m_table->getHeader().addColumn(getTranslatedString(column.textId), column.id, column.width, column.width,
                                       column.width, juce::TableHeaderComponent::visible);

    m_table->getViewport()->setScrollBarThickness(kScrollBarThickness);

    RefreshDeviceRows();
}

KSTableListBox::~KSTableListBox()
{
    ReleaseDevices();
    // The cells refer to this table: they go before the rest of it.
    m_table.reset();
}

void KSTableListBox::ReleaseDevices()
{
    m_bDevicesReleased = true;
    stopTimer();
    m_supervisor.StopAll();
    g_firmwareFileMgr.clearImages();
    CTovrakDevice::Uninit();
}

DeviceRow* KSTableListBox::GetRow(int row)
{
    return juce::isPositiveAndBelow(row, (int) m_rows.size()) ? &m_rows[(size_t) row] : nullptr;
}

void KSTableListBox::SelectAll(bool select)
{
    m_supervisor.SelectAll(m_rows, select, m_bAllowDowngrade);
    UpdateTableContent();
}

bool KSTableListBox::HasSelectedRows() const
{
    return UpgradeSupervisor::HasSelectedRows(m_rows, m_bAllowDowngrade);
}

bool KSTableListBox::HasSelectableRows() const
{
    return m_supervisor.HasSelectableRows(m_rows, m_bAllowDowngrade);
}

bool KSTableListBox::IsRowSelectable(int row) const
{
    return row >= 0 && m_supervisor.IsRowSelectable(m_rows, (size_t) row, m_bAllowDowngrade);
}

int KSTableListBox::GetRowThreadState(int row) const
{
    if (!juce::isPositiveAndBelow(row, (int) m_rows.size()))
        return UpgradeSupervisor::NoWorkerState;
    return m_supervisor.GetRowThreadState(m_rows[(size_t) row]);
}

bool KSTableListBox::IsUpgradedSerial(const juce::String& serialNumber) const
{
    return m_supervisor.IsUpgradedSerial(serialNumber);
}

bool KSTableListBox::IsRememberedSerial(const juce::String& serialNumber) const
{
    for (const auto& serial : m_rememberedSerials)
        if (sameSerial(serial, serialNumber))
            return true;
    return false;
}

void KSTableListBox::RememberSelection()
{
    m_rememberedSerials.clear();
    for (const DeviceRow& row : m_rows)
        if (row.selected && !IsUpgradedSerial(row.serialNumber))
            m_rememberedSerials.add(row.serialNumber);
}

void KSTableListBox::RefreshDeviceRows()
{
    // A refill would open the released devices again.
    if (m_bDevicesReleased)
        return;
    const int refill = ++m_nRefillCount;
    RememberSelection();
    CTovrakDevice::Refresh();

    DeviceRowList list = buildDeviceRows(
        listedDeviceFacts(kMaxDeviceRows), g_firmwareFileMgr,
        [this](const juce::String& serial) { return IsUpgradedSerial(serial); },
        [this](const juce::String& serial) { return IsRememberedSerial(serial); });

    // A device newer than this program knows is still listed, but only after the user has been
    // told, once for each such device and refill. The rows are not yet replaced, so a refill run
    // by the message box's own loop finds the previous rows intact; such a refill saw a newer
    // device list than this one, so its rows stand and this one ends here.
    if (list.newerThanKnownCount > 0)
    {
        const juce::Component::SafePointer<KSTableListBox> alive(this);
        warnAboutNewerDevices(list);
        if (alive == nullptr || m_nRefillCount != refill || m_bDevicesReleased)
            return;
    }

    m_rows = std::move(list.rows);
    m_nUpgradableCount = list.upgradableCount;
    m_nDowngradableCount = list.downgradableCount;

    ReconcileThreads();
    m_supervisor.Poll(m_rows);

    if (m_pCallback != nullptr)
    {
        m_pCallback->OnCheckAllFinished((int32_t) m_rows.size(), m_nUpgradableCount, m_nDowngradableCount);
        m_pCallback->OnCheckStateChanged();
    }
    UpdateTableContent();
}

void KSTableListBox::ReconcileThreads()
{
    m_supervisor.Reconcile(m_rows, listedSerialNumbers());
}

void KSTableListBox::PollUpgradeThreads()
{
    if (m_supervisor.Poll(m_rows))
        UpdateTableContent();
}

void KSTableListBox::StartUpgradeSelectedDevices()
{
    if (m_bDevicesReleased)
    {
        KS_LOG_INFO("KSTableListBox::StartUpgradeSelectedDevices", "the program ends: no upgrade starts");
        return;
    }
    KS_LOG_DEBUG("KSTableListBox::StartUpgradeSelectedDevices", "begin");
    RefreshDeviceRows();
    m_supervisor.StartSelected(m_rows, m_bAllowDowngrade);
    startTimer(kPollMilliseconds);
    if (m_pCallback != nullptr)
        m_pCallback->OnCheckStateChanged();
    KS_LOG_DEBUG("KSTableListBox::StartUpgradeSelectedDevices", "end");
}

void KSTableListBox::timerCallback()
{
    if (m_supervisor.IsUpgrading())
    {
        PollUpgradeThreads();
        return;
    }
    // The last poll found nothing running: leave the upgrading state with fresh rows.
    stopTimer();
    RefreshDeviceRows();
    if (m_pCallback != nullptr)
        m_pCallback->OnCheckStateChanged();
}

void KSTableListBox::OnDeviceChanged()
{
    postCommandMessage(kRefillCommand);
}

void KSTableListBox::handleCommandMessage(int commandId)
{
    if (commandId == kRefillCommand)
        RefreshDeviceRows();
}

void KSTableListBox::UpdateTableContent()
{
    m_table->updateContent();
    m_table->repaint();
}

juce::String KSTableListBox::GetStatusText(int32_t status)
{
    return getUpgradeStatusText(status);
}

juce::Colour KSTableListBox::GetStatusColour(int32_t status)
{
    switch (status)
    {
        case RESULT_CAN_UPGRADE:
            return kBlue;
        case RESULT_CAN_DOWNGRADE:
        case RESULT_ERASING:
        case RESULT_WRITING:
        case RESULT_VERIFYING:
        case RESULT_VERIFIED:
        case RESULT_RESERVED_17:
        case RESULT_REPLUG_REQUIRED:
        case RESULT_ALREADY_UPGRADED:
            return kGreen;
        case RESULT_ERASE_ERROR:
        case RESULT_WRITE_ERROR:
        case RESULT_VERIFY_ERROR:
        case RESULT_INTERRUPTED:
        case RESULT_DEVICE_NOT_FOUND:
            return kRed;
        default:
            return kGrey;
    }
}

juce::String KSTableListBox::SerialNumberText(int row) const
{
    if (!juce::isPositiveAndBelow(row, (int) m_rows.size()))
        return {};
    // Devices that share a serial number are numbered in list order, so that each row can be
    // told from the others: "0000 (1)", "0000 (2)".
    const DeviceRow& shown = m_rows[(size_t) row];
    int sharing = 0;
    int position = 0;
    for (size_t i = 0; i < m_rows.size(); ++i)
    {
        if (m_rows[i].locked || !sameSerial(m_rows[i].serialNumber, shown.serialNumber))
            continue;
        ++sharing;
        if ((int) i <= row)
            position = sharing;
    }
    if (sharing < 2 || shown.locked)
        return shown.serialNumber;
    return shown.serialNumber + " (" + juce::String(position) + ")";
}

int KSTableListBox::DeviceKindForSerial(const juce::String& serialNumber)
{
    switch (leadingDecimal(serialNumber.substring(1, 4)))
    {
        case 201: return 7;
        case 204: return 5;
        case 205: return 3;
        case 206: return 4;
        case 207: return 2;
        case 208: return 6;
        case 209: return 5;
        case 210: return 3;
        case 211: return 1;
        default: return 8;
    }
}

void KSTableListBox::resized()
{
    m_table->setBounds(getLocalBounds());
}

int KSTableListBox::getNumRows()
{
    return (int) m_rows.size();
}

void KSTableListBox::paintRowBackground(juce::Graphics& g, int, int width, int height, bool)
{
    g.setColour(kTableBackground);
    g.fillRoundedRectangle(0.0f, 0.0f, (float) width, (float) height, 3.5f);
    g.setColour(kRowLine);
    g.fillRect(0, height - 1, width, 1);
}

void KSTableListBox::paintCell(juce::Graphics& g, int rowNumber, int columnId, int width, int height, bool)
{
    const DeviceRow* row = GetRow(rowNumber);
    if (row == nullptr)
        return;
    juce::String text;
    switch (columnId)
    {
        case DeviceNameColumn: text = row->name; break;
        case SerialNumberColumn: text = SerialNumberText(rowNumber); break;
        case HardwareVersionColumn: text = row->hardwareVersion; break;
        case InstalledColumn: text = row->installedVersion; break;
        case AvailableColumn: text = row->availableVersion; break;
        case StatusColumn: text = row->statusText; break;
        default: break;
    }
    g.setColour(kCellText);
    g.setFont(m_cellFont);
    g.drawText(text, 0, 0, width, height, juce::Justification::centred, true);
}

juce::Component* KSTableListBox::refreshComponentForCell(int rowNumber, int columnId, bool,
                                                         juce::Component* existing)
{
    if (columnId == DeviceNameColumn)
    {
        auto* cell = dynamic_cast<DeviceComponent*>(existing);
        if (cell == nullptr)
            cell = new DeviceComponent(*this); // the table owns its cell components
        cell->Update(rowNumber, columnId);
        return cell;
    }
    if (columnId == StatusColumn)
    {
        auto* cell = dynamic_cast<DeviceStatusComponent*>(existing);
        if (cell == nullptr)
            cell = new DeviceStatusComponent(*this);
        cell->Update(rowNumber, columnId);
        return cell;
    }
    return existing;
}

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
      m_pLabel(std::make_unique<juce::Label>(juce::String(), juce::String())),
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
