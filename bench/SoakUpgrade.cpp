// Soak run of upgrades as devices live: eight emulated devices keep their flash from run to run
// and run what they boot, so runs form chains of safe and unsafe upgrades, downgrades, and
// layouts over or beside the sections already in the flash. Each run is one upgrade of every
// device through the program's own parts in process: the device list, the row list, the
// supervision (with its relaunches) and one worker per device, polled as the window polls them.
// Each device gets none, one or two faults of different kinds, armed at an exchange drawn over
// the whole run and counted only when they really changed an exchange.
//
// After every run, for every device, it checks what a device needs to stay alive:
//   - every valid header at either header place describes what the flash holds;
//   - "verified" only when the device, replugged, boots the new image's header and it holds;
//   - the image's "Upgrade." sections are untouched;
//   - no command reaches a busy device, nothing is written into unerased bytes;
//   - an image no device can take causes no erase or write and is not verified;
//   - a run in which no fault happened is verified (a device is never left unupgradable);
//   - no run hangs (a run has a time limit).
//
// Usage: soak_upgrade [--runs N] [--seconds S] [--seed N] [--dump DIR] [--log FILE]
// A run is one upgrade of one device (a round is eight runs at once). Prints the counts per
// fault kind and per pair of kinds, and per failure; with --dump, the flash of every failed run
// goes to DIR (see tools/inspect-flash). The exit code is 1 when any failure count is not zero.
#include "SoakPlan.h"

#include "DeviceRowList.h"
#include "FirmwareFileManager.h"
#include "Log.h"
#include "TovrakDevice.h"
#include "UpgradeSupervisor.h"
#include "UpgradeThread.h"
#include "emulator/EmulatedBoot.h"
#include "emulator/EmulatorBackend.h"
#include "hid/HidBackend.h"

#include <juce_core/juce_core.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace soak;

namespace
{
using Clock = std::chrono::steady_clock;

constexpr int kDevices = 8;
constexpr auto kRunLimit = std::chrono::seconds(60);
// The busy wait's limit: short when the flag may stick (such runs are meant to give up), long
// for all others, so that a loaded machine's late wake-ups do not count as a device fault.
constexpr auto kStuckWipLimit = std::chrono::milliseconds(15);
constexpr auto kWipLimit = std::chrono::seconds(5);

enum Failure
{
    ValidHeaderOverForeignBytes,
    VerifiedButNotBooted,
    KeptSectionChanged,
    CommandWhileBusy,
    WriteIntoUnerased,
    HostileImageTouchedFlash,
    HostileImageVerified,
    FaultFreeRunNotVerified,
    FailureKinds
};
const char* const kFailureNames[FailureKinds] = {
    "valid header over bytes that are not its own", "verified, but the device does not boot it",
    "\"Upgrade.\" section changed",                 "command while the device was busy",
    "write into unerased bytes",                    "erase or write for a refused image",
    "refused image reported verified",              "run without a fault not verified",
};

struct Slot
{
    std::shared_ptr<EmulatedDevice> emu;
    uint16_t productCode = 0;
    RunPlan plan;
    std::shared_ptr<LiveRun> live;
    std::string outcome; // the row's and the workers' last words, for failure reports
    FaultHits hitsBefore;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> keptBefore;
    Clock::time_point outSince {};
    bool out = false;
};

struct Stats
{
    uint64_t runs = 0;
    uint64_t verified = 0;
    uint64_t hostile = 0;
    uint64_t bootedNewWithoutVerified = 0;
    uint64_t safeUpgrades = 0; // verified with the header above the base
    std::array<uint64_t, FaultKinds> armed {}, happened {}, verifiedAfter {};
    std::array<std::array<uint64_t, FaultKinds>, FaultKinds> pairArmed {}, pairHappened {}, pairVerified {};
    std::array<uint64_t, FailureKinds> failures {};
};

uint16_t runningCode(const EmulatedDevice& emu)
{
    const auto booted = emu.bootedAtStart();
    return booted.booted() != nullptr ? booted.booted()->compatibilityCode : 0;
}

bool sameBytes(const std::vector<uint8_t>& bytes, const FirmwareHeader& header)
{
    const size_t n = header.headerSize();
    return bytes.size() == n && std::equal(bytes.begin(), bytes.end(), header.data());
}

size_t violations(const EmulatedDevice& emu, ProtocolViolation::Kind kind)
{
    size_t n = 0;
    for (const auto& v : emu.violations())
        n += v.kind == kind ? 1 : 0;
    return n;
}

std::string dumpDir;

void fail(Stats& stats, Failure failure, const Slot& slot, const std::string& detail = {})
{
    ++stats.failures[failure];
    if (stats.failures[failure] > 3)
        return;
    std::printf("FAILURE after run %llu: %s: %s, image %s, faults", static_cast<unsigned long long>(stats.runs),
                kFailureNames[failure], slot.emu->serialNumber().c_str(), slot.plan.hostile ? "refused" : "sound");
    for (const auto& f : slot.plan.faults)
        std::printf(" [%s at %llu]", kFaultNames[f.kind], static_cast<unsigned long long>(f.atExchange));
    std::printf("\n%s%s", slot.outcome.c_str(), detail.c_str());
    if (!dumpDir.empty())
    {
        const std::string stem = dumpDir + "/run" + std::to_string(stats.runs) + "-" + slot.emu->serialNumber();
        const auto flash = slot.emu->readFlash(0, kFlashSize);
        std::ofstream(stem + ".bin", std::ios::binary).write(reinterpret_cast<const char*>(flash.data()),
                                                             static_cast<std::streamsize>(flash.size()));
        std::ofstream(stem + ".txt") << emulated_boot::describe(slot.emu->bootView());
        std::printf("  flash in %s.bin (inspect-flash %s.bin 0x%x)\n", stem.c_str(), stem.c_str(), kBase);
    }
    std::fflush(stdout);
}

// One round: every device offered its image at once, supervised as the window does it.
class Round
{
public:
    Round(std::array<Slot, kDevices>& slots) : m_slots(slots) {}

