// Times whole firmware upgrades against emulated devices that take 1 ms per report exchange,
// and compares each with its floor: a bare loop that makes exactly the same report exchanges,
// with the same 1 ms sleep after every write-in-progress poll, against the same emulated
// device, without the procedure's logic, logging or threads. The ratio wall / floor is what our
// code adds. Also counts the exchanges per phase and checks them against the count the
// procedure must make for the image.
//
// Usage: bench_upgrade [section KiB, default 1024]
// Prints figures; the exit code is 1 only when an upgrade fails or a count is wrong.
#include "DeviceRow.h"
#include "FirmwareFileManager.h"
#include "Log.h"
#include "TovrakDevice.h"
#include "UpgradeThread.h"
#include "emulator/EmulatorBackend.h"
#include "hid/HidBackend.h"

#include <juce_core/juce_core.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

constexpr uint32_t kBase = 0x10000;
constexpr uint32_t kSectionAddress = 0x100000;
constexpr uint32_t kEraseUnit = 4096;
constexpr uint32_t kClearBytes = 4096;
const char* const kPhaseNames[] = { "erasing", "writing", "verifying" };

enum Phase
{
    Erasing,
    Writing,
    Verifying,
    PhaseCount
};

int phaseOf(int32_t status)
{
    switch (status)
    {
    case RESULT_ERASING: return Erasing;
    case RESULT_WRITING: return Writing;
    case RESULT_VERIFYING: return Verifying;
    default: return -1;
    }
}

using PhaseCounts = std::array<uint64_t, PhaseCount>;

// One exchange of a run, as the floor replays it.
struct Step
{
    ExchangeRecord record;
    int phase;
};

// Everything one device's run saw: its exchanges in order, with the phase of each.
struct Trace
{
    std::vector<Step> steps;
    PhaseCounts counts {};
    std::atomic<const std::atomic<int32_t>*> status { nullptr };
    std::atomic<int> floorPhase { -1 };
};

// The exchanges the procedure must make for an image of one ordinary section of `ordinary`
// bytes and one clear section of `clear` bytes (no failures, the device busy for no poll).
PhaseCounts requiredExchanges(uint32_t headerSize, uint32_t ordinary, uint32_t clear)
{
    auto ceilDiv = [](uint64_t a, uint64_t b) { return (a + b - 1) / b; };
    auto readExchanges = [&](uint64_t bytes, uint64_t piece) {
        uint64_t n = 0;
        for (uint64_t off = 0; off < bytes; off += piece)
            n += 2 * ceilDiv(std::min<uint64_t>(piece, bytes - off), 64);
        return n;
    };
    PhaseCounts c {};
    const uint64_t erases = 1 + ceilDiv(ordinary, kEraseUnit) + ceilDiv(clear, kEraseUnit);
    // The idle poll before the attempt, command + one poll per erase, the blank check.
    c[Erasing] = 1 + 2 * erases + readExchanges(clear, 256);
    c[Writing] = 2 * ceilDiv(ordinary, 256); // write + poll per piece
    // The sections read back, then the header written (write + poll) and read back.
    c[Verifying] = readExchanges(ordinary, 256) + 2 + readExchanges(headerSize, 256);
    return c;
}

FirmwareImage benchImage(uint32_t ordinaryBytes)
{
    FirmwareImage image;
    auto& h = image.header;
    h.setProductCode(100);
    h.setHardwareRevision('A');
    h.setFirmwareVersion(0x00010003); // newer than the running 1.2
    std::vector<uint8_t> data(ordinaryBytes);
    uint32_t state = 7;
    for (auto& b : data)
    {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>((state >> 16) | 1);
    }
    FirmwareSectionEntry app;
    app.name = "App";
    app.flashAddress = kSectionAddress;
    FirmwareSectionEntry clear;
    clear.name = "Factory.CLR.1";
    clear.flashAddress = kSectionAddress + ((ordinaryBytes + kEraseUnit - 1) / kEraseUnit) * kEraseUnit;
    h.setSectionCount(2);
    h.setSection(0, app);
    h.setSection(1, clear);
    image.sections[0] = std::move(data);
    image.sections[1] = std::vector<uint8_t>(kClearBytes, 0x5A);
    finaliseFirmwareImage(image);
    return image;
}

