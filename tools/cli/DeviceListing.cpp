#include "DeviceListing.h"

#include "FirmwareFileManager.h"
#include "StringResources.h"

DeviceRowList refillRows(const std::vector<DeviceFacts>& facts, const DeviceTest& upgradedThisRun,
                         const DeviceTest& remembered)
{
    DeviceRowList list = buildDeviceRows(facts, g_firmwareFileMgr, upgradedThisRun, remembered);
    // The window warns once per refill for each device newer than the program knows; so does the
    // tool (its message box handler prints to the error stream).
    warnAboutNewerDevices(list);
    return list;
}

Listing currentListing()
{
    const std::vector<DeviceFacts> facts = listedDeviceFacts(kMaxDeviceRows);
    DeviceRowList list = refillRows(facts, {}, {});
    Listing listing;
    listing.upgradableCount = list.upgradableCount;
    listing.downgradableCount = list.downgradableCount;
    // buildDeviceRows keeps the order of the facts.
    for (size_t i = 0; i < list.rows.size() && i < facts.size(); ++i)
        listing.devices.push_back({ list.rows[i], facts[i], list.outcomes[i] });
    return listing;
}

std::vector<TextRow> rowTable(const std::vector<DeviceRow>& rows)
{
    std::vector<TextRow> table;
    table.push_back({ getTranslatedString(StringId::ColumnDeviceName), getTranslatedString(StringId::ColumnSerialNo),
                      getTranslatedString(StringId::ColumnHardwareVersion), getTranslatedString(StringId::ColumnInstalled),
                      getTranslatedString(StringId::ColumnAvailable), getTranslatedString(StringId::ColumnStatus) });
    for (const DeviceRow& row : rows)
        table.push_back({ row.name, row.serialNumber, row.hardwareVersion, row.installedVersion, row.availableVersion,
                          row.statusText });
    return table;
}

juce::var rowToJson(const DeviceRow& row)
{
    auto* object = new juce::DynamicObject();
    object->setProperty("name", row.name);
    object->setProperty("serialNumber", row.serialNumber);
    object->setProperty("hardwareVersion", row.hardwareVersion);
    object->setProperty("installedVersion", row.installedVersion);
    object->setProperty("availableVersion", row.availableVersion);
    object->setProperty("statusText", row.statusText);
    object->setProperty("status", row.status);
    object->setProperty("selected", row.selected);
    object->setProperty("upgradeAvailable", row.upgradeAvailable);
    object->setProperty("firmwareMissing", row.firmwareMissing);
    object->setProperty("locked", row.locked);
    object->setProperty("progress", row.progress);
    return juce::var(object);
}

const FirmwareImage* imageOf(const ListedDevice& device)
{
    return g_firmwareFileMgr.findImage(device.facts.productCode, device.facts.productVariant,
                                       device.facts.hardwareRevision);
}

bool showsSignatures(const Listing& listing)
{
    if (!g_firmwareFileMgr.trustedKeys().empty())
        return true;
    for (const ListedDevice& device : listing.devices)
        if (const FirmwareImage* image = imageOf(device); image != nullptr && image->signatureState != SignatureState::Unsigned)
            return true;
    return false;
}

juce::String availableWithSignature(const ListedDevice& device)
{
    const FirmwareImage* image = imageOf(device);
    if (image == nullptr || device.row.availableVersion.isEmpty())
        return device.row.availableVersion;
    switch (image->signatureState)
    {
    case SignatureState::Valid: return device.row.availableVersion + " signed";
    case SignatureState::Unchecked: return device.row.availableVersion + " signed, unchecked";
    default: return device.row.availableVersion + " unsigned";
    }
}

juce::var listingToJson(const Listing& listing)
{
    juce::Array<juce::var> devices;
    for (const ListedDevice& device : listing.devices)
    {
        juce::var entry = rowToJson(device.row);
        auto* object = entry.getDynamicObject();
        object->setProperty("productCode", static_cast<int>(device.facts.productCode));
        object->setProperty("productVariant", static_cast<int>(device.facts.productVariant));
        object->setProperty("safe", device.outcome.safe);
        const FirmwareImage* image = imageOf(device);
        object->setProperty("imageSignature", image != nullptr ? signatureStateName(image->signatureState) : "");
        object->setProperty("imageSignatureKeyId", image != nullptr ? juce::String(image->signatureKeyId) : juce::String());
        devices.add(entry);
    }
    auto* result = new juce::DynamicObject();
    result->setProperty("devices", devices);
    result->setProperty("deviceCount", static_cast<int>(listing.devices.size()));
    result->setProperty("upgradableCount", listing.upgradableCount);
    result->setProperty("downgradableCount", listing.downgradableCount);
    return juce::var(result);
}
