// The report protocol pinned byte for byte: every report of opening a device and of one small
// upgrade, as it crosses the HID seam, against bytes typed from the protocol description (report
// ids, lengths, field offsets, little-endian numbers). Neither side's constants are used, so a
// wrong id, length or offset on the host side or in the emulator fails here.
#include "DeviceTestSupport.h"
#include "TestSupport.h"
#include "TovrakDevice.h"
#include "UpgradeStatus.h"
#include "hid/HidBackend.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <mutex>
#include <utility>

namespace
{
struct Report
{
    bool output = false;
    std::vector<uint8_t> bytes; // id included
};

// Passes everything through to the real backend and keeps a copy of every report.
class RecordingBackend : public HidBackend
{
public:
    explicit RecordingBackend(std::shared_ptr<HidBackend> inner) : m_inner(std::move(inner)) {}

    bool enumerate(std::vector<std::string>& paths) override { return m_inner->enumerate(paths); }
    std::string lastOpenError() const override { return m_inner->lastOpenError(); }
    std::unique_ptr<HidHandle> open(const std::string& path) override
    {
        auto handle = m_inner->open(path);
        return handle == nullptr ? nullptr : std::make_unique<Handle>(std::move(handle), m_reports);
    }
    std::vector<Report> reports() const { return m_reports; }

private:
    class Handle : public HidHandle
    {
    public:
        Handle(std::unique_ptr<HidHandle> inner, std::vector<Report>& log) : m_inner(std::move(inner)), m_log(log) {}
        bool getAttributes(uint16_t& v, uint16_t& p) override { return m_inner->getAttributes(v, p); }
        bool hasParsableReportDescriptor() override { return m_inner->hasParsableReportDescriptor(); }
        bool canReadSerialNumberString() override { return m_inner->canReadSerialNumberString(); }
        std::string lastError() const override { return m_inner->lastError(); }
        bool getInputReport(uint8_t* buffer, size_t length) override
        {
            const bool ok = m_inner->getInputReport(buffer, length);
            m_log.push_back({ false, std::vector<uint8_t>(buffer, buffer + length) });
            return ok;
        }
        bool sendOutputReport(const uint8_t* buffer, size_t length) override
        {
            m_log.push_back({ true, std::vector<uint8_t>(buffer, buffer + length) });
            return m_inner->sendOutputReport(buffer, length);
        }

    private:
        std::unique_ptr<HidHandle> m_inner;
        std::vector<Report>& m_log;
    };

    std::shared_ptr<HidBackend> m_inner;
    std::vector<Report> m_reports;
};

// What a report must be: its direction, id and length, and the bytes at given places (offsets
// count from the id byte). An output report is given whole: every byte not listed must be 0.
struct Expected
{
    bool output;
    uint8_t id;
    size_t length;
    std::vector<std::pair<size_t, std::vector<uint8_t>>> fields;
};

Expected out(uint8_t id, size_t length, std::vector<std::pair<size_t, std::vector<uint8_t>>> fields)
{
    return { true, id, length, std::move(fields) };
}
Expected in(uint8_t id, size_t length, std::vector<std::pair<size_t, std::vector<uint8_t>>> fields = {})
{
    return { false, id, length, std::move(fields) };
}

std::string hex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char piece[4];
    for (uint8_t b : bytes)
    {
        std::snprintf(piece, sizeof piece, "%02x ", b);
        text += piece;
    }
    return text;
}

void expectTranscript(const std::vector<Report>& actual, const std::vector<Expected>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
    {
        SCOPED_TRACE("report " + std::to_string(i) + ": " + hex(actual[i].bytes));
        const Expected& e = expected[i];
        const Report& a = actual[i];
        EXPECT_EQ(a.output, e.output);
        ASSERT_EQ(a.bytes.size(), e.length);
        EXPECT_EQ(a.bytes[0], e.id);
        std::vector<bool> listed(e.length, false);
        listed[0] = true;
        for (const auto& [offset, bytes] : e.fields)
        {
            ASSERT_LE(offset + bytes.size(), e.length);
            EXPECT_EQ(std::vector<uint8_t>(a.bytes.begin() + offset, a.bytes.begin() + offset + bytes.size()), bytes)
                << "at offset " << offset;
            std::fill(listed.begin() + offset, listed.begin() + offset + bytes.size(), true);
        }
        for (size_t k = 0; e.output && k < e.length; ++k)
            EXPECT_TRUE(listed[k] || a.bytes[k] == 0) << "unlisted byte " << k << " of an output report";
    }
}

std::vector<uint8_t> text(const char* s, size_t withNul)
{
    std::vector<uint8_t> bytes(s, s + std::strlen(s));
    bytes.resize(bytes.size() + withNul, 0);
    return bytes;
}
} // namespace

class WireTranscript : public device_testing::EmulatorTest
{
};

