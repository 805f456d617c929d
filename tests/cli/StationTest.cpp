// station: the bench scenario (devices plugged in and out over time) run in-process against the
// emulator, the record file, and the hash that names each flashed file.
#include "CliOptions.h"
#include "CliTestSupport.h"
#include "FirmwareImage.h"
#include "Sha256.h"
#include "emulator/EmulatorScenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <thread>

using namespace cli_testing;

namespace
{
bool waitFor(const std::function<bool()>& condition, int milliseconds)
{
    for (int waited = 0; waited < milliseconds; waited += 20)
    {
        if (condition())
            return true;
        juce::Thread::sleep(20);
    }
    return condition();
}

class Station : public CliTest
{
protected:
    void SetUp() override
    {
        CliTest::SetUp();
        copyDemoFirmware(m_folder->get());
    }

    CliResult runStation(const std::vector<std::string>& args, const std::atomic<int>& interrupts)
    {
        return run(args, {}, false, nullptr, &interrupts);
    }

    std::vector<std::string> recordLines() const
    {
        return linesOf(m_folder->file("TovrakStation.jsonl").loadFileAsString().toStdString());
    }

    FirmwareImage imageFile(const char* name) const
    {
        juce::FileInputStream stream(m_folder->file(name));
        FirmwareImage image;
        EXPECT_TRUE(readFirmwareImage(stream, image)) << name;
        return image;
    }

    std::string sha256Of(const char* name) const
    {
        const std::vector<uint8_t> bytes = testing_support::readBytes(m_folder->file(name));
        return Sha256::hex(bytes.data(), bytes.size());
    }
};
} // namespace

TEST(StationOptions, WhatTheStationTakes)
{
    CliOptions o;
    std::string error;
    ASSERT_TRUE(parseCliOptions({ "station", "--allow-downgrade", "--record", "line.jsonl", "--json", "--folder", "/tmp" }, o, error));
    EXPECT_EQ(o.command, CliOptions::Command::Station);
    EXPECT_TRUE(o.allowDowngrade && o.json);
    EXPECT_EQ(o.recordFile, "line.jsonl");
    EXPECT_EQ(o.folder, "/tmp");
    for (const std::vector<std::string>& refused : { std::vector<std::string> { "station", "--record" },
                                                     { "station", "--record", "" }, { "station", "--all" },
                                                     { "station", "--seconds", "3" }, { "upgrade", "--all", "--record", "x" } })
        EXPECT_FALSE(parseCliOptions(refused, o, error)) << refused.back();
}

