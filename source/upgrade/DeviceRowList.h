#pragma once

#include "DeviceRow.h"

#include <juce_core/juce_core.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class FirmwareFileManager;

// The table never shows more rows than this; devices beyond it get none.
constexpr size_t kMaxDeviceRows = 64;

// The rows of one refill, with the counts the summary line shows.
struct DeviceRowList
{
    std::vector<DeviceRow> rows;
    std::vector<RowOutcome> outcomes; // one per row, in the same order
    int32_t upgradableCount = 0;   // rows whose image is newer
    int32_t downgradableCount = 0; // rows whose image is not newer (including "Already upgraded")
    // Rows of devices newer than this program knows (product code above the newest known one)
    // for which an image was found: the caller warns the user once for each.
    int newerThanKnownCount = 0;
};

// Tells whether a device is in some list (upgraded since start, remembered selection).
using DeviceTest = std::function<bool(const DeviceKey& device)>;

// Builds one row per device, in order, for at most the first kMaxDeviceRows devices. A row's
// sharesSerial tells whether another of the devices has its serial number.
DeviceRowList buildDeviceRows(const std::vector<DeviceFacts>& devices, const FirmwareFileManager& images,
                              const DeviceTest& upgradedThisRun, const DeviceTest& remembered);

// Tells the user, once for each such row, about devices newer than this program knows (a modal
// "Fatal" message box through the platform layer; the caller decides when in its refill).
void warnAboutNewerDevices(const DeviceRowList& list);

// The summary line shown above the rows: "Found %1 device(s), of which %2 can be upgraded and %3
// can be downgraded." with the counts filled in (translated).
juce::String summaryLine(int32_t deviceCount, int32_t upgradableCount, int32_t downgradableCount);

// The facts of the first `maxCount` devices of g_devices, in list order, read under its lock.
std::vector<DeviceFacts> listedDeviceFacts(size_t maxCount = kMaxDeviceRows);

// The serial numbers of every device in g_devices.
std::vector<juce::String> listedSerialNumbers();

// Every device in g_devices as a key (serial number, path, whether another listed device has
// the serial number), in list order.
std::vector<DeviceKey> listedDeviceKeys();