TEST_F(WireTranscript, OpeningADeviceAndOneSmallUpgrade)
{
    TovrakIdentity id;
    id.serialNumber = "TX1";
    id.name = "Tovrak Wire";
    id.productCode = 533;                   // 0x0215
    id.hardwareRevision = 'B';
    id.productVariant = 1;
    id.runningFirmwareVersion = 0x01020025; // 1.2.37
    id.eraseUnitSize = 4096;
    id.firmwareBaseAddress = 0x10000;
    const auto emu = m_bus->add(makeTovrakDeviceConfig(id));
    const auto recorder = std::make_shared<RecordingBackend>(m_bus);
    setHidBackend(recorder);

    CTovrakDevice device(emu->path());
    ASSERT_TRUE(device.present());
    // What the host made of the two records.
    EXPECT_EQ(device.deviceInfo().productCode(), 533);
    EXPECT_EQ(device.deviceInfo().hardwareRevision(), 'B');
    EXPECT_EQ(device.deviceInfo().productVariant(), 1);
    EXPECT_EQ(device.deviceInfo().runningFirmwareVersion(), 0x01020025u);
    EXPECT_EQ(device.deviceInfo().serialNumber(), "TX1");
    EXPECT_EQ(device.deviceInfo().deviceName(), "Tovrak Wire");
    EXPECT_EQ(device.flashInfo().eraseUnitSize(), 4096u);
    EXPECT_EQ(device.flashInfo().firmwareBaseAddress(), 0x10000u);

    testing_support::ImageSpec spec;
    spec.sections = { { "App", 0x40000, { 0xD0, 0xD1, 0xD2, 0xD3 } } };
    const FirmwareImage image = testing_support::makeImage(spec);
    ASSERT_EQ(image.header.headerSize(), 185); // 157 + 28: 0xB9
    const std::vector<uint8_t> header(image.header.data(), image.header.data() + 185);
    auto headerPart = [&](size_t from, size_t count) {
        return std::vector<uint8_t>(header.begin() + from, header.begin() + from + count);
    };
    std::atomic<int32_t> status { RESULT_READY };
    std::atomic<int32_t> progress { 0 };
    ASSERT_TRUE(device.Upgrade(image.header, image.sections, status, progress, true));

    const std::vector<uint8_t> idle { 0x00 };
    expectTranscript(recorder->reports(), {
        // Opening: device information (0x01, 225 bytes), flash information (0xF0, 29 bytes), then
        // the 157-byte fixed part of the installed header in reads of 64, 64 and 29 bytes: the
        // read address (0xF2, 5 bytes), then a data report (0xF3, 263 bytes) each.
        in(0x01, 225, { { 1, { 0x02, 0x00 } },               // infoFormat 2
                        { 3, { 0x15, 0x02 } },               // productCode 533
                        { 5, { 'B', 0x01 } },                // revision, variant
                        { 11, { 0x25, 0x00, 0x02, 0x01 } },  // running version 1.2.37
                        { 79, text("Tovrak Wire", 1) },
                        { 207, text("TX1", 1) } }),
        in(0xF0, 29, { { 5, { 0x00, 0x10, 0x00, 0x00 } },     // erase unit 4096
                       { 13, { 0x00, 0x00, 0x01, 0x00 } } }), // base 0x10000
        out(0xF2, 5, { { 1, { 0x00, 0x00, 0x01, 0x00 } } }),
        in(0xF3, 263, { { 7, { 'K', 'S', 'F', 'H' } } }),
        out(0xF2, 5, { { 1, { 0x40, 0x00, 0x01, 0x00 } } }),
        in(0xF3, 263),
        out(0xF2, 5, { { 1, { 0x80, 0x00, 0x01, 0x00 } } }),
        in(0xF3, 263),
        // The same 157 bytes at the second header place, 4096 bytes above the base (0x11000):
        // erased flash there, so no table follows.
        out(0xF2, 5, { { 1, { 0x00, 0x10, 0x01, 0x00 } } }),
        in(0xF3, 263),
        out(0xF2, 5, { { 1, { 0x40, 0x10, 0x01, 0x00 } } }),
        in(0xF3, 263),
        out(0xF2, 5, { { 1, { 0x80, 0x10, 0x01, 0x00 } } }),
        in(0xF3, 263),
        // The upgrade: the device reports idle (0xF4, 2 bytes) before the first command.
        in(0xF4, 2, { { 1, idle } }),
        // Erase the header block: address 0x10000, 185 bytes (0xF1, 9 bytes); wait.
        out(0xF1, 9, { { 1, { 0x00, 0x00, 0x01, 0x00 } }, { 5, { 0xB9, 0x00, 0x00, 0x00 } } }),
        in(0xF4, 2, { { 1, idle } }),
        // Erase the section: 0x40000, 4 bytes.
        out(0xF1, 9, { { 1, { 0x00, 0x00, 0x04, 0x00 } }, { 5, { 0x04, 0x00, 0x00, 0x00 } } }),
        in(0xF4, 2, { { 1, idle } }),
        // Write the section: address, count 4, the data at offset 6 of the payload, zeros after.
        out(0xF3, 263, { { 1, { 0x00, 0x00, 0x04, 0x00 } }, { 5, { 0x04, 0x00 } }, { 7, { 0xD0, 0xD1, 0xD2, 0xD3 } } }),
        in(0xF4, 2, { { 1, idle } }),
        // Read back the section (the data starts at payload offset 6) before the header goes in.
        out(0xF2, 5, { { 1, { 0x00, 0x00, 0x04, 0x00 } } }),
        in(0xF3, 263, { { 7, { 0xD0, 0xD1, 0xD2, 0xD3 } } }),
        // Write the header last, and read it back (64 + 64 + 57 bytes).
        out(0xF3, 263, { { 1, { 0x00, 0x00, 0x01, 0x00 } }, { 5, { 0xB9, 0x00 } }, { 7, header } }),
        in(0xF4, 2, { { 1, idle } }),
        out(0xF2, 5, { { 1, { 0x00, 0x00, 0x01, 0x00 } } }),
        in(0xF3, 263, { { 7, headerPart(0, 64) } }),
        out(0xF2, 5, { { 1, { 0x40, 0x00, 0x01, 0x00 } } }),
        in(0xF3, 263, { { 7, headerPart(64, 64) } }),
        out(0xF2, 5, { { 1, { 0x80, 0x00, 0x01, 0x00 } } }),
        in(0xF3, 263, { { 7, headerPart(128, 57) } }),
    });
}