TEST(StationSha256, KnownVectorsInAnyPieces)
{
    // FIPS 180-2 examples and the empty message.
    const struct
    {
        std::string message;
        size_t repeat;
        const char* digest;
    } cases[] = {
        { "", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855" },
        { "abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad" },
        { "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
          "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1" },
        { "a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0" },
    };
    for (const auto& c : cases)
    {
        std::string text;
        for (size_t i = 0; i < c.repeat; ++i)
            text += c.message;
        const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
        EXPECT_EQ(Sha256::hex(bytes, text.size()), c.digest) << c.message.substr(0, 8);

        // Fed in uneven pieces that straddle the 64-byte blocks.
        Sha256 pieces;
        for (size_t at = 0, step = 1; at < text.size(); at += step, step = step % 97 + 13)
            pieces.update(bytes + at, std::min(step, text.size() - at));
        std::string hex;
        for (const uint8_t byte : pieces.finish())
            hex += juce::String::toHexString(static_cast<int>(byte)).paddedLeft('0', 2).toStdString();
        EXPECT_EQ(hex, c.digest) << c.message.substr(0, 8) << " in pieces";
    }
}

TEST_F(Station, DevicesPluggedInOneAfterAnother)
{
    // The bench scenario, a third as slow and without exchange latency.
    std::string error;
    ASSERT_TRUE(loadEmulatorScenario(juce::File(TOVRAK_SOURCE_DIR "/resources/scenarios/station.json"), *m_bus, error))
        << error;
    for (const auto& device : m_bus->devices())
        device->configure([](EmulatedDeviceConfig& c) {
            c.latency = std::chrono::microseconds(0);
            c.appearAt /= 3;
            if (c.replugAt.count() >= 0)
                c.replugAt /= 3;
        });
    // A record whose last line a power cut left unfinished.
    m_folder->file("TovrakStation.jsonl").replaceWithText("{\"serialNumber\": \"CUT");

    std::atomic<int> interrupts { 0 };
    CliResult result;
    std::thread station([&] { result = runStation({ "station", "--json" }, interrupts); });
    const bool allRecorded = waitFor([&] { return recordLines().size() >= 7; }, 60000);
    juce::Thread::sleep(300); // a device done and still attached is not upgraded again
    interrupts = 1;
    station.join();
    ASSERT_TRUE(allRecorded) << result.out << result.err;

    EXPECT_EQ(result.exitCode, CliExit::SomeFailed) << "one device failed, one was lost";
    std::map<std::string, int> starts;
    juce::var last;
    for (const std::string& line : linesOf(result.out))
    {
        last = parseJson(line);
        ASSERT_TRUE(last.isObject()) << line;
        if (last["event"].toString() == "started")
            ++starts[last["serialNumber"].toString().toStdString()];
    }
    EXPECT_EQ(last["event"].toString(), "stopped");
    EXPECT_EQ(static_cast<int>(last["exitCode"]), 1);
    EXPECT_EQ(static_cast<int>(last["totals"]["done"]), 3);
    EXPECT_EQ(static_cast<int>(last["totals"]["failed"]), 2);
    EXPECT_EQ(static_cast<int>(last["totals"]["alreadyCurrent"]), 1);
    // Once per plug-in: the Studio twice (lost, then back), the up-to-date device never.
    EXPECT_EQ(starts, (std::map<std::string, int> {
                          { "TVK533B000101", 1 }, { "TVK533B000103", 1 }, { "TVK534A000104", 2 }, { "TVK533B000105", 1 } }));

    auto lines = recordLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "{\"serialNumber\": \"CUT") << "the cut line is ended, not continued";
    // Upgrades overlap: by serial number, each device's plug-ins in their order.
    std::stable_sort(lines.begin() + 1, lines.end(), [](const std::string& a, const std::string& b) {
        return parseJson(a)["serialNumber"].toString() < parseJson(b)["serialNumber"].toString();
    });
    struct Expected
    {
        const char* serial;
        const char* result;
        const char* statusText;
        int attempts;
        const char* file;
        const char* installed;
        const char* image;
    };
    const Expected expected[] = {
        { "TVK412A000102", "alreadyCurrent", "Can be downgraded", 0, "tovrak_412_1500.ksf", "2.1.1500", "2.1.1500" },
        { "TVK533B000101", "verified", "Unplug and replug required", 1, "tovrak_533_40.ksf", "1.2.30", "1.3.40" },
        { "TVK533B000103", "failed", "Error in writing", 3, "tovrak_533_40.ksf", "1.2.30", "1.3.40" },
        { "TVK533B000105", "verified", "Unplug and replug required", 1, "tovrak_533_40.ksf", "1.2.30", "1.3.40" },
        { "TVK534A000104", "lost", "Failed to upgrade, and the device may lost.", 3, "tovrak_534_5.ksf", "1.0.12", "1.1.5" },
        // Back after it was pulled out mid-upgrade: its header was erased, so it comes back in
        // its upgrade mode, running nothing.
        { "TVK534A000104", "verified", "Unplug and replug required", 1, "tovrak_534_5.ksf", "0.0.0", "1.1.5" },
    };
    for (size_t i = 0; i < std::size(expected); ++i)
    {
        const Expected& e = expected[i];
        const juce::var entry = parseJson(lines[i + 1]);
        ASSERT_TRUE(entry.isObject()) << lines[i + 1];
        SCOPED_TRACE(lines[i + 1]);
        EXPECT_EQ(entry["serialNumber"].toString(), e.serial);
        EXPECT_EQ(entry["result"].toString(), e.result);
        EXPECT_TRUE(entry["statusText"].toString().startsWith(e.statusText));
        EXPECT_EQ(static_cast<int>(entry["attempts"]), e.attempts);
        EXPECT_EQ(entry["imageFile"].toString(), e.file);
        EXPECT_EQ(entry["imageSha256"].toString().toStdString(), sha256Of(e.file));
        EXPECT_EQ(entry["installedVersion"].toString(), e.installed);
        EXPECT_EQ(entry["imageVersion"].toString(), e.image);
        EXPECT_EQ(static_cast<int>(entry["productCode"]), juce::String(e.serial).substring(3, 6).getIntValue());
        EXPECT_EQ(entry["revision"].toString(), juce::String(e.serial).substring(6, 7));
        EXPECT_GE(static_cast<int>(entry["durationMs"]), 0);
        EXPECT_GT(juce::Time::fromISO8601(entry["time"].toString()).toMilliseconds(), 0);
    }

    // The final flash: every verified device holds its image's sections; the one whose writes
    // failed and the one left alone got no new header.
    const std::pair<const char*, const char*> verified[] = {
        { "TVK533B000101", "tovrak_533_40.ksf" }, { "TVK533B000105", "tovrak_533_40.ksf" }, { "TVK534A000104", "tovrak_534_5.ksf" }
    };
    for (const auto& [serial, file] : verified)
    {
        const FirmwareImage image = imageFile(file);
        const auto device = m_bus->deviceBySerialNumber(serial);
        ASSERT_NE(device, nullptr);
        for (size_t s = 0; s < image.header.sectionCount(); ++s)
        {
            const FirmwareSectionEntry section = image.header.section(s);
            if (section.kind() != FirmwareSectionEntry::Kind::Ordinary)
                continue;
            EXPECT_EQ(device->readFlash(section.flashAddress, section.length), image.sections[s])
                << serial << " section " << section.name;
        }
    }
    const FirmwareImage hd60 = imageFile("tovrak_533_40.ksf");
    const std::vector<uint8_t> header(hd60.header.data(), hd60.header.data() + hd60.header.headerSize());
    for (const uint32_t at : { 0x10000u, 0x11000u })
        EXPECT_NE(m_bus->deviceBySerialNumber("TVK533B000103")->readFlash(at, header.size()), header);
    EXPECT_EQ(m_bus->deviceBySerialNumber("TVK412A000102")->exchangeCount(0xF1, ReportDirection::Output), 0u);
}

TEST_F(Station, ARecordThatCannotBeWrittenStopsItBeforeAnyDeviceIsTouched)
{
    const auto device = plug("T1");
    firmwareFile(1, 3, 9);
    m_folder->file("folder.jsonl").createDirectory();
    const char* records[] = { "folder.jsonl", "no/such/folder/record.jsonl" };
    for (const char* record : records)
    {
        const std::atomic<int> interrupts { 0 };
        const CliResult r = runStation({ "station", "--record", record }, interrupts);
        EXPECT_EQ(r.exitCode, CliExit::SomeFailed) << record;
        EXPECT_NE(r.err.find("cannot be written"), std::string::npos) << r.err;
        EXPECT_EQ(device->exchangeCount(0xF1, ReportDirection::Output), 0u) << record;
    }
}
