// What the device boots after `tovrak-cli upgrade --all --yes`, run again and again against one
// emulated device whose flash lives on, replugged between runs as a user would. After every run
// both header places are read from the flash dump by a reader of this file's own: a valid header
// at either place must describe sections that the flash holds, and the device must boot the new
// image exactly when the tool said it was verified.
#include "CliTestSupport.h"
#include "FirmwareFileManager.h"
#include "emulator/EmulatorBackend.h"
#include "emulator/EmulatorScenario.h"

#include <gtest/gtest.h>

using namespace cli_testing;
using testing_support::ImageSpec;
using testing_support::patternBytes;

namespace
{
constexpr uint32_t kBase = 0x10000;
constexpr uint32_t kAbove = kBase + 4096;
constexpr uint32_t kFlashSize = 0x100000;

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

// One header place of a dump: magic "KSFH", size 157 + 28 x (byte 156), byte sum of bytes 8 to
// size - 1 stored at offset 4. Its sections hold when each ordinary one sums to its entry's
// checksum and each clear one ("Factory.CLR." or "Upgrade.CLR" in its name) is all 0x00;
// "Upgrade." sections are not looked at.
struct Place
{
    bool valid = false;
    std::vector<uint8_t> header;
    std::string notHolding; // empty when its sections hold
};

Place readPlace(const std::vector<uint8_t>& flash, uint32_t at)
{
    Place place;
    const size_t count = flash[at + 156];
    const size_t size = flash[at + 10] | (flash[at + 11] << 8);
    if (std::string(flash.begin() + at, flash.begin() + at + 4) != "KSFH" || size != 157 + 28 * count)
        return place;
    uint32_t sum = 0;
    for (size_t i = 8; i < size; ++i)
        sum += flash[at + i];
    if (sum != le32(flash, at + 4))
        return place;
    place.valid = true;
    place.header.assign(flash.begin() + at, flash.begin() + at + size);
    for (size_t i = 0; i < count && place.notHolding.empty(); ++i)
    {
        const size_t e = at + 157 + 28 * i;
        const std::string name(reinterpret_cast<const char*>(&flash[e]), strnlen(reinterpret_cast<const char*>(&flash[e]), 16));
        const uint32_t address = le32(flash, e + 16);
        const uint32_t length = le32(flash, e + 20);
        if (name.rfind("Upgrade.", 0) == 0)
            continue;
        const bool clear = name.find("Factory.CLR.") != std::string::npos || name.find("Upgrade.CLR") != std::string::npos;
        uint32_t bytes = 0;
        bool blank = true;
        for (uint32_t k = 0; k < length; ++k)
        {
            bytes += flash[address + k];
            blank = blank && flash[address + k] == 0;
        }
        if (clear ? !blank : bytes != le32(flash, e + 24))
            place.notHolding = "section \"" + name + "\" does not hold";
    }
    return place;
}

enum Boots
{
    TheNewImage, // from the header place above the base when `above`, else from the base
    UpgradeMode  // no valid header at either place
};

struct Step
{
    ImageSpec image;
    bool listedSafe; // `tovrak-cli list` says ", can be safely upgraded."
    int exitCode;
    Boots boots;
    bool above = false;
    bool headerAboveReadsWrong = false; // from this step on, a byte of the place above reads wrong
};

struct Chain
{
    const char* scenario;
    std::vector<Step> steps;
};

ImageSpec image(uint32_t version, uint16_t compatibilityCode, uint32_t address, uint32_t seed)
{
    ImageSpec spec;
    spec.version = version;
    spec.compatibilityCode = compatibilityCode;
    spec.sections = { { "App", address, patternBytes(4096, seed) } };
    return spec;
}

class CliBootSafety : public CliTest
{
};
} // namespace

