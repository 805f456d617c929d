#include "Cli.h"

#include "CliSession.h"
#include "Commands.h"
#include "Log.h"

#include <exception>
#include <ostream>

namespace
{
std::string joined(const std::vector<std::string>& args)
{
    std::string text;
    for (const auto& arg : args)
        text += (text.empty() ? "" : " ") + arg;
    return text;
}
} // namespace

namespace
{
// Retries of failed set-ups come after 100, 200, 400 ms instead of 1, 2, 4 s for this command.
class OneShotRetries
{
public:
    explicit OneShotRetries(bool active) : m_active(active)
    {
        if (m_active)
            CTovrakDevice::SetSetUpRetryDelay(std::chrono::milliseconds(100));
    }
    ~OneShotRetries()
    {
        if (m_active)
            CTovrakDevice::SetSetUpRetryDelay(std::chrono::milliseconds(1000));
    }

private:
    const bool m_active;
};

// A device that could not be read makes the command's end say so, unless it failed anyway.
int withUnreadable(size_t unreadableDevices, int exitCode)
{
    if (unreadableDevices == 0 || exitCode == CliExit::SomeFailed)
        return exitCode;
    return CliExit::DeviceUnreadable;
}
} // namespace

int runCliCommand(const CliOptions& options, CliIo& io)
{
    if (options.command == CliOptions::Command::Help)
    {
        io.out << cliUsage();
        return CliExit::Ok;
    }
    if (options.command == CliOptions::Command::Version)
    {
        io.out << cliVersionLine() << std::endl;
        return CliExit::Ok;
    }
    try
    {
        // Commands that look once give a device whose set-up failed (a dropped report) a few
        // more tries within a second; the watching ones keep the window's pace.
        const bool oneShot = options.command == CliOptions::Command::List || options.command == CliOptions::Command::Upgrade;
        const OneShotRetries retries(oneShot);
        CliSession session(io);
        const int opened = session.Open();
        if (opened != CliExit::Ok)
            return opened;
        switch (options.command)
        {
            case CliOptions::Command::List:
            {
                const size_t unreadable = session.SettleDevices();
                return withUnreadable(unreadable, runListCommand(options, session, io));
            }
            case CliOptions::Command::Upgrade:
            {
                const size_t unreadable = session.SettleDevices();
                return withUnreadable(unreadable, runUpgradeCommand(options, session, io));
            }
            case CliOptions::Command::Watch: return runWatchCommand(options, session, io);
            case CliOptions::Command::Station: return runStationCommand(options, session, io);
            case CliOptions::Command::Help:
            case CliOptions::Command::Version:
            case CliOptions::Command::None: break;
        }
        return CliExit::BadUsage;
    }
    catch (const std::exception& e)
    {
        // Nothing below throws on purpose; this keeps a fault from ending the process without a word.
        KS_LOG_ERROR("runCliCommand", "command ended by an exception: " << e.what());
        io.err << "tovrak-cli: " << e.what() << std::endl;
        return CliExit::SomeFailed;
    }
}

int runCli(const std::vector<std::string>& args, CliIo& io)
{
    CliOptions options;
    std::string error;
    if (!parseCliOptions(args, options, error))
    {
        KS_LOG_ERROR("runCli", "bad usage: " << error << " (command line: " << joined(args) << ")");
        io.err << "tovrak-cli: " << error << "\n\n" << cliUsage();
        return CliExit::BadUsage;
    }

    // The folder a command works in is its working folder while it runs.
    const juce::File previous = juce::File::getCurrentWorkingDirectory();
    if (!options.folder.empty())
    {
        const juce::File folder = previous.getChildFile(juce::String::fromUTF8(options.folder.c_str()));
        if (!folder.isDirectory() || !folder.setAsCurrentWorkingDirectory())
        {
            KS_LOG_ERROR("runCli", "no such folder: " << options.folder);
            io.err << "tovrak-cli: no such folder: " << options.folder << std::endl;
            return CliExit::BadUsage;
        }
    }
    KS_LOG_INFO("runCli", "command line: " << joined(args));
    const int exitCode = runCliCommand(options, io);
    KS_LOG_INFO("runCli", "exit code " << exitCode);
    previous.setAsCurrentWorkingDirectory();
    return exitCode;
}
