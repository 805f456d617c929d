// The flash procedure against the emulated device: which commands it sends, where, in which
// pieces, how it retries, what it logs and what it leaves in flash.
#include "UpgradeTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

using namespace upgrade_testing;
using testing_support::ImageSpec;
using testing_support::makeImage;
using testing_support::patternBytes;
using device_testing::LogCapture;

namespace
{
constexpr const char* kUpgrade = "CTovrakDevice::Upgrade";

FirmwareImage imageOf(std::vector<testing_support::SectionSpec> sections)
{
    ImageSpec spec;
    spec.sections = std::move(sections);
    return makeImage(spec);
}

// The message followed by the device suffix.
std::string S(const std::string& message, const std::string& serial = "TVK1")
{
    return message + " device " + serial;
}

// A header dump written independently of the code under test.
std::string dump(const std::vector<uint8_t>& bytes)
{
    std::string out;
    char piece[8];
    for (uint8_t b : bytes)
    {
        std::snprintf(piece, sizeof piece, "%x,", b);
        out += piece;
    }
    return out;
}

class UpgradeProcedure : public UpgradeTest
{
};
} // namespace

TEST_F(UpgradeProcedure, SectionNamesDecideWhatIsTouched)
{
    // Only the header is handled when every section is an "Upgrade." one, "Upgrade.CLR" included.
    {
        auto t = attach("TVK1");
        const auto image = imageOf({ { "Upgrade.Boot", kSectionArea, patternBytes(300) },
                                     { "Upgrade.CLR", kSectionArea + 0x1000, patternBytes(100) } });
        const uint32_t hs = image.header.headerSize();
        const auto out = upgrade(t, image);
        ASSERT_TRUE(out.ok);
        EXPECT_EQ(out.status, RESULT_VERIFIED);
        EXPECT_EQ(out.progress, 100); // total is headerSize alone
        EXPECT_EQ(erases(*t.emu), (std::vector<Command> { { kBase, hs } }));
        EXPECT_EQ(writes(*t.emu), (std::vector<Command> { { kBase, hs } }));
        for (uint32_t a : readAddresses(*t.emu))
            EXPECT_TRUE(a >= kBase && a < kBase + hs) << a;
        EXPECT_EQ(t.emu->readFlash(kSectionArea + 0x1000, 100), std::vector<uint8_t>(100, 0xFF));
    }
    // "Factory.CLR.1" and a name holding "Upgrade.CLR" later on are clear sections: erased and
    // checked blank, never written. Names are compared with their letter case.
    {
        auto t = attach("TVK2");
        const auto image = imageOf({ { "Factory.CLR.1", kSectionArea, patternBytes(300) },
                                     { "X.Upgrade.CLR", kSectionArea + 0x1000, patternBytes(64) },
                                     { "upgrade.app", kSectionArea + 0x2000, patternBytes(100) } });
        const uint32_t hs = image.header.headerSize();
        ASSERT_TRUE(upgrade(t, image).ok);
        EXPECT_EQ(erases(*t.emu), (std::vector<Command> { { kBase, hs },
                                                          { kSectionArea, 300 },
                                                          { kSectionArea + 0x1000, 64 },
                                                          { kSectionArea + 0x2000, 100 } }));
        EXPECT_EQ(writes(*t.emu), (std::vector<Command> { { kSectionArea + 0x2000, 100 }, { kBase, hs } }));
        EXPECT_TRUE(flashHolds(*t.emu, image, kBase));
    }
}

