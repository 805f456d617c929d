#pragma once

// The report command set of a Tovrak device and the two records it reads from the device.
// Records are kept byte for byte as the device sent them and read field by field through
// little-endian accessors; text fields are read only within their own bytes.

#include "ByteOrder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// Report ids. Every report is the id byte followed by the payload.
enum : uint8_t
{
    KSCAP_HID_DEVICE_INFO = 0x01,          // input: DeviceInfo
    KSCAP_HID_FIRMWARE_INFO = 0xF0,        // input: FlashInfo
    KSCAP_HID_FIRMWARE_ERASE = 0xF1,       // output: address, count
    KSCAP_HID_FIRMWARE_READ_ADDRESS = 0xF2, // output: address of the next data read
    KSCAP_HID_FIRMWARE_DATA = 0xF3,        // output: write data; input: read data
    KSCAP_HID_FIRMWARE_WIP = 0xF4          // input: write-in-progress flag
};

// Report lengths including the id byte.
namespace ReportLength
{
constexpr size_t DeviceInfo = 225;
constexpr size_t FirmwareInfo = 29;
constexpr size_t FirmwareErase = 9;
constexpr size_t FirmwareReadAddress = 5;
constexpr size_t FirmwareData = 263;
constexpr size_t FirmwareWip = 2;
} // namespace ReportLength

// Layout of the KSCAP_HID_FIRMWARE_DATA payload (both directions).
namespace FirmwareDataPayload
{
constexpr size_t OffAddress = 0;
constexpr size_t OffCount = 4;
constexpr size_t OffData = 6;
constexpr size_t MaxWriteBytes = 256; // the data field of a write
constexpr size_t ReadPieceBytes = 64; // what is taken from one read-back report
} // namespace FirmwareDataPayload

// Extracts a NUL-terminated text from a fixed field, never reading past the field, as valid
// UTF-8: every byte that does not begin a well-formed sequence (stray continuation bytes,
// overlong forms, surrogates, code points above U+10FFFF, a sequence cut off by the field's end)
// becomes '?', and so does every control character (C0, DEL, C1): the text goes into log lines,
// JSON, records and onto the screen, where a line break or an escape sequence from a device must
// not forge anything, and where text decoders size their buffers by the bytes being valid.
inline std::string fixedFieldText(const uint8_t* field, size_t fieldSize)
{
    const void* nul = std::memchr(field, 0, fieldSize);
    const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - field) : fieldSize;
    std::string text;
    text.reserve(length);
    for (size_t i = 0; i < length;)
    {
        const uint8_t lead = field[i];
        size_t size = 0;
        uint32_t code = 0;
        if (lead < 0x80)
            size = 1, code = lead;
        else if (lead >= 0xC2 && lead <= 0xDF)
            size = 2, code = lead & 0x1Fu;
        else if (lead >= 0xE0 && lead <= 0xEF)
            size = 3, code = lead & 0x0Fu;
        else if (lead >= 0xF0 && lead <= 0xF4)
            size = 4, code = lead & 0x07u;
        bool valid = size > 0 && i + size <= length;
        for (size_t k = 1; valid && k < size; ++k)
        {
            valid = (field[i + k] & 0xC0u) == 0x80u;
            code = (code << 6) | (field[i + k] & 0x3Fu);
        }
        // Shortest form only, no surrogates, nothing beyond U+10FFFF.
        const uint32_t least[] = { 0, 0, 0x80, 0x800, 0x10000 };
        valid = valid && code >= least[size] && !(code >= 0xD800 && code <= 0xDFFF) && code <= 0x10FFFF;
        if (!valid)
        {
            text += '?';
            ++i; // resynchronise at the next byte
            continue;
        }
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            text += '?';
        else
            text.append(reinterpret_cast<const char*>(field + i), size);
        i += size;
    }
    return text;
}

// The hardware revision byte as a text: one printable ASCII character, '?' for any other byte
// (a control character or half of a multi-byte character from a device must not reach a log
// line or the screen), nothing for 0.
inline std::string revisionText(uint8_t revision)
{
    if (revision == 0)
        return {};
    return std::string(1, (revision >= 0x20 && revision < 0x7f) ? static_cast<char>(revision) : '?');
}

// The 224-byte payload of KSCAP_HID_DEVICE_INFO.
struct DeviceInfo
{
    static constexpr size_t kSize = 224;
    static constexpr size_t OffInfoFormat = 0;
    static constexpr size_t OffProductCode = 2;
    static constexpr size_t OffHardwareRevision = 4;
    static constexpr size_t OffProductVariant = 5;
    static constexpr size_t OffRunningFirmwareVersion = 10;
    static constexpr size_t OffRunningMinor = 12;
    static constexpr size_t OffRunningMajor = 13;
    static constexpr size_t OffDeviceName = 78;
    static constexpr size_t DeviceNameSize = 128;
    static constexpr size_t OffSerialNumber = 206;
    static constexpr size_t SerialNumberSize = 18;

    // The only value of infoFormat that this program understands.
    static constexpr uint16_t kSupportedInfoFormat = 2;

    std::array<uint8_t, kSize> bytes {};

    uint16_t infoFormat() const noexcept { return le::read16(bytes.data() + OffInfoFormat); }
    uint16_t productCode() const noexcept { return le::read16(bytes.data() + OffProductCode); }
    uint8_t hardwareRevision() const noexcept { return bytes[OffHardwareRevision]; }
    uint8_t productVariant() const noexcept { return bytes[OffProductVariant]; }
    uint32_t runningFirmwareVersion() const noexcept { return le::read32(bytes.data() + OffRunningFirmwareVersion); }
    uint8_t runningMajorVersion() const noexcept { return bytes[OffRunningMajor]; }
    uint8_t runningMinorVersion() const noexcept { return bytes[OffRunningMinor]; }

    // At most 128 and 18 characters: a device that leaves out the NUL is cut at the field's end.
    std::string deviceName() const { return fixedFieldText(bytes.data() + OffDeviceName, DeviceNameSize); }
    std::string serialNumber() const { return fixedFieldText(bytes.data() + OffSerialNumber, SerialNumberSize); }
    // The revision as the one-character text that is shown and logged (see revisionText).
    std::string hardwareRevisionText() const { return revisionText(hardwareRevision()); }
};

// The 28-byte payload of KSCAP_HID_FIRMWARE_INFO.
struct FlashInfo
{
    static constexpr size_t kSize = 28;
    static constexpr size_t OffEraseUnitSize = 4;
    static constexpr size_t OffFirmwareBaseAddress = 12;

    std::array<uint8_t, kSize> bytes {};

    uint32_t eraseUnitSize() const noexcept { return le::read32(bytes.data() + OffEraseUnitSize); }
    uint32_t firmwareBaseAddress() const noexcept { return le::read32(bytes.data() + OffFirmwareBaseAddress); }
};
