// The main window: its geometry and parts, the refusal to close while an upgrade runs, and the
// Ctrl+F refill. Keys are sent to the window as real X key events.
#include "GuiTestSupport.h"

#include "KSAlertWindow.h"
#include "KSButton.h"
#include "KSTableListBox.h"
#include "KSTextButton.h"
#include "MainComponent.h"
#include "MainWindow.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace gui_testing;

namespace
{
constexpr uint32_t packed(uint32_t major, uint32_t minor, uint32_t build)
{
    return (major << 24) | (minor << 16) | build;
}

class MainWindowTest : public ProgramTest
{
protected:
    MainWindow& makeWindow()
    {
        m_window = std::make_unique<MainWindow>("Tovrak Upgrade Utility", [this] { ++m_quitRequests; });
        juce::MessageManager::getInstance()->runDispatchLoopUntil(50);
        return *m_window;
    }

    KSTableListBox& windowTable() { return *m_window->GetMainComponent()->GetDeviceTable(); }

    // Sends key presses to the window's X window, as a keyboard would.
    bool sendKeys(const char* keys)
    {
        if (std::system("command -v xdotool >/dev/null 2>&1") != 0)
            return false;
        const auto window = (juce::uint64) (juce::pointer_sized_uint) m_window->getPeer()->getNativeHandle();
        const auto command = "xdotool key --window " + juce::String(window) + " " + keys;
        return std::system(command.toRawUTF8()) == 0;
    }

    void TearDown() override
    {
        m_window.reset();
        ProgramTest::TearDown();
    }

    std::unique_ptr<MainWindow> m_window;
};

// Calls `answer` once, from the message loop, when the upgrade confirmation is open.
class WhenConfirmationOpens : private juce::Timer
{
public:
    explicit WhenConfirmationOpens(std::function<void(KSAlertWindow&)> answer) : m_answer(std::move(answer))
    {
        startTimer(20);
    }
    ~WhenConfirmationOpens() override { stopTimer(); }

private:
    void timerCallback() override
    {
        if (auto* alert = dynamic_cast<KSAlertWindow*>(juce::Component::getCurrentlyModalComponent()))
        {
            stopTimer();
            m_answer(*alert);
        }
    }
    std::function<void(KSAlertWindow&)> m_answer;
};
} // namespace

TEST_F(MainWindowTest, BorderlessWindowWithItsOwnTitleBar)
{
    plug("T207000001", 100, packed(1, 2, 0));
    auto& window = makeWindow();
    EXPECT_EQ(window.getWidth(), 1090);
    EXPECT_EQ(window.getHeight(), 709);
    EXPECT_EQ(window.getBorderThickness(), juce::BorderSize<int>(0));
    ASSERT_NE(window.GetMainComponent(), nullptr);
    EXPECT_EQ(window.getContentComponent(), window.GetMainComponent());
    EXPECT_EQ(window.GetMainComponent()->getBounds(), juce::Rectangle<int>(0, 40, 1090, 669));
    EXPECT_NE(window.getCloseButton(), nullptr);
    EXPECT_NE(window.getMinimiseButton(), nullptr);
    EXPECT_EQ(window.getMaximiseButton(), nullptr);

    // Centred in the main display's usable area.
    const auto area = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    EXPECT_EQ(window.getScreenBounds().getCentre(), area.getCentre());
}

TEST_F(MainWindowTest, RefusesToCloseWhileUpgradingAndClosesAfter)
{
    plug("T207000001", 100, packed(1, 2, 0), [](EmulatedDeviceConfig& c) { c.latency = std::chrono::milliseconds(3); });
    firmwareFile(100, 1, 3, 1);
    auto& window = makeWindow();
    auto& table = windowTable();

    table.SelectAll(true);
    table.StartUpgradeSelectedDevices();
    ASSERT_TRUE(table.IsUpgrading());
    ASSERT_TRUE(pumpUntil([&] { return !window.getCloseButton()->isEnabled(); }));

    window.closeButtonPressed();
    window.userTriedToCloseWindow(); // the platform's close request
    window.activeWindowStatusChanged();
    EXPECT_EQ(m_quitRequests, 0);
    EXPECT_FALSE(window.getCloseButton()->isEnabled()) << "re-activation keeps the close button disabled";
    EXPECT_FALSE(window.GetMainComponent()->GetExitButton().isEnabled());

    ASSERT_TRUE(pumpUntil([&] { return !table.IsUpgrading() && !table.isTimerRunning(); }));
    ASSERT_TRUE(pumpUntil([&] { return window.getCloseButton()->isEnabled(); }));
    window.closeButtonPressed();
    EXPECT_EQ(m_quitRequests, 1);
    window.userTriedToCloseWindow();
    EXPECT_EQ(m_quitRequests, 2);
}