TEST_F(UpgradeProcedure, PieceSizesOfEraseWriteAndReadBack)
{
    {
        auto t = attach("TVK1");
        const auto image = imageOf({ { "App", kSectionArea, patternBytes(300) } });
        const uint32_t hs = image.header.headerSize(); // 185: read as 64, 64, 57
        ASSERT_TRUE(upgrade(t, image).ok);
        EXPECT_EQ(erases(*t.emu), (std::vector<Command> { { kBase, hs }, { kSectionArea, 300 } }));
        EXPECT_EQ(writes(*t.emu), (std::vector<Command> { { kSectionArea, 256 }, { kSectionArea + 256, 44 }, { kBase, hs } }));
        // The section is read back before the header is written, the header last.
        const std::vector<uint32_t> expectedReads { kSectionArea, kSectionArea + 64, kSectionArea + 128,
                                                    kSectionArea + 192, kSectionArea + 256,
                                                    kBase, kBase + 64, kBase + 128 };
        EXPECT_EQ(readAddresses(*t.emu), expectedReads);
    }
    {
        auto t = attach("TVK2");
        const auto image = imageOf({ { "App", kSectionArea, patternBytes(10000) } });
        ASSERT_TRUE(upgrade(t, image).ok);
        const auto e = erases(*t.emu);
        ASSERT_EQ(e.size(), 4u);
        EXPECT_EQ(e[1], (Command { kSectionArea, 4096 }));
        EXPECT_EQ(e[2], (Command { kSectionArea + 4096, 4096 }));
        EXPECT_EQ(e[3], (Command { kSectionArea + 8192, 1808 }));
        EXPECT_EQ(writes(*t.emu).size(), 40u + 1u); // 39 x 256 + 16, then the header
        EXPECT_TRUE(flashHolds(*t.emu, image, kBase));
    }
}

TEST_F(UpgradeProcedure, SafeUpgradeMovesOnlyTheHeaderOperations)
{
    const auto image = imageOf({ { "App", kSectionArea, patternBytes(300) },
                                 { "Factory.CLR.2", kSectionArea + 0x1000, patternBytes(70) } });
    const uint32_t hs = image.header.headerSize();
    auto atBase = attach("TVK1");
    auto above = attach("TVK2");
    ASSERT_TRUE(upgrade(atBase, image, true).ok);
    ASSERT_TRUE(upgrade(above, image, false).ok);

    auto moved = [&](std::vector<Command> commands) {
        for (auto& c : commands)
            if (c.address == kBase)
                c.address += 4096;
        return commands;
    };
    EXPECT_EQ(erases(*above.emu), moved(erases(*atBase.emu)));
    EXPECT_EQ(erases(*above.emu).front(), (Command { kBase + 4096, hs }));
    EXPECT_EQ(writes(*above.emu), moved(writes(*atBase.emu)));
    EXPECT_EQ(writes(*above.emu).back(), (Command { kBase + 4096, hs }));
    auto readsAbove = readAddresses(*above.emu);
    auto readsAtBase = readAddresses(*atBase.emu);
    for (auto& a : readsAtBase)
        if (a >= kBase && a < kBase + 4096)
            a += 4096;
    EXPECT_EQ(readsAbove, readsAtBase);
    EXPECT_TRUE(flashHolds(*above.emu, image, kBase + 4096));
    // The installed header at the base stays as it was.
    EXPECT_EQ(above.emu->readFlash(kBase, FirmwareHeader::kFixedSize), above.emu->config().installedHeader);
}

