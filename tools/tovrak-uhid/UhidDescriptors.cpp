#include "UhidDescriptors.h"

const std::vector<UhidReport>& tovrakReports()
{
    // Report id, direction and payload size of every report the device firmware answers.
    static const std::vector<UhidReport> reports {
        { 0x01, UhidReportType::Input, 224 },  // device information
        { 0xF0, UhidReportType::Input, 28 },   // flash information
        { 0xF1, UhidReportType::Output, 8 },   // erase
        { 0xF2, UhidReportType::Output, 4 },   // read address
        { 0xF3, UhidReportType::Output, 262 }, // data write
        { 0xF3, UhidReportType::Input, 262 },  // data read
        { 0xF4, UhidReportType::Input, 1 },    // write in progress
    };
    return reports;
}

std::vector<uint8_t> vendorReportDescriptor(const std::vector<UhidReport>& reports)
{
    std::vector<uint8_t> d {
        0x06, 0x00, 0xFF, // Usage Page (Vendor Defined 0xFF00)
        0x09, 0x01,       // Usage (0x01)
        0xA1, 0x01,       // Collection (Application)
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8)
    };
    for (const UhidReport& r : reports)
    {
        const auto count = static_cast<uint16_t>(r.payloadBytes);
        d.insert(d.end(), {
            0x85, r.id,                                                                   // Report ID
            0x96, static_cast<uint8_t>(count & 0xFF), static_cast<uint8_t>(count >> 8), // Report Count (16-bit)
            0x09, 0x01,                                                                   // Usage (0x01)
            static_cast<uint8_t>(r.type == UhidReportType::Input ? 0x81 : 0x91), 0x02,   // Input / Output (Data,Var,Abs)
        });
    }
    d.push_back(0xC0); // End Collection
    return d;
}

std::vector<uint8_t> keyboardReportDescriptor()
{
    return {
        0x05, 0x01, // Usage Page (Generic Desktop)
        0x09, 0x06, // Usage (Keyboard)
        0xA1, 0x01, // Collection (Application)
        0x05, 0x07, //   Usage Page (Key Codes)
        0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08,
        0x81, 0x02, //   Input (Data,Var,Abs): modifier keys
        0x95, 0x01, 0x75, 0x08,
        0x81, 0x01, //   Input (Const): reserved byte
        0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05,
        0x91, 0x02, //   Output (Data,Var,Abs): LEDs
        0x95, 0x01, 0x75, 0x03,
        0x91, 0x01, //   Output (Const): padding
        0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65,
        0x81, 0x00, //   Input (Data,Array): keys
        0xC0,       // End Collection
    };
}

size_t declaredReportLength(const std::vector<UhidReport>& reports, uint8_t id, UhidReportType type)
{
    for (const UhidReport& r : reports)
        if (r.id == id && r.type == type)
            return r.payloadBytes + 1;
    return 0;
}
