#include "DeviceTestSupport.h"

#include "Log.h"
#include "hid/HidBackend.h"

#include <juce_core/juce_core.h>

#include <random>

namespace device_testing
{
namespace
{
juce::File logFile()
{
    static const juce::File file = [] {
        // Random bits from the entropy source: test processes running in parallel must never
        // share a log file, or one would count the other's lines.
        std::random_device entropy;
        const uint64_t bits = (uint64_t(entropy()) << 32) ^ entropy();
        const juce::File f = juce::File::getSpecialLocation(juce::File::tempDirectory)
                                 .getChildFile("tovrak-device-test-" + juce::String::toHexString(static_cast<juce::int64>(bits)) + ".log");
        Log::instance().init(f.getFullPathName().toStdString(), "datetime_level_func_log_source_line");
        return f;
    }();
    return file;
}
} // namespace

LogCapture::LogCapture() : m_start(logFile().getSize())
{
}

std::vector<std::string> LogCapture::lines() const
{
    juce::FileInputStream in(logFile());
    std::vector<std::string> result;
    if (!in.openedOk())
        return result;
    in.setPosition(m_start);
    while (!in.isExhausted())
        result.push_back(in.readNextLine().toStdString());
    return result;
}

size_t LogCapture::count(const std::string& level, const std::string& function, const std::string& message) const
{
    // Line layout: datetime, level word, "function() ", message, " ", source, " :line".
    const std::string needle = level + " " + function + "() " + message + " ";
    size_t n = 0;
    for (const auto& line : lines())
        if (line.find(needle) != std::string::npos)
            ++n;
    return n;
}

bool LogCapture::has(const std::string& level, const std::string& function, const std::string& message) const
{
    return count(level, function, message) > 0;
}

void EmulatorTest::SetUp()
{
    CTovrakDevice::Uninit();
    m_bus = std::make_shared<EmulatorBackend>();
    setHidBackend(m_bus);
}

void EmulatorTest::TearDown()
{
    CTovrakDevice::Uninit();
    setHidBackend(std::make_shared<EmulatorBackend>());
}

std::shared_ptr<EmulatedDevice> EmulatorTest::addDevice(const std::string& serial, uint16_t productCode,
                                                        const std::function<void(EmulatedDeviceConfig&)>& tweak,
                                                        bool plugged)
{
    TovrakIdentity id;
    id.serialNumber = serial;
    id.name = "Tovrak " + serial;
    id.productCode = productCode;
    EmulatedDeviceConfig config = makeTovrakDeviceConfig(id);
    if (tweak)
        tweak(config);
    return m_bus->add(std::move(config), plugged);
}

std::vector<std::string> EmulatorTest::listedSerials() const
{
    std::vector<std::string> serials;
    for (const auto& device : CTovrakDevice::ListedDevices())
        serials.push_back(device->deviceInfo().serialNumber());
    return serials;
}
} // namespace device_testing