TEST_F(UpgradeProcedure, SuccessLeavesExactlyTheImageAndLogsEveryStep)
{
    LogCapture log;
    auto t = attach("TVK1", [](EmulatedDeviceConfig& c) {
        c.busyPolls = 2; // every erase and write keeps the device busy for two polls
        setEraseUnit(c, 256);
    });
    const auto image = imageOf({ { "App", kSectionArea, patternBytes(700, 3) },
                                 { "Factory.CLR.1", kSectionArea + 0x1000, patternBytes(300) },
                                 { "Upgrade.Cfg", kSectionArea + 0x2000, patternBytes(50) } });
    const uint32_t hs = image.header.headerSize();

    const auto out = upgrade(t, image);
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(out.status, RESULT_VERIFIED);
    EXPECT_TRUE(flashHolds(*t.emu, image, kBase));
    EXPECT_TRUE(t.emu->violations().empty()); // no write into unerased bytes, no command while busy
    EXPECT_EQ(writes(*t.emu).back(), (Command { kBase, hs })); // the header is written last
    // Progress ends at (written + header) / (header + ordinary + clear): below 100 with a clear section.
    EXPECT_EQ(out.progress, static_cast<int32_t>((700 + hs) * 100 / (hs + 700 + 300)));

    const std::vector<std::pair<std::string, std::string>> expected {
        { "INFOR", S("total retry count = 3") },
        { "INFOR", "now retry count = 1" },
        { "INFOR", S("begin erase firmware data. ") },
        { "INFOR", S("erase firmware data [header] finished.") },
        { "INFOR", "produce CLR section begin." },
        { "INFOR", S("produce CLR section end.") },
        { "INFOR", S("erase firmware data end.") },
        { "INFOR", S("write firmware data begin.") },
        { "INFOR", S("write firmware data end.") },
        { "INFOR", S("verify firmware data begin.") },
        { "INFOR", S("verify firmware data end. ") },
    };
    for (const auto& [level, message] : expected)
        EXPECT_EQ(log.count(level, kUpgrade, message), 1u) << message;
    for (const auto& line : log.lines())
        EXPECT_EQ(line.find("ERROR CTovrakDevice::Upgrade"), std::string::npos) << line;
}

TEST_F(UpgradeProcedure, ProgressClimbsPerPhaseOverTheSectionsThatCount)
{
    auto t = attach("TVK1", [](EmulatedDeviceConfig& c) { setEraseUnit(c, 100); });
    const auto image = imageOf({ { "App", kSectionArea, patternBytes(512) },
                                 { "Factory.CLR.1", kSectionArea + 0x1000, patternBytes(300) },
                                 { "Upgrade.Big", kSectionArea + 0x2000, patternBytes(4000) } });
    const uint32_t hs = image.header.headerSize();
    const uint32_t total = hs + 512 + 300; // "Upgrade." sections take no part

    std::atomic<int32_t> status { RESULT_READY };
    std::atomic<int32_t> progress { 0 };
    std::map<int32_t, std::vector<int32_t>> seen; // progress at each exchange, per status
    t.emu->setExchangeObserver([&](const ExchangeRecord&) { seen[status.load()].push_back(progress.load()); });
    ASSERT_TRUE(t.device->Upgrade(image.header, image.sections, status, progress, true));
    t.emu->setExchangeObserver({});

    const auto& erasing = seen[RESULT_ERASING];
    const auto& writing = seen[RESULT_WRITING];
    const auto& verifying = seen[RESULT_VERIFYING];
    EXPECT_TRUE(std::is_sorted(erasing.begin(), erasing.end()));
    EXPECT_EQ(erasing.back(), 100); // during the blank check every erase is counted
    EXPECT_EQ(writing.front(), 0);
    EXPECT_TRUE(std::is_sorted(writing.begin(), writing.end()));
    EXPECT_EQ(writing.back(), static_cast<int32_t>(256 * 100 / total)); // the last piece's busy poll
    // Verifying starts at its own 0: the sections are read back first (two pieces of 256 bytes,
    // 8 exchanges each), then the header is written and read back.
    EXPECT_TRUE(std::is_sorted(verifying.begin(), verifying.end()));
    EXPECT_EQ(verifying.front(), 0);
    ASSERT_GT(verifying.size(), 8u);
    EXPECT_EQ(verifying[8], static_cast<int32_t>(256 * 100 / total));
    EXPECT_EQ(verifying.back(), static_cast<int32_t>(512 * 100 / total)); // header write and read-back
    EXPECT_EQ(progress.load(), static_cast<int32_t>((hs + 512) * 100 / total));
}

