// Feeds arbitrary bytes to the emulator's scenario reader.
#include "emulator/EmulatorScenario.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<EmulatedDeviceConfig> devices;
    std::string error;
    parseEmulatorScenario(std::string(reinterpret_cast<const char*>(data), size), devices, error);
    return 0;
}
