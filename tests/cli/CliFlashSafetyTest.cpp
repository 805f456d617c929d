// Flash safety through the command line tool: one scenario file per case (a device and its
// faults), one image per case, `tovrak-cli upgrade --all --yes`, and then the emulated flash
// itself is looked at. Images and devices that would leave a device worse off are refused before
// any erase or write; a failed upgrade leaves no valid new header; no command reaches a busy
// device.
#include "CliTestSupport.h"
#include "FirmwareFileManager.h"
#include "emulator/EmulatorBackend.h"
#include "emulator/EmulatorScenario.h"
#include "emulator/EmulatedWire.h"

#include <gtest/gtest.h>

using namespace cli_testing;
using testing_support::ImageSpec;
using testing_support::patternBytes;

namespace
{
constexpr uint32_t kBase = 0x10000;
constexpr uint32_t kArea = 0x40000;

enum Expect
{
    Untouched,        // no erase and no write reached the device; it keeps its installed header
    NoValidNewHeader, // the upgrade failed; neither header place holds the new header
    VerifiedExactly   // verified, and the flash holds exactly the image
};

struct Case
{
    const char* scenario;
    std::vector<testing_support::SectionSpec> sections;
    uint16_t compatibilityCode;
    Expect expect;
};

class CliFlashSafety : public CliTest
{
};
} // namespace

TEST_F(CliFlashSafety, EveryCaseEndsWithASafeFlash)
{
    const std::vector<Case> cases {
        { "stored-wrong", { { "App", kArea, patternBytes(600, 3) } }, 0, NoValidNewHeader },
        { "address-wrap", { { "App", 0xFFFFFF00u, patternBytes(512, 4) } }, 0, Untouched },
        { "overlapping-sections", { { "A", kArea, patternBytes(512, 5) }, { "B", kArea + 256, patternBytes(512, 6) } }, 0, Untouched },
        { "section-over-clear", { { "Factory.CLR.1", kArea, patternBytes(256) }, { "App", kArea + 128, patternBytes(64, 7) } }, 0, Untouched },
        { "section-over-header", { { "App", kBase + 64, patternBytes(64, 8) } }, 0, Untouched },
        { "safe-over-installed-header", { { "App", kBase, patternBytes(64, 9) } }, 7, Untouched },
        { "busy-poll-fails", { { "App", kArea, patternBytes(600, 10) } }, 0, VerifiedExactly },
        { "erase-unit-zero", { { "App", kArea, patternBytes(64, 11) } }, 0, Untouched },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.scenario);
        std::string error;
        ASSERT_TRUE(loadEmulatorScenario(juce::File(CLI_SCENARIO_DIR "/flash-safety").getChildFile(juce::String(c.scenario) + ".json"),
                                         *m_bus, error))
            << error;
        const auto emu = m_bus->devices().back();
        const auto installed = emu->readFlash(kBase, 157);

        ImageSpec spec;
        spec.version = 0x00010003; // 1.3: newer than the running 1.2
        spec.compatibilityCode = c.compatibilityCode;
        spec.sections = c.sections;
        const FirmwareImage image = testing_support::makeImage(spec);
        g_firmwareFileMgr.clearImages();
        m_folder->file("tovrak_5.ksf").deleteFile();
        testing_support::writeImageFile(m_folder->file("tovrak_5.ksf"), image);

        const CliResult r = run({ "upgrade", "--all", "--yes" });
        SCOPED_TRACE(r.out + r.err);
        const uint16_t hs = image.header.headerSize();
        const std::vector<uint8_t> newHeader(image.header.data(), image.header.data() + hs);
        const bool newHeaderAtBase = emu->readFlash(kBase, hs) == newHeader;
        const bool newHeaderAbove = emu->readFlash(kBase + 4096, hs) == newHeader;
        switch (c.expect)
        {
        case Untouched:
            EXPECT_NE(r.exitCode, CliExit::Ok);
            EXPECT_EQ(emu->exchangeCount(emulated_wire::kIdErase, ReportDirection::Output), 0u);
            EXPECT_EQ(emu->exchangeCount(emulated_wire::kIdData, ReportDirection::Output), 0u);
            EXPECT_EQ(emu->readFlash(kBase, 157), installed);
            EXPECT_EQ(emu->readFlash(0, 256), std::vector<uint8_t>(256, 0xFF)) << "flash address 0 is untouched";
            break;
        case NoValidNewHeader:
            EXPECT_EQ(r.exitCode, CliExit::SomeFailed);
            EXPECT_FALSE(newHeaderAtBase);
            EXPECT_FALSE(newHeaderAbove);
            break;
        case VerifiedExactly:
            EXPECT_EQ(r.exitCode, CliExit::Ok);
            EXPECT_TRUE(newHeaderAtBase || newHeaderAbove);
            for (size_t i = 0; i < c.sections.size(); ++i)
                EXPECT_EQ(emu->readFlash(c.sections[i].address, c.sections[i].data.size()), c.sections[i].data);
            break;
        }
        for (const auto& v : emu->violations())
            EXPECT_NE(v.kind, ProtocolViolation::CommandWhileBusy) << "a command reached the busy device at 0x" << std::hex << v.address;
        emu->unplug(); // the next case has a device of its own
    }
}