TEST_F(UpgradeProcedure, NonBlankClearSectionEndsTheAttemptAndTheNextStartsWithTheHeader)
{
    LogCapture log;
    const auto image = imageOf({ { "Factory.CLR.1", kSectionArea, patternBytes(300) },
                                 { "App", kSectionArea + 0x1000, patternBytes(100) } });
    const uint32_t hs = image.header.headerSize();

    // One stubborn byte that a second erase clears.
    auto t = attach("TVK1", [](EmulatedDeviceConfig& c) {
        c.nonBlankAddress = kSectionArea + 290;
        c.nonBlankLength = 1;
    });
    t.emu->setExchangeObserver([&](const ExchangeRecord& r) {
        if (r.reportId == KSCAP_HID_FIRMWARE_DATA && r.direction == ReportDirection::Input)
            t.emu->configure([](EmulatedDeviceConfig& c) { c.nonBlankLength = 0; });
    });
    const auto out = upgrade(t, image);
    t.emu->setExchangeObserver({});
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(erases(*t.emu), (std::vector<Command> { { kBase, hs }, { kSectionArea, 300 },
                                                      { kBase, hs }, { kSectionArea, 300 }, { kSectionArea + 0x1000, 100 } }));
    EXPECT_EQ(log.count("ERROR", kUpgrade, S("ReadFirmwareData Failed.1")), 1u);
    EXPECT_EQ(log.count("INFOR", kUpgrade, "now retry count = 2"), 1u);
    EXPECT_TRUE(flashHolds(*t.emu, image, kBase));

    // A byte that never clears fails all three attempts; nothing is written.
    auto stuck = attach("TVK2", [](EmulatedDeviceConfig& c) {
        c.nonBlankAddress = kSectionArea;
        c.nonBlankLength = 1;
    });
    const auto failed = upgrade(stuck, image);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.status, RESULT_ERASE_ERROR);
    EXPECT_EQ(erases(*stuck.emu).size(), 6u);
    EXPECT_TRUE(writes(*stuck.emu).empty());

    // A blank-check read that fails is logged with 0.
    auto unreadable = attach("TVK3");
    failReport(unreadable, { KSCAP_HID_FIRMWARE_DATA, ReportDirection::Input, 1, 0 });
    EXPECT_EQ(upgrade(unreadable, image).status, RESULT_ERASE_ERROR);
    EXPECT_EQ(log.count("ERROR", kUpgrade, S("ReadFirmwareData Failed.0", "TVK3")), 3u);
}

