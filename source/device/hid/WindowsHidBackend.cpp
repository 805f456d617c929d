// HID access on Windows through SetupAPI (enumeration), the HID class driver's HidD calls
// (attributes, preparsed data, serial number string) and its report requests, issued as
// overlapped DeviceIoControl calls so that each one ends within kHidRequestBound.
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
#include <hidclass.h>

#include "OverlappedRequest.h"
#include "windows/WideText.h"

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
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
// The same holds for an interface whose watching handle cannot be opened.
std::mutex g_loggedMutex;
std::set<std::string> g_describedPaths; // guarded by g_loggedMutex
std::set<std::string> g_unwatchedPaths; // guarded by g_loggedMutex

bool firstTimeFor(std::set<std::string>& paths, const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_loggedMutex);
    return paths.insert(path).second;
}

void describeOnce(const std::string& path, uint16_t vendorId, uint16_t productId)
{
    if (firstTimeFor(g_describedPaths, path))
        KS_LOG_DEBUG("WindowsHidBackend::getAttributes",
                     "HID interface " << path << ": vendor " << hex4(vendorId) << ", product " << hex4(productId));
}

// The report requests, checked against their definition: device type FILE_DEVICE_KEYBOARD (0x0B)
// in bits 16-31, function 104 or 101 in bits 2-13, METHOD_OUT_DIRECT (2) or METHOD_IN_DIRECT (1)
// in bits 0-1, any access.
static_assert(IOCTL_HID_GET_INPUT_REPORT == 0x000B01A2, "IOCTL_HID_GET_INPUT_REPORT");
static_assert(IOCTL_HID_SET_OUTPUT_REPORT == 0x000B0195, "IOCTL_HID_SET_OUTPUT_REPORT");

class WindowsHidHandle final : public HidHandle
{
public:
    // `device` is opened for overlapped reading and writing, `requestDone` is a manual-reset
    // event for its requests, `watch` a second handle without access rights for isConnected
    // (INVALID_HANDLE_VALUE when it could not be opened). The handle owns and closes all three.
    WindowsHidHandle(HANDLE device, HANDLE requestDone, HANDLE watch, std::string path)
        : m_device(device), m_requestDone(requestDone), m_watch(watch), m_path(std::move(path))
    {
    }

    ~WindowsHidHandle() override
    {
        // No request is pending here: each one is over, or cancelled and drained, when its call
        // returns.
        ::CloseHandle(m_device);
        ::CloseHandle(m_requestDone);
        if (m_watch != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_watch);
    }

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
        if (length == 0 || length != static_cast<DWORD>(length))
            return failWith(ERROR_INVALID_PARAMETER);
        const DWORD size = static_cast<DWORD>(length);
        // The payload is cleared first, so that whatever goes wrong no earlier exchange's bytes
        // stand in for this one's; but only the class driver's byte count says the answer is
        // whole. For a numbered report the count is the report's length, id byte included.
        // A device without numbered reports (id 0) sends no id byte, and class drivers differ
        // in whether their count includes the 0 they put in its place (Wine's does, Windows'
        // does not, as hidapi's Windows code allows for): both counts are a whole answer.
        const uint8_t reportId = buffer[0];
        std::memset(buffer + 1, 0, length - 1);
        // The buffer goes in both directions: the class driver takes the id from byte 0 and puts
        // the report, id included, in its place.
        DWORD transferred = 0;
        const DWORD error = request([&](OVERLAPPED& overlapped) {
            return ::DeviceIoControl(m_device, IOCTL_HID_GET_INPUT_REPORT, buffer, size, buffer, size, nullptr, &overlapped);
        }, reportId != 0 ? std::optional<DWORD>(size) : std::nullopt, &transferred);
        if (error != ERROR_SUCCESS)
            return failWith(error);
        if (reportId == 0 && transferred != size && transferred != size - 1)
            return failWith(ERROR_BAD_LENGTH);
        if (buffer[0] != reportId)
            return failWith(ERROR_INVALID_DATA);
        return true;
    }

    bool sendOutputReport(const uint8_t* buffer, size_t length) override
    {
        if (length == 0 || length != static_cast<DWORD>(length))
            return failWith(ERROR_INVALID_PARAMETER);
        // The report is the request's input. The count the class driver reports back for an
        // output report is not defined to be the report's length, so only success counts.
        const DWORD error = request([&](OVERLAPPED& overlapped) {
            return ::DeviceIoControl(m_device, IOCTL_HID_SET_OUTPUT_REPORT, const_cast<uint8_t*>(buffer),
                                     static_cast<DWORD>(length), nullptr, 0, nullptr, &overlapped);
        }, std::nullopt);
        if (error != ERROR_SUCCESS)
            return failWith(error);
        return true;
    }

    std::string lastError() const override { return std::to_string(m_lastError); }

    bool isConnected() const override
    {
        // Asked on the watching handle, never on m_device, which a worker thread may be using
        // at this moment. HidD_GetAttributes is answered by the class driver from what it knows
        // of the device, without traffic, and fails once the device behind the handle has been
        // removed. Without a watching handle this cannot be told; the enumeration still drops
        // an unplugged device.
        if (m_watch == INVALID_HANDLE_VALUE)
            return true;
        std::lock_guard<std::mutex> lock(m_watchMutex);
        HIDD_ATTRIBUTES attributes {};
        attributes.Size = sizeof(attributes);
        return ::HidD_GetAttributes(m_watch, &attributes) != FALSE;
    }

private:
    DWORD request(const std::function<BOOL(OVERLAPPED&)>& start, std::optional<DWORD> exactBytes,
                  DWORD* transferred = nullptr)
    {
        OVERLAPPED overlapped {};
        overlapped.hEvent = m_requestDone;
        return runBoundedRequest(m_device, overlapped, kHidRequestBound, exactBytes, start, transferred);
    }

    bool fail() { return failWith(::GetLastError()); }

    bool failWith(DWORD error)
    {
        m_lastError = error;
        return false;
    }

    const HANDLE m_device;
    const HANDLE m_requestDone;
    const HANDLE m_watch;
    mutable std::mutex m_watchMutex; // one HidD_GetAttributes on m_watch at a time
    std::string m_path;
    DWORD m_lastError = 0; // used by the one thread that uses the handle
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
        const std::wstring widePath = widen(path);
        HANDLE device = ::CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (device == INVALID_HANDLE_VALUE)
            return openFailed(::GetLastError());
        HANDLE requestDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (requestDone == nullptr)
        {
            const DWORD error = ::GetLastError();
            ::CloseHandle(device);
            return openFailed(error);
        }
        // The watching handle: no access rights (it makes no requests of the device), synchronous.
        // It is opened now, with the other, so that it belongs to the same connection.
        HANDLE watch = ::CreateFileW(widePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (watch == INVALID_HANDLE_VALUE)
        {
            const DWORD error = ::GetLastError();
            if (firstTimeFor(g_unwatchedPaths, path))
                KS_LOG_DEBUG("WindowsHidBackend::open",
                             "HID interface " << path << ": no watching handle, GetLastError()=" << error
                                              << "; its removal shows in the enumeration only");
        }
        return std::make_unique<WindowsHidHandle>(device, requestDone, watch, path);
    }

    std::string lastOpenError() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_openError;
    }

private:
    std::unique_ptr<HidHandle> openFailed(DWORD error)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_openError = std::to_string(error);
        return nullptr;
    }

    mutable std::mutex m_mutex;
    std::string m_openError; // guarded by m_mutex
};
} // namespace

std::shared_ptr<HidBackend> createPlatformHidBackend()
{
    return std::make_shared<WindowsHidBackend>();
}
