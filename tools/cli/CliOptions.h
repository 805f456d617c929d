#pragma once

#include <string>
#include <vector>

// What the command line asks for. Parsing only checks the form; whether the devices exist is
// found out later.
struct CliOptions
{
    enum class Command
    {
        None,
        List,
        Upgrade,
        Watch,
        Station,
        Help,
        Version
    };

    Command command = Command::None;
    bool json = false;

    // upgrade
    bool all = false;
    std::vector<std::string> serialNumbers; // in the order given, without repeats
    bool allowDowngrade = false;
    bool yes = false;

    // watch: stop after this many seconds (0: run until interrupted)
    int seconds = 0;

    // station: the record file (empty: TovrakStation.jsonl in the folder worked in)
    std::string recordFile;

    // every command: work in this folder (log, translations, firmware files) instead of the
    // current one; empty for the current one
    std::string folder;
};

// Reads the arguments (without the program name). False with a one-line reason when they do not
// form a valid command line.
bool parseCliOptions(const std::vector<std::string>& args, CliOptions& options, std::string& error);

// The usage text printed by --help and after a usage error.
const char* cliUsage();

// The line printed by --version: the program's name and the package version.
std::string cliVersionLine();

// Where the log goes when no --folder is given. `programFolder` is the folder of the real
// executable. The program as the package installs it (<prefix>/lib/tovrak-upgrade, with the texts
// in <prefix>/share/tovrak-upgrade) writes into the user's folder of the installed window:
// $XDG_DATA_HOME/tovrak-upgrade, or ~/.local/share/tovrak-upgrade when XDG_DATA_HOME is not an
// absolute path. Anywhere else (a build tree), and when no home folder is known, it is empty:
// the current folder, as for the window.
std::string installedLogFolder(const std::string& programFolder, const char* xdgDataHome, const char* home);