TEST_F(UpgradeProcedure, FailingEraseOrWriteIsTriedThreeTimes)
{
    LogCapture log;
    const auto image = imageOf({ { "App", kSectionArea, patternBytes(600) } });
    const uint32_t hs = image.header.headerSize();

    // Every data write fails.
    auto t = attach("TVK1");
    failReport(t, { KSCAP_HID_FIRMWARE_DATA, ReportDirection::Output, 1, 0 });
    const auto out = upgrade(t, image);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.status, RESULT_WRITE_ERROR);
    const auto e = erases(*t.emu);
    EXPECT_EQ(std::count(e.begin(), e.end(), Command { kBase, hs }), 3);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(log.count("INFOR", kUpgrade, "now retry count = " + std::to_string(n)), 1u);
    EXPECT_EQ(log.count("INFOR", kUpgrade, "now retry count = 4"), 0u);
    EXPECT_EQ(log.count("ERROR", kUpgrade, S("WriteFirmwareData -- section")), 3u);
    EXPECT_FALSE(headerIsWritten(*t.emu, image, kBase));

    // Only the header write fails: the sections are written every time, the header never.
    auto h = attach("TVK2");
    for (uint64_t nth : { 4, 8, 12 }) // 256 + 256 + 88, then the header
        failReport(h, { KSCAP_HID_FIRMWARE_DATA, ReportDirection::Output, nth, 1 });
    // Each retry's "Erasing" starts from 0, not from the percent of the phase that failed.
    std::atomic<int32_t> status { RESULT_READY };
    std::atomic<int32_t> progress { 0 };
    std::vector<int32_t> atErasingStart;
    int32_t last = RESULT_READY;
    h.emu->setExchangeObserver([&](const ExchangeRecord&) {
        if (status == RESULT_ERASING && last != RESULT_ERASING)
            atErasingStart.push_back(progress);
        last = status;
    });
    EXPECT_FALSE(h.device->Upgrade(image.header, image.sections, status, progress, true));
    EXPECT_EQ(status.load(), RESULT_WRITE_ERROR);
    EXPECT_EQ(atErasingStart, (std::vector<int32_t> { 0, 0, 0 }));
    EXPECT_EQ(log.count("ERROR", kUpgrade, S("write -- WriteFirmwareData -- header", "TVK2")), 3u);

    // Erase failures: the header erase, then a section erase.
    auto he = attach("TVK3");
    failReport(he, { KSCAP_HID_FIRMWARE_ERASE, ReportDirection::Output, 1, 0 });
    EXPECT_EQ(upgrade(he, image).status, RESULT_ERASE_ERROR);
    EXPECT_EQ(log.count("ERROR", kUpgrade, S("erase firmware data [header] failed.", "TVK3")), 3u);
    auto se = attach("TVK4");
    failReport(se, { KSCAP_HID_FIRMWARE_ERASE, ReportDirection::Output, 2, 1 });
    EXPECT_TRUE(upgrade(se, image).ok); // the second attempt succeeds
    EXPECT_EQ(log.count("ERROR", kUpgrade, S("SetFirmwareErase Failed -- section.", "TVK4")), 1u);
    EXPECT_EQ(log.count("ERROR", kUpgrade, S("RESULT_ERASE_ERROR", "TVK4")), 1u);

    // A device that stays busy: every wait gives up, the procedure ends instead of hanging.
    auto busy = attach("TVK5", [](EmulatedDeviceConfig& c) { c.stuckBusy = true; });
    busy.device->SetWipTimeLimit(std::chrono::milliseconds(20));
    const auto stuck = upgrade(busy, image);
    EXPECT_EQ(stuck.status, RESULT_ERASE_ERROR);
    EXPECT_EQ(busy.emu->totalExchanges(), busy.emu->exchangeCount(KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input))
        << "nothing but busy polls goes to a device that never becomes idle";
    EXPECT_EQ(violationsOf(*busy.emu, ProtocolViolation::CommandWhileBusy), 0u);
}

