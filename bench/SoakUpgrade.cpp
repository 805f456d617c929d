// Soak run of the flash procedure: rounds of eight emulated devices (no latency) upgraded at once
// in-process, each with a randomly chosen fault: transient input or output failures, an unplug at
// a random exchange (replugged afterwards), a write that is acknowledged but stored wrong, a busy
// flag that sticks, or an image whose layout no device can take. After every run it checks what
// must always hold, then runs the same device again without faults, which must bring it to the
// exact image:
//   - nothing is reported verified unless the flash holds exactly the image;
//   - a valid new header never sits over a section that differs from the image;
//   - no command reaches a device while it is busy, and nothing is written into unerased bytes;
//   - a hostile image causes no traffic at all;
//   - no run hangs (each has a time limit).
//
// Usage: soak_upgrade [--runs N] [--seconds S] [--seed N]
// A run is one upgrade of one device (a round is eight runs at once). Prints the counts per fault
// kind and per failure; the exit code is 1 when any failure count is not zero.
#include "FirmwareImage.h"
#include "TovrakDevice.h"
#include "UpgradeStatus.h"
#include "emulator/EmulatedWire.h"
#include "emulator/EmulatorBackend.h"
#include "hid/HidBackend.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

constexpr uint32_t kBase = 0x10000;
constexpr uint32_t kArea = 0x40000;
constexpr int kDevices = 8;
constexpr auto kRunLimit = std::chrono::seconds(20);
// The busy wait's limit: short for a device whose flag sticks (its runs are meant to give up),
// long for all others, so that a loaded machine's late wake-ups do not count as a device fault.
constexpr auto kStuckWipLimit = std::chrono::milliseconds(15);
constexpr auto kWipLimit = std::chrono::seconds(5);

enum Fault
{
    NoFault,
    InputFailure,
    OutputFailure,
    Unplug,
    StoredWrong,
    StuckBusy,
    HostileLayout,
    FaultKinds
};
const char* const kFaultNames[FaultKinds] = { "none", "transient input failure", "transient output failure",
                                              "unplug at a random exchange (and replug)", "write stored wrong",
                                              "stuck busy flag", "hostile layout" };

enum Failure
{
    VerifiedOverWrongFlash,
    ValidHeaderOverWrongSection,
    CommandWhileBusy,
    WriteIntoUnerased,
    TrafficForHostileImage,
    HostileImageAccepted,
    CleanRunFailed,
    FailureKinds
};
const char* const kFailureNames[FailureKinds] = { "verified, but the flash differs from the image",
                                                  "valid new header over a wrong section",
                                                  "command while the device was busy",
                                                  "write into unerased bytes",
                                                  "traffic for a hostile image",
                                                  "hostile image reported verified",
                                                  "fault-free run afterwards not verified" };

uint32_t pick(std::mt19937& rng, uint32_t below)
{
    return static_cast<uint32_t>(rng() % below);
}

std::vector<uint8_t> randomBytes(std::mt19937& rng, size_t count)
{
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes)
        b = static_cast<uint8_t>(rng() | 1u); // never the blank value
    return bytes;
}

struct Section
{
    const char* name;
    uint32_t address;
    std::vector<uint8_t> data;
};

FirmwareImage imageOf(const std::vector<Section>& sections)
{
    FirmwareImage image;
    image.header.setProductCode(100);
    image.header.setHardwareRevision('A');
    image.header.setFirmwareVersion(0x00010003);
    image.header.setCompatibilityCode(7);
    image.header.setSectionCount(static_cast<uint8_t>(sections.size()));
    for (size_t i = 0; i < sections.size(); ++i)
    {
        FirmwareSectionEntry entry;
        entry.name = sections[i].name;
        entry.flashAddress = sections[i].address;
        image.header.setSection(i, entry);
        image.sections[i] = sections[i].data;
    }
    finaliseFirmwareImage(image);
    return image;
}

// A sound image with fresh data: an ordinary section, a clear section, an "Upgrade." section.
FirmwareImage goodImage(std::mt19937& rng)
{
    const uint32_t appLength = 1 + pick(rng, 1500);
    return imageOf({ { "App", kArea + (pick(rng, 64)), randomBytes(rng, appLength) },
                     { "Factory.CLR.1", kArea + 0x1000, randomBytes(rng, 1 + pick(rng, 400)) },
                     { "Upgrade.Cfg", kArea + 0x2000, randomBytes(rng, 32) } });
}

