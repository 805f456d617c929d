// The refill's row list: one row per device up to 64, the two counts, the remembered selection,
// and the devices newer than the program knows.
#include "DeviceRowList.h"
#include "FirmwareFileManager.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace
{
DeviceFacts device(const juce::String& serial, uint16_t productCode, uint32_t runningVersion)
{
    DeviceFacts d;
    d.name = "Tovrak " + serial;
    d.serialNumber = serial;
    d.hardwareRevision = 'A';
    d.productCode = productCode;
    d.runningVersion = runningVersion;
    return d;
}

void addImage(FirmwareFileManager& images, uint16_t productCode, uint32_t version, uint16_t build)
{
    ImageSpec spec;
    spec.productCode = productCode;
    spec.revision = 'A';
    spec.version = version;
    spec.compatibilityCode = 1; // never a safe upgrade: no suffix on the texts
    auto image = makeImage(spec);
    image.fileBuildNumber = build;
    images.addImage(std::move(image));
}
} // namespace

TEST(DeviceRowList, CountsRememberedSelectionAndTheSixtyFourRowCap)
{
    FirmwareFileManager images;
    addImage(images, 100, 0x00010003, 0); // split 1.3.0
    addImage(images, 535, 0x00020000, 0); // a product newer than the program knows

    std::vector<DeviceFacts> devices;
    devices.push_back(device("NEWER", 100, 0x01020000));  // 1.2.0 < 1.3.0
    devices.push_back(device("SAME", 100, 0x01030000));   // 1.3.0 == 1.3.0
    devices.push_back(device("DONE", 100, 0x01030000));   // upgraded since start
    devices.push_back(device("NOIMAGE", 200, 0x01000000));
    devices.push_back(device("FUTURE", 535, 0x00000000));
    devices.push_back(device("FUTURE-NOIMAGE", 536, 0x00000000));
    for (int i = 0; devices.size() < 70; ++i)
        devices.push_back(device("FILL" + juce::String(i), 200, 0));

    const auto list = buildDeviceRows(
        devices, images, [](const DeviceKey& d) { return d.serialNumber == "DONE"; },
        [](const DeviceKey& d) { return d.serialNumber == "SAME" || d.serialNumber == "NOIMAGE"; });

    ASSERT_EQ(list.rows.size(), kMaxDeviceRows);
    EXPECT_EQ(list.rows.back().serialNumber, "FILL57") << "rows follow the device order";
    EXPECT_EQ(list.upgradableCount, 2) << "NEWER and FUTURE";
    EXPECT_EQ(list.downgradableCount, 2) << "SAME and DONE";
    EXPECT_EQ(list.newerThanKnownCount, 1) << "only a newer device for which an image was found";

    EXPECT_EQ(list.rows[0].statusText, "Can be upgraded");
    EXPECT_EQ(list.rows[1].statusText, "Can be downgraded");
    EXPECT_EQ(list.rows[2].statusText, "Already upgraded");
    EXPECT_EQ(list.rows[3].statusText, "Firmware file not found");
    EXPECT_FALSE(list.rows[0].selected);
    EXPECT_TRUE(list.rows[1].selected);
    EXPECT_TRUE(list.rows[3].selected) << "remembered as it was; whether it may stay is the table's business";
}

// A device upgraded since start is found again by its serial number on a new path while no twin
// can be meant; a twin (a device with the same serial number) never counts as upgraded for the
// other.
TEST(DeviceRowList, AnUpgradedDeviceIsKnownByItsPathWheneverATwinIsAbout)
{
    struct Case
    {
        const char* name;
        DeviceKey upgraded;
        std::vector<const char*> attachedPaths; // devices with the serial number TWIN, in list order
        std::vector<const char*> statusTexts;
    } cases[] = {
        { "a device of its own back on a new path", { "TWIN", "hid/1", false }, { "hid/2" }, { "Already upgraded" } },
        { "upgraded alone, then a twin beside it", { "TWIN", "hid/1", false }, { "hid/1", "hid/2" },
          { "Already upgraded", "Can be downgraded" } },
        { "one of two twins upgraded", { "TWIN", "hid/1", true }, { "hid/2", "hid/1" },
          { "Can be downgraded", "Already upgraded" } },
        { "the upgraded twin gone, the other left", { "TWIN", "hid/1", true }, { "hid/2" }, { "Can be downgraded" } },
    };
    FirmwareFileManager images;
    addImage(images, 100, 0x00010003, 0); // split 1.3.0
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        std::vector<DeviceFacts> devices;
        for (const char* path : c.attachedPaths)
        {
            devices.push_back(device("TWIN", 100, 0x01030000)); // 1.3.0, the image's version
            devices.back().devicePath = path;
        }
        DeviceKeyList upgraded;
        upgraded.add(c.upgraded);
        const auto list = buildDeviceRows(
            devices, images, [&](const DeviceKey& d) { return upgraded.contains(d); }, {});
        ASSERT_EQ(list.rows.size(), c.statusTexts.size());
        for (size_t i = 0; i < list.rows.size(); ++i)
            EXPECT_EQ(list.rows[i].statusText, c.statusTexts[i]) << c.attachedPaths[i];
    }
}
