#pragma once

#include "FlashFootprint.h"

#include "UpgradeStatus.h"

#include <juce_core/juce_core.h>

#include <cstddef>
#include <cstdint>
#include <vector>

class FirmwareFileManager;

// One row of the device table: what is shown for one device and the flags that decide whether
// it may be selected. A plain value; it refers to no device object, so it stays valid after its
// device has gone. Each upgrade worker keeps a copy.
struct DeviceRow
{
    juce::String name;
    juce::String hardwareVersion;  // one letter, empty when the device reports 0
    juce::String installedVersion; // "major.minor.build"
    juce::String availableVersion; // empty when no image fits
    juce::String statusText;
    juce::String serialNumber;     // ties rows, workers and remembered selections together
    // The HID interface the device was found on. Devices that share a serial number (factory-
    // fresh ones often carry a blank or default one) are told apart by it; empty in rows that
    // were not built from an attached device.
    juce::String devicePath;
    // Another attached device carried the same serial number when the row was built: the row's
    // device is then known by serial number and path together, never by serial number alone
    // (see sameDevice).
    bool sharesSerial = false;
    bool selected = false;
    bool upgradeAvailable = false;
    bool firmwareMissing = true;
    bool locked = false;           // stands for a device lost in a failed upgrade; never selectable
    int32_t status = RESULT_READY;
    int32_t progress = -1;         // percent of the current step, -1 for no progress bar
};

// What building a row needs to know of one attached device.
struct DeviceFacts
{
    juce::String name;
    juce::String serialNumber;
    juce::String devicePath;
    uint8_t hardwareRevision = 0;
    uint16_t productCode = 0;
    uint8_t productVariant = 0;
    uint32_t runningVersion = 0;          // always read with the packed reading
    uint16_t runningCompatibilityCode = 0;
    // The header found at the firmware base address: a safe upgrade must leave it, and the
    // flash it describes, alone. None found (the default): nothing to keep.
    uint32_t firmwareBaseAddress = 0;
    InstalledHeader headerAtBase;
};

class CTovrakDevice;

// The facts of an attached device.
DeviceFacts factsOf(const CTovrakDevice& device);

// How one row came out, beyond the row itself.
struct RowOutcome
{
    bool upgradable = false;          // counts as upgradable
    bool downgradable = false;        // counts as downgradable
    bool safe = false;                // the image is a safe upgrade for the device
    bool newerThanKnownDevice = false; // product code above the newest known one, with an image:
                                       // the caller warns the user before using the row
};

// Builds the row for one device as the table's refill does: versions, status, status text
// (with the safe-upgrade suffix), flags. `upgradedThisRun` says the device was
// upgraded since the program started; `selected` is the remembered selection.
DeviceRow buildDeviceRow(const DeviceFacts& device, const FirmwareFileManager& images, bool upgradedThisRun,
                         bool selected, RowOutcome* outcome = nullptr);

// The text shown for an upgrade status (translated); empty for codes without a text.
juce::String getUpgradeStatusText(int32_t status);

// The character-by-character comparison of serial numbers used everywhere.
inline bool sameSerial(const juce::String& a, const juce::String& b)
{
    return a == b;
}

// One device as it is told apart from the others across refills: what the remembered selection,
// the devices upgraded since start and the supervision's "still attached" test keep of it.
struct DeviceKey
{
    juce::String serialNumber;
    juce::String devicePath;   // empty when unknown: any path
    bool sharesSerial = false; // another attached device had the serial number when it was taken
};

inline DeviceKey keyOf(const DeviceRow& row)
{
    return { row.serialNumber, row.devicePath, row.sharesSerial };
}

// Whether two keys, taken at different times, stand for the same physical device. The serial
// number must be the same. On the same path (or when a path is unknown) it is the same device.
// On another path it is the same device only when neither key saw another device with that
// serial number: a device whose serial number is its own stays itself when the system gives
// it a new path (Linux numbers hidraw nodes afresh at every plug-in), while devices that share
// a serial number ("twins", as cheap clones come) are told apart by their paths alone, so that
// one never stands in for the other.
inline bool sameDevice(const DeviceKey& a, const DeviceKey& b)
{
    if (!sameSerial(a.serialNumber, b.serialNumber))
        return false;
    if (a.devicePath.isEmpty() || b.devicePath.isEmpty() || a.devicePath == b.devicePath)
        return true;
    return !a.sharesSerial && !b.sharesSerial;
}

inline bool sameDevice(const DeviceRow& a, const DeviceRow& b)
{
    return sameDevice(keyOf(a), keyOf(b));
}

// Devices remembered across refills (the selected rows, the devices upgraded since start), each
// found again by sameDevice.
class DeviceKeyList
{
public:
    void add(const DeviceKey& key) { m_keys.push_back(key); }
    void clear() noexcept { m_keys.clear(); }
    size_t size() const noexcept { return m_keys.size(); }

    bool contains(const DeviceKey& device) const
    {
        for (const DeviceKey& key : m_keys)
            if (sameDevice(key, device))
                return true;
        return false;
    }
    // Some device with the serial number, on whatever path.
    bool containsSerial(const juce::String& serialNumber) const
    {
        for (const DeviceKey& key : m_keys)
            if (sameSerial(key.serialNumber, serialNumber))
                return true;
        return false;
    }

private:
    std::vector<DeviceKey> m_keys; // only added to; duplicates allowed
};
