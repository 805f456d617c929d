// list: the table's rows and summary line, the JSON form parsed back, no devices, Chinese texts.
#include "CliTestSupport.h"
#include "TranslationHelper.h"
#include "UpgradeStatus.h"

#include <gtest/gtest.h>

using namespace cli_testing;

namespace
{
class CliList : public CliTest
{
protected:
    // One device of each kind: upgradable and safe, up to date, without a fitting image.
    void plugThree()
    {
        plug("T100A", packed(1, 2, 0), [](EmulatedDeviceConfig& c) {
            c.installedHeader = makeInstalledHeader(100, 'A', 0, headerVersionMatchingRunning(packed(1, 2, 0)), 7);
        });
        plug("T100B", packed(1, 3, 9));
        addDevice("T200C", 200); // no image for product code 200
        firmwareFile(1, 3, 9);
    }
};
} // namespace

TEST_F(CliList, RowsStatusTextsAndTheSummaryLine)
{
    plugThree();
    const CliResult r = run({ "list" });
    ASSERT_EQ(r.exitCode, CliExit::Ok) << r.err;
    const auto lines = linesOf(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0], "Device Name   Serial No.  Hardware Version  F/M Installed  F/M Available");
    EXPECT_EQ(lines[1], "Tovrak T100A  T100A       A                 1.2.0          1.3.9          Can be upgraded, can be safely upgraded.");
    EXPECT_EQ(lines[2], "Tovrak T100B  T100B       A                 1.3.9          1.3.9          Can be downgraded");
    EXPECT_EQ(lines[3], "Tovrak T200C  T200C       A                 1.2.0                         Firmware file not found");
    EXPECT_EQ(lines[4], "Found 3 device(s), of which 1 can be upgraded and 1 can be downgraded.");
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(CliList, JsonCarriesEveryRowFieldAndTheCounts)
{
    plugThree();
    const CliResult r = run({ "list", "--json" });
    ASSERT_EQ(r.exitCode, CliExit::Ok) << r.err;
    const juce::var json = parseJson(r.out);
    ASSERT_TRUE(json.isObject()) << r.out;
    EXPECT_EQ(static_cast<int>(json["deviceCount"]), 3);
    EXPECT_EQ(static_cast<int>(json["upgradableCount"]), 1);
    EXPECT_EQ(static_cast<int>(json["downgradableCount"]), 1);
    const juce::var devices = json["devices"];
    ASSERT_TRUE(devices.isArray());
    ASSERT_EQ(devices.size(), 3);

    const juce::var a = devices[0];
    EXPECT_EQ(a["name"].toString(), "Tovrak T100A");
    EXPECT_EQ(a["serialNumber"].toString(), "T100A");
    EXPECT_EQ(a["hardwareVersion"].toString(), "A");
    EXPECT_EQ(a["installedVersion"].toString(), "1.2.0");
    EXPECT_EQ(a["availableVersion"].toString(), "1.3.9");
    EXPECT_EQ(a["statusText"].toString(), "Can be upgraded, can be safely upgraded.");
    EXPECT_EQ(static_cast<int>(a["status"]), RESULT_CAN_UPGRADE);
    EXPECT_EQ(static_cast<int>(a["productCode"]), 100);
    EXPECT_EQ(static_cast<int>(a["productVariant"]), 0);
    EXPECT_EQ(static_cast<int>(a["progress"]), -1);
    EXPECT_TRUE(static_cast<bool>(a["upgradeAvailable"]));
    EXPECT_TRUE(static_cast<bool>(a["safe"]));
    for (const char* flag : { "selected", "firmwareMissing", "locked" })
        EXPECT_FALSE(static_cast<bool>(a[flag])) << flag;

    EXPECT_FALSE(static_cast<bool>(devices[1]["upgradeAvailable"]));
    EXPECT_FALSE(static_cast<bool>(devices[1]["safe"]));
    EXPECT_EQ(static_cast<int>(devices[1]["status"]), RESULT_CAN_DOWNGRADE);
    EXPECT_TRUE(static_cast<bool>(devices[2]["firmwareMissing"]));
    EXPECT_EQ(devices[2]["availableVersion"].toString(), "");
    EXPECT_EQ(static_cast<int>(devices[2]["status"]), RESULT_FIRMWARE_NOT_FOUND);
}

TEST_F(CliList, NoSupportedDeviceExitsWithThree)
{
    m_bus->add(makeForeignDeviceConfig(0x046d, 0xc31c)); // a keyboard is no Tovrak device
    firmwareFile(1, 3, 9);
    const CliResult text = run({ "list" });
    EXPECT_EQ(text.exitCode, CliExit::NoDevice);
    EXPECT_TRUE(text.out.empty()) << text.out;
    EXPECT_NE(text.err.find("No supported device found."), std::string::npos);

    const CliResult json = run({ "list", "--json" });
    EXPECT_EQ(json.exitCode, CliExit::NoDevice);
    const juce::var parsed = parseJson(json.out);
    ASSERT_TRUE(parsed.isObject()) << json.out;
    EXPECT_EQ(parsed["devices"].size(), 0);
    EXPECT_EQ(static_cast<int>(parsed["deviceCount"]), 0);
}

TEST_F(CliList, SpeaksChineseWhereTheWindowDoes)
{
    plugThree();
    TranslationHelper::getInstance().enableFor("chinese");
    const CliResult r = run({ "list" });
    ASSERT_EQ(r.exitCode, CliExit::Ok) << r.err;
    const auto lines = linesOf(r.out);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].rfind(juce::String::fromUTF8("设备名称").toStdString(), 0), 0u) << lines[0];
    EXPECT_NE(lines[1].find(juce::String::fromUTF8("可以升级，可以安全升级。").toStdString()), std::string::npos) << lines[1];
    EXPECT_EQ(lines[4], juce::String::fromUTF8("找到 3 台设备，其中 1 台可以升级，1 台可以降级。").toStdString());
}

TEST_F(CliList, MissingTranslationTableIsALineNotABlockingBox)
{
    plugThree();
    m_folder->file("translations.csv").deleteFile();
    const CliResult r = run({ "list" });
    EXPECT_EQ(r.exitCode, CliExit::Ok);
    EXPECT_EQ(m_messageBoxes, (std::vector<std::string> { "Fatal: Can not find translations.csv." }));
}
