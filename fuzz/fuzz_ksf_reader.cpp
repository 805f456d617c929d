// Feeds arbitrary bytes to the firmware file reader and verifier, and the build-number parser.
#include "FirmwareImage.h"
#include "FirmwareVersion.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    juce::MemoryInputStream stream(data, size, false);
    FirmwareImage image;
    if (readFirmwareImage(stream, image))
    {
        int failed = 0;
        verifyFirmwareImage(image, &failed);
        for (size_t i = 0; i < image.header.sectionCount(); ++i)
            (void) image.header.section(i).kind();
    }
    parseFileBuildNumber(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
