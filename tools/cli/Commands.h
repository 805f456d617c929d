#pragma once

#include "Cli.h"
#include "CliOptions.h"

class CliSession;

// The device commands; each returns its exit code. The session is open.
int runListCommand(const CliOptions& options, CliSession& session, CliIo& io);
int runUpgradeCommand(const CliOptions& options, CliSession& session, CliIo& io);
int runWatchCommand(const CliOptions& options, CliSession& session, CliIo& io);
int runStationCommand(const CliOptions& options, CliSession& session, CliIo& io);

// Runs parsed options: the help text, or a session and its command. The working folder is the
// one the command works in, and the logger is set up.
int runCliCommand(const CliOptions& options, CliIo& io);
