// The table itself: its set-up, the refill of its rows, the selection rules and the upgrade
// supervision around the poll. What the cells show is in KSTableCellTexts.cpp, the two cell
// components in KSTableCellComponents.cpp.
#include "KSTableListBox.h"

#include "DeviceRowList.h"
#include "FirmwareFileManager.h"
#include "Fonts.h"
#include "Log.h"
#include "StringResources.h"

namespace
{
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

    m_table->setColour(juce::ListBox::backgroundColourId, juce::Colour(kTableBackgroundArgb));
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

bool KSTableListBox::AreAllSelectableRowsSelected() const
{
    if (IsUpgrading())
        return false;
    bool anySelectable = false;
    for (size_t i = 0; i < m_rows.size(); ++i)
    {
        if (!IsRowSelectable((int) i))
            continue;
        if (!m_rows[i].selected)
            return false;
        anySelectable = true;
    }
    return anySelectable;
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
    return m_rememberedSerials.containsSerial(serialNumber);
}

bool KSTableListBox::IsRememberedDevice(const DeviceKey& device) const
{
    return m_rememberedSerials.contains(device);
}

void KSTableListBox::RememberSelection()
{
    // Each selected device is remembered with its path, so that ticking one of two devices that
    // share a serial number never ticks the other after the refill.
    m_rememberedSerials.clear();
    for (const DeviceRow& row : m_rows)
        if (row.selected && !m_supervisor.IsUpgradedDevice(keyOf(row)))
            m_rememberedSerials.add(keyOf(row));
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
        [this](const DeviceKey& device) { return m_supervisor.IsUpgradedDevice(device); },
        [this](const DeviceKey& device) { return IsRememberedDevice(device); });

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
    m_supervisor.Reconcile(m_rows, listedDeviceKeys());
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
    // The rows show their workers at once (spinners instead of ticked boxes, the first phase),
    // not only after the first tick of the poll.
    PollUpgradeThreads();
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

void KSTableListBox::resized()
{
    m_table->setBounds(getLocalBounds());
}
