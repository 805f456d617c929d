// A hostile device: its device information and flash information records, its flash contents
// (everything read back), its busy flag and its failing reports all come from the fuzzer. The
// device goes through the interface probe, the device list, the rows built from it (whose texts
// must be valid UTF-8) and the whole command set.
#include "DeviceRowList.h"
#include "FirmwareFileManager.h"
#include "TovrakDevice.h"
#include "emulator/EmulatorBackend.h"
#include "hid/HidBackend.h"
#include "hid/ReportDescriptor.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <vector>

namespace
{
class Input
{
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
    uint32_t u32() { return static_cast<uint32_t>(u16()) | (static_cast<uint32_t>(u16()) << 16); }
    template <size_t N>
    void fill(std::array<uint8_t, N>& out)
    {
        for (auto& b : out)
            b = byte();
    }
    std::vector<uint8_t> rest()
    {
        std::vector<uint8_t> out(m_data + m_pos, m_data + m_size);
        m_pos = m_size;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    auto bus = std::make_shared<EmulatorBackend>();
    setHidBackend(bus);

    EmulatedDeviceConfig config;
    const uint8_t choice = in.byte();
    config.vendorId = (choice & 1) ? PARTNER_USB_VENDOR_ID : KESTRANE_USB_VENDOR_ID;
    config.productId = (choice & 1) ? PARTNER_USB_PRODUCT_ID : static_cast<uint16_t>(in.byte() & 0x3F);
    config.serialStringReadable = (choice & 2) == 0;
    config.stuckBusy = (choice & 4) != 0;
    config.busyPolls = (choice >> 3) & 3;
    config.flashSize = EmulatedFlash::kPageSize * (1u + (in.byte() % 64));
    in.fill(config.deviceInfo.bytes);
    in.fill(config.flashInfo.bytes);
    if (choice & 0x20)
        config.failReports.push_back({ in.byte(), ReportDirection::Any, 1u + in.byte() % 8u, static_cast<uint64_t>(in.byte() % 3) });

    const uint32_t readAddress = in.u32();
    const uint16_t readLength = in.u16() % 700;
    const uint32_t writeAddress = in.u32();
    const uint16_t writeLength = in.u16() % 300;
    const uint32_t eraseAddress = in.u32();
    const uint32_t eraseCount = in.u32();

    // Whatever is left is the flash content at the firmware base address: the installed header
    // the device reports, and the data of every read-back there. It doubles as a report descriptor.
    const std::vector<uint8_t> flash = in.rest();
    isWellFormedReportDescriptor(flash.data(), flash.size());
    const auto device = bus->add(config);
    device->loadFlash(config.flashInfo.firmwareBaseAddress(), flash);

    CTovrakDevice::ProbeInterface(*bus, device->path());
    CTovrakDevice::Refresh();
    const DeviceRowList rows = buildDeviceRows(listedDeviceFacts(), g_firmwareFileMgr, {}, {});
    for (const DeviceRow& row : rows.rows)
        for (const juce::String* text : { &row.name, &row.serialNumber, &row.hardwareVersion, &row.statusText })
        {
            const std::string bytes = text->toStdString();
            if (!juce::CharPointer_UTF8::isValidString(bytes.c_str(), static_cast<int>(bytes.size())))
                std::abort();
        }
    for (const auto& listed : CTovrakDevice::ListedDevices())
    {
        const std::string name = listed->deviceInfo().deviceName();
        const std::string serial = listed->deviceInfo().serialNumber();
        for (const std::string* text : { &name, &serial })
            if (!juce::CharPointer_UTF8::isValidString(text->c_str(), static_cast<int>(text->size())))
                std::abort();
        listed->SetWipTimeLimit(std::chrono::milliseconds(2));
        std::vector<uint8_t> buffer(readLength);
        listed->ReadFirmwareData(listed->flashInfo().firmwareBaseAddress() + readAddress % 1024, buffer.data(), buffer.size());
        listed->ReadFirmwareData(readAddress, buffer.data(), buffer.size());
        const std::vector<uint8_t> payload(std::max<size_t>(writeLength, 1), 0x5A);
        listed->SetFirmwareErase(eraseAddress, eraseCount);
        listed->WriteFirmwareData(writeAddress, payload.data(), writeLength);
        listed->WaitForWIP();
    }
    CTovrakDevice::Uninit();
    return 0;
}
