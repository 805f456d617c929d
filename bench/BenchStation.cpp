// Runs `tovrak-cli station` in-process against a hot-plug scenario of emulated devices and
// prints what a bench operator and its quality people would look at: the station's own output,
// the record file, the final flash of every emulated device compared with its image, and the
// time from each appearance of a device to the first erase command it receives.
//
// Usage: bench_station [scenario.json] [--extra N]
//   scenario: default resources/scenarios/station.json, with the demo firmware files
//   --extra N: N more devices (HD60 Pro, no exchange latency) plugged in 700 ms apart after the
//              scenario's last appearance, for more samples of the appearance-to-start time
// Prints figures; the exit code is the station's.
#include "Cli.h"
#include "FirmwareImage.h"
#include "Log.h"
#include "emulator/EmulatorBackend.h"
#include "emulator/EmulatorScenario.h"
#include "hid/HidBackend.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

struct EraseTimes
{
    std::mutex mutex;
    std::map<std::string, std::vector<Clock::time_point>> bySerial; // every erase command sent
};

// The image that fits a device: same product code, revision and variant.
const FirmwareImage* imageFor(const std::vector<FirmwareImage>& images, const EmulatedDeviceInfo& info)
{
    for (const FirmwareImage& image : images)
        if (image.header.productCode() == info.productCode() && image.header.hardwareRevision() == info.hardwareRevision()
            && image.header.productVariant() == info.productVariant())
            return &image;
    return nullptr;
}

std::string headerText(EmulatedDevice& device, uint32_t at, const FirmwareImage* image)
{
    const std::vector<uint8_t> bytes = device.readFlash(at, FirmwareHeader::kCapacity);
    const FirmwareHeader header = FirmwareHeader::fromBytes(bytes.data(), bytes.size());
    if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; }))
        return "erased";
    if (!header.hasMagic())
        return "no header";
    char text[64];
    std::snprintf(text, sizeof text, "header of version 0x%08x", header.firmwareVersion());
    const bool same = image != nullptr
        && std::equal(image->header.data(), image->header.data() + image->header.headerSize(), bytes.begin());
    return std::string(text) + (same ? " (the image's)" : "");
}
} // namespace

