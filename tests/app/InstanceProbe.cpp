// Helper process for the single-instance tests: exits with the result of the check for argv[1].
// "hold" as argv[2]: prints the result and, when it got the name, keeps it until killed.
// "no-new-files" as argv[2]: checks with no file descriptor left to open.
#include "SingleInstanceGuard.h"

#include <cstdio>
#include <cstring>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3)
        return 98;
    const char* mode = argc == 3 ? argv[2] : "";
#ifndef _WIN32
    if (std::strcmp(mode, "no-new-files") == 0)
    {
        const rlimit limit { 3, 3 }; // standard input, output and error only
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return 97;
    }
#endif
    SingleInstanceGuard guard(argv[1]);
    const int result = guard.check();
#ifndef _WIN32
    // With no descriptor left, a leak checker that runs at exit (sanitizer builds) cannot read
    // /proc and would replace the result with its own failure.
    if (std::strcmp(mode, "no-new-files") == 0)
        ::_exit(result);
#endif
    if (std::strcmp(mode, "hold") == 0)
    {
        std::printf("%d\n", result);
        std::fflush(stdout);
#ifndef _WIN32
        while (result == 0)
            ::pause();
#endif
    }
    return result;
}
