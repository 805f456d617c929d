// KSAlertWindow: geometry, painting and the results of its modal loop. The key tests send real
// X key events to the window with xdotool, because button shortcuts look at the keyboard state.
#include "UiTestSupport.h"

#include "KSAlertWindow.h"
#include "StringResources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

using namespace uitest;
using juce::Colour;

namespace
{
const Colour body(0xFF353A40);
const Colour titleStrip(0xFF2C2F34);

juce::String updateWarning()
{
    return " " + getTranslatedString(StringId::UpgradeConfirmation);
}

bool haveXdotool()
{
    return std::system("command -v xdotool >/dev/null 2>&1") == 0;
}

// Sends one key press and release straight to the alert's X window.
void sendKey(KSAlertWindow& alert, const char* keyName)
{
    auto* peer = alert.getPeer();
    ASSERT_NE(peer, nullptr);
    const auto window = (juce::uint64) (juce::pointer_sized_uint) peer->getNativeHandle();
    const auto command = "xdotool key --window " + juce::String(window) + " " + keyName;
    ASSERT_EQ(std::system(command.toRawUTF8()), 0);
}

// Runs the alert's modal loop; `action` runs once the window is up. A watchdog ends the loop
// with -99 if nothing else does.
int runWith(KSAlertWindow& alert, std::function<void(KSAlertWindow&)> action)
{
    juce::Component::SafePointer<KSAlertWindow> safe(&alert);
    juce::Timer::callAfterDelay(400, [safe, action] {
        if (safe != nullptr)
            action(*safe);
    });
    // Owned here, so that it goes with the loop it guards instead of outliving the test.
    struct Watchdog : juce::Timer
    {
        juce::Component::SafePointer<KSAlertWindow> window;
        void timerCallback() override
        {
            stopTimer();
            if (window != nullptr && window->isCurrentlyModal(false))
                window->exitModalState(-99);
        }
    } watchdog;
    watchdog.window = safe;
    watchdog.startTimer(8000);
    return alert.runModalLoop();
}
} // namespace

TEST(KSAlertWindowTest, GeometryOverAComponentAndOnTheDisplay)
{
    juce::Component owner;
    owner.setBounds(100, 100, 1090, 709);

    KSAlertWindow confirm(&owner, updateWarning(), getTranslatedString(StringId::Ok),
                          getTranslatedString(StringId::Cancel));
    EXPECT_EQ(confirm.getBounds(), juce::Rectangle<int>(395, 304, 500, 300));
    EXPECT_FALSE(confirm.isVisible());
    ASSERT_EQ(confirm.getNumButtons(), 2);
    EXPECT_EQ(confirm.getButton(0)->getBounds(), juce::Rectangle<int>(108, 215, 118, 35));
    EXPECT_EQ(confirm.getButton(1)->getBounds(), juce::Rectangle<int>(274, 215, 118, 35));
    EXPECT_EQ(confirm.getCloseButton()->getBounds(), juce::Rectangle<int>(450, 0, 50, 40));
    EXPECT_EQ(confirm.getButton(0)->getCommandID(), 0);
    EXPECT_EQ(confirm.getButton(1)->getCommandID(), 1);
    EXPECT_EQ(confirm.getCloseButton()->getCommandID(), 1);

    KSAlertWindow single(nullptr, getTranslatedString(StringId::AnotherInstanceRunning),
                         getTranslatedString(StringId::Ok), {});
    ASSERT_EQ(single.getNumButtons(), 1);
    EXPECT_EQ(single.getButton(0)->getBounds(), juce::Rectangle<int>(191, 215, 118, 35));
    const auto area = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    EXPECT_EQ(single.getBounds().getCentre(), area.getCentre());
    EXPECT_EQ(single.getBounds().getWidth(), 500);

    KSAlertWindow none(nullptr, "x", {}, {});
    EXPECT_EQ(none.getNumButtons(), 0);
}

