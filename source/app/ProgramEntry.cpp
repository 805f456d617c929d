#include "ProgramEntry.h"

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
