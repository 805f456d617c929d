#include "CliSession.h"
#include "Commands.h"
#include "DeviceListing.h"
#include "FirmwareFileManager.h"
#include "Log.h"

#include <algorithm>
#include <ostream>

namespace
{
// What a watch line names of a device; a device that comes back with other firmware counts as
// gone and come.
struct Seen
{
    juce::String serialNumber;
    juce::String name;
    juce::String installedVersion;
    bool operator==(const Seen& o) const
    {
        return serialNumber == o.serialNumber && name == o.name && installedVersion == o.installedVersion;
    }
};

std::vector<Seen> attachedNow()
{
    std::vector<Seen> seen;
    for (const DeviceFacts& facts : listedDeviceFacts(kMaxDeviceRows))
    {
        const DeviceRow row = buildDeviceRow(facts, g_firmwareFileMgr, false, false);
        seen.push_back({ row.serialNumber, row.name, row.installedVersion });
    }
    return seen;
}

void report(CliIo& io, bool json, const char* event, const Seen& device)
{
    KS_LOG_INFO("runWatchCommand", event << " " << device.serialNumber << " " << device.name << " "
                                          << device.installedVersion);
    if (json)
    {
        auto* object = new juce::DynamicObject();
        object->setProperty("event", event);
        object->setProperty("serialNumber", device.serialNumber);
        object->setProperty("name", device.name);
        object->setProperty("installedVersion", device.installedVersion);
        io.out << utf8(juce::JSON::toString(juce::var(object), true)) << std::endl;
        return;
    }
    io.out << formatColumns({ { event, device.serialNumber, device.name, device.installedVersion } }) << std::flush;
}

void reportChanges(CliIo& io, bool json, const std::vector<Seen>& before, const std::vector<Seen>& after)
{
    for (const Seen& device : before)
        if (std::find(after.begin(), after.end(), device) == after.end())
            report(io, json, "detached", device);
    for (const Seen& device : after)
        if (std::find(before.begin(), before.end(), device) == before.end())
            report(io, json, "attached", device);
}
} // namespace

int runWatchCommand(const CliOptions& options, CliSession& session, CliIo& io)
{
    // The devices attached at the start appear first.
    std::vector<Seen> seen = attachedNow();
    reportChanges(io, options.json, {}, seen);

    const juce::uint32 start = juce::Time::getMillisecondCounter();
    while (!session.IsInterrupted())
    {
        if (options.seconds > 0 && juce::Time::getMillisecondCounter() - start >= static_cast<juce::uint32>(options.seconds) * 1000u)
            break;
        juce::Thread::sleep(std::max(10, io.pollMilliseconds / 5));
        // The idle thread notices changes; the list itself changes only here, as in the window.
        if (!session.TakeDeviceChange())
            continue;
        CTovrakDevice::Refresh();
        std::vector<Seen> now = attachedNow();
        reportChanges(io, options.json, seen, now);
        seen = std::move(now);
    }
    return CliExit::Ok;
}
