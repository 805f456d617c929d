#pragma once

#include "EmulatedDevice.h"
#include "hid/HidBackend.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A HID backend made of emulated devices. Enumeration lists every attached interface in the
// order the devices were added, foreign ones included. Thread-safe: one mutex guards the set
// of devices, each device guards itself.
class EmulatorBackend final : public HidBackend
{
public:
    EmulatorBackend();

    // --- HidBackend ---
    bool enumerate(std::vector<std::string>& paths) override;
    std::unique_ptr<HidHandle> open(const std::string& path) override;
    std::string lastOpenError() const override;

    // --- building and changing the set of devices ---
    // Adds a device, plugged in unless `plugged` is false (then replug or swap brings it in).
    // A configuration without a path gets "emulator/hidrawN".
    std::shared_ptr<EmulatedDevice> add(EmulatedDeviceConfig config, bool plugged = true);
    // Plugs an unplugged device in again: a new connection on the same path.
    void replug(const std::shared_ptr<EmulatedDevice>& device);
    void unplug(const std::string& path);
    // Unplugs one device and plugs in another in one step, so that no enumeration sees
    // a state in between.
    void swap(const std::string& unpluggedPath, const std::shared_ptr<EmulatedDevice>& pluggedIn);

    std::shared_ptr<EmulatedDevice> device(const std::string& path) const;
    std::shared_ptr<EmulatedDevice> deviceBySerialNumber(const std::string& serialNumber) const;
    std::vector<std::shared_ptr<EmulatedDevice>> devices() const;

    // The moment hot-plug times count from.
    std::chrono::steady_clock::time_point epoch() const noexcept { return m_epoch; }

    // --- faults and counts of the bus itself ---
    void setEnumerationFails(bool fails) { m_enumerationFails = fails; }
    // Enumeration succeeds but lists nothing, while every device stays attached.
    void setEnumerationEmpty(bool empty) { m_enumerationEmpty = empty; }
    uint64_t enumerationCount() const noexcept { return m_enumerations; }

private:
    const std::chrono::steady_clock::time_point m_epoch;
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<EmulatedDevice>> m_devices;
    unsigned m_nextIndex = 0;
    std::string m_openError;
    std::atomic<bool> m_enumerationFails { false };
    std::atomic<bool> m_enumerationEmpty { false };
    std::atomic<uint64_t> m_enumerations { 0 };
};
