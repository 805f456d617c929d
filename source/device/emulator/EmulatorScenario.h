#pragma once

#include "EmulatedDeviceConfig.h"

#include <juce_core/juce_core.h>

#include <string>
#include <vector>

class EmulatorBackend;

// Scenario files describe emulated devices in JSON:
//
// { "devices": [ {
//     "vendorId": "kestrane" | "partner" | "0x046d" | 1133,     (default "kestrane")
//     "productId": "partner" | "0x0010" | 16,                    (default 0x0010)
//     "foreign": false,          true: a HID interface of another device, answering no report
//     "path": "...",             optional interface path
//     "name": "Tovrak HD", "serialNumber": "TVK0001",
//     "productCode": 533, "revision": "B", "variant": 1,
//     "runningVersion": "1.2.30",     major.minor.build, or a number (packed)
//     "infoFormat": 2,
//     "flash": { "size": 16777216, "eraseUnitSize": 4096, "firmwareBaseAddress": "0x10000", "fill": 255 },
//     "installed": { "compatibilityCode": 7, "firmwareVersion": "0x00010002",
//                    "sections": [ { "name": "App", "address": "0x40000", "length": 4096, "seed": 1 } ] } | false,
//                 without firmwareVersion the header matches the running version; each section's
//                 bytes are a pattern made from its seed, listed in the header with their checksum
//     "flashFile": "dev1.flash",     keeps the flash between runs (beside the scenario file)
//     "timing": { "latencyMs": 1, "busyPolls": 2, "busyMs": 0 },
//     "faults": { "openFails": false, "attributesReadable": true, "descriptorParsable": true,
//                 "serialStringReadable": true, "stuckBusy": false,
//                 "failReports": [ { "reportId": "0xF0", "direction": "in", "nth": 1, "count": 0 } ],
//                 "corruptReadAddress": "0x10010",
//                 "nonBlankAfterErase": { "address": "0x20000", "length": 16 },
//                 "unplugAfterExchanges": 0, "unplugAfterWriteAddress": "0x10000", "appearAtMs": 0, "vanishAtMs": -1, "replugAtMs": -1 }
// } ] }
//
// Numbers may be written as JSON numbers or as decimal or "0x" hexadecimal strings. Every value
// is range-checked; an unknown key is an error, so that a typo does not go unnoticed.

// Parses scenario text (UTF-8). False with a description of the first problem.
bool parseEmulatorScenario(const std::string& text, std::vector<EmulatedDeviceConfig>& devices, std::string& error);

// Reads a scenario file and adds its devices to the backend; nothing is added on failure.
bool loadEmulatorScenario(const juce::File& file, EmulatorBackend& backend, std::string& error);

// Largest scenario file that is read, and largest emulated flash.
constexpr juce::int64 kMaxScenarioFileBytes = 1024 * 1024;
constexpr uint32_t kMaxEmulatedFlashBytes = 64u * 1024u * 1024u;
