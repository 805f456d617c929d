#pragma once

#include "CliText.h"
#include "DeviceRow.h"
#include "DeviceRowList.h"
#include "FirmwareImage.h"

#include <juce_core/juce_core.h>

#include <vector>

// The attached devices as the window's table shows them, with what the command line tool adds
// to each row: the product code, the variant and whether the upgrade is a safe one.
struct ListedDevice
{
    DeviceRow row;
    DeviceFacts facts;
    RowOutcome outcome;
};

struct Listing
{
    std::vector<ListedDevice> devices;
    int32_t upgradableCount = 0;
    int32_t downgradableCount = 0;
};

// Rows for the devices (the facts of the listed ones, at most the table's row limit), built by the
// window's refill rules; warns about devices newer than the program knows, as the window does.
DeviceRowList refillRows(const std::vector<DeviceFacts>& facts, const DeviceTest& upgradedThisRun,
                         const DeviceTest& remembered);

// The same, with the facts and the outcome of every row, for a process that upgraded nothing.
Listing currentListing();

// The table's six columns: header (the table's header texts) and one line per row.
std::vector<TextRow> rowTable(const std::vector<DeviceRow>& rows);

// The image that fits a listed device, or nullptr.
const FirmwareImage* imageOf(const ListedDevice& device);

// Whether the text output names each image's signature state: when the program trusts keys, or
// when any listed image carried a signature file (a plain build with unsigned files prints
// exactly what it printed before signatures existed).
bool showsSignatures(const Listing& listing);

// The available version as the text output shows it: "1.3.9 signed" for an image with a valid
// signature ("signed, unchecked" when no key is trusted), "1.3.9 unsigned" otherwise.
juce::String availableWithSignature(const ListedDevice& device);

// One JSON object: "devices" (every row field, plus productCode, productVariant, safe,
// imageSignature and imageSignatureKeyId) and the three counts of the summary line.
juce::var listingToJson(const Listing& listing);
juce::var rowToJson(const DeviceRow& row);
