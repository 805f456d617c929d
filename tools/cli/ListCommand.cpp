#include "CliSession.h"
#include "Commands.h"
#include "DeviceListing.h"

#include <ostream>

int runListCommand(const CliOptions& options, CliSession&, CliIo& io)
{
    const Listing listing = currentListing();
    if (options.json)
        io.out << utf8(juce::JSON::toString(listingToJson(listing))) << std::endl;

    if (listing.devices.empty())
    {
        if (!options.json)
            io.err << "No supported device found." << std::endl;
        return CliExit::NoDevice;
    }
    if (options.json)
        return CliExit::Ok;

    const bool signatures = showsSignatures(listing);
    std::vector<DeviceRow> rows;
    for (const ListedDevice& device : listing.devices)
    {
        rows.push_back(device.row);
        if (signatures)
            rows.back().availableVersion = availableWithSignature(device);
    }
    io.out << formatColumns(rowTable(rows))
           << utf8(summaryLine(static_cast<int32_t>(rows.size()), listing.upgradableCount, listing.downgradableCount))
           << std::endl;
    return CliExit::Ok;
}
