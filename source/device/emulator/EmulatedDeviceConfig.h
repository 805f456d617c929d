#pragma once

#include "EmulatedWire.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Which way a report travels.
enum class ReportDirection
{
    Input,
    Output,
    Any
};

// Makes matching report exchanges fail: the nth matching exchange (1-based) and the
// `count` - 1 after it; count 0 fails every matching exchange from the nth on.
struct ReportFault
{
    int reportId = -1; // -1: any report
    ReportDirection direction = ReportDirection::Any;
    uint64_t nth = 1;
    uint64_t count = 1;
};

// Everything an emulated HID interface is: its identity, its flash, its timing and its faults.
struct EmulatedDeviceConfig
{
    // Interface path; the emulator assigns one when it is empty.
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;

    // False for HID interfaces of other kinds of devices: every report fails.
    bool speaksProtocol = true;

    // The records the device answers with, byte for byte.
    EmulatedDeviceInfo deviceInfo;
    EmulatedFlashInfo flashInfo;

    // Flash size and the value of bytes never erased or written.
    uint32_t flashSize = 16u * 1024u * 1024u;
    uint8_t flashFill = 0xFF;
    // Bytes stored at the firmware base address when the device is made (the installed
    // firmware header); empty for a device with nothing installed.
    std::vector<uint8_t> installedHeader;
    // Further factory contents: (address, bytes), e.g. the installed firmware's sections.
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> installedData;
    // A file that keeps the flash from one run of a program to the next, like a real device's:
    // read when the device is made (when it exists and has the flash's size), written when the
    // device is destroyed. Empty: the flash lives only as long as the device object.
    std::string flashFile;

    // Sleep before every report exchange.
    std::chrono::microseconds latency { 0 };
    // After each erase and write the write-in-progress flag reads set for this many polls,
    // and at least for this long.
    uint32_t busyPolls = 0;
    std::chrono::microseconds busyTime { 0 };

    // Faults.
    bool openFails = false;
    bool attributesReadable = true;
    bool descriptorParsable = true;
    bool serialStringReadable = true;
    bool stuckBusy = false;                 // the write-in-progress flag never clears
    // The device takes every request and never answers it: each one fails when the request
    // bound of the HID stack runs out (the kernel's 5 s; tests shorten it).
    bool neverAnswers = false;
    std::chrono::milliseconds requestBound { 5000 };
    std::vector<ReportFault> failReports;
    bool corruptRead = false;               // one byte of read-back data comes back inverted
    uint32_t corruptReadAddress = 0;
    bool storeWrong = false;                // a write covering this address is acknowledged but
    uint32_t storeWrongAddress = 0;         // stores the byte inverted
    uint32_t nonBlankAddress = 0;           // erasing leaves this range at 0xA5
    uint32_t nonBlankLength = 0;
    uint64_t unplugAfterExchanges = 0;      // vanish after this many exchanges (0: never)
    bool unplugAfterWrite = false;          // vanish right after a write that covers this
    uint32_t unplugAfterWriteAddress = 0;   // address has been stored and acknowledged

    // Hot-plug over time, from the moment the emulator starts: absent before appearAt and
    // from vanishAt on (a negative vanishAt: never vanishes).
    std::chrono::milliseconds appearAt { 0 };
    std::chrono::milliseconds vanishAt { -1 };
    // From this time on a device that is out (vanished, or pulled out by its exchange budget) is
    // plugged in again, once, with a new connection; the vanish time and the exchange budget no
    // longer apply after that. Negative: never.
    std::chrono::milliseconds replugAt { -1 };
};

// Identity of an emulated Tovrak device, for building configurations in code.
struct TovrakIdentity
{
    uint16_t vendorId = KESTRANE_USB_VENDOR_ID;
    uint16_t productId = 0x0010;
    std::string name = "Tovrak Capture";
    std::string serialNumber = "TVK0000001";
    uint16_t productCode = 100;
    uint8_t hardwareRevision = 'A';
    uint8_t productVariant = 0;
    uint32_t runningFirmwareVersion = 0x01020000; // packed: major 1, minor 2, build 0
    uint16_t infoFormat = 2; // the format the host understands
    uint32_t eraseUnitSize = 4096;
    uint32_t firmwareBaseAddress = 0x10000;
    // Compatibility code of the installed header; its version matches the running version.
    uint16_t installedCompatibilityCode = 0;
};

// A configuration for a well-behaved Tovrak device with that identity: the records filled in
// and an installed firmware header whose version matches the running version.
EmulatedDeviceConfig makeTovrakDeviceConfig(const TovrakIdentity& identity);

// A section of the firmware installed at the factory: its bytes are a pattern made from the seed.
struct InstalledSection
{
    std::string name;
    uint32_t address = 0;
    uint32_t length = 0;
    uint8_t seed = 0;
};
std::vector<uint8_t> installedSectionBytes(const InstalledSection& section);

// The installed-header bytes (fixed part and the sections' table) for a device.
std::vector<uint8_t> makeInstalledHeader(uint16_t productCode, uint8_t revision, uint8_t variant,
                                         uint32_t firmwareVersion, uint16_t compatibilityCode,
                                         const std::vector<InstalledSection>& sections = {});

// The header version that the running-firmware test accepts for a running version: its
// major in bits 16-23 and its minor in bits 0-7.
uint32_t headerVersionMatchingRunning(uint32_t runningFirmwareVersion) noexcept;

// A HID interface of some other device (keyboard, mouse): it answers no Tovrak report.
EmulatedDeviceConfig makeForeignDeviceConfig(uint16_t vendorId, uint16_t productId);
