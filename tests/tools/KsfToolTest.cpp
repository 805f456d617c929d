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
