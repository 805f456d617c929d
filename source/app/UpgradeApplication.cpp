#include "UpgradeApplication.h"

#include "Fonts.h"
#include "InstanceRefusedAlert.h"
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

    auto window = std::make_unique<MainWindow>(getApplicationName());
    mainWindow = std::move(window); // a previous window, if any, goes now
}

void UpgradeApplication::shutdown()
{
    mainWindow.reset();
    releaseInstanceGuard();
}

void UpgradeApplication::releaseInstanceGuard()
{
    // The guard's destructor releases the named object.
    instanceGuard.reset();
}
