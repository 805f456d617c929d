// Linux and macOS versions of the platform layer.
#include "../Platform.h"
#include "../PlatformDetail.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform
{
namespace
{
std::mutex g_instanceMutex;
int g_instanceFd = -1; // guarded by g_instanceMutex

#ifdef __linux__
// Room for an abstract socket name: sun_path less its leading NUL.
constexpr size_t kAbstractNameCapacity = sizeof(sockaddr_un::sun_path) - 1;

// FNV-1a, to shorten a scope that does not fit the socket name.
uint64_t fnv1a(const std::string& text)
{
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text)
        hash = (hash ^ c) * 1099511628211ull;
    return hash;
}
#else
std::string runtimeFolder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0')
        if (::access(runtime, W_OK) == 0)
            return runtime;
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0')
        return tmp;
    return "/tmp";
}
#endif
} // namespace

std::string instanceObjectName(const std::string& name)
{
    std::string scoped = name;
    if (const char* scope = std::getenv(kInstanceScopeVariable); scope != nullptr && *scope != '\0')
        scoped += std::string(" ") + scope;
#ifdef __linux__
    if (scoped.size() > kAbstractNameCapacity)
    {
        char hash[17];
        std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(scoped)));
        scoped = name.substr(0, kAbstractNameCapacity - 17) + " " + hash;
    }
    return scoped;
#else
    // The name becomes a file name: a path separator must not lead elsewhere.
    std::string fileName;
    for (char c : scoped)
        fileName += (c == '/' || c == '\0') ? '_' : c;
    return runtimeFolder() + "/" + fileName + ".lock";
#endif
}

#ifdef __linux__
// One instance per machine: a socket bound to an abstract name. Such a name is shared by every
// user of the machine (of its network namespace), needs no file that a permission could block,
// and is released by the kernel when the process ends, however it ends.
int acquireInstance(const std::string& name)
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (g_instanceFd >= 0)
        return InstanceOnly;

    const std::string objectName = instanceObjectName(name);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    // sun_path[0] stays NUL: the abstract namespace. The name is not NUL-terminated.
    std::memcpy(address.sun_path + 1, objectName.data(), objectName.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + objectName.size());

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return InstanceCannotCreate;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0)
    {
        const int error = errno;
        ::close(fd);
        return error == EADDRINUSE ? InstanceAlreadyRunning : InstanceCannotCreate;
    }
    g_instanceFd = fd;
    return InstanceOnly;
}

void releaseInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (g_instanceFd < 0)
        return;
    ::close(g_instanceFd); // frees the name
    g_instanceFd = -1;
}
#else
// Elsewhere: an exclusive lock on a file in the user's runtime or temp folder.
int acquireInstance(const std::string& name)
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (g_instanceFd >= 0)
        return InstanceOnly;

    const std::string path = instanceObjectName(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return InstanceCannotCreate;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? InstanceAlreadyRunning : InstanceCannotCreate;
    }
    g_instanceFd = fd;
    return InstanceOnly;
}

void releaseInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (g_instanceFd < 0)
        return;
    // The file itself stays: removing it while another process waits to lock it would let two
    // processes hold locks on two different files of the same name.
    ::flock(g_instanceFd, LOCK_UN);
    ::close(g_instanceFd);
    g_instanceFd = -1;
}
#endif

bool holdsInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    return g_instanceFd >= 0;
}

uint16_t getUserDefaultUILanguage()
{
    for (const char* variable : { "LC_ALL", "LC_MESSAGES", "LANG" })
    {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0')
            continue;
        return (value[0] == 'z' && value[1] == 'h') ? 0x0804 : 0x0409;
    }
    return 0x0409;
}

float getScaleForWindowSize(int, int)
{
    // No per-monitor DPI query here: the framework's own scaling applies.
    return 1.0f;
}

bool initialiseDisplayScaling()
{
    // No per-monitor DPI query here (see getScaleForWindowSize).
    return false;
}

namespace detail
{
// Sleeps already have (close to) millisecond resolution: nothing to raise.
bool beginSystemTimerResolution()
{
    return false;
}

void endSystemTimerResolution() {}
} // namespace detail

int runApplicationMain(int argc, const char* argv[])
{
    return juce::JUCEApplicationBase::main(argc, argv);
}

} // namespace platform
