#include "FirmwareImage.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace
{
struct Result
{
    int exitCode = -1;
    juce::String output;
};

Result run(const juce::StringArray& args)
{
    juce::StringArray command { KSFTOOL_PATH };
    command.addArray(args);
    juce::ChildProcess process;
    Result result;
    if (!process.start(command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return result;
    result.output = process.readAllProcessOutput();
    process.waitForProcessToFinish(10000);
    result.exitCode = static_cast<int>(process.getExitCode());
    return result;
}
} // namespace

TEST(KsfTool, PackedFileInspectsValidAndReadsBackWithTheLibrary)
{
    TempFolder folder;
    folder.file("main.bin").replaceWithText("firmware body");
    const auto out = folder.file("tovrak_37.ksf");
    const auto packed = run({ "pack", "-o", out.getFullPathName(), "--product-code", "533", "--revision", "B",
                              "--variant", "0x01", "--version", "1.2.37", "--compat", "7", "--section",
                              "Main=0x10000:" + folder.file("main.bin").getFullPathName(), "--section",
                              "Factory.CLR.1=0x80000:pattern:512" });
    ASSERT_EQ(packed.exitCode, 0) << packed.output;

    const auto inspected = run({ "inspect", out.getFullPathName() });
    EXPECT_EQ(inspected.exitCode, 0) << inspected.output;
    EXPECT_TRUE(inspected.output.contains("packed reading:   1.2.37"));
    EXPECT_TRUE(inspected.output.contains("CLR"));
    EXPECT_TRUE(inspected.output.trimEnd().endsWith("valid"));

    juce::FileInputStream stream(out);
    FirmwareImage image;
    ASSERT_TRUE(readFirmwareImage(stream, image));
    EXPECT_TRUE(verifyFirmwareImage(image));
    EXPECT_EQ(image.header.productCode(), 533);
    EXPECT_EQ(image.header.hardwareRevision(), 'B');
    EXPECT_EQ(image.header.firmwareVersion(), 0x01020025u);
    EXPECT_EQ(image.header.section(0).name, "Main");
    EXPECT_EQ(std::string(image.sections[0].begin(), image.sections[0].end()), "firmware body");
}

TEST(KsfTool, OneFlippedByteIsReportedInvalid)
{
    TempFolder folder;
    const auto out = folder.file("x.ksf");
    ASSERT_EQ(run({ "pack", "-o", out.getFullPathName(), "--split-version", "1.2", "--section", "Main=0:pattern:100" }).exitCode, 0);
    auto bytes = readBytes(out);
    for (size_t index : { size_t(2), size_t(50), bytes.size() - 1 })
    {
        auto flipped = bytes;
        flipped[index] ^= 0x10;
        writeBytes(folder.file("flipped.ksf"), flipped);
        const auto result = run({ "inspect", folder.file("flipped.ksf").getFullPathName() });
        EXPECT_EQ(result.exitCode, 1) << index << "\n" << result.output;
        EXPECT_TRUE(result.output.contains("INVALID")) << result.output;
    }
}

TEST(KsfTool, DescriptionFileAndBadOptions)
{
    TempFolder folder;
    folder.file("d.desc").replaceWithText("# demo\nproduct-code 100\nrevision A\nsplit-version 3.4\nsection Main=0x1000:pattern:64\n");
    const auto out = folder.file("tovrak_12.ksf");
    ASSERT_EQ(run({ "pack", "--description", folder.file("d.desc").getFullPathName(), "-o", out.getFullPathName() }).exitCode, 0);
    const auto inspected = run({ "inspect", out.getFullPathName() });
    EXPECT_TRUE(inspected.output.contains("split reading:    3.4.12")) << inspected.output;

    EXPECT_NE(run({ "pack", "-o", out.getFullPathName(), "--product-code", "70000" }).exitCode, 0);
    EXPECT_NE(run({ "pack", "-o", out.getFullPathName(), "--section", "NameLongerThan16Chars=0:pattern:1" }).exitCode, 0);
    EXPECT_NE(run({ "inspect", folder.file("missing.ksf").getFullPathName() }).exitCode, 0);
}

TEST(KsfTool, NumbersAreDecimalOrHexOnly)
{
    TempFolder folder;
    const auto out = folder.file("n.ksf");
    struct Case
    {
        const char* productCode;
        int expected; // -1: refused
    };
    for (const Case& c : { Case { "0100", 100 }, Case { "0x0100", 256 }, Case { "0X1f", 31 }, Case { "65535", 65535 },
                           Case { "65536", -1 }, Case { "0x", -1 }, Case { "+5", -1 }, Case { " 5", -1 }, Case { "-1", -1 },
                           Case { "1e3", -1 }, Case { "0b101", -1 }, Case { "", -1 } })
    {
        SCOPED_TRACE(c.productCode);
        const auto packed = run({ "pack", "-o", out.getFullPathName(), "--product-code", c.productCode });
        if (c.expected < 0)
        {
            EXPECT_NE(packed.exitCode, 0);
            continue;
        }
        ASSERT_EQ(packed.exitCode, 0) << packed.output;
        juce::FileInputStream stream(out);
        FirmwareImage image;
        ASSERT_TRUE(readFirmwareImage(stream, image));
        EXPECT_EQ(image.header.productCode(), c.expected);
    }
}

TEST(KsfTool, LayoutsNoDeviceCanTakeAreInvalid)
{
    TempFolder folder;
    const auto out = folder.file("l.ksf");
    struct Case
    {
        std::vector<const char*> sections;
        const char* reason;
    };
    const std::vector<Case> cases {
        { { "App=0xFFFFFF00:pattern:512" }, "INVALID: section 0 \"App\" (0xffffff00 + 0x200) passes the end of the 32-bit address space" },
        { { "A=0x1000:pattern:256", "B=0x10FF:pattern:1" }, "INVALID: section 1 \"B\" (0x10ff + 0x1) overlaps section 0 \"A\" (0x1000 + 0x100)" },
        { { "Factory.CLR.1=0x2000:pattern:16", "Upgrade.Cfg=0x200F:pattern:16" },
          "INVALID: section 1 \"Upgrade.Cfg\" (0x200f + 0x10) overlaps section 0 \"Factory.CLR.1\" (0x2000 + 0x10)" },
        { { "A=0x1000:pattern:256", "B=0x1100:pattern:1", "Empty=0x1000:pattern:0" }, nullptr },
    };
    for (const Case& c : cases)
    {
        juce::StringArray args { "pack", "-o", out.getFullPathName() };
        for (const char* section : c.sections)
            args.addArray({ "--section", section });
        ASSERT_EQ(run(args).exitCode, 0);
        const auto inspected = run({ "inspect", out.getFullPathName() });
        SCOPED_TRACE(inspected.output);
        EXPECT_EQ(inspected.exitCode, c.reason != nullptr ? 1 : 0);
        EXPECT_TRUE(inspected.output.contains(c.reason != nullptr ? c.reason : "valid"));
    }
}