// The bare loop: the recorded exchanges, replayed through a handle of its own.
void replay(HidBackend& backend, const std::string& path, Trace& trace)
{
    const auto handle = backend.open(path);
    if (handle == nullptr)
    {
        std::fprintf(stderr, "floor: cannot open %s\n", path.c_str());
        std::exit(1);
    }
    std::array<uint8_t, 1024> buffer {};
    for (const Step& step : trace.steps)
    {
        const ExchangeRecord& r = step.record;
        trace.floorPhase.store(step.phase, std::memory_order_relaxed);
        buffer[0] = r.reportId;
        if (r.direction == ReportDirection::Output)
        {
            le::write32(buffer.data() + 1, r.address);
            if (r.reportId == KSCAP_HID_FIRMWARE_ERASE)
                le::write32(buffer.data() + 5, r.count);
            else if (r.reportId == KSCAP_HID_FIRMWARE_DATA)
                le::write16(buffer.data() + 5, static_cast<uint16_t>(r.count));
            handle->sendOutputReport(buffer.data(), r.length);
        }
        else
        {
            handle->getInputReport(buffer.data(), r.length);
            if (r.reportId == KSCAP_HID_FIRMWARE_WIP)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

struct Bench
{
    std::shared_ptr<EmulatorBackend> bus = std::make_shared<EmulatorBackend>();
    std::vector<std::shared_ptr<EmulatedDevice>> emus;
    std::vector<std::unique_ptr<Trace>> traces;
    bool ok = true;

    void addDevices(int count)
    {
        for (int i = 0; i < count; ++i)
        {
            TovrakIdentity id;
            id.serialNumber = "BENCH" + std::to_string(i);
            id.eraseUnitSize = kEraseUnit;
            id.firmwareBaseAddress = kBase;
            EmulatedDeviceConfig config = makeTovrakDeviceConfig(id);
            config.latency = std::chrono::milliseconds(1);
            config.busyPolls = 0;
            emus.push_back(bus->add(std::move(config)));
            traces.push_back(std::make_unique<Trace>());
        }
    }

    // Counts every exchange of device i in the phase its run (or its replay) is in.
    void observe(size_t i, bool recording)
    {
        Trace* trace = traces[i].get();
        emus[i]->setExchangeObserver([trace, recording](const ExchangeRecord& r) {
            int phase = -1;
            if (recording)
            {
                const auto* status = trace->status.load(std::memory_order_relaxed);
                phase = status != nullptr ? phaseOf(status->load(std::memory_order_relaxed)) : -1;
                trace->steps.push_back({ r, phase });
            }
            else
                phase = trace->floorPhase.load(std::memory_order_relaxed);
            if (phase >= 0)
                ++trace->counts[static_cast<size_t>(phase)];
        });
    }

    // The upgrade workers of devices [first, first + count) at once; wall time.
    double runWorkers(size_t first, size_t count)
    {
        std::vector<std::unique_ptr<CUpgradeThread>> workers;
        for (size_t i = first; i < first + count; ++i)
        {
            DeviceRow row;
            row.serialNumber = juce::String(emus[i]->serialNumber());
            workers.push_back(std::make_unique<CUpgradeThread>(row, false));
            if (workers.back()->device() == nullptr)
            {
                std::fprintf(stderr, "device %s not found\n", emus[i]->serialNumber().c_str());
                std::exit(1);
            }
            traces[i]->steps.clear();
            traces[i]->steps.reserve(1u << 17);
            traces[i]->counts = {};
            traces[i]->status = &workers.back()->m_nStatus;
            observe(i, true);
        }
        const auto start = Clock::now();
        for (auto& w : workers)
            w->startThread();
        for (auto& w : workers)
            w->waitForThreadToExit(-1);
        const auto wall = Clock::now() - start;
        for (size_t k = 0; k < count; ++k)
        {
            if (workers[k]->m_bFailed || workers[k]->m_nStatus != RESULT_VERIFIED)
            {
                std::printf("  device %zu: upgrade FAILED with status %d\n", first + k, int(workers[k]->m_nStatus));
                ok = false;
            }
            emus[first + k]->setExchangeObserver({});
            traces[first + k]->status = nullptr;
        }
        return seconds(wall);
    }

    // The floor of the same devices: each replays its recorded exchanges on its own thread.
    double runFloor(size_t first, size_t count)
    {
        for (size_t i = first; i < first + count; ++i)
        {
            traces[i]->counts = {};
            observe(i, false);
        }
        const auto start = Clock::now();
        if (count == 1)
            replay(*bus, emus[first]->path(), *traces[first]); // no thread hand-off at all
        else
        {
            std::vector<std::thread> threads;
            for (size_t i = first; i < first + count; ++i)
                threads.emplace_back([this, i] { replay(*bus, emus[i]->path(), *traces[i]); });
            for (auto& t : threads)
                t.join();
        }
        const auto wall = Clock::now() - start;
        for (size_t i = first; i < first + count; ++i)
            emus[i]->setExchangeObserver({});
        return seconds(wall);
    }

    void checkCounts(size_t i, const PhaseCounts& required, const char* what)
    {
        const auto& c = traces[i]->counts;
        bool same = c == required;
        ok = ok && same;
        std::printf("  %-9s device %zu: erasing %llu, writing %llu, verifying %llu exchanges: %s\n", what, i,
                    static_cast<unsigned long long>(c[Erasing]), static_cast<unsigned long long>(c[Writing]),
                    static_cast<unsigned long long>(c[Verifying]), same ? "as required" : "WRONG");
    }
};
} // namespace

int main(int argc, char** argv)
{
    const uint32_t sectionKiB = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1024;
    if (sectionKiB < 8)
    {
        std::fprintf(stderr, "usage: bench_upgrade [image KiB, at least 8]\n");
        return 2;
    }
    const juce::File logFile = juce::File::getSpecialLocation(juce::File::tempDirectory)
                                   .getNonexistentChildFile("bench-upgrade-", ".log", false);
    Log::instance().init(logFile.getFullPathName().toStdString(), "datetime_level_func_log_source_line");

    // One image of `sectionKiB` KiB in all: an ordinary section and a 4 KiB clear section.
    const uint32_t ordinaryBytes = sectionKiB * 1024 - kClearBytes;
    g_firmwareFileMgr.addImage(benchImage(ordinaryBytes));
    const FirmwareImage& image = g_firmwareFileMgr.images().front();
    const PhaseCounts required = requiredExchanges(image.header.headerSize(), ordinaryBytes, kClearBytes);

    Bench bench;
    setHidBackend(bench.bus);
    bench.addDevices(1 + 8);
    CTovrakDevice::Refresh();

    std::printf("bench_upgrade: image of %u KiB (%u-byte section, %u-byte clear section, %u-byte header), "
                "1 ms per exchange, 1 ms sleep per write-in-progress poll\n",
                sectionKiB, ordinaryBytes, kClearBytes, unsigned(image.header.headerSize()));
    std::printf("  required exchanges: erasing %llu, writing %llu, verifying %llu, total %llu\n",
                static_cast<unsigned long long>(required[Erasing]), static_cast<unsigned long long>(required[Writing]),
                static_cast<unsigned long long>(required[Verifying]),
                static_cast<unsigned long long>(required[Erasing] + required[Writing] + required[Verifying]));

    const double one = bench.runWorkers(0, 1);
    bench.checkCounts(0, required, "upgrade");
    const double oneFloor = bench.runFloor(0, 1);
    bench.checkCounts(0, required, "floor");
    std::printf("one device:   wall %8.3f s   floor %8.3f s   ratio %.4f (target <= 1.02)\n", one, oneFloor, one / oneFloor);

    const double eight = bench.runWorkers(1, 8);
    for (size_t i = 1; i <= 8; ++i)
        bench.checkCounts(i, required, "upgrade");
    const double eightFloor = bench.runFloor(1, 8);
    for (size_t i = 1; i <= 8; ++i)
        bench.checkCounts(i, required, "floor");
    std::printf("eight at once: wall %8.3f s   floor %8.3f s   ratio %.4f\n", eight, eightFloor, eight / eightFloor);
    std::printf("eight at once against one device: %.4f (target <= 1.10)\n", eight / one);

    CTovrakDevice::Uninit();
    g_firmwareFileMgr.clearImages();
    logFile.deleteFile();
    std::printf("%s\n", bench.ok ? "all upgrades verified, exchange counts as required" : "FAILURES above");
    return bench.ok ? 0 : 1;
}
