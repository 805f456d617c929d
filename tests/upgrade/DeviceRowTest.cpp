#include "DeviceRow.h"
#include "FirmwareFileManager.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace
{
DeviceFacts device(uint16_t productCode, uint32_t runningVersion, uint16_t compat = 0)
{
    DeviceFacts d;
    d.name = "Tovrak Capture";
    d.serialNumber = "T207000123";
    d.hardwareRevision = 'B';
    d.productCode = productCode;
    d.productVariant = 2;
    d.runningVersion = runningVersion;
    d.runningCompatibilityCode = compat;
    return d;
}

FirmwareImage image(uint16_t productCode, uint32_t version, uint16_t build, uint16_t compat = 5)
{
    ImageSpec spec;
    spec.productCode = productCode;
    spec.revision = 'B';
    spec.variant = 2;
    spec.version = version;
    spec.compatibilityCode = compat;
    auto result = makeImage(spec);
    result.fileBuildNumber = build;
    return result;
}
} // namespace

TEST(DeviceRow, NoImageMeansFirmwareNotFound)
{
    FirmwareFileManager images;
    RowOutcome outcome;
    const auto row = buildDeviceRow(device(100, 0x01020025), images, false, true, &outcome);
    EXPECT_EQ(row.status, RESULT_FIRMWARE_NOT_FOUND);
    EXPECT_EQ(row.statusText, "Firmware file not found");
    EXPECT_TRUE(row.firmwareMissing);
    EXPECT_TRUE(row.availableVersion.isEmpty());
    EXPECT_EQ(row.installedVersion, "1.2.37");
    EXPECT_EQ(row.hardwareVersion, "B");
    EXPECT_EQ(row.progress, -1);
    EXPECT_FALSE(outcome.upgradable || outcome.downgradable || outcome.newerThanKnownDevice);
}

TEST(DeviceRow, SplitReadingForOrdinaryDevicesAndSafeSuffix)
{
    FirmwareFileManager images;
    images.addImage(image(100, 0x00010003, 40, 5)); // split: 1.3.40
    RowOutcome outcome;
    const auto row = buildDeviceRow(device(100, 0x01020025, 5), images, false, false, &outcome);
    EXPECT_EQ(row.availableVersion, "1.3.40");
    EXPECT_EQ(row.status, RESULT_CAN_UPGRADE);
    EXPECT_EQ(row.statusText, "Can be upgraded, can be safely upgraded.");
    EXPECT_TRUE(row.upgradeAvailable);
    EXPECT_TRUE(outcome.upgradable);
    EXPECT_TRUE(outcome.safe);
}

TEST(DeviceRow, EqualVersionIsDowngradableOrAlreadyUpgraded)
{
    FirmwareFileManager images;
    images.addImage(image(533, 0x01020025, 0, 1)); // packed: 1.2.37; compatibility 1 is never safe
    RowOutcome outcome;
    auto row = buildDeviceRow(device(533, 0x01020025, 1), images, false, false, &outcome);
    EXPECT_EQ(row.availableVersion, "1.2.37");
    EXPECT_EQ(row.status, RESULT_CAN_DOWNGRADE);
    EXPECT_EQ(row.statusText, "Can be downgraded");
    EXPECT_FALSE(row.upgradeAvailable);
    EXPECT_TRUE(outcome.downgradable);
    EXPECT_FALSE(outcome.safe);

    row = buildDeviceRow(device(533, 0x01020025, 1), images, true, false, &outcome);
    EXPECT_EQ(row.status, RESULT_ALREADY_UPGRADED);
    EXPECT_EQ(row.statusText, "Already upgraded");
    EXPECT_TRUE(outcome.downgradable);
}

TEST(DeviceRow, UnknownNewerProductCodeIsReportedAndUsesTheSplitReading)
{
    FirmwareFileManager images;
    images.addImage(image(535, 0x00020000, 7));
    RowOutcome outcome;
    const auto row = buildDeviceRow(device(535, 0x01000000), images, false, false, &outcome);
    EXPECT_TRUE(outcome.newerThanKnownDevice);
    EXPECT_EQ(row.availableVersion, "2.0.7");
    EXPECT_EQ(row.status, RESULT_CAN_UPGRADE);

    FirmwareFileManager none;
    buildDeviceRow(device(535, 0x01000000), none, false, false, &outcome);
    EXPECT_FALSE(outcome.newerThanKnownDevice); // without an image there is nothing to warn about
}

TEST(DeviceRow, RowCopiesAreIndependentValues)
{
    FirmwareFileManager images;
    auto row = buildDeviceRow(device(100, 0), images, false, true);
    const DeviceRow copy = row;
    row.locked = true;
    row.name = "changed";
    EXPECT_EQ(copy.name, "Tovrak Capture");
    EXPECT_FALSE(copy.locked);
    EXPECT_TRUE(copy.selected);
    EXPECT_EQ(row.serialNumber, copy.serialNumber);
}

TEST(UpgradeStatusText, EveryCodeHasItsText)
{
    EXPECT_EQ(getUpgradeStatusText(RESULT_ERASING), "Erasing");
    EXPECT_EQ(getUpgradeStatusText(RESULT_REPLUG_REQUIRED), "Unplug and replug required");
    EXPECT_EQ(getUpgradeStatusText(RESULT_DEVICE_NOT_FOUND), "Failed to upgrade, and the device may lost.");
    EXPECT_EQ(getUpgradeStatusText(12), getUpgradeStatusText(14));
    EXPECT_EQ(getUpgradeStatusText(13), "Enabling the device");
    EXPECT_TRUE(getUpgradeStatusText(17).isEmpty());
    EXPECT_TRUE(getUpgradeStatusText(21).isEmpty());
    EXPECT_TRUE(getUpgradeStatusText(-1).isEmpty());
}