    void Run()
    {
        Refill();
        m_supervisor.SelectAll(m_rows, true, true);
        m_supervisor.StartSelected(m_rows, true);
        const auto start = Clock::now();
        while (m_supervisor.IsUpgrading())
        {
            juce::Thread::sleep(1);
            if (Clock::now() - start > kRunLimit)
            {
                std::printf("FAILURE: a run hangs\n");
                for (const Slot& slot : m_slots)
                    std::printf("  %s: attached %d\n", slot.emu->serialNumber().c_str(), slot.emu->isAttached() ? 1 : 0);
                std::fflush(stdout);
                std::_Exit(1); // a blocked worker cannot be joined
            }
            if (ReplugPulledDevices())
                Refill();
            else
                m_supervisor.Poll(m_rows);
        }
        // The refill that ends the upgrading state; a device pulled out at the very end comes back.
        while (ReplugPulledDevices(true))
            ;
        Refill();
    }

    bool Verified(const Slot& slot) const
    {
        return m_supervisor.IsUpgradedSerial(juce::String(slot.emu->serialNumber()));
    }

    // For a failure's report: the row's text and each worker's last status.
    std::string Outcome(const Slot& slot) const
    {
        const juce::String serial(slot.emu->serialNumber());
        std::string text;
        for (const DeviceRow& row : m_rows)
            if (row.serialNumber == serial)
                text += "  row: \"" + row.statusText.toStdString() + "\"\n";
        for (size_t i = 0; i < m_supervisor.WorkerCount(); ++i)
            if (m_supervisor.Worker(i).m_deviceRow.serialNumber == serial)
                text += "  worker " + std::to_string(m_supervisor.Worker(i).m_nRestartCount) + ": status "
                      + std::to_string(m_supervisor.Worker(i).m_nStatus) + "\n";
        return text;
    }

private:
    UpgradeSupervisor::WorkerFactory Factory()
    {
        return [this](const DeviceRow& row, bool force) {
            auto worker = std::make_unique<CUpgradeThread>(row, force);
            if (worker->device() != nullptr)
                for (const Slot& slot : m_slots)
                    if (juce::String(slot.emu->serialNumber()) == row.serialNumber)
                    {
                        bool mayStick = false;
                        for (const auto& f : slot.plan.faults)
                            mayStick = mayStick || f.kind == StuckBusy;
                        worker->device()->SetWipTimeLimit(mayStick ? kStuckWipLimit : kWipLimit);
                    }
            return worker;
        };
    }

    void Refill()
    {
        CTovrakDevice::Refresh();
        const DeviceTest upgraded = [this](const DeviceKey& d) { return m_supervisor.IsUpgradedDevice(d); };
        DeviceKeyList selected;
        for (const DeviceRow& row : m_rows)
            if (row.selected)
                selected.add(keyOf(row));
        const DeviceTest remembered = [&](const DeviceKey& d) { return selected.contains(d); };
        m_rows = buildDeviceRows(listedDeviceFacts(kMaxDeviceRows), g_firmwareFileMgr, upgraded, remembered).rows;
        m_supervisor.Reconcile(m_rows, listedDeviceKeys());
        m_supervisor.Poll(m_rows);
    }

