#pragma once

#include "CliText.h"
#include "DeviceRow.h"
#include "DeviceRowList.h"

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
DeviceRowList refillRows(const std::vector<DeviceFacts>& facts, const SerialTest& upgradedThisRun,
                         const SerialTest& remembered);

// The same, with the facts and the outcome of every row, for a process that upgraded nothing.
Listing currentListing();

// The table's six columns: header (the table's header texts) and one line per row.
std::vector<TextRow> rowTable(const std::vector<DeviceRow>& rows);

// One JSON object: "devices" (every row field, plus productCode, productVariant, safe) and the
// three counts of the summary line.
juce::var listingToJson(const Listing& listing);
juce::var rowToJson(const DeviceRow& row);
