#include "UpgradeApplication.h"

#include "Fonts.h"
#include "InstanceRefusedAlert.h"
#include "KSTableListBox.h"
#include "MainComponent.h"
#include "MainWindow.h"
#include "Platform.h"
#include "Log.h"
#include "StringResources.h"
#include "TranslationHelper.h"

UpgradeApplication::~UpgradeApplication()
{
    releaseInstanceGuard();
    mainWindow.reset();
}

const juce::String UpgradeApplication::getApplicationName()
{
    return getTranslatedString(StringId::ApplicationName);
}

const juce::String UpgradeApplication::getApplicationVersion()
{
    return getTranslatedString(StringId::ApplicationVersion);
}

bool UpgradeApplication::initialiseApp()
{
    useDefaultSansSerifForSharedFonts();

    // No language is selected yet, so the name is always the English one.
    releaseInstanceGuard();
    instanceGuard = std::make_unique<SingleInstanceGuard>(getTranslatedString(StringId::InstanceName).toStdString());
    const int result = instanceGuard->check();
    if (result != 0)
    {
        KS_LOG_INFO("UpgradeApplication::initialiseApp", "single instance check result " << result
                                                         << ", the program ends without a window");
        showInstanceRefusedAlert(result);
        setApplicationReturnValue(1);
        return false;
    }

    TranslationHelper::getInstance().selectLanguage();
    // The framework's own set-up (it calls initialise). JUCEApplication keeps its override private;
    // on Windows and Linux it adds nothing to the base one.
    return JUCEApplicationBase::initialiseApp();
}

void UpgradeApplication::initialise(const juce::String&)
{
    const float scale = platform::getScaleForWindowSize(MainWindow::kWidth, MainWindow::kHeight);
    auto& desktop = juce::Desktop::getInstance();
    if (scale != 0.0f && desktop.getGlobalScaleFactor() != scale)
        desktop.setGlobalScaleFactor(scale);

    // Watched before the window appears: a session that ends as soon as the window shows (a
    // logout right after start) must find the handler in place, not the default end by signal.
    // Signals reach the window through the message loop, so it exists by then.
    platform::watchSessionEnd([](platform::SessionEnd reason) {
        if (reason == platform::SessionEnd::DisplayLost)
        {
            // Already on the message thread, and no message can be delivered any more.
            if (auto* app = dynamic_cast<UpgradeApplication*>(juce::JUCEApplicationBase::getInstance()))
                app->endForSession(reason);
            return;
        }
        juce::MessageManager::callAsync([reason] {
            if (auto* app = dynamic_cast<UpgradeApplication*>(juce::JUCEApplicationBase::getInstance()))
                app->endForSession(reason);
        });
    });

    auto window = std::make_unique<MainWindow>(getApplicationName());
    mainWindow = std::move(window); // a previous window, if any, goes now
}

void UpgradeApplication::shutdown()
{
    // No session handler may run into a half-destroyed window.
    platform::stopWatchingSessionEnd();
    mainWindow.reset();
    releaseInstanceGuard();
    // The typefaces go with the framework's shutdown, not later with the static fonts.
    useDefaultSansSerifForSharedFonts();
}

void UpgradeApplication::endForSession(platform::SessionEnd reason)
{
    if (endingForSession)
        return;
    endingForSession = true;

    const int exitCode = platform::sessionEndExitCode(reason);
    KS_LOG_INFO("UpgradeApplication::endForSession",
                "the session ends the program (" << platform::describeSessionEnd(reason)
                                                 << "): no new upgrade starts, running upgrades finish first");
    releaseDevices();
    KS_LOG_INFO("UpgradeApplication::endForSession",
                "upgrades ended and devices released; the program ends with exit code " << exitCode);

    if (reason == platform::SessionEnd::DisplayLost)
    {
        // The platform layer ends the process when this returns; the lock goes with it.
        releaseInstanceGuard();
        return;
    }
    setApplicationReturnValue(exitCode);
    quit();
}

void UpgradeApplication::releaseDevices()
{
    MainComponent* component = mainWindow != nullptr ? mainWindow->GetMainComponent() : nullptr;
    if (KSTableListBox* table = component != nullptr ? component->GetDeviceTable() : nullptr)
        table->ReleaseDevices();
    else
        CTovrakDevice::Uninit();
}

void UpgradeApplication::releaseInstanceGuard()
{
    // The guard's destructor releases the named object.
    instanceGuard.reset();
}
