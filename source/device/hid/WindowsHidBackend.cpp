// HID access on Windows through SetupAPI (enumeration) and the HID class driver's HidD calls
// (attributes, preparsed data, serial number string, input and output reports).
// Failures are reported with the decimal GetLastError() code, captured right after the call.
#include "HidBackend.h"

#include "Log.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include "windows/WideText.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>

namespace
{
// The fixed part of the interface detail record, which its size field must hold: 6 bytes on
// 32-bit Windows (packed), 8 on 64-bit. A wrong value makes the detail call fail.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == (sizeof(void*) == 4 ? 6 : 8),
              "SP_DEVICE_INTERFACE_DETAIL_DATA_W has the size Windows expects");

using platform::narrow;
using platform::widen;

std::string hex4(unsigned value)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x0000";
    for (int i = 0; i < 4; ++i)
        text[5 - i] = digits[(value >> (4 * i)) & 0xF];
    return text;
}

// Each interface's ids are logged once per run: the idle thread probes every interface that is
// not a listed device five times a second, and the log should show them without repeating.
std::mutex g_describedMutex;
std::set<std::string> g_describedPaths; // guarded by g_describedMutex

void describeOnce(const std::string& path, uint16_t vendorId, uint16_t productId)
{
    {
        std::lock_guard<std::mutex> lock(g_describedMutex);
        if (!g_describedPaths.insert(path).second)
            return;
    }
    KS_LOG_DEBUG("WindowsHidBackend::getAttributes",
                 "HID interface " << path << ": vendor " << hex4(vendorId) << ", product " << hex4(productId));
}

class WindowsHidHandle final : public HidHandle
{
public:
    WindowsHidHandle(HANDLE device, std::string path) : m_device(device), m_path(std::move(path)) {}
    ~WindowsHidHandle() override { ::CloseHandle(m_device); }

    bool getAttributes(uint16_t& vendorId, uint16_t& productId) override
    {
        HIDD_ATTRIBUTES attributes {};
        attributes.Size = sizeof(attributes);
        if (!::HidD_GetAttributes(m_device, &attributes))
            return fail();
        vendorId = attributes.VendorID;
        productId = attributes.ProductID;
        describeOnce(m_path, vendorId, productId);
        return true;
    }

    bool hasParsableReportDescriptor() override
    {
        // The class driver parses the descriptor into preparsed data; only success counts.
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (!::HidD_GetPreparsedData(m_device, &preparsed))
            return fail();
        ::HidD_FreePreparsedData(preparsed);
        return true;
    }

    bool canReadSerialNumberString() override
    {
        wchar_t text[128] = {}; // 256 bytes
        if (!::HidD_GetSerialNumberString(m_device, text, sizeof(text)))
            return fail();
        return true;
    }

    bool getInputReport(uint8_t* buffer, size_t length) override
    {
        if (length == 0)
            return false;
        // HidD_GetInputReport tells no byte count: the payload is cleared first, so that a short
        // answer can never leave an earlier exchange's bytes in place of its own, and the id that
        // comes back must be the one asked for.
        const uint8_t reportId = buffer[0];
        std::memset(buffer + 1, 0, length - 1);
        if (!::HidD_GetInputReport(m_device, buffer, static_cast<ULONG>(length)))
            return fail();
        if (buffer[0] != reportId)
        {
            m_lastError = ERROR_INVALID_DATA;
            return false;
        }
        return true;
    }

    bool sendOutputReport(const uint8_t* buffer, size_t length) override
    {
        // HidD_SetOutputReport takes a non-const buffer but only reads it.
        if (!::HidD_SetOutputReport(m_device, const_cast<uint8_t*>(buffer), static_cast<ULONG>(length)))
            return fail();
        return true;
    }

    std::string lastError() const override { return std::to_string(m_lastError); }

    bool isConnected() const override
    {
        // Answered by the HID class driver from what it knows of the device, without traffic;
        // it fails once the device behind the handle has been removed.
        HIDD_ATTRIBUTES attributes {};
        attributes.Size = sizeof(attributes);
        return ::HidD_GetAttributes(m_device, &attributes) != FALSE;
    }

private:
    bool fail()
    {
        m_lastError = ::GetLastError();
        return false;
    }

    HANDLE m_device;
    std::string m_path;
    DWORD m_lastError = 0;
};

class WindowsHidBackend final : public HidBackend
{
public:
    bool enumerate(std::vector<std::string>& paths) override
    {
        paths.clear();
        GUID hidGuid;
        ::HidD_GetHidGuid(&hidGuid);
        // No enumerator, no window; present interfaces of the HID class (0x12).
        HDEVINFO set = ::SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE)
            return false;

        for (DWORD index = 0;; ++index)
        {
            SP_DEVICE_INTERFACE_DATA interfaceData {};
            interfaceData.cbSize = sizeof(interfaceData);
            if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData))
                break;

            // First call: the size the detail needs. It fails (insufficient buffer) by design.
            DWORD required = 0;
            ::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required, nullptr);
            if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
                continue;

            // Second call into a zeroed buffer of that size; the size field holds the fixed part.
            std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[required]());
            if (buffer == nullptr)
                continue;
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.get());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (!::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, required, nullptr, nullptr))
                continue;
            paths.push_back(narrow(detail->DevicePath));
        }
        ::SetupDiDestroyDeviceInfoList(set);
        return true;
    }

    std::unique_ptr<HidHandle> open(const std::string& path) override
    {
        // Overlapped as the device layer has always opened it; the HidD report calls used on the
        // handle are synchronous nevertheless.
        HANDLE device = ::CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (device == INVALID_HANDLE_VALUE)
        {
            const DWORD error = ::GetLastError();
            std::lock_guard<std::mutex> lock(m_mutex);
            m_openError = std::to_string(error);
            return nullptr;
        }
        return std::make_unique<WindowsHidHandle>(device, path);
    }

    std::string lastOpenError() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_openError;
    }

private:
    mutable std::mutex m_mutex;
    std::string m_openError; // guarded by m_mutex
};
} // namespace

std::shared_ptr<HidBackend> createPlatformHidBackend()
{
    return std::make_shared<WindowsHidBackend>();
}
