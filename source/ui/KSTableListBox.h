#pragma once

#include "DeviceRow.h"
#include "ICallbackCheckAll.h"
#include "KSStatusLabel.h"
#include "TovrakDevice.h"
#include "UpgradeSupervisor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <memory>
#include <vector>

class KSButton;

// The column header of the device table: drawn by the look and feel; clicks and drags on it do
// nothing (no sorting, moving, resizing or column menu).
class KSTableHeaderComponent : public juce::TableHeaderComponent
{
public:
    KSTableHeaderComponent() = default;
    void mouseDown(const juce::MouseEvent&) override {}
    void mouseUp(const juce::MouseEvent&) override {}

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KSTableHeaderComponent)
};

// The device table: one row per attached device (at most 64) with name, serial number, hardware
// version, installed and available firmware and a status cell. Creating it starts the device
// monitoring and loads the firmware images; it refills itself whenever the device list reports a
// change, keeps the selection across refills and runs the upgrade of the selected rows through
// its UpgradeSupervisor, polling the workers every 500 ms. Message thread only, except
// OnDeviceChanged.
class KSTableListBox : public juce::Component,
                       public juce::TableListBoxModel,
                       public ICallbackDeviceChanged,
                       public juce::Timer
{
public:
    enum ColumnId : int
    {
        DeviceNameColumn = 1,
        SerialNumberColumn = 2,
        HardwareVersionColumn = 3,
        InstalledColumn = 4,
        AvailableColumn = 5,
        StatusColumn = 6
    };
    static constexpr int kRefillCommand = 101;
    static constexpr int kRowHeight = 62, kHeaderHeight = 35, kScrollBarThickness = 23;
    static constexpr int kPollMilliseconds = 500;
    static constexpr uint32_t kTableBackgroundArgb = 0xff3a3f45; // the table's and the rows' fill

    class DeviceComponent;
    class DeviceStatusComponent;

    explicit KSTableListBox(ICallbackCheckAll* callback);
    // Stops the workers, releases the firmware images and stops the device monitoring.
    ~KSTableListBox() override;

    // The program's end: stops the poll, waits for every running worker to end its upgrade
    // (their flashes finish; failed workers are not relaunched), releases the firmware images
    // and the devices. Afterwards the table starts no upgrade and no refill. Touches nothing of
    // the display, so it may run when the display is gone. Safe to call again.
    void ReleaseDevices();
    bool AreDevicesReleased() const noexcept { return m_bDevicesReleased; }

    // ---- selection ----
    void SelectAll(bool select);
    bool HasSelectedRows() const;
    bool HasSelectableRows() const;
    // What the "Select All" tick shows: not upgrading, at least one row selectable, and every
    // selectable row selected.
    bool AreAllSelectableRowsSelected() const;
    bool IsRowSelectable(int row) const;
    // 0 no worker state, 1 a worker runs, 2 upgraded since start, 3 the worker failed.
    int GetRowThreadState(int row) const;
    bool IsUpgradedSerial(const juce::String& serialNumber) const;
    bool IsRememberedSerial(const juce::String& serialNumber) const;
    // Whether the device (serial number and path) was selected at the last refill.
    bool IsRememberedDevice(const DeviceKey& device) const;

    // True while upgrade workers are polled; the window refuses to close meanwhile.
    bool IsUpgrading() const noexcept { return m_supervisor.IsUpgrading(); }
    // Rows whose image is not newer may be selected. True from the start.
    bool m_bAllowDowngrade = true;

    // ---- refill and upgrade ----
    void RefreshDeviceRows();
    void StartUpgradeSelectedDevices();
    void ReconcileThreads();
    void PollUpgradeThreads();

    // Called on the device list's idle thread: asks for a refill on the message thread.
    void OnDeviceChanged() override;

    // ---- texts, colours and pictures of the cells ----
    static juce::String GetStatusText(int32_t status);
    static juce::Colour GetStatusColour(int32_t status);
    // The device picture (KSButton deviceKind) for a serial number: its second to fourth
    // characters read as a decimal number.
    static int DeviceKindForSerial(const juce::String& serialNumber);
    // The serial number cell's text: the serial number, numbered when attached devices share it.
    juce::String SerialNumberText(int row) const;

    // ---- what the cells, the main component and tests read ----
    const std::vector<DeviceRow>& GetRows() const noexcept { return m_rows; }
    DeviceRow* GetRow(int row);
    int32_t GetUpgradableCount() const noexcept { return m_nUpgradableCount; }
    int32_t GetDowngradableCount() const noexcept { return m_nDowngradableCount; }
    const UpgradeSupervisor& GetSupervisor() const noexcept { return m_supervisor; }
    juce::TableListBox& GetTable() noexcept { return *m_table; }
    // Refills since construction.
    int GetRefillCount() const noexcept { return m_nRefillCount; }
    ICallbackCheckAll* GetCallback() const noexcept { return m_pCallback; }

    // ---- framework ----
    void resized() override;
    void handleCommandMessage(int commandId) override;
    void timerCallback() override;

    int getNumRows() override;
    void paintRowBackground(juce::Graphics&, int rowNumber, int width, int height, bool rowIsSelected) override;
    void paintCell(juce::Graphics&, int rowNumber, int columnId, int width, int height, bool rowIsSelected) override;
    juce::Component* refreshComponentForCell(int rowNumber, int columnId, bool isRowSelected,
                                             juce::Component* existingComponentToUpdate) override;

private:
    void RememberSelection();
    void UpdateTableContent();

    std::vector<DeviceRow> m_rows; // device-list order, then rows of lost devices
    int32_t m_nUpgradableCount = 0;
    int32_t m_nDowngradableCount = 0;
    juce::Font m_cellFont;
    DeviceKeyList m_rememberedSerials; // the devices selected when the rows were last refilled
    UpgradeSupervisor m_supervisor; // the workers and the serial numbers upgraded since start
    ICallbackCheckAll* m_pCallback; // not owned
    int m_nRefillCount = 0;
    bool m_bDevicesReleased = false;
    // Created before the device monitoring starts, so that OnDeviceChanged, which posts from the
    // idle thread, only ever reads this component's weak reference and never creates it.
    juce::Component::SafePointer<KSTableListBox> m_self;
    std::unique_ptr<juce::TableListBox> m_table;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(KSTableListBox)
};