FirmwareImage hostileImage(std::mt19937& rng, bool headerAtBase)
{
    switch (pick(rng, 5))
    {
    case 0: return imageOf({ { "App", 0xFFFFFF00u + (pick(rng, 200)), randomBytes(rng, 512) } }); // wraps
    case 1: return imageOf({ { "A", kArea, randomBytes(rng, 512) }, { "B", kArea + (pick(rng, 512)), randomBytes(rng, 16) } });
    case 2: return imageOf({ { "Factory.CLR.1", kArea, randomBytes(rng, 64) }, { "App", kArea + (pick(rng, 64)), randomBytes(rng, 16) } });
    case 3: // over the header block in use
        return imageOf({ { "App", kBase + (headerAtBase ? 0u : 4096u) + (pick(rng, 185)), randomBytes(rng, 16) } });
    default: // over the installed header (a safe upgrade) or a section over an "Upgrade." one
        return headerAtBase ? imageOf({ { "Upgrade.Cfg", kArea, randomBytes(rng, 64) }, { "App", kArea + 32, randomBytes(rng, 64) } })
                            : imageOf({ { "App", kBase + (pick(rng, 157)), randomBytes(rng, 16) } });
    }
}

// Every ordinary section holds its data and every clear section is blank.
bool sectionsHold(const EmulatedDevice& emu, const FirmwareImage& image)
{
    for (size_t i = 0; i < image.header.sectionCount(); ++i)
    {
        const auto entry = image.header.section(i);
        const auto held = emu.readFlash(entry.flashAddress, entry.length);
        if (entry.kind() == FirmwareSectionEntry::Kind::Ordinary && held != image.sections[i])
            return false;
        if (entry.kind() == FirmwareSectionEntry::Kind::Clear && held != std::vector<uint8_t>(entry.length, 0))
            return false;
    }
    return true;
}

bool headerHeld(const EmulatedDevice& emu, const FirmwareImage& image, uint32_t headerAddress)
{
    const uint16_t hs = image.header.headerSize();
    return emu.readFlash(headerAddress, hs) == std::vector<uint8_t>(image.header.data(), image.header.data() + hs);
}

size_t violations(const EmulatedDevice& emu, ProtocolViolation::Kind kind)
{
    size_t n = 0;
    for (const auto& v : emu.violations())
        n += v.kind == kind ? 1 : 0;
    return n;
}

struct Stats
{
    uint64_t runs = 0;
    std::array<uint64_t, FaultKinds> faults {};
    std::array<uint64_t, FaultKinds> hits {};
    std::array<uint64_t, FaultKinds> verifiedWithFault {};
    std::array<uint64_t, FailureKinds> failures {};
    uint64_t cleanRuns = 0;
};

struct Slot
{
    std::shared_ptr<EmulatedDevice> emu;
    Fault fault = NoFault;
    std::shared_ptr<std::atomic<bool>> hit; // the fault did happen during the run
    FirmwareImage image;
    bool headerAtBase = true;
    bool ok = false;
    int32_t status = 0;
};

bool runUpgrade(Slot& slot, const FirmwareImage& image, std::atomic<int32_t>& status, bool faulty)
{
    CTovrakDevice device(slot.emu->path());
    if (!device.present())
        return false;
    device.SetWipTimeLimit(faulty && slot.fault == StuckBusy ? kStuckWipLimit : kWipLimit);
    std::atomic<int32_t> progress { 0 };
    return device.Upgrade(image.header, image.sections, status, progress, slot.headerAtBase);
}

void fail(Stats& stats, Failure failure, const Slot& slot, const char* when)
{
    ++stats.failures[failure];
    if (stats.failures[failure] <= 3)
        std::printf("FAILURE (%s) %s: %s, fault %s, status %d\n", when, kFailureNames[failure], slot.emu->path().c_str(),
                    kFaultNames[slot.fault], slot.status);
}
} // namespace


