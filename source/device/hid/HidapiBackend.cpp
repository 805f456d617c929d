// HID access through hidapi (hidraw on Linux, IOHidManager on macOS), linked dynamically.
// Calls that newer hidapi versions added are used only when the installed header has them.
#include "HidBackend.h"
#include "ReportDescriptor.h"

#include "Log.h"

#include <hidapi.h>
#include <juce_core/juce_core.h>

#include <map>
#include <mutex>

#ifndef HID_API_MAKE_VERSION
#define HID_API_MAKE_VERSION(mj, mn, p) (((mj) << 24) | ((mn) << 8) | (p))
#endif
#ifndef HID_API_VERSION
#define HID_API_VERSION HID_API_MAKE_VERSION(HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH)
#endif

namespace
{
std::string narrow(const wchar_t* text, const char* fallback)
{
    if (text == nullptr)
        return fallback;
    return juce::String(text).toStdString();
}

// The kernel never hands out a descriptor above this size (HID_MAX_DESCRIPTOR_SIZE).
constexpr size_t kMaxDescriptorBytes = 4096;

#if HID_API_VERSION < HID_API_MAKE_VERSION(0, 14, 0) && defined(__linux__)
// hidraw exposes the descriptor of /dev/hidrawN as /sys/class/hidraw/hidrawN/device/report_descriptor.
std::vector<uint8_t> readSysfsDescriptor(const std::string& devicePath)
{
    const juce::File node(devicePath);
    const juce::File file("/sys/class/hidraw/" + node.getFileName() + "/device/report_descriptor");
    std::vector<uint8_t> bytes;
    juce::FileInputStream in(file);
    if (!in.openedOk())
        return bytes;
    bytes.resize(kMaxDescriptorBytes);
    const int got = in.read(bytes.data(), static_cast<int>(bytes.size()));
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}
#endif

#if defined(__linux__)
// The HID device behind /dev/hidrawN, as the kernel names it (bus:vendor:product.instance, the
// instance counting up with every new connection); empty when the node is not a hidraw node or
// has gone. Reading it makes no device traffic.
std::string hidrawConnection(const std::string& devicePath)
{
    const juce::File node(devicePath);
    if (!node.getFileName().startsWith("hidraw"))
        return {};
    const juce::File link("/sys/class/hidraw/" + node.getFileName() + "/device");
    if (!link.isSymbolicLink())
        return {};
    return link.getLinkedTarget().getFullPathName().toStdString();
}
#endif

class HidapiHandle final : public HidHandle
{
public:
    HidapiHandle(hid_device* device, std::string path, uint16_t vendorId, uint16_t productId, bool idsKnown)
        : m_device(device), m_path(std::move(path)), m_vendorId(vendorId), m_productId(productId), m_idsKnown(idsKnown)
    {
#if defined(__linux__)
        m_connection = hidrawConnection(m_path);
#endif
    }

    bool isConnected() const override
    {
#if defined(__linux__)
        // Unplugged: the node's HID device is gone; replugged: another one stands behind the node.
        if (!m_connection.empty())
            return hidrawConnection(m_path) == m_connection;
#endif
        return true;
    }

    ~HidapiHandle() override { hid_close(m_device); }

    bool getAttributes(uint16_t& vendorId, uint16_t& productId) override
    {
        if (!m_idsKnown)
        {
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 13, 0)
            const hid_device_info* info = hid_get_device_info(m_device);
            if (info == nullptr)
                return false;
            m_vendorId = info->vendor_id;
            m_productId = info->product_id;
            m_idsKnown = true;
#else
            m_error = "vendor and product id unknown for this path";
            return false;
#endif
        }
        vendorId = m_vendorId;
        productId = m_productId;
        return true;
    }

