#include "ProgramEntry.h"

int main(int argc, char* argv[])
{
    return runProgramEntry(argc, const_cast<const char**>(argv));
}
