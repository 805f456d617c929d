#include "DeviceRowList.h"

#include "FirmwareFileManager.h"
#include "Platform.h"
#include "StringResources.h"
#include "TovrakDevice.h"

#include <algorithm>

namespace
{
// Whether another entry than the one at `index` has the same serial number.
template <typename Items, typename SerialOf>
bool serialShared(const Items& items, size_t index, SerialOf serialOf)
{
    for (size_t i = 0; i < items.size(); ++i)
        if (i != index && sameSerial(serialOf(items[i]), serialOf(items[index])))
            return true;
    return false;
}
} // namespace

DeviceRowList buildDeviceRows(const std::vector<DeviceFacts>& devices, const FirmwareFileManager& images,
                              const DeviceTest& upgradedThisRun, const DeviceTest& remembered)
{
    const auto serialOf = [](const DeviceFacts& d) -> const juce::String& { return d.serialNumber; };
    DeviceRowList list;
    const size_t count = std::min(devices.size(), kMaxDeviceRows);
    list.rows.reserve(count);
    list.outcomes.reserve(count);
    for (size_t i = 0; i < count; ++i)
    {
        const DeviceFacts& device = devices[i];
        const DeviceKey key { device.serialNumber, device.devicePath, serialShared(devices, i, serialOf) };
        RowOutcome outcome;
        list.rows.push_back(buildDeviceRow(device, images, upgradedThisRun && upgradedThisRun(key),
                                           remembered && remembered(key), &outcome));
        list.rows.back().sharesSerial = key.sharesSerial;
        if (outcome.upgradable)
            ++list.upgradableCount;
        if (outcome.downgradable)
            ++list.downgradableCount;
        if (outcome.newerThanKnownDevice)
            ++list.newerThanKnownCount;
        list.outcomes.push_back(outcome);
    }
    return list;
}

std::vector<DeviceFacts> listedDeviceFacts(size_t maxCount)
{
    const auto devices = CTovrakDevice::ListedDevices();
    std::vector<DeviceFacts> facts;
    const size_t count = std::min(devices.size(), maxCount);
    facts.reserve(count);
    for (size_t i = 0; i < count; ++i)
        facts.push_back(factsOf(*devices[i]));
    return facts;
}

std::vector<juce::String> listedSerialNumbers()
{
    std::vector<juce::String> serials;
    for (const auto& device : CTovrakDevice::ListedDevices())
        serials.push_back(juce::String::fromUTF8(device->deviceInfo().serialNumber().c_str()));
    return serials;
}

std::vector<DeviceKey> listedDeviceKeys()
{
    const auto devices = CTovrakDevice::ListedDevices();
    std::vector<DeviceKey> keys;
    keys.reserve(devices.size());
    for (const auto& device : devices)
        keys.push_back({ juce::String::fromUTF8(device->deviceInfo().serialNumber().c_str()),
                         juce::String::fromUTF8(device->devicePath().c_str()), false });
    const auto serialOf = [](const DeviceKey& k) -> const juce::String& { return k.serialNumber; };
    for (size_t i = 0; i < keys.size(); ++i)
        keys[i].sharesSerial = serialShared(keys, i, serialOf);
    return keys;
}

void warnAboutNewerDevices(const DeviceRowList& list)
{
    for (int i = 0; i < list.newerThanKnownCount; ++i)
        platform::showMessageBox("Fatal", "this device is a newer device , it comes from the future.");
}

juce::String summaryLine(int32_t deviceCount, int32_t upgradableCount, int32_t downgradableCount)
{
    return getTranslatedString(StringId::FoundDevicesSummary)
        .replace("%1", juce::String(deviceCount))
        .replace("%2", juce::String(upgradableCount))
        .replace("%3", juce::String(downgradableCount));
}
