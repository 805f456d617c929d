#pragma once

#include <juce_core/juce_core.h>

#include <map>
#include <string>

// Every user-visible text, and the few texts the device layer puts into log lines, by id.
// Filled before the program entry runs and never changed afterwards.
extern const std::map<int, std::string> g_arrStringResourcesMap;

// Ids of the texts, named for code that cites them.
namespace StringId
{
enum : int
{
    ApplicationName = 0,
    ApplicationVersion = 1,
    Ok = 2,
    Cancel = 3,
    FailedToStartProgram = 4,
    FailedToInitializeDevice = 5,
    FailedToOpenDevice = 6,
    FailedToReadData = 7,
    FailedToWriteData = 8,
    FailedToWriteFirmwareData = 9,
    FailedToReadFirmwareData = 10,
    FailedToUpgradePleaseRetry = 11,
    ColumnDeviceName = 12,
    ColumnSerialNo = 13,
    ColumnHardwareVersion = 14,
    ColumnInstalled = 15,
    FirmwareBuildNumber = 16,
    ColumnAvailable = 17,
    ColumnStatus = 18,
    SafelyUpgradedSuffix = 19,
    CanBeUpgraded = 20,
    CanBeDowngraded = 21,
    FirmwareFileNotFound = 22,
    AlreadyUpgraded = 23,
    StatusReady = 24,
    RebootRequired = 25,
    UnplugAndReplugRequired = 26,
    Erasing = 27,
    ErrorInErasing = 28,
    Writing = 29,
    ErrorInWriting = 30,
    Verifying = 31,
    ErrorInVerifying = 32,
    Verified = 33,
    ErrorInLoadingFirmware = 34,
    EnablingDevice = 35,
    DisablingDevice = 36,
    ProcessInterrupted = 37,
    DeviceMayBeLost = 38,
    SearchingForDevices = 39,
    FoundDevicesSummary = 40,
    UpgradeShouldNotBeInterrupted = 41,
    UpgradeConfirmation = 42,
    InstanceName = 43, // 43 + single-instance result gives the alert text
    AnotherInstanceRunning = 44,
    PermissionDenied = 45,
    UnknownError = 46,
    Update = 47,
    Exit = 48,
    SelectAll = 49
};
}

// The English text of an id. A missing id logs an ERROR line and throws std::out_of_range.
juce::String getStringFromBinaryData(int id);

// The text to show for an id: the English text passed through the translation helper.
juce::String getTranslatedString(int id);
