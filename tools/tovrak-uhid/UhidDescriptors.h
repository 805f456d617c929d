#pragma once

// What a device looks like to the kernel's HID stack: its report descriptor and the sizes of
// the reports it declares. A Tovrak device declares its reports in one vendor-defined
// collection, each with a report id; a foreign device is a plain boot keyboard.

#include <cstddef>
#include <cstdint>
#include <vector>

enum class UhidReportType
{
    Input,
    Output
};

struct UhidReport
{
    uint8_t id;
    UhidReportType type;
    size_t payloadBytes; // without the report id byte
};

// The reports of a Tovrak device, as the device's firmware declares them.
const std::vector<UhidReport>& tovrakReports();

// The report descriptor declaring `reports`: vendor page 0xFF00, one application collection,
// 8-bit fields, one report id per report.
std::vector<uint8_t> vendorReportDescriptor(const std::vector<UhidReport>& reports);

// A boot keyboard's report descriptor (8-byte input report, 1-byte LED output report, no ids).
std::vector<uint8_t> keyboardReportDescriptor();

// Length (id byte included) of the report with that id and type; 0 when not declared.
size_t declaredReportLength(const std::vector<UhidReport>& reports, uint8_t id, UhidReportType type);
