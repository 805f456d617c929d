// Helper process for the single-instance tests: exits with the result of the check for argv[1].
#include "SingleInstanceGuard.h"

int main(int argc, char** argv)
{
    if (argc != 2)
        return 98;
    SingleInstanceGuard guard(argv[1]);
    return guard.check();
}
