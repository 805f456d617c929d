#include "ReportDescriptor.h"

bool isWellFormedReportDescriptor(const uint8_t* bytes, size_t size) noexcept
{
    if (bytes == nullptr || size == 0)
        return false;

    size_t pos = 0;
    int depth = 0;
    bool hasMainDataItem = false;
    while (pos < size)
    {
        const uint8_t prefix = bytes[pos];
        if (prefix == 0xFE)
        {
            // Long item: prefix, data size, long item tag, data.
            if (size - pos < 3)
                return false;
            const size_t dataSize = bytes[pos + 1];
            if (size - pos - 3 < dataSize)
                return false;
            pos += 3 + dataSize;
            continue;
        }

        static constexpr size_t kShortDataSize[4] = { 0, 1, 2, 4 };
        const size_t dataSize = kShortDataSize[prefix & 0x03];
        if (size - pos - 1 < dataSize)
            return false;

        const uint8_t tagAndType = prefix & 0xFC;
        if (tagAndType == 0xA0) // Collection
            ++depth;
        else if (tagAndType == 0xC0) // End Collection
        {
            if (depth == 0)
                return false;
            --depth;
        }
        else if (tagAndType == 0x80 || tagAndType == 0x90 || tagAndType == 0xB0) // Input, Output, Feature
            hasMainDataItem = true;

        pos += 1 + dataSize;
    }
    return depth == 0 && hasMainDataItem;
}