TEST_F(UpgradeProcedure, VerificationFailsOnceWithoutRetry)
{
    LogCapture log;
    const auto image = imageOf({ { "App", kSectionArea, patternBytes(300) } });
    const uint32_t hs = image.header.headerSize();

    // The header reads back with byte 5 inverted.
    auto t = attach("TVK1", [](EmulatedDeviceConfig& c) {
        c.corruptRead = true;
        c.corruptReadAddress = kBase + 5;
    });
    const auto out = upgrade(t, image);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.status, RESULT_VERIFY_ERROR);
    // One attempt, no retry; the new header that failed its check is erased again.
    EXPECT_EQ(erases(*t.emu), (std::vector<Command> { { kBase, hs }, { kSectionArea, 300 }, { kBase, hs } }));
    EXPECT_FALSE(headerIsWritten(*t.emu, image, kBase));
    std::vector<uint8_t> header(image.header.data(), image.header.data() + hs);
    std::vector<uint8_t> readBack = header;
    readBack[5] ^= 0xFF;
    EXPECT_EQ(log.count("ERROR", kUpgrade, S("memory compare failed(not equal).")), 1u);
    EXPECT_EQ(log.count("ERROR", kUpgrade, "by read data is :" + dump(readBack)), 1u);
    EXPECT_EQ(log.count("ERROR", kUpgrade, "pHeader data is :" + dump(header)), 1u);
    EXPECT_EQ(dump({ 0x4B, 0x00, 0xC8 }), "4b,0,c8,");

    // A section byte that reads back wrong, and a section read that fails.
    auto s = attach("TVK2", [](EmulatedDeviceConfig& c) {
        c.corruptRead = true;
        c.corruptReadAddress = kSectionArea + 299;
    });
    EXPECT_EQ(upgrade(s, image).status, RESULT_VERIFY_ERROR);
    EXPECT_EQ(log.count("ERROR", kUpgrade, S("verify -- ReadFirmwareData -- section1", "TVK2")), 1u);
    auto f = attach("TVK3");
    failReport(f, { KSCAP_HID_FIRMWARE_DATA, ReportDirection::Input, 4, 1 }); // a section read
    EXPECT_EQ(upgrade(f, image).status, RESULT_VERIFY_ERROR);
    EXPECT_EQ(log.count("ERROR", kUpgrade, S("verify -- ReadFirmwareData -- section0", "TVK3")), 1u);
    EXPECT_EQ(erases(*f.emu).size(), 2u); // sections are read back before the header is written
    EXPECT_FALSE(headerIsWritten(*f.emu, image, kBase));

    // A header read-back that fails is a failure even when what was read before the failure,
    // padded with the zeroed buffer, equals the header: an image without sections has zeros
    // in its last 29 header bytes, which the third read piece would have delivered.
    auto z = attach("TVK4");
    failReport(z, { KSCAP_HID_FIRMWARE_DATA, ReportDirection::Input, 3, 1 });
    const auto empty = imageOf({});
    const auto zeroTail = upgrade(z, empty);
    EXPECT_FALSE(zeroTail.ok);
    EXPECT_EQ(zeroTail.status, RESULT_VERIFY_ERROR);
    EXPECT_EQ(log.count("ERROR", kUpgrade, S("ReadFirmwareData failed.", "TVK4")), 1u);
}

TEST_F(UpgradeProcedure, ImagesThatCannotBeWrittenAreRefusedBeforeAnyTraffic)
{
    // Every case leaves the device untouched: no exchange at all, the error status, one log line.
    struct Case
    {
        const char* what;
        std::vector<testing_support::SectionSpec> sections;
        bool headerAtBase;
        uint32_t eraseUnit;
        const char* reason; // the logged reason
    };
    const std::vector<Case> cases {
        { "four sections: a 269-byte header does not fit one write",
          { { "A", kSectionArea, patternBytes(10) }, { "B", kSectionArea + 0x1000, patternBytes(10) },
            { "C", kSectionArea + 0x2000, patternBytes(10) }, { "D", kSectionArea + 0x3000, patternBytes(10) } },
          true, 4096, "headerSize 269 exceeds the 256 bytes that one header write and read-back can hold" },
        { "a section that wraps past 2^32 to address 0",
          { { "App", 0xFFFFFF00u, patternBytes(512) } }, true, 4096, "section 0 \"App\" (0xffffff00 + 0x200) passes the end of the 32-bit address space" },
        { "two ordinary sections that overlap",
          { { "A", kSectionArea, patternBytes(0x200) }, { "B", kSectionArea + 0x1FF, patternBytes(16) } }, true, 4096,
          "section 1 \"B\" (0x401ff + 0x10) overlaps section 0 \"A\" (0x40000 + 0x200)" },
        { "an ordinary section over a clear section",
          { { "Factory.CLR.1", kSectionArea, patternBytes(64) }, { "App", kSectionArea + 63, patternBytes(16) } }, true,
          4096, "section 1 \"App\" (0x4003f + 0x10) overlaps section 0 \"Factory.CLR.1\" (0x40000 + 0x40)" },
        { "a section over the header block at the base",
          { { "App", kBase + 100, patternBytes(16) } }, true, 4096, "section 0 \"App\" (0x10064 + 0x10) overlaps the new header block (0x10000 + 0xb9)" },
        { "safe upgrade: a section over the installed header at the base",
          { { "App", kBase, patternBytes(16) } }, false, 4096, "section 0 \"App\" (0x10000 + 0x10) overlaps the installed header block (0x10000 + 0x9d)" },
        { "safe upgrade: a section over the new header above the base",
          { { "App", kBase + 4096 + 180, patternBytes(16) } }, false, 4096, "section 0 \"App\" (0x110b4 + 0x10) overlaps the new header block (0x11000 + 0xb9)" },
        { "a device with an erase unit of 0",
          { { "App", kSectionArea, patternBytes(5) } }, true, 0, "the device reports an erase unit of 0 bytes" },
    };
    int n = 0;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        LogCapture log;
        const std::string serial = "R" + std::to_string(++n);
        auto t = attach(serial, [&](EmulatedDeviceConfig& config) { setEraseUnit(config, c.eraseUnit); });
        const auto out = upgrade(t, imageOf(c.sections), c.headerAtBase);
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(out.status, RESULT_WRITE_ERROR);
        EXPECT_EQ(t.emu->totalExchanges(), 0u);
        EXPECT_EQ(log.count("ERROR", kUpgrade, S(std::string("image refused, the device is not touched: ") + c.reason, serial)),
                  1u);
    }

    // Section data that does not match the table.
    auto t = attach("TVK1");
    auto bad = imageOf({ { "A", kSectionArea, patternBytes(10) } });
    bad.sections[0].resize(5);
    EXPECT_EQ(upgrade(t, bad).status, RESULT_WRITE_ERROR);
    EXPECT_EQ(t.emu->totalExchanges(), 0u);

    // Touching ranges are fine: a section right after the header block, two sections end to end.
    auto ok = attach("TVK2");
    const auto adjacent = imageOf({ { "App", kBase + 213, patternBytes(16) }, { "Next", kBase + 229, patternBytes(16) } });
    EXPECT_TRUE(upgrade(ok, adjacent).ok);
    EXPECT_TRUE(flashHolds(*ok.emu, adjacent, kBase));
}

