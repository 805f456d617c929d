#include "DeviceRow.h"

#include "FirmwareFileManager.h"
#include "FirmwareVersion.h"
#include "StringResources.h"
#include "TovrakDevice.h"

DeviceFacts factsOf(const CTovrakDevice& device)
{
    const DeviceInfo& info = device.deviceInfo();
    DeviceFacts facts;
    facts.name = juce::String::fromUTF8(info.deviceName().c_str());
    facts.serialNumber = juce::String::fromUTF8(info.serialNumber().c_str());
    facts.devicePath = juce::String::fromUTF8(device.devicePath().c_str());
    facts.hardwareRevision = info.hardwareRevision();
    facts.productCode = info.productCode();
    facts.productVariant = info.productVariant();
    facts.runningVersion = info.runningFirmwareVersion();
    facts.runningCompatibilityCode = device.runningCompatibilityCode();
    facts.firmwareBaseAddress = device.flashInfo().firmwareBaseAddress();
    facts.headerAtBase = device.headerAtBase();
    return facts;
}

DeviceRow buildDeviceRow(const DeviceFacts& device, const FirmwareFileManager& images, bool upgradedThisRun,
                         bool selected, RowOutcome* outcome)
{
    RowOutcome result;
    DeviceRow row;
    row.name = device.name;
    row.serialNumber = device.serialNumber;
    row.devicePath = device.devicePath;
    row.selected = selected;
    row.hardwareVersion = juce::String(revisionText(device.hardwareRevision));

    const FirmwareVersion installed = installedVersion(device.runningVersion);
    row.installedVersion = installed.toString();

    const FirmwareImage* image = images.findImage(device.productCode, device.productVariant, device.hardwareRevision);
    if (image == nullptr)
    {
        row.status = RESULT_FIRMWARE_NOT_FOUND;
        row.statusText = getUpgradeStatusText(row.status);
    }
    else
    {
        row.firmwareMissing = false;
        // Safe only when the header above the base leaves the installed firmware bootable.
        result.safe = isSafeUpgrade(image->header.compatibilityCode(), device.runningCompatibilityCode)
                   && keepsBaseHeader(image->header, device.firmwareBaseAddress, device.headerAtBase);
        result.newerThanKnownDevice = device.productCode > kNewestKnownProductCode;

        const FirmwareVersion available = availableVersion(*image, device.productCode);
        row.availableVersion = available.toString();
        if (installed < available)
        {
            row.status = RESULT_CAN_UPGRADE;
            row.statusText = getUpgradeStatusText(row.status);
            row.upgradeAvailable = true;
            result.upgradable = true;
        }
        else
        {
            row.status = upgradedThisRun ? RESULT_ALREADY_UPGRADED : RESULT_CAN_DOWNGRADE;
            row.statusText = getUpgradeStatusText(row.status);
            result.downgradable = true;
        }
        if (result.safe)
            row.statusText += getTranslatedString(StringId::SafelyUpgradedSuffix);
    }

    if (outcome != nullptr)
        *outcome = result;
    return row;
}

juce::String getUpgradeStatusText(int32_t status)
{
    switch (status)
    {
        case RESULT_READY: return getTranslatedString(StringId::StatusReady);
        case RESULT_FIRMWARE_NOT_FOUND: return getTranslatedString(StringId::FirmwareFileNotFound);
        case RESULT_CAN_UPGRADE: return getTranslatedString(StringId::CanBeUpgraded);
        case RESULT_CAN_DOWNGRADE: return getTranslatedString(StringId::CanBeDowngraded);
        case RESULT_ERASING: return getTranslatedString(StringId::Erasing);
        case RESULT_ERASE_ERROR: return getTranslatedString(StringId::ErrorInErasing);
        case RESULT_WRITING: return getTranslatedString(StringId::Writing);
        case RESULT_WRITE_ERROR: return getTranslatedString(StringId::ErrorInWriting);
        case RESULT_VERIFYING: return getTranslatedString(StringId::Verifying);
        case RESULT_VERIFIED: return getTranslatedString(StringId::Verified);
        case RESULT_VERIFY_ERROR: return getTranslatedString(StringId::ErrorInVerifying);
        case RESULT_LOADING_ERROR: return getTranslatedString(StringId::ErrorInLoadingFirmware);
        case RESULT_DISABLING:
        case RESULT_DISABLING_2: return getTranslatedString(StringId::DisablingDevice);
        case RESULT_ENABLING:
        case RESULT_ENABLING_2: return getTranslatedString(StringId::EnablingDevice);
        case RESULT_INTERRUPTED: return getTranslatedString(StringId::ProcessInterrupted);
        case RESULT_DEVICE_NOT_FOUND: return getTranslatedString(StringId::DeviceMayBeLost);
        case RESULT_REPLUG_REQUIRED: return getTranslatedString(StringId::UnplugAndReplugRequired);
        case RESULT_ALREADY_UPGRADED: return getTranslatedString(StringId::AlreadyUpgraded);
        default: return {};
    }
}
