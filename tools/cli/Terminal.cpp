#include "Terminal.h"

#ifdef _WIN32
  #ifndef NOMINMAX
    #define NOMINMAX
  #endif
  #include <windows.h>
  #include <io.h>
  #include <cstdio>
#else
  #include <cstdlib>
  #include <string_view>
  #include <unistd.h>
#endif

namespace cli_terminal
{
#ifdef _WIN32
bool outputIsAnsiTerminal()
{
    if (_isatty(_fileno(stdout)) == 0)
        return false;
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode))
        return false;
    // 0x0004: ENABLE_VIRTUAL_TERMINAL_PROCESSING, missing from older headers.
    const DWORD virtualTerminal = 0x0004;
    if ((mode & virtualTerminal) != 0)
        return true;
    return SetConsoleMode(console, mode | virtualTerminal) != 0;
}

bool inputIsTerminal()
{
    return _isatty(_fileno(stdin)) != 0;
}

void useUtf8Output()
{
    SetConsoleOutputCP(CP_UTF8);
}
#else
bool outputIsAnsiTerminal()
{
    if (::isatty(STDOUT_FILENO) == 0)
        return false;
    // A terminal that declares itself dumb does not move the cursor.
    const char* term = ::getenv("TERM");
    return term == nullptr || std::string_view(term) != "dumb";
}

bool inputIsTerminal()
{
    return ::isatty(STDIN_FILENO) != 0;
}

void useUtf8Output()
{
}
#endif
} // namespace cli_terminal