int main(int argc, char** argv)
{
    juce::File scenario(TOVRAK_SOURCE_DIR "/resources/scenarios/station.json");
    int extra = 0;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--extra" && i + 1 < argc)
            extra = std::max(0, std::atoi(argv[++i]));
        else
            scenario = juce::File::getCurrentWorkingDirectory().getChildFile(arg);
    }

    const juce::File folder = juce::File::createTempFile("bench-station");
    folder.createDirectory();
    for (const auto& file : juce::File(DEMO_FIRMWARE_DIR).findChildFiles(juce::File::findFiles, false, "*.ksf"))
        file.copyFileTo(folder.getChildFile(file.getFileName()));
    juce::File(TOVRAK_SOURCE_DIR "/resources/translations.csv").copyFileTo(folder.getChildFile("translations.csv"));
    Log::instance().init(folder.getChildFile("TovrakUpgrade.log.txt").getFullPathName().toStdString(),
                         "datetime_level_func_log_source_line");

    auto bus = std::make_shared<EmulatorBackend>();
    std::string error;
    if (!loadEmulatorScenario(scenario, *bus, error))
    {
        std::fprintf(stderr, "scenario: %s\n", error.c_str());
        return 4;
    }
    std::chrono::milliseconds lastAppearance { 0 };
    for (const auto& device : bus->devices())
        lastAppearance = std::max({ lastAppearance, device->config().appearAt, device->config().replugAt });
    for (int i = 0; i < extra; ++i)
    {
        TovrakIdentity id;
        id.name = "Tovrak HD60 Pro";
        id.serialNumber = "BENCH" + std::to_string(1000 + i);
        id.productCode = 533;
        id.hardwareRevision = 'B';
        id.productVariant = 1;
        id.runningFirmwareVersion = 0x0102001E; // 1.2.30
        id.eraseUnitSize = 65536;
        id.installedCompatibilityCode = 7;
        EmulatedDeviceConfig config = makeTovrakDeviceConfig(id);
        config.busyPolls = 1;
        // Spread over the idle thread's 200 ms poll.
        config.appearAt = lastAppearance + std::chrono::milliseconds(1000 + 700 * i + (i * 37) % 200);
        bus->add(config);
    }

    EraseTimes erases;
    std::atomic<juce::int64> lastExchange { juce::Time::currentTimeMillis() };
    for (const auto& device : bus->devices())
    {
        const std::string serial = device->serialNumber();
        device->setExchangeObserver([&erases, &lastExchange, serial](const ExchangeRecord& record) {
            lastExchange = juce::Time::currentTimeMillis();
            if (record.direction == ReportDirection::Output && record.reportId == 0xF1 && !record.failed)
            {
                std::lock_guard<std::mutex> lock(erases.mutex);
                erases.bySerial[serial].push_back(Clock::now());
            }
        });
    }
    setHidBackend(bus);

    std::atomic<int> interrupts { 0 };
    std::istringstream in;
    CliIo io(std::cout, std::cerr, in);
    io.interruptCount = &interrupts;
    io.programFolder = folder;
    int exitCode = -1;
    std::thread station([&] {
        exitCode = runCli({ "station", "--folder", folder.getFullPathName().toStdString() }, io);
    });
    // Ends when every appearance is past and the devices have been quiet for two seconds.
    for (;;)
    {
        juce::Thread::sleep(200);
        const bool allAppeared = Clock::now() - bus->epoch() > lastAppearance + std::chrono::milliseconds(700 * extra + 1500);
        if (allAppeared && juce::Time::currentTimeMillis() - lastExchange > 2000)
            break;
    }
    interrupts = 1;
    station.join();

    std::printf("\n--- record file ---\n%s", folder.getChildFile("TovrakStation.jsonl").loadFileAsString().toRawUTF8());

    std::vector<FirmwareImage> images;
    for (const auto& file : folder.findChildFiles(juce::File::findFiles, false, "*.ksf"))
    {
        juce::FileInputStream stream(file);
        FirmwareImage image;
        if (readFirmwareImage(stream, image))
            images.push_back(std::move(image));
    }

    std::printf("\n--- final flash ---\n");
    std::vector<double> latencies;
    for (const auto& device : bus->devices())
    {
        const EmulatedDeviceConfig config = device->config();
        if (!config.speaksProtocol)
            continue;
        const std::string serial = device->serialNumber();
        const FirmwareImage* image = imageFor(images, config.deviceInfo);
        std::string sections = "no image";
        if (image != nullptr)
        {
            size_t same = 0;
            size_t ordinary = 0;
            for (size_t s = 0; s < image->header.sectionCount(); ++s)
            {
                const FirmwareSectionEntry entry = image->header.section(s);
                if (entry.kind() != FirmwareSectionEntry::Kind::Ordinary)
                    continue;
                ++ordinary;
                same += device->readFlash(entry.flashAddress, entry.length) == image->sections[s] ? 1 : 0;
            }
            sections = std::to_string(same) + " of " + std::to_string(ordinary) + " sections hold the image";
        }
        const uint32_t base = config.flashInfo.firmwareBaseAddress();
        std::printf("%-14s %s; at base: %s; at base+4096: %s; %zu violations\n", serial.c_str(), sections.c_str(),
                    headerText(*device, base, image).c_str(), headerText(*device, base + 4096, image).c_str(),
                    device->violations().size());

        // Appearance to first erase: every appearance (and the replug) against the first erase after it.
        std::vector<std::chrono::milliseconds> appearances { config.appearAt };
        if (config.replugAt.count() >= 0)
            appearances.push_back(config.replugAt);
        std::lock_guard<std::mutex> lock(erases.mutex);
        const auto& times = erases.bySerial[serial];
        for (const auto appeared : appearances)
        {
            const Clock::time_point at = bus->epoch() + appeared;
            const auto first = std::find_if(times.begin(), times.end(), [&](Clock::time_point t) { return t >= at; });
            if (first == times.end())
                continue;
            const double ms = std::chrono::duration<double, std::milli>(*first - at).count();
            latencies.push_back(ms);
            std::printf("%-14s appeared at %6lld ms, first erase %.0f ms later\n", serial.c_str(),
                        static_cast<long long>(appeared.count()), ms);
        }
    }
    if (!latencies.empty())
    {
        std::sort(latencies.begin(), latencies.end());
        std::printf("\nappearance to first erase over %zu plug-ins: min %.0f ms, median %.0f ms, max %.0f ms\n",
                    latencies.size(), latencies.front(), latencies[latencies.size() / 2], latencies.back());
    }
    std::printf("station exit code %d; files in %s\n", exitCode, folder.getFullPathName().toRawUTF8());
    return exitCode;
}
