// The SetupAPI/HidD backend against the HID interfaces the system really has. Under Wine these
// are Wine's own virtual devices (vendor 0x845E), which the probe must reject without harm.
#include "DeviceTestSupport.h"
#include "SupportedDevices.h"
#include "TovrakDevice.h"
#include "hid/HidBackend.h"

#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace
{
bool runsUnderWine()
{
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool isDecimalErrorCode(const std::string& text)
{
    return !text.empty() && text != "0" && std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

struct Interface
{
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};

// Every interface the backend lists, with the ids of those that open.
std::vector<Interface> openableInterfaces(HidBackend& backend)
{
    std::vector<std::string> paths;
    EXPECT_TRUE(backend.enumerate(paths));
    std::vector<Interface> found;
    for (const auto& path : paths)
    {
        const auto handle = backend.open(path);
        if (handle == nullptr)
            continue;
        Interface entry { path };
        EXPECT_TRUE(handle->getAttributes(entry.vendorId, entry.productId)) << path;
        found.push_back(entry);
    }
    return found;
}

// Restores the backend choice after a test that installed the real one.
struct BackendReset
{
    ~BackendReset()
    {
        CTovrakDevice::Uninit();
        setHidBackend(nullptr);
    }
};
} // namespace

TEST(WindowsHidBackend, EnumeratesInterfacePathsInAStableOrder)
{
    const auto backend = createPlatformHidBackend();
    std::vector<std::string> first;
    std::vector<std::string> second;
    ASSERT_TRUE(backend->enumerate(first));
    ASSERT_TRUE(backend->enumerate(second));
    EXPECT_EQ(first, second);
    for (const auto& path : first)
        EXPECT_EQ(path.rfind("\\\\?\\", 0), 0u) << "not a device interface path: " << path;
    if (runsUnderWine())
    {
        EXPECT_FALSE(first.empty()) << "Wine lists virtual HID devices of its own";
    }
}

TEST(WindowsHidBackend, WinesOwnDevicesAreListedWithTheirIds)
{
    if (!runsUnderWine())
        GTEST_SKIP() << "only Wine has the 0x845E devices";
    const auto backend = createPlatformHidBackend();
    const auto found = openableInterfaces(*backend);
    const auto wines = std::count_if(found.begin(), found.end(), [](const Interface& i) { return i.vendorId == 0x845E; });
    EXPECT_GE(wines, 1) << "no interface of vendor 0x845E";
}

TEST(WindowsHidBackend, ProbeRejectsEveryInterfaceOfAnUnsupportedDevice)
{
    const auto backend = createPlatformHidBackend();
    for (const auto& entry : openableInterfaces(*backend))
    {
        if (isSupportedDeviceId(entry.vendorId, entry.productId))
            continue; // a real Tovrak device on a Windows test machine
        EXPECT_FALSE(CTovrakDevice::ProbeInterface(*backend, entry.path)) << entry.path;
    }
}

TEST(WindowsHidBackend, DeviceListStaysEmptyWithOnlyForeignDevices)
{
    BackendReset reset;
    const auto backend = createPlatformHidBackend();
    const auto found = openableInterfaces(*backend);
    if (std::any_of(found.begin(), found.end(), [](const Interface& i) { return isSupportedDeviceId(i.vendorId, i.productId); }))
        GTEST_SKIP() << "a supported device is attached";

    setHidBackend(backend);
    ASSERT_TRUE(CTovrakDevice::Refresh());
    EXPECT_TRUE(CTovrakDevice::ListedDevices().empty());
    // The idle poll sees no change either.
    EXPECT_FALSE(CTovrakDevice::AddAllDevices(false));
}

TEST(WindowsHidBackend, FailedOpenGivesTheDecimalErrorCode)
{
    const auto backend = createPlatformHidBackend();
    EXPECT_EQ(backend->open("\\\\?\\hid#no_such_device#0&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}"), nullptr);
    const std::string error = backend->lastOpenError();
    EXPECT_TRUE(isDecimalErrorCode(error)) << error;
}

TEST(WindowsHidBackend, RefusedReportsGiveTheDecimalErrorCodeInTheLog)
{
    const auto backend = createPlatformHidBackend();
    const auto found = openableInterfaces(*backend);
    const auto foreign = std::find_if(found.begin(), found.end(),
                                      [](const Interface& i) { return !isSupportedDeviceId(i.vendorId, i.productId); });
    if (foreign == found.end())
        GTEST_SKIP() << "no foreign HID device to talk to";

    // A Tovrak device information report does not exist on a foreign device.
    const auto handle = backend->open(foreign->path);
    ASSERT_NE(handle, nullptr);
    std::array<uint8_t, CTovrakDevice::kReportBufferSize> buffer {};
    buffer[0] = 0x01;
    if (!handle->getInputReport(buffer.data(), 225))
    {
        EXPECT_TRUE(isDecimalErrorCode(handle->lastError())) << handle->lastError();
    }

    // The device layer's own log line for a refused output report: an erase command to it.
    BackendReset reset;
    setHidBackend(backend);
    device_testing::LogCapture log;
    CTovrakDevice device(foreign->path);
    EXPECT_FALSE(device.present());
    const std::array<uint8_t, 8> erase {};
    if (device.SetData(0xF1, erase.data(), erase.size()))
        GTEST_SKIP() << "the device took the report";
    bool logged = false;
    for (const auto& line : log.lines())
    {
        const auto at = line.find(", SetData flag = 241, GetLastError()=");
        if (at == std::string::npos)
            continue;
        std::string code = line.substr(at + std::string(", SetData flag = 241, GetLastError()=").size());
        code = code.substr(0, code.find_first_not_of("0123456789"));
        EXPECT_TRUE(isDecimalErrorCode(code)) << line;
        logged = true;
    }
    EXPECT_TRUE(logged) << "no SetData failure line";
}

TEST(WindowsHidBackend, InputReportIsTheOneTheSystemsOwnCallFetches)
{
    // The class library's HidD_GetInputReport is the reference: where it fetches a whole input
    // report, the backend's bounded request must fetch the same bytes.
    const auto backend = createPlatformHidBackend();
    std::vector<std::string> paths;
    ASSERT_TRUE(backend->enumerate(paths));
    int compared = 0;
    for (const auto& path : paths)
    {
        const std::wstring widePath(path.begin(), path.end()); // device paths are ASCII
        HANDLE reference = ::CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
        if (reference == INVALID_HANDLE_VALUE)
            continue;
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        HIDP_CAPS caps {};
        const bool described = ::HidD_GetPreparsedData(reference, &preparsed) && ::HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
        if (preparsed != nullptr)
            ::HidD_FreePreparsedData(preparsed);
        std::vector<uint8_t> expected(described ? caps.InputReportByteLength : 0);
        const bool fetched = !expected.empty() && ::HidD_GetInputReport(reference, expected.data(), static_cast<ULONG>(expected.size()));
        ::CloseHandle(reference);
        if (!fetched)
            continue;

        const auto handle = backend->open(path);
        ASSERT_NE(handle, nullptr) << path;
        std::vector<uint8_t> got(expected.size(), 0xAA);
        got[0] = expected[0];
        EXPECT_TRUE(handle->getInputReport(got.data(), got.size())) << path << ": " << handle->lastError();
        EXPECT_EQ(got, expected) << path;
        EXPECT_TRUE(handle->isConnected()) << path;
        ++compared;
    }
    if (compared == 0)
        GTEST_SKIP() << "no interface answers HidD_GetInputReport";
}
