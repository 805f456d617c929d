#include "ProgramEntry.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The Windows program entry. The program takes no arguments, so the command line is not read.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return runProgramEntry(0, nullptr);
}
#else
int main(int argc, char* argv[])
{
    return runProgramEntry(argc, const_cast<const char**>(argv));
}
#endif
