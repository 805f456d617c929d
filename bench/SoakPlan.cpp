#include "SoakPlan.h"

#include "emulator/EmulatedWire.h"

#include <algorithm>
#include <string>

namespace soak
{
const char* const kFaultNames[FaultKinds] = {
    "transient input failure", "transient output failure", "unplug at an exchange (and replug)",
    "unplug right after a header write", "write stored wrong", "read-back corrupted",
    "not blank after erase", "busy time", "stuck busy flag",
};

namespace
{
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
    std::string name;
    uint32_t address;
    std::vector<uint8_t> data;
};

FirmwareImage imageOf(std::mt19937& rng, uint16_t productCode, uint16_t compatibilityCode, const std::vector<Section>& sections)
{
    FirmwareImage image;
    image.header.setProductCode(productCode);
    image.header.setHardwareRevision('A');
    // Major 1 to 3 in bits 16-23, minor in bits 0-7: upgrades and downgrades both come up.
    image.header.setFirmwareVersion(((1 + pick(rng, 3)) << 16) | pick(rng, 10));
    image.header.setCompatibilityCode(compatibilityCode);
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

// A code other than the running one makes the upgrade an unsafe one (header at the base).
uint16_t otherCode(std::mt19937& rng, uint16_t running)
{
    return static_cast<uint16_t>(running + 1 + pick(rng, 5));
}

uint32_t addressIn(std::mt19937& rng, const FirmwareImage& image, bool headerPlace)
{
    if (headerPlace)
        return kBase + (pick(rng, 2) == 0 ? 0u : 4096u) + pick(rng, image.header.headerSize());
    const auto first = image.header.section(0);
    return first.flashAddress + pick(rng, std::max<uint32_t>(first.length, 1));
}
} // namespace

void RunLengthModel::learn(uint64_t bytes, uint64_t exchanges)
{
    const double x = static_cast<double>(bytes), y = static_cast<double>(exchanges);
    m_n += 1;
    m_x += x;
    m_y += y;
    m_xx += x * x;
    m_xy += x * y;
}

uint64_t RunLengthModel::estimate(uint64_t bytes) const
{
    const double x = static_cast<double>(bytes);
    const double spread = m_n * m_xx - m_x * m_x;
    if (m_n < 8 || spread <= 0)
        return 60 + bytes / 16;
    const double slope = (m_n * m_xy - m_x * m_y) / spread;
    const double offset = (m_y - slope * m_x) / m_n;
    return static_cast<uint64_t>(std::max(10.0, offset + slope * x));
}

uint64_t payloadBytes(const FirmwareImage& image)
{
    uint64_t bytes = 0;
    for (size_t i = 0; i < image.header.sectionCount(); ++i)
        if (image.header.section(i).kind() != FirmwareSectionEntry::Kind::Skipped)
            bytes += image.header.section(i).length;
    return bytes;
}

FirmwareImage chainImage(std::mt19937& rng, uint16_t productCode, uint16_t running)
{
    // Three slots for each section: a new image lies over the sections of the last one, or over
    // the one before, or beside both.
    std::vector<Section> sections;
    sections.push_back({ "App", kArea + pick(rng, 3) * 0x4000 + pick(rng, 64), randomBytes(rng, 1 + pick(rng, 3000)) });
    // Three sections at most: a larger header does not fit one header write and read-back.
    if (pick(rng, 4) == 0)
        sections.push_back({ "Data", kArea + 0x3000 + pick(rng, 3) * 0x4000 + pick(rng, 32), randomBytes(rng, 1 + pick(rng, 600)) });
    else
        sections.push_back({ "Factory.CLR.1", kArea + 0x2000 + pick(rng, 3) * 0x4000, randomBytes(rng, 1 + pick(rng, 400)) });
    sections.push_back({ "Upgrade.Cfg", kArea + 0xF000, randomBytes(rng, 32) });
    // Two runs in three keep the running code: safe when the layout leaves the installed
    // header's sections alone.
    const uint16_t code = pick(rng, 3) == 0 ? otherCode(rng, running) : running;
    return imageOf(rng, productCode, code, sections);
}

FirmwareImage hostileImage(std::mt19937& rng, uint16_t productCode, uint16_t running)
{
    const uint16_t code = otherCode(rng, running); // unsafe: the header goes to the base
    switch (pick(rng, 5))
    {
    case 0: return imageOf(rng, productCode, code, { { "App", 0xFFFFFF00u + pick(rng, 200), randomBytes(rng, 512) } }); // wraps
    case 1:
        return imageOf(rng, productCode, code,
                       { { "A", kArea, randomBytes(rng, 512) }, { "B", kArea + pick(rng, 512), randomBytes(rng, 16) } });
    case 2:
        return imageOf(rng, productCode, code,
                       { { "Factory.CLR.1", kArea, randomBytes(rng, 64) }, { "App", kArea + pick(rng, 64), randomBytes(rng, 16) } });
    case 3: // over the header block it would write
        return imageOf(rng, productCode, code, { { "App", kBase + pick(rng, 157), randomBytes(rng, 16) } });
    default: // a section over an "Upgrade." one
        return imageOf(rng, productCode, code,
                       { { "Upgrade.Cfg", kArea, randomBytes(rng, 64) }, { "App", kArea + 32, randomBytes(rng, 64) } });
    }
}

RunPlan drawPlan(std::mt19937& rng, uint16_t productCode, uint16_t running, const RunLengthModel& length)
{
    RunPlan plan;
    plan.hostile = pick(rng, 25) == 0;
    plan.image = plan.hostile ? hostileImage(rng, productCode, running) : chainImage(rng, productCode, running);
    const uint32_t draw = pick(rng, 5);
    const size_t count = draw == 0 ? 0 : draw < 3 ? 1 : 2;
    const uint64_t runLength = length.estimate(payloadBytes(plan.image));
    while (plan.faults.size() < count)
    {
        ArmedFault fault;
        fault.kind = static_cast<Fault>(pick(rng, FaultKinds));
        if (!plan.faults.empty() && plan.faults[0].kind == fault.kind)
            continue;
        fault.atExchange = 1 + rng() % (runLength + runLength / 8 + 1);
        const bool inHeader = pick(rng, 4) == 0;
        switch (fault.kind)
        {
        case InputFailure:
        case OutputFailure: fault.length = 1 + pick(rng, 3); break;
        case UnplugAfterHeaderWrite: fault.address = kBase + (pick(rng, 2) == 0 ? 0u : 4096u) + pick(rng, 16); break;
        case StoredWrong:
        case CorruptRead: fault.address = addressIn(rng, plan.image, inHeader); break;
        case NotBlankAfterErase:
            fault.address = addressIn(rng, plan.image, inHeader);
            fault.length = 1 + pick(rng, 8);
            break;
        case BusyTime: fault.length = 1 + pick(rng, 4); break;
        default: break;
        }
        plan.faults.push_back(fault);
    }
    return plan;
}

void armPlan(EmulatedDevice& device, const RunPlan& plan, const std::shared_ptr<LiveRun>& live)
{
    for (size_t i = 0; i < plan.faults.size(); ++i)
        if (plan.faults[i].kind == UnplugAfterHeaderWrite)
        {
            const uint32_t address = plan.faults[i].address;
            device.configure([=](EmulatedDeviceConfig& c) {
                c.unplugAfterWrite = true;
                c.unplugAfterWriteAddress = address;
            });
            live->armed[i] = true;
        }
    EmulatedDevice* const emu = &device;
    const std::vector<ArmedFault> faults = plan.faults;
    device.setExchangeObserver([emu, faults, live](const ExchangeRecord& r) {
        const uint64_t n = ++live->exchanges;
        const bool operation = r.direction == ReportDirection::Output
                            && (r.reportId == emulated_wire::kIdErase || r.reportId == emulated_wire::kIdData);
        if (operation)
            live->operations = true;
        if (r.failed)
            (r.direction == ReportDirection::Input ? live->inputFailed : live->outputFailed) = true;
        for (size_t i = 0; i < faults.size(); ++i)
        {
            const ArmedFault& f = faults[i];
            if (live->armed[i] || n < f.atExchange)
                continue;
            switch (f.kind)
            {
            case InputFailure:
            case OutputFailure:
            {
                const auto direction = f.kind == InputFailure ? ReportDirection::Input : ReportDirection::Output;
                const uint64_t inARow = f.length;
                emu->configure([=](EmulatedDeviceConfig& c) { c.failReports.push_back({ -1, direction, 1, inARow }); });
                break;
            }
            case UnplugAtExchange:
                emu->unplug();
                live->pulledOut = true;
                break;
            case StoredWrong:
                emu->configure([&](EmulatedDeviceConfig& c) {
                    c.storeWrong = true;
                    c.storeWrongAddress = f.address;
                });
                break;
            case CorruptRead:
                emu->configure([&](EmulatedDeviceConfig& c) {
                    c.corruptRead = true;
                    c.corruptReadAddress = f.address;
                });
                break;
            case NotBlankAfterErase:
                emu->configure([&](EmulatedDeviceConfig& c) {
                    c.nonBlankAddress = f.address;
                    c.nonBlankLength = f.length;
                });
                break;
            case BusyTime:
                emu->configure([&](EmulatedDeviceConfig& c) {
                    c.busyPolls = f.length;
                    c.busyTime = std::chrono::microseconds(500 * f.length);
                });
                break;
            case StuckBusy:
                // A flag sticks when an operation does not end: a device does not turn busy on its own.
                if (!operation)
                    continue;
                emu->configure([](EmulatedDeviceConfig& c) { c.stuckBusy = true; });
                break;
            default: break;
            }
            live->armed[i] = true;
        }
    });
}

std::array<bool, 2> faultsThatHappened(const RunPlan& plan, const FaultHits& before, const FaultHits& after, const LiveRun& live)
{
    std::array<bool, 2> happened {};
    for (size_t i = 0; i < plan.faults.size(); ++i)
    {
        if (!live.armed[i])
            continue;
        switch (plan.faults[i].kind)
        {
        case InputFailure: happened[i] = after.failedReports > before.failedReports && live.inputFailed; break;
        case OutputFailure: happened[i] = after.failedReports > before.failedReports && live.outputFailed; break;
        case UnplugAtExchange: happened[i] = live.pulledOut; break;
        case UnplugAfterHeaderWrite: happened[i] = after.unplugs > before.unplugs; break;
        case StoredWrong: happened[i] = after.storedWrong > before.storedWrong; break;
        case CorruptRead: happened[i] = after.corruptedReads > before.corruptedReads; break;
        case NotBlankAfterErase: happened[i] = after.nonBlankErases > before.nonBlankErases; break;
        case BusyTime: happened[i] = after.busyPolls > before.busyPolls; break;
        case StuckBusy: happened[i] = after.stuckBusyPolls > before.stuckBusyPolls; break;
        default: break;
        }
    }
    return happened;
}

void clearFaults(EmulatedDevice& device)
{
    device.setExchangeObserver({});
    device.configure([](EmulatedDeviceConfig& c) {
        c.failReports.clear();
        c.stuckBusy = false;
        c.storeWrong = false;
        c.corruptRead = false;
        c.nonBlankLength = 0;
        c.busyPolls = 0;
        c.busyTime = std::chrono::microseconds(0);
        c.unplugAfterWrite = false;
    });
}
} // namespace soak
