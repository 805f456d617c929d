// tovrak-cli: lists, upgrades and watches Tovrak devices from a terminal or a script, with the
// window's rules, texts, log file and single-instance guard.
#include "Cli.h"
#include "CliOptions.h"
#include "Commands.h"
#include "Log.h"
#include "Platform.h"
#include "Terminal.h"
#include "TranslationHelper.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>

namespace
{
std::atomic<bool> g_interrupted { false };
std::atomic<int> g_interruptCount { 0 };

extern "C" void onInterrupt(int signalNumber)
{
    g_interrupted = true;
    ++g_interruptCount;
    // Stay installed: a second Ctrl+C must not end an upgrade half way either.
    std::signal(signalNumber, onInterrupt);
}

void quitNow(int exitCode)
{
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(exitCode);
}
} // namespace

int main(int argc, char* argv[])
{
    std::vector<std::string> args(argv + 1, argv + argc);
    CliOptions options;
    std::string error;
    if (!parseCliOptions(args, options, error))
    {
        std::cerr << "tovrak-cli: " << error << "\n\n" << cliUsage();
        return CliExit::BadUsage;
    }

    // Help and version are answered before anything is set up: they leave no log behind.
    if (options.command == CliOptions::Command::Help)
    {
        std::cout << cliUsage();
        return CliExit::Ok;
    }
    if (options.command == CliOptions::Command::Version)
    {
        std::cout << cliVersionLine() << std::endl;
        return CliExit::Ok;
    }

    // The log file goes where the command works, as the window's goes to its working folder;
    // installed by the package, without --folder, to the user's folder of the installed window.
    std::string logFile = "TovrakUpgrade.log.txt";
    if (options.folder.empty())
    {
        const std::string programFolder = juce::File::getSpecialLocation(juce::File::hostApplicationPath)
                                              .getParentDirectory().getFullPathName().toStdString();
        const std::string userFolder = installedLogFolder(programFolder, std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
        const juce::File folder(juce::String::fromUTF8(userFolder.c_str()));
        if (!userFolder.empty() && folder.createDirectory())
            logFile = folder.getChildFile("TovrakUpgrade.log.txt").getFullPathName().toStdString();
    }
    else
    {
        const juce::File folder = juce::File::getCurrentWorkingDirectory().getChildFile(juce::String::fromUTF8(options.folder.c_str()));
        if (!folder.isDirectory() || !folder.setAsCurrentWorkingDirectory())
        {
            std::cerr << "tovrak-cli: no such folder: " << options.folder << std::endl;
            return CliExit::BadUsage;
        }
    }

    try
    {
        if (!Log::instance().init(logFile, "datetime_level_func_log_source_line"))
            std::cerr << "tovrak-cli: the log file cannot be set up" << std::endl;
    }
    catch (const std::exception& e)
    {
        std::cerr << "tovrak-cli: " << e.what() << std::endl;
        return CliExit::SomeFailed;
    }

    // No window: a message box becomes a line on the error stream and does not wait.
    platform::setMessageBoxHandler([](const std::string& title, const std::string& text) {
        std::cerr << title << ": " << text << std::endl;
    });
    std::signal(SIGINT, onInterrupt);
    // A termination request (a service manager stopping the station) is taken like Ctrl+C.
    std::signal(SIGTERM, onInterrupt);
    cli_terminal::useUtf8Output();

    CliIo io { std::cout, std::cerr, std::cin };
    io.outputIsTerminal = cli_terminal::outputIsAnsiTerminal();
    io.interrupted = &g_interrupted;
    io.interruptCount = &g_interruptCount;
    io.quitNow = quitNow;

    KS_LOG_INFO("main", "command line: " << [&] {
        std::string text;
        for (const auto& arg : args)
            text += (text.empty() ? "" : " ") + arg;
        return text;
    }());
    const int exitCode = runCliCommand(options, io);
    KS_LOG_INFO("main", "exit code " << exitCode);
    TranslationHelper::deleteInstance();
    return exitCode;
}
