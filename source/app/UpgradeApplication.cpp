#include "UpgradeApplication.h"

#include "Fonts.h"
#include "Log.h"
#include "StringResources.h"
#include "TranslationHelper.h"

namespace
{
// Stand-in main window until the device table and its window exist.
class PlaceholderWindow : public juce::DocumentWindow
{
public:
    explicit PlaceholderWindow(const juce::String& name)
        : DocumentWindow(name, juce::Colour(0xff2b2f33), DocumentWindow::closeButton | DocumentWindow::minimiseButton)
    {
        setUsingNativeTitleBar(true);
        setResizable(false, false);
        centreWithSize(1090, 709);
        setVisible(true);
    }

    void closeButtonPressed() override { juce::JUCEApplication::getInstance()->systemRequestedQuit(); }
};
} // namespace

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
    auto window = std::make_unique<PlaceholderWindow>(getApplicationName());
    mainWindow = std::move(window);
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

void showInstanceRefusedAlert(int checkResult)
{
    juce::AlertWindow::showMessageBox(juce::MessageBoxIconType::WarningIcon,
                                      getTranslatedString(StringId::ApplicationName),
                                      getTranslatedString(StringId::InstanceName + checkResult),
                                      getTranslatedString(StringId::Ok));
}
