#include "ProgramEntry.h"

#include "DisplayCheck.h"
#include "Log.h"
#include "Platform.h"
#include "TranslationHelper.h"
#include "UpgradeApplication.h"

#include <iostream>
#include <stdexcept>

namespace
{
juce::JUCEApplicationBase* createUpgradeApplication()
{
    return new UpgradeApplication();
}
} // namespace

void logProgramVersion()
{
    KS_LOG_INFO("WinMain", "Current TovrakUpgrade version " << 2 << "." << 0 << "." << 1 << "." << 51214);
}

int runProgramEntry(int argc, const char* argv[])
{
    std::cout << "init_log_cpp entered." << std::endl;

    if (!Log::instance().init("TovrakUpgrade.log.txt", "datetime_level_func_log_source_line"))
        throw std::runtime_error("Log::instance().init failed!");

    logProgramVersion();

    // Without a usable display the framework cannot make the window (it would crash trying):
    // one line that says why and how to start the program instead, and a non-zero exit.
    if (std::string problem; !platform::checkDisplayAvailable(problem))
    {
        KS_LOG_ERROR("WinMain", problem);
        std::cerr << problem << std::endl;
        return 1;
    }

    juce::JUCEApplicationBase::createInstance = &createUpgradeApplication;

    // Per-monitor display scaling through an already loaded SHCore.dll (Windows only).
    platform::initialiseDisplayScaling();

    // The arguments are handed to the framework (which needs them on some platforms) but the
    // program itself takes no notice of them.
    const int exitCode = platform::runApplicationMain(argc, argv);
    KS_LOG_INFO("WinMain", "the program ends, exit code " << exitCode);

    TranslationHelper::deleteInstance();
    return exitCode;
}