TEST_F(MainWindowTest, CtrlFRefillsOnceAndOtherKeysDoNothing)
{
    plug("T207000001", 100, packed(1, 2, 0));
    auto& window = makeWindow();
    auto& table = windowTable();
    table.m_bAllowDowngrade = false;
    const int before = table.GetRefillCount();

    if (!sendKeys("ctrl+shift+f f shift+f alt+f"))
        GTEST_SKIP() << "needs xdotool";
    pumpUntil([] { return false; }, 300);
    EXPECT_EQ(table.GetRefillCount(), before);
    EXPECT_FALSE(table.m_bAllowDowngrade);

    ASSERT_TRUE(sendKeys("ctrl+f"));
    ASSERT_TRUE(pumpUntil([&] { return table.GetRefillCount() != before; }, 3000));
    pumpUntil([] { return false; }, 300);
    EXPECT_EQ(table.GetRefillCount(), before + 1);
    EXPECT_TRUE(table.m_bAllowDowngrade);

    // Every key that reaches the window counts as used.
    EXPECT_TRUE(window.keyPressed(juce::KeyPress('x'), nullptr));
    EXPECT_TRUE(MainWindow::IsRefillShortcut(juce::KeyPress('f', juce::ModifierKeys::ctrlModifier, 'f')));
    EXPECT_TRUE(MainWindow::IsRefillShortcut(juce::KeyPress('F', juce::ModifierKeys::ctrlModifier, 0)));
    EXPECT_FALSE(MainWindow::IsRefillShortcut(
        juce::KeyPress('f', juce::ModifierKeys::ctrlModifier | juce::ModifierKeys::shiftModifier, 'F')));
    EXPECT_FALSE(MainWindow::IsRefillShortcut(juce::KeyPress('f', juce::ModifierKeys::noModifiers, 'f')));
}

TEST_F(MainWindowTest, ReturnOpensTheConfirmationWhateverTheMouseLastClicked)
{
    plug("T207000001", 100, packed(1, 2, 0));
    plug("T207000002", 100, packed(1, 2, 0));
    firmwareFile(100, 1, 3, 1);
    auto& window = makeWindow();
    auto& main = *window.GetMainComponent();
    auto& table = windowTable();
    auto rowBox = [&]() -> juce::Component* {
        auto* cell = dynamic_cast<KSTableListBox::DeviceComponent*>(
            table.GetTable().getCellComponent(KSTableListBox::DeviceNameColumn, 0));
        return cell != nullptr ? &cell->GetButton() : nullptr;
    };
    // What holds the keyboard focus when Return is pressed, as a click on it leaves it.
    struct Case
    {
        const char* name;
        std::function<juce::Component*()> clicked;
    };
    const std::vector<Case> cases = {
        { "a row's check box", rowBox },
        { "Select All", [&] { return &main.GetSelectAllButton(); } },
        { "the table", [&] { return &table.GetTable(); } },
        { "Update", [&] { return &main.GetUpdateButton(); } },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        table.SelectAll(true);
        main.UpdateButtons();
        ASSERT_TRUE(main.GetUpdateButton().isEnabled());
        juce::Component* focus = c.clicked();
        ASSERT_NE(focus, nullptr);
        focus->grabKeyboardFocus();
        ASSERT_TRUE(focus->hasKeyboardFocus(false));

        // The confirmation runs its own loop; it is looked for, and answered with Escape, from
        // inside that loop.
        bool asked = false;
        bool rowsKept = false;
        WhenConfirmationOpens answer([&](KSAlertWindow&) {
            asked = true;
            rowsKept = table.GetRows()[0].selected && table.GetRows()[1].selected;
            sendKeys("Escape"); // keeps its meaning: cancels the question, quits nothing
        });
        if (!sendKeys("Return"))
            GTEST_SKIP() << "needs xdotool";
        pumpUntil([&] { return asked; }, 3000);
        ASSERT_TRUE(asked) << "Return opened the confirmation";
        EXPECT_TRUE(rowsKept) << "Return did not untick a row";
        ASSERT_TRUE(pumpUntil([] { return juce::Component::getNumCurrentlyModalComponents() == 0; }, 3000));
        pumpUntil([] { return false; }, 100);
        EXPECT_EQ(table.GetSupervisor().WorkerCount(), 0u);
        EXPECT_EQ(m_quitRequests, 0);
    }
}

TEST_F(MainWindowTest, ACloseRequestDuringTheConfirmationCancelsItAndQuits)
{
    plug("T207000001", 100, packed(1, 2, 0));
    firmwareFile(100, 1, 3, 1);
    auto& window = makeWindow();
    auto& main = *window.GetMainComponent();
    windowTable().SelectAll(true);
    main.UpdateButtons();

    bool asked = false;
    juce::Timer::callAfterDelay(200, [&] {
        if (dynamic_cast<KSAlertWindow*>(juce::Component::getCurrentlyModalComponent()) != nullptr)
        {
            asked = true;
            window.userTriedToCloseWindow(); // the desktop's close request
        }
    });
    main.GetUpdateButton().triggerClick();
    ASSERT_TRUE(pumpUntil([&] { return asked && juce::Component::getNumCurrentlyModalComponents() == 0; }, 5000))
        << "the close request answered the confirmation";
    pumpUntil([] { return false; }, 100);
    EXPECT_EQ(m_quitRequests, 1);
    EXPECT_EQ(windowTable().GetSupervisor().WorkerCount(), 0u);
    EXPECT_FALSE(windowTable().IsUpgrading());
}
