#include "StringResources.h"

#include "Log.h"
#include "TranslationHelper.h"

const std::map<int, std::string> g_arrStringResourcesMap = {
    { 0, "Tovrak Upgrade Utility" },
    { 1, "1.0.0.1" },
    { 2, "OK" },
    { 3, "Cancel" },
    { 4, "Failed to start the program" },
    { 5, "Failed to initialize the Device" },
    { 6, "Failed to open the device. " },
    { 7, "Failed to read data. " },
    { 8, "Failed to write data. " },
    { 9, "Failed to write firmware data" },
    { 10, "Failed to read firmware data" },
    { 11, "Failed to upgrade, please retry." },
    { 12, "Device Name" },
    { 13, "Serial No." },
    { 14, "Hardware Version" },
    { 15, "F/M Installed" },
    { 16, "Firmware Build Number" },
    { 17, "F/M Available" },
    { 18, " " },
    { 19, ", can be safely upgraded." },
    { 20, "Can be upgraded" },
    { 21, "Can be downgraded" },
    { 22, "Firmware file not found" },
    { 23, "Already upgraded" },
    { 24, "Ready" },
    { 25, "Reboot required!" },
    { 26, "Unplug and replug required" },
    { 27, "Erasing" },
    { 28, "Error in erasing" },
    { 29, "Writing" },
    { 30, "Error in writing" },
    { 31, "Verifying" },
    { 32, "Error in verifying" },
    { 33, "Verified" },
    { 34, "Error in loading firmware, shutdown required." },
    { 35, "Enabling the device" },
    { 36, "Disabling the device" },
    { 37, "Process interrupted" },
    { 38, "Failed to upgrade, and the device may lost." },
    { 39, "Searching for devices ..." },
    { 40, "Found %1 device(s), of which %2 can be upgraded and %3 can be downgraded." },
    { 41, "Firmware upgrade should not be interrupted!" },
    { 42, "Please ensure that all other applications have been closed. DO not unplug the Tovrak device. DO not shut down or restart the computer during the upgrade process." },
    { 43, "KESTRANE Tovrak Utility 3.0" },
    { 44, "Another Tovrak Utility is already running." },
    { 45, "Permission denied." },
    { 46, "Unknown error." },
    { 47, "Update" },
    { 48, "Exit" },
    { 49, "Select All" },
};

juce::String getStringFromBinaryData(int id)
{
    if (g_arrStringResourcesMap.count(id) == 0)
        KS_LOG_ERROR("getStringFromBinaryData", "can not find resource id " << id << " from g_arrStringResourcesMap.");
    return juce::String::fromUTF8(g_arrStringResourcesMap.at(id).c_str());
}

juce::String getTranslatedString(int id)
{
    auto& helper = TranslationHelper::getInstance();
    return helper.getTranslation(getStringFromBinaryData(id), helper.getSourceLanguage(), helper.getTargetLanguage());
}