TEST(KSAlertWindowTest, PaintsTitleIconMessageAndButtons)
{
    KSAlertWindow single(nullptr, getTranslatedString(StringId::UnknownError), getTranslatedString(StringId::Ok), {});
    const auto shot = snapshot(single, "alert-short");

    EXPECT_EQ(pixel(shot, 5, 5), titleStrip);
    EXPECT_EQ(pixel(shot, 5, 100), body);
    EXPECT_EQ(pixel(shot, 5, 290), body);

    // The application name at x 18 in the title strip.
    const auto title = inkBounds(shot, { 0, 0, 440, 40 }, titleStrip, 10);
    EXPECT_GE(title.getX(), 18);
    EXPECT_LE(title.getX(), 21);
    EXPECT_TRUE(near(brightest(shot, title), Colour(0xFFD8DDE3), 3));

    // Sign and short message: one block centred in the window, the sign just left of the text.
    const auto block = inkBounds(shot, { 0, 40, 500, 170 }, body, 10);
    EXPECT_NEAR(block.getCentreX(), 250, 3);
    const auto sign = inkBounds(shot, { 0, 40, 250, 170 }, body, 10);
    EXPECT_GT(sign.getWidth(), 30);
    EXPECT_NEAR(sign.getCentreY(), 125, 2);

    // The single button at x 191, green on the body.
    EXPECT_TRUE(near(pixel(shot, 196, 232), Colour(0xFF18AF5E), 2));
    EXPECT_EQ(pixel(shot, 189, 232), body);
    EXPECT_EQ(pixel(shot, 310, 232), body);

    // A long message is capped at 350 pixels: margin 47, text from x 102 to 453.
    KSAlertWindow confirm(nullptr, updateWarning(), getTranslatedString(StringId::Ok),
                          getTranslatedString(StringId::Cancel));
    const auto longShot = snapshot(confirm, "alert-confirm");
    const auto longSign = inkBounds(longShot, { 0, 40, 100, 170 }, body, 10);
    EXPECT_GE(longSign.getX(), 47);
    EXPECT_LE(longSign.getRight(), 47 + 41);
    const auto text = inkBounds(longShot, { 100, 40, 400, 170 }, body, 10);
    EXPECT_GE(text.getX(), 102);
    EXPECT_LE(text.getRight(), 453);
    EXPECT_GT(text.getHeight(), 40); // several lines
}

TEST(KSAlertWindowTest, ModalResults)
{
    if (! haveXdotool())
        GTEST_SKIP() << "xdotool is needed to send key presses";

    auto makeConfirm = [] {
        return std::make_unique<KSAlertWindow>(nullptr, updateWarning(), getTranslatedString(StringId::Ok),
                                               getTranslatedString(StringId::Cancel));
    };

    {
        auto alert = makeConfirm();
        EXPECT_EQ(runWith(*alert, [](KSAlertWindow& a) { sendKey(a, "Return"); }), 0);
    }
    {
        auto alert = makeConfirm();
        EXPECT_EQ(runWith(*alert, [](KSAlertWindow& a) { sendKey(a, "Escape"); }), 1);
    }
    {
        auto alert = makeConfirm();
        EXPECT_EQ(runWith(*alert, [](KSAlertWindow& a) { a.getCloseButton()->triggerClick(); }), 1);
    }
    {
        auto alert = makeConfirm();
        EXPECT_EQ(runWith(*alert, [](KSAlertWindow& a) { a.getButton(0)->triggerClick(); }), 0);
    }
    {
        auto alert = makeConfirm();
        EXPECT_EQ(runWith(*alert, [](KSAlertWindow& a) { a.getPeer()->handleUserClosingWindow(); }), 1);
    }
    {
        // Only "OK": Escape does nothing, Return still answers.
        KSAlertWindow single(nullptr, getTranslatedString(StringId::AnotherInstanceRunning),
                             getTranslatedString(StringId::Ok), {});
        bool stillOpenAfterEscape = false;
        juce::Component::SafePointer<KSAlertWindow> safe(&single);
        const int result = runWith(single, [&stillOpenAfterEscape, safe](KSAlertWindow& a) {
            sendKey(a, "Escape");
            juce::Timer::callAfterDelay(400, [&stillOpenAfterEscape, safe] {
                if (safe == nullptr)
                    return;
                stillOpenAfterEscape = safe->isCurrentlyModal(false);
                sendKey(*safe, "Return");
            });
        });
        EXPECT_TRUE(stillOpenAfterEscape);
        EXPECT_EQ(result, 0);
    }
}
