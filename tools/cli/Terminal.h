#pragma once

// What the command line tool needs to know about its standard streams. The one place of the
// tool that differs between platforms.
namespace cli_terminal
{
// True when standard output is an interactive terminal that takes ANSI cursor movement (on
// Windows this switches virtual terminal processing on for the console, and says false when
// that fails).
bool outputIsAnsiTerminal();

// True when standard input is an interactive terminal.
bool inputIsTerminal();

// Makes the console show UTF-8 output as such (Windows); nothing elsewhere.
void useUtf8Output();
} // namespace cli_terminal
