#pragma once

// The seam between the device layer and whatever reaches HID devices: the platform's HID
// library or the device emulator. The device logic above it never knows which one runs.
//
// Report buffers always carry the report id in byte 0 and the payload after it; lengths
// include the id byte.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The longest a single report request may take before it counts as failed: the bound the Linux
// kernel puts on a HID control request, which the other backends keep as well.
constexpr std::chrono::milliseconds kHidRequestBound { 5000 };

// One opened HID interface. Closes itself when destroyed. A handle is used by one thread at a
// time; different handles may be used on different threads at once.
class HidHandle
{
public:
    virtual ~HidHandle() = default;

    // USB vendor and product id of the device the interface belongs to.
    virtual bool getAttributes(uint16_t& vendorId, uint16_t& productId) = 0;

    // True when the interface's report descriptor can be read and parsed.
    virtual bool hasParsableReportDescriptor() = 0;

    // True when the USB serial number string can be read. The text itself is not needed.
    virtual bool canReadSerialNumberString() = 0;

    // Fetches the input report whose id is in buffer[0]; exactly `length` bytes (id included)
    // end up in the buffer on success; a shorter answer is a failure, never padded.
    // Blocks until the device answers, at most kHidRequestBound; a request still unanswered
    // then is cancelled and fails.
    virtual bool getInputReport(uint8_t* buffer, size_t length) = 0;

    // Sends `length` bytes (id included) as an output report. Blocks until the device took it,
    // at most kHidRequestBound; a request still pending then is cancelled and fails.
    virtual bool sendOutputReport(const uint8_t* buffer, size_t length) = 0;

    // Text describing the last failure on this handle, for log lines.
    virtual std::string lastError() const = 0;

    // False once the interface this handle opened has gone: unplugged, or unplugged and plugged
    // in again (the new connection has a new handle, this one stays dead). Makes no device
    // traffic and may be called from any thread while another uses the handle. A backend that
    // cannot tell says true.
    virtual bool isConnected() const { return true; }
};

class HidBackend
{
public:
    virtual ~HidBackend() = default;

    // Paths of the present HID interfaces, in a stable order. False when the set of interfaces
    // cannot be read at all (the list is then empty).
    virtual bool enumerate(std::vector<std::string>& paths) = 0;

    // Opens an interface for reading and writing; null on failure (see lastOpenError).
    virtual std::unique_ptr<HidHandle> open(const std::string& path) = 0;

    // Text describing why the last open failed, for log lines.
    virtual std::string lastOpenError() const = 0;
};

// The backend the device layer uses. Chosen on first use: the emulator when the environment
// variable TOVRAK_EMULATOR is set (it names a scenario file), the platform's HID library
// otherwise. Never null.
std::shared_ptr<HidBackend> currentHidBackend();

// Replaces the backend (tests install an emulator directly); null makes the next use choose
// again. Devices opened before keep the handles they have.
void setHidBackend(std::shared_ptr<HidBackend> backend);

// The platform's real backend (hidapi on Linux and macOS).
std::shared_ptr<HidBackend> createPlatformHidBackend();
