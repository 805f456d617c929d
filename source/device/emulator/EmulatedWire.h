#pragma once

// The report protocol as an emulated device speaks it, written down here once for the emulator
// and nowhere else. It deliberately shares no constant, record layout or accessor with the host
// side in source/device: the emulator plays a separate device, so a wrong id, length or offset on
// either side makes the two disagree and fails a test instead of passing on both.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace emulated_wire
{
// Report ids (the first byte of every report).
constexpr uint8_t kIdDeviceInfo = 0x01;   // input
constexpr uint8_t kIdFlashInfo = 0xF0;    // input
constexpr uint8_t kIdErase = 0xF1;        // output: address (4), count (4)
constexpr uint8_t kIdReadAddress = 0xF2;  // output: address (4)
constexpr uint8_t kIdData = 0xF3;         // output: write; input: read data
constexpr uint8_t kIdBusy = 0xF4;         // input: write-in-progress flag (1 byte)

// Report lengths, id byte included.
constexpr size_t kLenDeviceInfo = 1 + 224;
constexpr size_t kLenFlashInfo = 1 + 28;
constexpr size_t kLenErase = 1 + 8;
constexpr size_t kLenReadAddress = 1 + 4;
constexpr size_t kLenData = 1 + 262;
constexpr size_t kLenBusy = 1 + 1;

// The data report's payload (after the id): address (4), count (2), 256 data bytes.
constexpr size_t kDataAddressAt = 0;
constexpr size_t kDataCountAt = 4;
constexpr size_t kDataBytesAt = 6;
constexpr size_t kDataCapacity = 256;
// A read answers with the whole data field; the host takes the first 64 bytes of it.
constexpr size_t kReadBytesUsed = 64;

inline uint16_t get16(const uint8_t* p) noexcept { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t get32(const uint8_t* p) noexcept
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void put16(uint8_t* p, uint16_t v) noexcept
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) noexcept
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// "0x" and the id in two lower-case hex digits, for error texts.
inline std::string hexId(uint8_t id)
{
    static const char digits[] = "0123456789abcdef";
    return std::string("0x") + digits[id >> 4] + digits[id & 0x0F];
}
} // namespace emulated_wire

// The 224-byte device information record as the emulated device keeps and sends it.
struct EmulatedDeviceInfo
{
    static constexpr size_t kSize = 224;
    // Field places in the record.
    static constexpr size_t kInfoFormatAt = 0;    // 2 bytes
    static constexpr size_t kProductCodeAt = 2;   // 2 bytes
    static constexpr size_t kRevisionAt = 4;      // 1 byte, an ASCII letter
    static constexpr size_t kVariantAt = 5;       // 1 byte
    static constexpr size_t kRunningVersionAt = 10; // 4 bytes, packed reading
    static constexpr size_t kNameAt = 78;
    static constexpr size_t kNameSize = 128;
    static constexpr size_t kSerialAt = 206;
    static constexpr size_t kSerialSize = 18;

    std::array<uint8_t, kSize> bytes {};

    uint16_t infoFormat() const noexcept { return emulated_wire::get16(bytes.data() + kInfoFormatAt); }
    uint16_t productCode() const noexcept { return emulated_wire::get16(bytes.data() + kProductCodeAt); }
    uint8_t hardwareRevision() const noexcept { return bytes[kRevisionAt]; }
    uint8_t productVariant() const noexcept { return bytes[kVariantAt]; }
    uint32_t runningFirmwareVersion() const noexcept { return emulated_wire::get32(bytes.data() + kRunningVersionAt); }
    std::string deviceName() const { return text(kNameAt, kNameSize); }
    std::string serialNumber() const { return text(kSerialAt, kSerialSize); }

    void setInfoFormat(uint16_t v) noexcept { emulated_wire::put16(bytes.data() + kInfoFormatAt, v); }
    void setProductCode(uint16_t v) noexcept { emulated_wire::put16(bytes.data() + kProductCodeAt, v); }
    void setHardwareRevision(uint8_t v) noexcept { bytes[kRevisionAt] = v; }
    void setProductVariant(uint8_t v) noexcept { bytes[kVariantAt] = v; }
    void setRunningFirmwareVersion(uint32_t v) noexcept { emulated_wire::put32(bytes.data() + kRunningVersionAt, v); }
    // Up to the whole field: a text of exactly the field's size leaves no NUL, as a careless
    // device might.
    void setDeviceName(const std::string& v) noexcept { setText(kNameAt, kNameSize, v); }
    void setSerialNumber(const std::string& v) noexcept { setText(kSerialAt, kSerialSize, v); }

private:
    std::string text(size_t at, size_t size) const
    {
        const void* nul = std::memchr(bytes.data() + at, 0, size);
        const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - (bytes.data() + at)) : size;
        return std::string(reinterpret_cast<const char*>(bytes.data() + at), length);
    }
    void setText(size_t at, size_t size, const std::string& v) noexcept
    {
        std::memset(bytes.data() + at, 0, size);
        std::memcpy(bytes.data() + at, v.data(), v.size() < size ? v.size() : size);
    }
};

// The 28-byte flash information record.
struct EmulatedFlashInfo
{
    static constexpr size_t kSize = 28;
    static constexpr size_t kEraseUnitAt = 4;   // 4 bytes
    static constexpr size_t kBaseAddressAt = 12; // 4 bytes

    std::array<uint8_t, kSize> bytes {};

    uint32_t eraseUnitSize() const noexcept { return emulated_wire::get32(bytes.data() + kEraseUnitAt); }
    uint32_t firmwareBaseAddress() const noexcept { return emulated_wire::get32(bytes.data() + kBaseAddressAt); }
    void setEraseUnitSize(uint32_t v) noexcept { emulated_wire::put32(bytes.data() + kEraseUnitAt, v); }
    void setFirmwareBaseAddress(uint32_t v) noexcept { emulated_wire::put32(bytes.data() + kBaseAddressAt, v); }
};
