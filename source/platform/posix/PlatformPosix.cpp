// Linux and macOS versions of the platform layer.
#include "../Platform.h"
#include "../PlatformDetail.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

namespace platform
{
namespace
{
std::mutex g_instanceMutex;
int g_instanceFd = -1;
std::string g_instancePath;


std::string runtimeFolder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0')
        if (::access(runtime, W_OK) == 0)
            return runtime;
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0')
        return tmp;
    return "/tmp";
}
} // namespace

std::string instanceLockPath(const std::string& name)
{
    // The name becomes a file name: a path separator must not lead elsewhere.
    std::string fileName;
    for (char c : name)
        fileName += (c == '/' || c == '\0') ? '_' : c;
    return runtimeFolder() + "/" + fileName + ".lock";
}

int acquireInstance(const std::string& name)
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (g_instanceFd >= 0)
        return InstanceOnly;

    const std::string path = instanceLockPath(name);
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
    g_instancePath = path;
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
    g_instancePath.clear();
}

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

void detail::showNativeMessageBox(const std::string& title, const std::string& text)
{
    juce::NativeMessageBox::showMessageBox(juce::MessageBoxIconType::WarningIcon,
                                           juce::String::fromUTF8(title.c_str()),
                                           juce::String::fromUTF8(text.c_str()));
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