TEST_F(UpgradeProcedure, AFailedUpgradeLeavesNoValidNewHeader)
{
    // One 300-byte section: per attempt the busy flag is polled once before the attempt, then
    // after the header erase, the section erase, the two section writes and the header write.
    const auto image = imageOf({ { "App", kSectionArea, patternBytes(300) } });
    struct Case
    {
        const char* what;
        std::function<void(Target&)> inject;
        int32_t status;
    };
    const std::vector<Case> cases {
        { "a section byte is acknowledged but stored wrong",
          [](Target& t) { t.emu->configure([](EmulatedDeviceConfig& c) { c.storeWrong = true, c.storeWrongAddress = kSectionArea + 260; }); },
          RESULT_VERIFY_ERROR },
        { "the busy poll after every header write fails (the header did reach the flash)",
          [](Target& t) {
              for (uint64_t nth : { 6, 12, 18 })
                  failReport(t, { KSCAP_HID_FIRMWARE_WIP, ReportDirection::Input, nth, 1 });
          },
          RESULT_WRITE_ERROR },
    };
    int n = 0;
    for (const Case& c : cases)
        for (const bool atBase : { true, false })
        {
            SCOPED_TRACE(std::string(c.what) + (atBase ? ", header at the base" : ", safe upgrade"));
            auto t = attach("H" + std::to_string(++n), [](EmulatedDeviceConfig& config) { setInstalledCompatibility(config, 7); });
            c.inject(t);
            const auto out = upgrade(t, image, atBase);
            EXPECT_FALSE(out.ok);
            EXPECT_EQ(out.status, c.status);
            EXPECT_FALSE(headerIsWritten(*t.emu, image, kBase));
            EXPECT_FALSE(headerIsWritten(*t.emu, image, kBase + 4096));
            EXPECT_EQ(violationsOf(*t.emu, ProtocolViolation::CommandWhileBusy), 0u);
        }
}
