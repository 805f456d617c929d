#include "FirmwareVersion.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

TEST(FirmwareVersion, FileBuildNumberExamples)
{
    EXPECT_EQ(parseFileBuildNumber("tovrak_1234"), 1234);
    EXPECT_EQ(parseFileBuildNumber("tovrak_a_0815"), 815);
    EXPECT_EQ(parseFileBuildNumber("tovrak_12beta"), 12);
    EXPECT_EQ(parseFileBuildNumber("tovrak_70000"), 4464);
    EXPECT_EQ(parseFileBuildNumber("Tovrak_12"), 0);
    EXPECT_EQ(parseFileBuildNumber("update"), 0);
    EXPECT_EQ(parseFileBuildNumber("tovrak_"), 0);
    EXPECT_EQ(parseFileBuildNumber("tovrak_beta"), 0);
    EXPECT_EQ(parseFileBuildNumber("tovrak_  +42x"), 42);
    EXPECT_EQ(parseFileBuildNumber("tovrak_-1"), 0xFFFF);
}

TEST(FirmwareVersion, NumbersBeyond32BitsSaturate)
{
    // 2147483647 = 0x7FFFFFFF: low 16 bits 0xFFFF; -2147483648 = 0x80000000: low 16 bits 0.
    EXPECT_EQ(parseFileBuildNumber("tovrak_2147483647"), 0xFFFF);
    EXPECT_EQ(parseFileBuildNumber("tovrak_2147483648"), 0xFFFF);
    EXPECT_EQ(parseFileBuildNumber("tovrak_99999999999999999999999999"), 0xFFFF);
    EXPECT_EQ(parseFileBuildNumber("tovrak_-2147483648"), 0);
    EXPECT_EQ(parseFileBuildNumber("tovrak_-99999999999999999999999"), 0);
}

TEST(FirmwareVersion, PackedAndSplitReadings)
{
    EXPECT_EQ(readPackedVersion(0x01020025).toString(), "1.2.37");
    EXPECT_EQ(readPackedVersion(0xFFFFFFFF).toString(), "255.255.65535");

    ImageSpec spec;
    spec.version = 0xAB01CD02; // split reading ignores bits 8-15 and 24-31
    auto image = makeImage(spec);
    image.fileBuildNumber = 37;
    EXPECT_EQ(availableVersion(image, 100).toString(), "1.2.37");
    EXPECT_EQ(availableVersion(image, 533).toString(), "171.1.52482");
    EXPECT_EQ(availableVersion(image, 534).toString(), "171.1.52482");
    EXPECT_EQ(availableVersion(image, 535).toString(), "1.2.37");
}

TEST(FirmwareVersion, ComparisonIsMajorFirstAndEqualIsNotLower)
{
    EXPECT_TRUE(readPackedVersion(0x01020025) == (FirmwareVersion { 1, 2, 37 }));
    EXPECT_FALSE((FirmwareVersion { 1, 2, 37 }) < (FirmwareVersion { 1, 2, 37 }));
    EXPECT_TRUE((FirmwareVersion { 1, 9, 999 }) < (FirmwareVersion { 2, 0, 0 }));
    EXPECT_TRUE((FirmwareVersion { 1, 2, 3 }) < (FirmwareVersion { 1, 3, 0 }));
}

TEST(FirmwareVersion, SafeUpgradeRule)
{
    EXPECT_TRUE(isSafeUpgrade(7, 7));
    EXPECT_TRUE(isSafeUpgrade(0, 0)); // a device whose flash header does not match runs code 0
    EXPECT_FALSE(isSafeUpgrade(1, 1));
    EXPECT_FALSE(isSafeUpgrade(7, 8));
}
