// Which HID interfaces are taken for Tovrak devices.
#include "DeviceTestSupport.h"

#include "SupportedDevices.h"
#include "hid/ReportDescriptor.h"

using namespace device_testing;

TEST(SupportedDeviceIds, KestraneRangesAreInclusiveAndNothingElse)
{
    for (uint16_t pid : { 0x0001, 0x0004, 0x0009, 0x0010, 0x0020 })
        EXPECT_TRUE(isSupportedDeviceId(KESTRANE_USB_VENDOR_ID, pid)) << pid;
    for (uint16_t pid : { 0x0000, 0x0002, 0x0003, 0x000A, 0x000F, 0x0021, 0xFFFF })
        EXPECT_FALSE(isSupportedDeviceId(KESTRANE_USB_VENDOR_ID, pid)) << pid;
}

TEST(SupportedDeviceIds, PartnerTakesOnlyItsOwnProductId)
{
    EXPECT_TRUE(isSupportedDeviceId(PARTNER_USB_VENDOR_ID, PARTNER_USB_PRODUCT_ID));
    EXPECT_FALSE(isSupportedDeviceId(PARTNER_USB_VENDOR_ID, 0x0010)); // one from the maker's list
    EXPECT_FALSE(isSupportedDeviceId(PARTNER_USB_VENDOR_ID, PARTNER_USB_PRODUCT_ID + 1));
    EXPECT_FALSE(isSupportedDeviceId(KESTRANE_USB_VENDOR_ID, PARTNER_USB_PRODUCT_ID));
    EXPECT_FALSE(isSupportedDeviceId(0x046D, 0x0010));
}

class Probe : public EmulatorTest
{
protected:
    bool probe(const std::function<void(EmulatedDeviceConfig&)>& tweak)
    {
        const auto device = addDevice("P" + std::to_string(++m_count), 100, tweak);
        return CTovrakDevice::ProbeInterface(*m_bus, device->path());
    }
    int m_count = 0;
};

TEST_F(Probe, AcceptsAWellBehavedDeviceAndRejectsEachFailingStep)
{
    EXPECT_TRUE(probe({}));
    EXPECT_TRUE(probe([](auto& c) { c.vendorId = PARTNER_USB_VENDOR_ID; c.productId = PARTNER_USB_PRODUCT_ID; }));
    EXPECT_FALSE(probe([](auto& c) { c.openFails = true; }));
    EXPECT_FALSE(probe([](auto& c) { c.attributesReadable = false; }));
    EXPECT_FALSE(probe([](auto& c) { c.productId = 0x0002; }));
    EXPECT_FALSE(probe([](auto& c) { c.descriptorParsable = false; }));
    EXPECT_FALSE(probe([](auto& c) { c.serialStringReadable = false; }));
    EXPECT_FALSE(probe([](auto& c) { c.failReports = { { KSCAP_HID_DEVICE_INFO, ReportDirection::Input, 1, 0 } }; }));
    EXPECT_FALSE(CTovrakDevice::ProbeInterface(*m_bus, "emulator/no-such-path"));
}

TEST_F(Probe, OnlyInfoFormatTwoIsAccepted)
{
    for (uint16_t format : { 0, 1, 2, 3, 0x0200 })
    {
        const bool accepted = probe([format](auto& c) { le::write16(c.deviceInfo.bytes.data(), format); });
        EXPECT_EQ(accepted, format == 2) << format;
    }
}

TEST_F(Probe, ForeignInterfacesAreRejectedAfterTheAttributes)
{
    const auto keyboard = m_bus->add(makeForeignDeviceConfig(0x046D, 0xC31C));
    EXPECT_FALSE(CTovrakDevice::ProbeInterface(*m_bus, keyboard->path()));
    // Rejected by its ids alone: no report was asked of it.
    EXPECT_EQ(keyboard->totalExchanges(), 0u);
}

TEST(ReportDescriptorCheck, WellFormedAndBrokenDescriptors)
{
    // Vendor page, one application collection with an input and an output item.
    const std::vector<uint8_t> good = { 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08,
                                        0x95, 0x40, 0x81, 0x02, 0x91, 0x02, 0xC0 };
    EXPECT_TRUE(isWellFormedReportDescriptor(good.data(), good.size()));

    auto truncated = good;
    truncated.resize(2); // inside the two data bytes of the usage page item
    EXPECT_FALSE(isWellFormedReportDescriptor(truncated.data(), truncated.size()));

    auto unclosed = good;
    unclosed.pop_back();
    EXPECT_FALSE(isWellFormedReportDescriptor(unclosed.data(), unclosed.size()));

    const std::vector<uint8_t> closedTwice = { 0xA1, 0x01, 0x81, 0x02, 0xC0, 0xC0 };
    EXPECT_FALSE(isWellFormedReportDescriptor(closedTwice.data(), closedTwice.size()));

    const std::vector<uint8_t> noDataItem = { 0xA1, 0x01, 0xC0 };
    EXPECT_FALSE(isWellFormedReportDescriptor(noDataItem.data(), noDataItem.size()));

    const std::vector<uint8_t> longItem = { 0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x81, 0x02 };
    EXPECT_TRUE(isWellFormedReportDescriptor(longItem.data(), longItem.size()));
    EXPECT_FALSE(isWellFormedReportDescriptor(longItem.data(), 4)); // long item cut short

    EXPECT_FALSE(isWellFormedReportDescriptor(nullptr, 0));
}