// The device-name cell: the row's check-box button with the device picture and name.
class KSTableListBox::DeviceComponent : public juce::Component, public juce::Button::Listener
{
public:
    explicit DeviceComponent(KSTableListBox& owner);
    ~DeviceComponent() override;

    void Update(int row, int column);
    KSButton& GetButton() noexcept { return *m_pButton; }

    void resized() override;
    void buttonClicked(juce::Button*) override;

private:
    std::unique_ptr<KSButton> m_pButton;
    KSTableListBox& m_owner;
    int m_nRow = 0;
    int m_nColumn = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(DeviceComponent)
};

// The status cell: the coloured status text and, while a step reports its percentage, a
// progress bar at its right.
class KSTableListBox::DeviceStatusComponent : public juce::Component
{
public:
    static constexpr int kRightMargin = 22, kProgressWidth = 102, kProgressGap = 10;

    explicit DeviceStatusComponent(KSTableListBox& owner);
    ~DeviceStatusComponent() override;

    void Update(int row, int column);
    bool IsProgressVisible() const noexcept { return m_bProgressVisible; }
    double GetProgress() const noexcept { return m_dProgress; }
    KSStatusLabel& GetLabel() noexcept { return *m_pLabel; }
    juce::ProgressBar& GetProgressBar() noexcept { return *m_pProgressBar; }

    void resized() override;

private:
    int m_nRow = 0;
    int m_nColumn = 0;
    bool m_bProgressVisible = false;
    double m_dProgress = 0.0; // what the progress bar shows, 0 to 1
    KSTableListBox& m_owner;
    std::unique_ptr<KSStatusLabel> m_pLabel; // lays a long status out on two lines or smaller
    std::unique_ptr<juce::ProgressBar> m_pProgressBar;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(DeviceStatusComponent)
};