    bool hasParsableReportDescriptor() override
    {
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 14, 0)
        std::vector<uint8_t> bytes(kMaxDescriptorBytes);
        const int got = hid_get_report_descriptor(m_device, bytes.data(), bytes.size());
        if (got <= 0)
            return false;
        bytes.resize(static_cast<size_t>(got));
        return isWellFormedReportDescriptor(bytes.data(), bytes.size());
#elif defined(__linux__)
        const auto bytes = readSysfsDescriptor(m_path);
        return isWellFormedReportDescriptor(bytes.data(), bytes.size());
#else
        // No way to fetch the descriptor with this hidapi: the operating system parsed it
        // when it created the interface, which is what the check is about.
        return true;
#endif
    }

    bool canReadSerialNumberString() override
    {
        wchar_t text[256] = {};
        return hid_get_serial_number_string(m_device, text, 256) == 0;
    }

    bool getInputReport(uint8_t* buffer, size_t length) override
    {
        m_ownError = false;
        const int got = hid_get_input_report(m_device, buffer, length);
        if (got < 0)
            return false;
        if (static_cast<size_t>(got) != length)
        {
            m_error = "input report of " + std::to_string(got) + " bytes where " + std::to_string(length) + " were expected";
            m_ownError = true;
            return false;
        }
        return true;
    }

    bool sendOutputReport(const uint8_t* buffer, size_t length) override
    {
        m_ownError = false;
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 15, 0)
        const int sent = hid_send_output_report(m_device, buffer, length);
#else
        // hidraw sends a write as an output report (interrupt OUT endpoint or SET_REPORT).
        const int sent = hid_write(m_device, buffer, length);
#endif
        if (sent < 0)
            return false;
        if (static_cast<size_t>(sent) != length)
        {
            m_error = "sent " + std::to_string(sent) + " of " + std::to_string(length) + " bytes";
            m_ownError = true;
            return false;
        }
        return true;
    }

    std::string lastError() const override
    {
        if (m_ownError)
            return m_error;
        return narrow(hid_error(m_device), "unknown error");
    }

private:
    hid_device* m_device;
    std::string m_path;
    uint16_t m_vendorId;
    uint16_t m_productId;
    bool m_idsKnown;
    std::string m_error;
    bool m_ownError = false;
    std::string m_connection; // what the node named when it was opened; empty: cannot tell
};

class HidapiBackend final : public HidBackend
{
public:
    HidapiBackend() { m_initialised = hid_init() == 0; }
    ~HidapiBackend() override
    {
        if (m_initialised)
            hid_exit();
    }

    bool enumerate(std::vector<std::string>& paths) override
    {
        paths.clear();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_initialised)
            return false;
        // NULL means "no interfaces" as well as "failed"; both leave the list empty.
        hid_device_info* list = hid_enumerate(0, 0);
        m_ids.clear();
        for (const hid_device_info* info = list; info != nullptr; info = info->next)
        {
            if (info->path == nullptr)
                continue;
            const std::string path(info->path);
            // One interface can be listed once per top-level collection: keep the first.
            if (m_ids.emplace(path, std::make_pair(info->vendor_id, info->product_id)).second)
                paths.push_back(path);
        }
        hid_free_enumeration(list);
        return true;
    }

    std::unique_ptr<HidHandle> open(const std::string& path) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        hid_device* device = m_initialised ? hid_open_path(path.c_str()) : nullptr;
        if (device == nullptr)
        {
            m_openError = m_initialised ? narrow(hid_error(nullptr), "cannot open") : "hid_init failed";
            return nullptr;
        }
        const auto it = m_ids.find(path);
        const bool known = it != m_ids.end();
        return std::make_unique<HidapiHandle>(device, path, known ? it->second.first : 0, known ? it->second.second : 0, known);
    }

    std::string lastOpenError() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_openError;
    }

private:
    mutable std::mutex m_mutex; // hid_enumerate, hid_open_path and hid_error(NULL) share global state
    bool m_initialised = false;
    std::map<std::string, std::pair<uint16_t, uint16_t>> m_ids; // from the last enumeration
    std::string m_openError;
};
} // namespace

std::shared_ptr<HidBackend> createPlatformHidBackend()
{
    return std::make_shared<HidapiBackend>();
}