    // A device pulled out during the run is plugged in again after a few milliseconds, as a
    // user puts back a cable. True when one came back.
    bool ReplugPulledDevices(bool now = false)
    {
        bool back = false;
        for (Slot& slot : m_slots)
        {
            if (!slot.out && !slot.emu->isAttached())
            {
                slot.out = true;
                slot.outSince = Clock::now();
                CTovrakDevice::Refresh(); // the list sees it gone, as the idle thread would
            }
            if (slot.out && (now || Clock::now() - slot.outSince > std::chrono::milliseconds(3)))
            {
                slot.emu->configure([](EmulatedDeviceConfig& c) { c.stuckBusy = false; }); // power cycle
                slot.emu->plug();
                slot.out = false;
                back = true;
            }
        }
        return back;
    }

    std::array<Slot, kDevices>& m_slots;
    UpgradeSupervisor m_supervisor { Factory() };
    std::vector<DeviceRow> m_rows;
};

void checkRun(Stats& stats, Slot& slot, bool verified, RunLengthModel& lengths)
{
    EmulatedDevice& emu = *slot.emu;
    ++stats.runs;
    const auto happened = faultsThatHappened(slot.plan, slot.hitsBefore, emu.faultHits(), *slot.live);
    bool anyHappened = false;
    for (size_t i = 0; i < slot.plan.faults.size(); ++i)
    {
        const Fault f = slot.plan.faults[i].kind;
        ++stats.armed[f];
        stats.happened[f] += happened[i] ? 1 : 0;
        stats.verifiedAfter[f] += happened[i] && verified ? 1 : 0;
        anyHappened = anyHappened || happened[i];
    }
    if (slot.plan.faults.size() == 2)
    {
        const Fault a = std::min(slot.plan.faults[0].kind, slot.plan.faults[1].kind);
        const Fault b = std::max(slot.plan.faults[0].kind, slot.plan.faults[1].kind);
        ++stats.pairArmed[a][b];
        const bool both = happened[0] && happened[1];
        stats.pairHappened[a][b] += both ? 1 : 0;
        stats.pairVerified[a][b] += both && verified ? 1 : 0;
    }
    stats.verified += verified ? 1 : 0;
    stats.hostile += slot.plan.hostile ? 1 : 0;
    if (slot.plan.faults.empty() && !slot.plan.hostile && verified)
        lengths.learn(payloadBytes(slot.plan.image), slot.live->exchanges);

    // The flash as the run left it, then as the device boots it after a replug.
    const auto view = emu.bootView();
    if (!view.everyValidHeaderHolds())
        fail(stats, ValidHeaderOverForeignBytes, slot, emulated_boot::describe(view));
    for (const auto& kept : slot.keptBefore)
        if (emu.readFlash(kept.first, kept.second.size()) != kept.second)
            fail(stats, KeptSectionChanged, slot);
    if (violations(emu, ProtocolViolation::CommandWhileBusy) > 0)
        fail(stats, CommandWhileBusy, slot);
    if (violations(emu, ProtocolViolation::WriteIntoUnerased) > 0)
        fail(stats, WriteIntoUnerased, slot);
    if (slot.plan.hostile)
    {
        if (slot.live->operations)
            fail(stats, HostileImageTouchedFlash, slot);
        if (verified)
            fail(stats, HostileImageVerified, slot);
    }
    else if (!anyHappened && !verified)
        fail(stats, FaultFreeRunNotVerified, slot, emulated_boot::describe(view));

    clearFaults(emu);
    emu.unplug();
    CTovrakDevice::Refresh();
    emu.plug();
    const auto booted = emu.bootedAtStart();
    const auto* header = booted.booted();
    const bool bootsNew = header != nullptr && header->holds && sameBytes(header->bytes, slot.plan.image.header);
    if (verified && !bootsNew)
        fail(stats, VerifiedButNotBooted, slot, emulated_boot::describe(booted));
    stats.bootedNewWithoutVerified += bootsNew && !verified ? 1 : 0;
    stats.safeUpgrades += verified && booted.choice == emulated_boot::BootView::Safe ? 1 : 0;
}

void printStats(const Stats& stats, double seconds)
{
    auto u = [](uint64_t v) { return static_cast<unsigned long long>(v); };
    std::printf("%llu runs on %d devices in %.1f s: %llu verified (%llu with the header above the base), %llu refused "
                "images, %llu booted the new image though not verified\n",
                u(stats.runs), kDevices, seconds, u(stats.verified), u(stats.safeUpgrades), u(stats.hostile),
                u(stats.bootedNewWithoutVerified));
    std::printf("faults by kind: armed, happened, of these still verified:\n");
    for (int f = 0; f < FaultKinds; ++f)
        std::printf("  %-36s %8llu  %8llu  %8llu\n", kFaultNames[f], u(stats.armed[f]), u(stats.happened[f]),
                    u(stats.verifiedAfter[f]));
    std::printf("pairs of kinds: armed, both happened, of these still verified:\n");
    for (int a = 0; a < FaultKinds; ++a)
        for (int b = a + 1; b < FaultKinds; ++b)
            std::printf("  %-36s + %-36s %6llu  %6llu  %6llu\n", kFaultNames[a], kFaultNames[b], u(stats.pairArmed[a][b]),
                        u(stats.pairHappened[a][b]), u(stats.pairVerified[a][b]));
    std::printf("failures:\n");
    for (int f = 0; f < FailureKinds; ++f)
        std::printf("  %-48s %llu\n", kFailureNames[f], u(stats.failures[f]));
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
        else if (option == "--dump")
            dumpDir = argv[i + 1];
        else if (option == "--log")
            Log::instance().init(argv[i + 1], "datetime_level_func_log_source_line");
        else
        {
            std::fprintf(stderr, "usage: soak_upgrade [--runs N] [--seconds S] [--seed N] [--dump DIR] [--log FILE]\n");
            return 2;
        }
    }
    if (argc % 2 == 0)
    {
        std::fprintf(stderr, "usage: soak_upgrade [--runs N] [--seconds S] [--seed N] [--dump DIR] [--log FILE]\n");
        return 2;
    }
    // Without --log the logger stays uninitialised: a soak run's lines would fill a disk, and
    // every failure is counted and printed here.
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
        id.productCode = static_cast<uint16_t>(100 + i); // each device its own image
        id.firmwareBaseAddress = kBase;
        id.eraseUnitSize = 256u << (i % 3);
        id.installedCompatibilityCode = 7;
        EmulatedDeviceConfig config = makeTovrakDeviceConfig(id);
        config.flashSize = kFlashSize;
        // The factory firmware: one section, described by the installed header.
        const InstalledSection app { "App", kArea, 1024, static_cast<uint8_t>(i + 1) };
        config.installedHeader = makeInstalledHeader(id.productCode, id.hardwareRevision, id.productVariant,
                                                     headerVersionMatchingRunning(id.runningFirmwareVersion), 7, { app });
        config.installedData = { { app.address, installedSectionBytes(app) } };
        slots[i].productCode = id.productCode;
        slots[i].emu = bus->add(config);
    }

    Stats stats;
    RunLengthModel lengths;
    const auto start = Clock::now();
    auto timeLeft = [&] { return maxSeconds <= 0 || std::chrono::duration<double>(Clock::now() - start).count() < maxSeconds; };
    while (stats.runs < maxRuns && timeLeft())
    {
        g_firmwareFileMgr.clearImages();
        for (Slot& slot : slots)
        {
            slot.plan = drawPlan(rng, slot.productCode, runningCode(*slot.emu), lengths);
            slot.emu->clearHistory();
            slot.hitsBefore = slot.emu->faultHits();
            slot.keptBefore.clear();
            const FirmwareHeader& h = slot.plan.image.header;
            for (size_t s = 0; s < h.sectionCount() && !slot.plan.hostile; ++s)
                if (h.section(s).kind() == FirmwareSectionEntry::Kind::Skipped)
                    slot.keptBefore.emplace_back(h.section(s).flashAddress, slot.emu->readFlash(h.section(s).flashAddress, h.section(s).length));
            slot.live = std::make_shared<LiveRun>();
            armPlan(*slot.emu, slot.plan, slot.live);
            FirmwareImage copy = slot.plan.image;
            g_firmwareFileMgr.addImage(std::move(copy));
        }

        std::array<bool, kDevices> verified {};
        {
            Round round(slots);
            round.Run();
            for (int i = 0; i < kDevices; ++i)
            {
                verified[i] = round.Verified(slots[i]);
                slots[i].outcome = round.Outcome(slots[i]);
            }
        }
        for (int i = 0; i < kDevices; ++i)
            checkRun(stats, slots[i], verified[i], lengths);
        if (stats.runs % 8000 == 0)
        {
            std::printf("  %llu runs, %.0f s\n", static_cast<unsigned long long>(stats.runs),
                        std::chrono::duration<double>(Clock::now() - start).count());
            std::fflush(stdout);
        }
    }

    printStats(stats, std::chrono::duration<double>(Clock::now() - start).count());
    uint64_t total = 0;
    for (uint64_t f : stats.failures)
        total += f;
    CTovrakDevice::Uninit();
    g_firmwareFileMgr.clearImages();
    setHidBackend(nullptr);
    std::printf("%s\n", total == 0 ? "no failures" : "FAILURES above");
    return total == 0 ? 0 : 1;
}
