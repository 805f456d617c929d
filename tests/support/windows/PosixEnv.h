#pragma once

// setenv and unsetenv for the Windows (mingw) build of the tests, which lacks them. Built on
// _putenv, which changes the C runtime's environment that getenv reads. An empty value removes
// the variable there, which the code under test treats the same as an unset one.
#ifdef _WIN32
#include <stdlib.h>
#include <string>

inline int setenv(const char* name, const char* value, int overwrite)
{
    if (overwrite == 0 && getenv(name) != nullptr)
        return 0;
    return _putenv((std::string(name) + "=" + value).c_str());
}

inline int unsetenv(const char* name)
{
    return _putenv((std::string(name) + "=").c_str());
}
#endif
