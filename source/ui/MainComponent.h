#pragma once

#include "ICallbackCheckAll.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

class KSAlertWindow;
class KSButton;
class KSLabel;
class KSTableListBox;
class KSTextButton;

// The content of the main window (1090 x 709): the summary line, the device table and the strip
// with "Select All" and "Update" (and an invisible "Exit" that only serves its Escape shortcut).
// It writes the summary from the table's counts, covers the table with a picture while no device
// is attached, keeps its buttons and the window's close button in step with the table, and asks
// for confirmation before the table starts an upgrade.
class MainComponent : public juce::Component, public juce::Button::Listener, public ICallbackCheckAll
{
public:
    static constexpr int kWidth = 1090, kHeight = 709;
    static constexpr int kSummaryHeight = 112, kTableHeight = 478, kStripHeight = 79;
    static constexpr int kUpdateButtonsCommand = 0, kAllowDowngradeCommand = 2;

    // `requestQuit` runs for the "Exit" button; by default it asks the application to quit.
    explicit MainComponent(std::function<void()> requestQuit = {});
    ~MainComponent() override;

    // ---- ICallbackCheckAll ----
    void OnShowMessage(const juce::String& text) override;
    void OnCheckAllFinished(int32_t deviceCount, int32_t upgradableCount, int32_t downgradableCount) override;
    void OnCheckStateChanged() override;

    // Enables the buttons (and the window's close button) from the table's state.
    void UpdateButtons();

    // Closes the upgrade confirmation as "Cancel" would, when it is open; true when it was.
    // A close request to the window does this before it quits.
    bool CancelConfirmation();
    bool IsConfirming() const noexcept { return m_pConfirmation != nullptr; }

    KSTableListBox* GetDeviceTable() const noexcept { return m_pDeviceTable.get(); }
    KSLabel& GetSummaryLabel() const noexcept { return *m_pSummaryLabel; }
    KSButton& GetSelectAllButton() const noexcept { return *m_pSelectAllButton; }
    KSTextButton& GetUpdateButton() const noexcept { return *m_pUpdateButton; }
    KSTextButton& GetExitButton() const noexcept { return *m_pExitButton; }
    bool IsShowingNoDevices() const noexcept { return m_bNoDevices; }

    // ---- framework ----
    void paint(juce::Graphics&) override;
    void paintOverChildren(juce::Graphics&) override;
    void resized() override;
    void handleCommandMessage(int commandId) override;
    void buttonClicked(juce::Button*) override;

private:
    void ConfirmAndStartUpgrade();

    std::unique_ptr<KSLabel> m_pSummaryLabel;
    std::unique_ptr<KSTableListBox> m_pDeviceTable;
    std::unique_ptr<KSButton> m_pSelectAllButton;
    std::unique_ptr<KSTextButton> m_pUpdateButton;
    std::unique_ptr<KSTextButton> m_pExitButton;
    bool m_bNoDevices = true;
    KSAlertWindow* m_pConfirmation = nullptr; // the open upgrade confirmation, not owned
    juce::Image m_noDeviceImage;
    std::function<void()> m_requestQuit;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MainComponent)
};
