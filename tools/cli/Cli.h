#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

// Exit codes of the command line tool.
namespace CliExit
{
enum : int
{
    Ok = 0,              // every selected device verified (list, watch: worked)
    SomeFailed = 1,      // at least one selected or named device was not verified
    NothingToDo = 2,     // no device needs (or may get) an upgrade, or the user declined
    NoDevice = 3,        // no supported device attached (or none of the named ones)
    BadUsage = 4,        // the command line is not valid
    AnotherInstance = 5, // the window or another tovrak-cli holds the single-instance guard
    DeviceUnreadable = 6 // a supported device is attached but could not be read (named on stderr)
};
}

// Where the tool reads and writes. The program entry passes the process's streams; tests pass
// string streams and drive the tool in-process.
struct CliIo
{
    CliIo(std::ostream& output, std::ostream& error, std::istream& input) : out(output), err(error), in(input) {}

    std::ostream& out;
    std::ostream& err;
    std::istream& in;
    // Standard output is a terminal that takes ANSI cursor movement: live progress lines.
    bool outputIsTerminal = false;
    // Set by Ctrl+C. Ends watch; an upgrade runs on to the end (an interrupted flash leaves a
    // device without firmware).
    const std::atomic<bool>* interrupted = nullptr;
    // How many times Ctrl+C (or a termination request) came; the station counts them. Null:
    // only `interrupted` is looked at.
    const std::atomic<int>* interruptCount = nullptr;
    // Ends the process at once without waiting for running workers (the station's third
    // Ctrl+C). Null in-process: the command returns instead.
    void (*quitNow)(int exitCode) = nullptr;
    // The folder whose firmware files are loaded before the working folder's, and beside which a
    // translations.csv is looked for when the working folder has none. Empty: the program's own.
    juce::File programFolder;
    // How often the upgrade workers are polled and the progress lines redrawn.
    int pollMilliseconds = 250;
};

// Runs one command line (without the program name) and returns its exit code. Expects the logger
// to be set up. Never throws.
int runCli(const std::vector<std::string>& args, CliIo& io);