TEST_F(CliBootSafety, EveryValidHeaderBootsItsOwnFirmwareAfterEveryRun)
{
    // The installed firmware (1.2, compatibility code 7) has its section at 0x40000.
    const std::vector<Chain> chains {
        // A safe upgrade to 0x60000, then, running it, an upgrade that is not safe over 0x60000:
        // the first header, above the base, would boot first and over the second one's bytes.
        { "stale-after-two-upgrades",
          { { image(0x00010003, 7, 0x60000, 11), true, CliExit::Ok, TheNewImage, true },
            { image(0x00010004, 1, 0x60000, 12), false, CliExit::Ok, TheNewImage, false } } },
        // The same code, but over the installed firmware's own section: not safe, since the
        // installed header would be left over the new bytes.
        { "safe-over-own-section", { { image(0x00010003, 7, 0x40000, 13), false, CliExit::Ok, TheNewImage, false } } },
        { "safe-over-own-section-writes-fail",
          { { image(0x00010003, 7, 0x40000, 13), false, CliExit::SomeFailed, UpgradeMode } } },
        // Stored wrong, and gone right after a header write: no header may go over the section.
        { "stored-wrong-then-gone", { { image(0x00010003, 0, 0x60000, 14), false, CliExit::SomeFailed, UpgradeMode } } },
        // The second run of the first chain, with the header above the base read wrong.
        { "stale-above-read-wrong",
          { { image(0x00010003, 7, 0x60000, 11), true, CliExit::Ok, TheNewImage, true },
            { image(0x00010004, 1, 0x60000, 12), false, CliExit::Ok, TheNewImage, false, true } } },
    };
    for (const Chain& chain : chains)
    {
        SCOPED_TRACE(chain.scenario);
        std::string error;
        ASSERT_TRUE(loadEmulatorScenario(
            juce::File(CLI_SCENARIO_DIR "/boot-safety").getChildFile(juce::String(chain.scenario) + ".json"), *m_bus, error))
            << error;
        const auto emu = m_bus->devices().back();
        for (size_t n = 0; n < chain.steps.size(); ++n)
        {
            const Step& step = chain.steps[n];
            SCOPED_TRACE("step " + std::to_string(n + 1));
            const FirmwareImage written = testing_support::makeImage(step.image);
            g_firmwareFileMgr.clearImages();
            for (const auto& old : m_folder->get().findChildFiles(juce::File::findFiles, false, "*.ksf"))
                old.deleteFile();
            testing_support::writeImageFile(m_folder->file("tovrak_" + juce::String(int(n + 5)) + ".ksf"), written);

            if (step.headerAboveReadsWrong)
                emu->configure([](EmulatedDeviceConfig& c) {
                    c.corruptRead = true;
                    c.corruptReadAddress = kAbove + 20;
                });
            const CliResult listed = run({ "list" });
            EXPECT_EQ(listed.out.find(", can be safely upgraded.") != std::string::npos, step.listedSafe) << listed.out;

            const CliResult r = run({ "upgrade", "--all", "--yes" });
            SCOPED_TRACE(r.out + r.err);
            EXPECT_EQ(r.exitCode, step.exitCode);

            emu->unplug(); // replugged: it boots what its flash holds
            emu->plug();
            const std::vector<uint8_t> flash = emu->readFlash(0, kFlashSize);
            const Place base = readPlace(flash, kBase);
            const Place above = readPlace(flash, kAbove);
            EXPECT_TRUE(!base.valid || base.notHolding.empty()) << "header at the base: " << base.notHolding;
            EXPECT_TRUE(!above.valid || above.notHolding.empty()) << "header above the base: " << above.notHolding;

            const Place& booted = above.valid ? above : base;
            if (step.boots == UpgradeMode)
                EXPECT_FALSE(booted.valid) << "a header is left at " << (above.valid ? "the place above" : "the base");
            else
            {
                EXPECT_EQ(above.valid, step.above);
                EXPECT_EQ(booted.header,
                          std::vector<uint8_t>(written.header.data(), written.header.data() + written.header.headerSize()));
                const auto& section = step.image.sections.front();
                EXPECT_EQ(emu->readFlash(section.address, section.data.size()), section.data);
            }
            for (const auto& v : emu->violations())
                EXPECT_NE(v.kind, ProtocolViolation::CommandWhileBusy);
        }
        emu->unplug(); // the next chain has a device of its own
    }
}
