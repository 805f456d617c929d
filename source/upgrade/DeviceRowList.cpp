#include "DeviceRowList.h"

#include "FirmwareFileManager.h"
#include "Platform.h"
#include "StringResources.h"
#include "TovrakDevice.h"

#include <algorithm>

DeviceRowList buildDeviceRows(const std::vector<DeviceFacts>& devices, const FirmwareFileManager& images,
                              const SerialTest& upgradedThisRun, const SerialTest& remembered)
{
    DeviceRowList list;
    const size_t count = std::min(devices.size(), kMaxDeviceRows);
    list.rows.reserve(count);
    list.outcomes.reserve(count);
    for (size_t i = 0; i < count; ++i)
    {
        const DeviceFacts& device = devices[i];
        RowOutcome outcome;
        list.rows.push_back(buildDeviceRow(device, images, upgradedThisRun && upgradedThisRun(device.serialNumber),
                                           remembered && remembered(device.serialNumber), &outcome));
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
