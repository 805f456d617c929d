#include "SingleInstanceGuard.h"

#include "Platform.h"

#include <algorithm>
#include <cstring>

SingleInstanceGuard::SingleInstanceGuard(const std::string& name)
{
    const size_t length = std::min(name.size(), kNameCapacity - 1);
    std::memcpy(m_name, name.data(), length);
    m_name[length] = '\0';
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    platform::releaseInstance();
}

int SingleInstanceGuard::check()
{
    return platform::acquireInstance(m_name);
}
