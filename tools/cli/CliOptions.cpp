#include "CliOptions.h"
#include "FirmwareSignature.h"

#include <algorithm>
#include <sys/stat.h>

namespace
{
// Longest serial number a device can report; a longer argument cannot name a device.
constexpr size_t kMaxSerialLength = 64;
constexpr int kMaxWatchSeconds = 7 * 24 * 3600;

bool parseSeconds(const std::string& text, int& value)
{
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    value = std::stoi(text);
    return value <= kMaxWatchSeconds;
}
} // namespace

const char* cliUsage()
{
    return "Usage:\n"
           "  tovrak-cli list [--json]\n"
           "  tovrak-cli upgrade (--all | --serial SN [--serial SN ...]) [--allow-downgrade] [--yes] [--json]\n"
           "  tovrak-cli watch [--json] [--seconds N]\n"
           "  tovrak-cli station [--allow-downgrade] [--record FILE] [--json]\n"
           "  tovrak-cli --help | --version\n"
           "\n"
           "Every command also takes --folder DIR: read translations.csv and firmware files (*.ksf) from DIR\n"
           "and write TovrakUpgrade.log.txt there, instead of the current folder. Installed by the package,\n"
           "the log goes to ~/.local/share/tovrak-upgrade unless --folder is given.\n"
           "\n"
           "Exit codes of upgrade: 0 every selected device verified, 1 some failed, 2 nothing to do,\n"
           "3 no supported device found, 4 bad usage, 5 another instance runs, 6 a supported device\n"
           "could not be read (named on the error stream). list exits 3, 4, 5 and 6 likewise.\n"
           "\n"
           "station upgrades every device as it is plugged in, until Ctrl+C, and appends one line per\n"
           "device to FILE (default TovrakStation.jsonl). Exit code 0 when no device failed, 1 otherwise.\n";
}

std::string cliVersionLine()
{
    std::string line = std::string("tovrak-cli ") + TOVRAK_VERSION;
    // A build that enforces signatures names the keys it trusts.
    const std::vector<std::string> keys = TrustedKeys::ofBuild().keyIds();
    for (size_t i = 0; i < keys.size(); ++i)
        line += (i == 0 ? "\ntrusted firmware keys: " : " ") + keys[i];
    return line;
}

std::string installedLogFolder(const std::string& programFolder, const char* xdgDataHome, const char* home)
{
    const std::string installedSuffix = "/lib/tovrak-upgrade";
    std::string folder = programFolder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.size() <= installedSuffix.size()
        || folder.compare(folder.size() - installedSuffix.size(), installedSuffix.size(), installedSuffix) != 0)
        return {};
    const std::string prefix = folder.substr(0, folder.size() - installedSuffix.size());
    struct stat info {};
    if (::stat((prefix + "/share/tovrak-upgrade/translations.csv").c_str(), &info) != 0)
        return {};

    // The same folder the window's launcher uses.
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/')
        return std::string(xdgDataHome) + "/tovrak-upgrade";
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.local/share/tovrak-upgrade";
    return {};
}

bool parseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error)
{
    options = CliOptions();
    if (args.empty())
    {
        error = "no command given";
        return false;
    }

    const std::string& command = args[0];
    if (command == "list")
        options.command = CliOptions::Command::List;
    else if (command == "upgrade")
        options.command = CliOptions::Command::Upgrade;
    else if (command == "watch")
        options.command = CliOptions::Command::Watch;
    else if (command == "station")
        options.command = CliOptions::Command::Station;
    else if (command == "--help" || command == "-h" || command == "help")
        options.command = CliOptions::Command::Help;
    else if (command == "--version" || command == "version")
        options.command = CliOptions::Command::Version;
    else
    {
        error = "unknown command '" + command + "'";
        return false;
    }

    const bool upgrade = options.command == CliOptions::Command::Upgrade;
    const bool watch = options.command == CliOptions::Command::Watch;
    const bool station = options.command == CliOptions::Command::Station;
    for (size_t i = 1; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--help" || arg == "-h")
        {
            options.command = CliOptions::Command::Help;
            return true;
        }
        if (options.command == CliOptions::Command::Help || options.command == CliOptions::Command::Version)
        {
            error = "unexpected argument '" + arg + "'";
            return false;
        }
        if (arg == "--json")
            options.json = true;
        else if (arg == "--folder")
        {
            if (!hasValue || args[i + 1].empty())
            {
                error = "--folder needs a folder";
                return false;
            }
            options.folder = args[++i];
        }
        else if (upgrade && arg == "--all")
            options.all = true;
        else if ((upgrade || station) && arg == "--allow-downgrade")
            options.allowDowngrade = true;
        else if (upgrade && (arg == "--yes" || arg == "-y"))
            options.yes = true;
        else if (upgrade && arg == "--serial")
        {
            if (!hasValue || args[i + 1].empty() || args[i + 1].rfind("--", 0) == 0)
            {
                error = "--serial needs a serial number";
                return false;
            }
            const std::string& serial = args[++i];
            if (serial.size() > kMaxSerialLength)
            {
                error = "serial number too long: " + serial.substr(0, kMaxSerialLength) + "...";
                return false;
            }
            if (std::find(options.serialNumbers.begin(), options.serialNumbers.end(), serial) == options.serialNumbers.end())
                options.serialNumbers.push_back(serial);
        }
        else if (station && arg == "--record")
        {
            if (!hasValue || args[i + 1].empty())
            {
                error = "--record needs a file";
                return false;
            }
            options.recordFile = args[++i];
        }
        else if (watch && arg == "--seconds")
        {
            if (!hasValue || !parseSeconds(args[i + 1], options.seconds))
            {
                error = "--seconds needs a whole number of seconds (at most one week)";
                return false;
            }
            ++i;
        }
        else
        {
            error = "unknown option '" + arg + "' for " + command;
            return false;
        }
    }

    if (upgrade && options.all == !options.serialNumbers.empty())
    {
        error = options.all ? "--all and --serial exclude each other" : "upgrade needs --all or --serial SN";
        return false;
    }
    return true;
}
