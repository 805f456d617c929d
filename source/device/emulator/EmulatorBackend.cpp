#include "EmulatorBackend.h"

namespace
{
// An open emulated interface. Dead once its device is unplugged, even after a replug.
class EmulatedHandle final : public HidHandle
{
public:
    EmulatedHandle(std::shared_ptr<EmulatedDevice> device, uint64_t connection)
        : m_device(std::move(device)), m_connection(connection)
    {
    }

    bool getAttributes(uint16_t& vendorId, uint16_t& productId) override
    {
        if (m_device->attributes(vendorId, productId))
            return true;
        m_error = "attributes unreadable (emulated fault)";
        return false;
    }

    bool hasParsableReportDescriptor() override { return m_device->descriptorParsable(); }

    bool canReadSerialNumberString() override
    {
        if (m_device->serialStringReadable())
            return true;
        m_error = "serial number string refused (emulated fault)";
        return false;
    }

    bool getInputReport(uint8_t* buffer, size_t length) override
    {
        return m_device->inputReport(m_connection, buffer, length, m_error);
    }

    bool sendOutputReport(const uint8_t* buffer, size_t length) override
    {
        return m_device->outputReport(m_connection, buffer, length, m_error);
    }

    std::string lastError() const override { return m_error; }

    bool isConnected() const override
    {
        return m_device->isAttached() && m_device->connection() == m_connection;
    }

private:
    std::shared_ptr<EmulatedDevice> m_device;
    uint64_t m_connection;
    std::string m_error;
};
} // namespace

EmulatorBackend::EmulatorBackend() : m_epoch(std::chrono::steady_clock::now())
{
}

bool EmulatorBackend::enumerate(std::vector<std::string>& paths)
{
    paths.clear();
    ++m_enumerations;
    if (m_enumerationFails)
        return false;
    if (m_enumerationEmpty)
        return true; // as a platform library that cannot tell "none" from "failed" reports it
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& device : m_devices)
        if (device->isAttached())
            paths.push_back(device->path());
    return true;
}

std::unique_ptr<HidHandle> EmulatorBackend::open(const std::string& path)
{
    std::shared_ptr<EmulatedDevice> target;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& device : m_devices)
            if (device->path() == path)
                target = device;
        if (target == nullptr)
        {
            m_openError = "no such device";
            return nullptr;
        }
    }
    uint64_t connection = 0;
    std::string error;
    if (!target->open(connection, error))
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_openError = error;
        return nullptr;
    }
    return std::make_unique<EmulatedHandle>(std::move(target), connection);
}

std::string EmulatorBackend::lastOpenError() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_openError;
}

std::shared_ptr<EmulatedDevice> EmulatorBackend::add(EmulatedDeviceConfig config, bool plugged)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (config.path.empty())
        config.path = "emulator/hidraw" + std::to_string(m_nextIndex);
    ++m_nextIndex;
    auto device = std::make_shared<EmulatedDevice>(std::move(config), m_epoch);
    if (!plugged)
        device->unplug();
    m_devices.push_back(device);
    return device;
}

void EmulatorBackend::replug(const std::shared_ptr<EmulatedDevice>& device)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    bool known = false;
    for (const auto& d : m_devices)
        known = known || d == device;
    if (!known)
        m_devices.push_back(device);
    device->plug();
}

void EmulatorBackend::unplug(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& device : m_devices)
        if (device->path() == path)
            device->unplug();
}

void EmulatorBackend::swap(const std::string& unpluggedPath, const std::shared_ptr<EmulatedDevice>& pluggedIn)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    bool known = false;
    for (const auto& device : m_devices)
    {
        if (device->path() == unpluggedPath)
            device->unplug();
        known = known || device == pluggedIn;
    }
    if (!known)
        m_devices.push_back(pluggedIn);
    pluggedIn->plug();
}

std::shared_ptr<EmulatedDevice> EmulatorBackend::device(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& device : m_devices)
        if (device->path() == path)
            return device;
    return nullptr;
}

std::shared_ptr<EmulatedDevice> EmulatorBackend::deviceBySerialNumber(const std::string& serialNumber) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& device : m_devices)
        if (device->serialNumber() == serialNumber)
            return device;
    return nullptr;
}

std::vector<std::shared_ptr<EmulatedDevice>> EmulatorBackend::devices() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_devices;
}
