// Chooses the HID backend once: the device emulator when TOVRAK_EMULATOR is set, the platform's
// HID library otherwise. Tests replace it with setHidBackend.
#include "hid/HidBackend.h"
#include "emulator/EmulatorBackend.h"
#include "emulator/EmulatorScenario.h"

#include "Log.h"

#include <juce_core/juce_core.h>

#include <cstdlib>
#include <mutex>

namespace
{
std::mutex g_backendMutex;
std::shared_ptr<HidBackend> g_backend; // guarded by g_backendMutex

std::shared_ptr<HidBackend> chooseBackend()
{
    const char* scenario = std::getenv("TOVRAK_EMULATOR");
    if (scenario == nullptr || *scenario == '\0')
        return createPlatformHidBackend();

    // The variable asks for emulation: a scenario that cannot be loaded gives an emulator
    // without devices rather than a silent switch to real hardware.
    auto emulator = std::make_shared<EmulatorBackend>();
    const juce::File file = juce::File::getCurrentWorkingDirectory().getChildFile(juce::String::fromUTF8(scenario));
    std::string error;
    if (loadEmulatorScenario(file, *emulator, error))
        KS_LOG_INFO("HidBackend::choose", "device emulator: " << emulator->devices().size() << " interfaces from "
                                                               << file.getFullPathName().toStdString());
    else
        KS_LOG_ERROR("HidBackend::choose", "device emulator: scenario not loaded, no devices: " << error);
    return emulator;
}
} // namespace

std::shared_ptr<HidBackend> currentHidBackend()
{
    std::lock_guard<std::mutex> lock(g_backendMutex);
    if (g_backend == nullptr)
        g_backend = chooseBackend();
    return g_backend;
}

void setHidBackend(std::shared_ptr<HidBackend> backend)
{
    std::lock_guard<std::mutex> lock(g_backendMutex);
    g_backend = std::move(backend);
}