int main(int argc, char** argv)
{
    uint64_t maxRuns = 100000;
    double maxSeconds = 0;
    uint32_t seed = std::random_device {}();
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string option = argv[i];
        if (option == "--runs")
            maxRuns = std::strtoull(argv[i + 1], nullptr, 10);
        else if (option == "--seconds")
            maxSeconds = std::strtod(argv[i + 1], nullptr);
        else if (option == "--seed")
            seed = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        else
        {
            std::fprintf(stderr, "usage: soak_upgrade [--runs N] [--seconds S] [--seed N]\n");
            return 2;
        }
    }
    // The logger stays uninitialised: a soak run's lines would fill a disk, and every failure is
    // counted and printed here.
    std::printf("soak_upgrade: seed %u, %llu runs at most%s\n", seed, static_cast<unsigned long long>(maxRuns),
                maxSeconds > 0 ? (", " + std::to_string(maxSeconds) + " s at most").c_str() : "");
    std::mt19937 rng(seed);
    const auto bus = std::make_shared<EmulatorBackend>();
    setHidBackend(bus);
    std::array<Slot, kDevices> slots;
    for (int i = 0; i < kDevices; ++i)
    {
        TovrakIdentity id;
        id.serialNumber = "SOAK" + std::to_string(i);
        id.firmwareBaseAddress = kBase;
        id.eraseUnitSize = 256u << (i % 3);
        id.installedCompatibilityCode = 7;
        slots[i].emu = bus->add(makeTovrakDeviceConfig(id));
    }

    Stats stats;
    const auto start = Clock::now();
    auto timeLeft = [&] { return maxSeconds <= 0 || std::chrono::duration<double>(Clock::now() - start).count() < maxSeconds; };
    while (stats.runs < maxRuns && timeLeft())
    {
        // Arm every device with its fault.
        for (Slot& slot : slots)
        {
            slot.fault = static_cast<Fault>(pick(rng, FaultKinds));
            slot.headerAtBase = pick(rng, 2) == 0;
            slot.image = slot.fault == HostileLayout ? hostileImage(rng, slot.headerAtBase) : goodImage(rng);
            const uint32_t busyPolls = pick(rng, 3);
            const uint64_t nth = 1 + pick(rng, 120);   // the exchanges of an upgrade: about 40 to 200
            const uint64_t count = 1 + pick(rng, 3);
            // A stored-wrong byte in the new header (one run in five) or in the ordinary section.
            const auto app = slot.image.header.section(0);
            const uint32_t wrongAt = pick(rng, 5) == 0 ? kBase + (slot.headerAtBase ? 0u : 4096u) + pick(rng, slot.image.header.headerSize())
                                                       : app.flashAddress + pick(rng, std::max<uint32_t>(app.length, 1));
            // A replug before every run: it ends whatever flash operation the last run left
            // running, as the time between two upgrades does on a real device.
            slot.emu->unplug();
            slot.emu->plug();
            slot.emu->clearHistory();
            slot.emu->configure([&](EmulatedDeviceConfig& c) {
                c.busyPolls = busyPolls;
                c.failReports.clear();
                c.stuckBusy = false;
                c.storeWrong = slot.fault == StoredWrong;
                c.storeWrongAddress = wrongAt;
            });
            // Faults that start counting after the device is open: armed by the exchange observer.
            std::shared_ptr<std::atomic<uint64_t>> seen = std::make_shared<std::atomic<uint64_t>>(0);
            EmulatedDevice* emu = slot.emu.get();
            const Fault fault = slot.fault;
            slot.hit = std::make_shared<std::atomic<bool>>(fault == NoFault);
            const auto hit = slot.hit;
            slot.emu->setExchangeObserver([=](const ExchangeRecord& r) {
                const uint64_t n = ++*seen;
                const bool operation = r.direction == ReportDirection::Output
                                    && (r.reportId == emulated_wire::kIdErase || r.reportId == emulated_wire::kIdData);
                // Armed from the start; counted once a write covered the address.
                if (fault == StoredWrong && !*hit && operation && r.reportId == emulated_wire::kIdData
                    && r.address <= wrongAt && wrongAt - r.address < r.count)
                    *hit = true;
                if (*hit || fault == StoredWrong || n < nth + 8) // the eight exchanges of opening the device come first
                    return;
                if (fault == Unplug)
                    emu->unplug();
                else if (fault == StuckBusy)
                {
                    // The flag sticks after an erase or write: a device does not turn busy on its own.
                    if (!operation)
                        return;
                    emu->configure([](EmulatedDeviceConfig& c) { c.stuckBusy = true; });
                }
                else if (fault == InputFailure || fault == OutputFailure)
                    emu->configure([=](EmulatedDeviceConfig& c) {
                        c.failReports.push_back({ -1, fault == InputFailure ? ReportDirection::Input : ReportDirection::Output, 1, count });
                    });
                else
                    return;
                *hit = true;
            });
            ++stats.faults[slot.fault];
        }

        // The faulty runs, all at once.
        std::array<std::atomic<int32_t>, kDevices> status {};
        std::vector<std::future<bool>> runs;
        for (int i = 0; i < kDevices; ++i)
            runs.push_back(std::async(std::launch::async, [&, i] { return runUpgrade(slots[i], slots[i].image, status[i], true); }));
        for (int i = 0; i < kDevices; ++i)
        {
            if (runs[i].wait_for(kRunLimit) != std::future_status::ready)
            {
                std::printf("FAILURE: the run of %s (fault %s) hangs\n", slots[i].emu->path().c_str(), kFaultNames[slots[i].fault]);
                std::fflush(stdout);
                std::_Exit(1); // a blocked worker cannot be joined
            }
            slots[i].ok = runs[i].get();
            slots[i].status = status[i];
        }

        for (Slot& slot : slots)
        {
            EmulatedDevice& emu = *slot.emu;
            emu.setExchangeObserver({});
            ++stats.runs;
            const uint32_t headerAddress = kBase + (slot.headerAtBase ? 0u : 4096u);
            if (*slot.hit || slot.fault == HostileLayout)
            {
                ++stats.hits[slot.fault];
                if (slot.ok)
                    ++stats.verifiedWithFault[slot.fault];
            }
            if (slot.fault == HostileLayout)
            {
                // Opening the device makes eight exchanges; the refused image none.
                if (emu.totalExchanges() != 8)
                    fail(stats, TrafficForHostileImage, slot, "faulty run");
                if (slot.ok)
                    fail(stats, HostileImageAccepted, slot, "faulty run");
            }
            else
            {
                if (slot.ok && !(headerHeld(emu, slot.image, headerAddress) && sectionsHold(emu, slot.image)))
                    fail(stats, VerifiedOverWrongFlash, slot, "faulty run");
                if (headerHeld(emu, slot.image, headerAddress) && !sectionsHold(emu, slot.image))
                    fail(stats, ValidHeaderOverWrongSection, slot, "faulty run");
            }
            if (violations(emu, ProtocolViolation::CommandWhileBusy) > 0)
                fail(stats, CommandWhileBusy, slot, "faulty run");
            if (violations(emu, ProtocolViolation::WriteIntoUnerased) > 0)
                fail(stats, WriteIntoUnerased, slot, "faulty run");

            // Faults off, device replugged; then a plain run must bring it to the exact image.
            emu.unplug();
            emu.plug();
            emu.clearHistory();
            emu.configure([](EmulatedDeviceConfig& c) {
                c.failReports.clear();
                c.stuckBusy = false;
                c.storeWrong = false;
            });
        }

        std::vector<std::future<bool>> cleanRuns;
        std::array<FirmwareImage, kDevices> cleanImages;
        for (int i = 0; i < kDevices; ++i)
        {
            cleanImages[i] = slots[i].fault == HostileLayout ? goodImage(rng) : slots[i].image;
            cleanRuns.push_back(std::async(std::launch::async, [&, i] { return runUpgrade(slots[i], cleanImages[i], status[i], false); }));
        }
        for (int i = 0; i < kDevices; ++i)
        {
            if (cleanRuns[i].wait_for(kRunLimit) != std::future_status::ready)
            {
                std::printf("FAILURE: the fault-free run of %s hangs\n", slots[i].emu->path().c_str());
                std::fflush(stdout);
                std::_Exit(1);
            }
            Slot& slot = slots[i];
            slot.ok = cleanRuns[i].get();
            slot.status = status[i];
            ++stats.cleanRuns;
            const uint32_t headerAddress = kBase + (slot.headerAtBase ? 0u : 4096u);
            if (!slot.ok || !headerHeld(*slot.emu, cleanImages[i], headerAddress) || !sectionsHold(*slot.emu, cleanImages[i]))
                fail(stats, CleanRunFailed, slot, "fault-free run");
            if (violations(*slot.emu, ProtocolViolation::CommandWhileBusy) > 0)
                fail(stats, CommandWhileBusy, slot, "fault-free run");
            if (violations(*slot.emu, ProtocolViolation::WriteIntoUnerased) > 0)
                fail(stats, WriteIntoUnerased, slot, "fault-free run");
        }
        if (stats.runs % 8000 == 0)
        {
            std::printf("  %llu runs, %.0f s\n", static_cast<unsigned long long>(stats.runs),
                        std::chrono::duration<double>(Clock::now() - start).count());
            std::fflush(stdout);
        }
    }

    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%llu runs (and %llu fault-free runs after them) on %d devices in %.1f s\n",
                static_cast<unsigned long long>(stats.runs), static_cast<unsigned long long>(stats.cleanRuns), kDevices, seconds);
    std::printf("faults by kind: runs armed, runs in which it happened, of these still verified:\n");
    for (int f = 0; f < FaultKinds; ++f)
        std::printf("  %-42s %8llu  %8llu  %8llu\n", kFaultNames[f], static_cast<unsigned long long>(stats.faults[f]),
                    static_cast<unsigned long long>(stats.hits[f]), static_cast<unsigned long long>(stats.verifiedWithFault[f]));
    uint64_t total = 0;
    std::printf("failures:\n");
    for (int f = 0; f < FailureKinds; ++f)
    {
        std::printf("  %-50s %llu\n", kFailureNames[f], static_cast<unsigned long long>(stats.failures[f]));
        total += stats.failures[f];
    }
    CTovrakDevice::Uninit();
    setHidBackend(nullptr);
    std::printf("%s\n", total == 0 ? "no failures" : "FAILURES above");
    return total == 0 ? 0 : 1;
}
