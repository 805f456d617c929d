#pragma once

#include <string>

// Keeps a second copy of the program from running: holds a process-wide named object while the
// program runs.
class SingleInstanceGuard
{
public:
    static constexpr size_t kNameCapacity = 64; // including the terminating NUL

    // A name of 64 characters or more is cut to its first 63.
    explicit SingleInstanceGuard(const std::string& name);

    // Releases the named object if this process holds it.
    ~SingleInstanceGuard();

    // 0: this is the only running instance; 1: another instance holds the name;
    // 3: the named object cannot be created.
    int check();

    const char* getName() const noexcept { return m_name; }

private:
    char m_name[kNameCapacity] = {};
};
