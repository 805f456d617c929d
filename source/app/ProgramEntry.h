#pragma once

// The program entry: logging, the version line, the application object and its message loop.
// The command line is ignored. Returns the framework's exit code.
int runProgramEntry(int argc, const char* argv[]);

// Step of the entry that writes the version line (exposed for tests).
void logProgramVersion();
