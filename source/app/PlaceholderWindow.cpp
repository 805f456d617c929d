#include "PlaceholderWindow.h"

#include "TovrakDevice.h"

#include <atomic>

namespace
{
// Until the device table exists, the placeholder keeps the device list current itself: the idle
// thread's notice is handed to the message thread, which refreshes the list (and so logs the
// devices that come and go).
class PlaceholderDeviceWatcher : public ICallbackDeviceChanged
{
public:
    void OnDeviceChanged() override
    {
        if (m_bPending.exchange(true))
            return; // one refresh queued at a time
        juce::MessageManager::callAsync([this] {
            m_bPending = false;
            if (m_bActive)
                CTovrakDevice::Refresh();
        });
    }

    std::atomic<bool> m_bActive { false };
    std::atomic<bool> m_bPending { false };
};

// Static, so that it outlives refreshes still queued when the window goes.
PlaceholderDeviceWatcher g_placeholderWatcher;
} // namespace

PlaceholderWindow::PlaceholderWindow(const juce::String& name)
    : DocumentWindow(name, juce::Colour(0xff2b2f33), DocumentWindow::closeButton | DocumentWindow::minimiseButton)
{
    setUsingNativeTitleBar(true);
    setResizable(false, false);
    centreWithSize(1090, 709);
    setVisible(true);

    g_placeholderWatcher.m_bActive = true;
    CTovrakDevice::Init(&g_placeholderWatcher);
}

PlaceholderWindow::~PlaceholderWindow()
{
    g_placeholderWatcher.m_bActive = false;
    CTovrakDevice::Uninit();
}

void PlaceholderWindow::closeButtonPressed()
{
    juce::JUCEApplication::getInstance()->systemRequestedQuit();
}
