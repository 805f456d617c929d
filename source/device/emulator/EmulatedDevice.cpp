// An emulated device: presence and hot-plug, the frame of every report exchange (latency, faults,
// bookkeeping), what it boots from its flash, and the hooks tests use.
#include "EmulatedDevice.h"

#include <algorithm>
#include <fstream>
#include <thread>

using namespace emulated_wire;


EmulatedDevice::EmulatedDevice(EmulatedDeviceConfig config, std::chrono::steady_clock::time_point epoch)
    : m_path(config.path), m_epoch(epoch), m_config(std::move(config)),
      m_flash(m_config.flashSize, m_config.flashFill)
{
    if (!m_config.installedHeader.empty())
        m_flash.load(m_config.flashInfo.firmwareBaseAddress(), m_config.installedHeader.data(),
                     m_config.installedHeader.size());
    for (const auto& [address, bytes] : m_config.installedData)
        if (m_flash.contains(address, bytes.size()))
            m_flash.load(address, bytes.data(), bytes.size());
    m_faultMatches.assign(m_config.failReports.size(), 0);
    m_factoryRunningVersion = m_config.deviceInfo.runningFirmwareVersion();

    // A device whose flash was kept from an earlier run starts from that flash: it runs what it
    // boots. A factory-made device runs what its records say.
    bool kept = false;
    if (!m_config.flashFile.empty())
    {
        std::ifstream in(m_config.flashFile, std::ios::binary);
        std::vector<uint8_t> bytes(m_config.flashSize);
        if (in && in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))
            && in.peek() == std::ifstream::traits_type::eof())
        {
            m_flash.load(0, bytes.data(), bytes.size());
            kept = true;
        }
    }
    if (kept)
        bootLocked();
    else
        m_booted = bootViewLocked();
}

EmulatedDevice::~EmulatedDevice()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    saveFlashFileLocked();
}

// --- what it boots ---

emulated_boot::BootView EmulatedDevice::bootViewLocked() const
{
    return emulated_boot::inspectBoot([this](uint32_t address, uint8_t* out, size_t length) { m_flash.read(address, out, length); },
                                      m_config.flashInfo.firmwareBaseAddress(), m_flash.size());
}

void EmulatedDevice::bootLocked()
{
    m_booted = bootViewLocked();
    const emulated_boot::HeaderPlace* booted = m_booted.booted();
    // The factory firmware runs with the version the device was made with (its build number
    // included, which a header in the split reading does not carry).
    if (booted != nullptr && booted->bytes == m_config.installedHeader)
        m_config.deviceInfo.setRunningFirmwareVersion(m_factoryRunningVersion);
    else
        m_config.deviceInfo.setRunningFirmwareVersion(
            booted != nullptr ? emulated_boot::runningVersionOf(*booted, m_config.deviceInfo.productCode()) : 0);
}

emulated_boot::BootView EmulatedDevice::bootView() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return bootViewLocked();
}

emulated_boot::BootView EmulatedDevice::bootedAtStart() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_booted;
}

void EmulatedDevice::reboot()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busyPollsLeft = 0;
    m_busyUntil = {};
    bootLocked();
}

FaultHits EmulatedDevice::faultHits() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hits;
}

bool EmulatedDevice::saveFlashFile() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return saveFlashFileLocked();
}

bool EmulatedDevice::saveFlashFileLocked() const
{
    if (m_config.flashFile.empty())
        return true;
    std::vector<uint8_t> bytes(m_flash.size());
    m_flash.read(0, bytes.data(), bytes.size());
    std::ofstream out(m_config.flashFile, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string EmulatedDevice::serialNumber() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_config.deviceInfo.serialNumber();
}

// --- presence ---

bool EmulatedDevice::isAttachedLocked(std::chrono::steady_clock::time_point now) const
{
    // A replug that is due counts as done; the next open or exchange carries it out.
    if (replugDueLocked(now))
        return true;
    if (!m_plugged)
        return false;
    const auto sinceStart = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_epoch);
    if (sinceStart < m_config.appearAt)
        return false;
    if (!m_replugged && m_config.vanishAt.count() >= 0 && sinceStart >= m_config.vanishAt)
        return false;
    return true;
}

bool EmulatedDevice::replugDueLocked(std::chrono::steady_clock::time_point now) const
{
    if (m_replugged || m_config.replugAt.count() < 0 || now - m_epoch < m_config.replugAt)
        return false;
    const auto sinceStart = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_epoch);
    const bool vanished = m_config.vanishAt.count() >= 0 && sinceStart >= m_config.vanishAt;
    return !m_plugged || vanished;
}

void EmulatedDevice::applyReplugLocked(std::chrono::steady_clock::time_point now)
{
    if (!replugDueLocked(now))
        return;
    m_replugged = true;
    m_plugged = true;
    ++m_connection; // handles opened before the device went out stay dead
    m_exchanges = 0;
    m_busyPollsLeft = 0;
    m_busyUntil = {};
    bootLocked();
}

bool EmulatedDevice::isAttached() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return isAttachedLocked(std::chrono::steady_clock::now());
}

void EmulatedDevice::plug()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_plugged)
        return;
    m_plugged = true;
    ++m_connection;
    m_exchanges = 0;
    m_busyPollsLeft = 0;
    m_busyUntil = {};
    bootLocked();
}

void EmulatedDevice::unplug()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_plugged = false;
}

uint64_t EmulatedDevice::connection() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connection;
}

// --- the interface ---

bool EmulatedDevice::open(uint64_t& connection, std::string& error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    applyReplugLocked(std::chrono::steady_clock::now());
    if (!isAttachedLocked(std::chrono::steady_clock::now()))
    {
        error = "no such device";
        return false;
    }
    if (m_config.openFails)
    {
        error = "permission denied (emulated)";
        return false;
    }
    connection = m_connection;
    return true;
}

bool EmulatedDevice::attributes(uint16_t& vendorId, uint16_t& productId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_config.attributesReadable)
        return false;
    vendorId = m_config.vendorId;
    productId = m_config.productId;
    return true;
}

bool EmulatedDevice::descriptorParsable() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_config.descriptorParsable;
}

bool EmulatedDevice::serialStringReadable() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_config.serialStringReadable;
}

bool EmulatedDevice::isBusyLocked(std::chrono::steady_clock::time_point now)
{
    return m_config.stuckBusy || m_busyPollsLeft > 0 || now < m_busyUntil;
}

bool EmulatedDevice::pollBusyLocked(std::chrono::steady_clock::time_point now)
{
    const bool working = m_busyPollsLeft > 0 || now < m_busyUntil;
    if (m_busyPollsLeft > 0)
        --m_busyPollsLeft;
    if (working)
        ++m_hits.busyPolls;
    else if (m_config.stuckBusy)
        ++m_hits.stuckBusyPolls;
    return working || m_config.stuckBusy;
}

void EmulatedDevice::startBusyLocked(std::chrono::steady_clock::time_point now)
{
    m_busyPollsLeft = m_config.busyPolls;
    m_busyUntil = now + m_config.busyTime;
}

bool EmulatedDevice::faultHitsLocked(uint8_t reportId, ReportDirection direction)
{
    m_faultMatches.resize(m_config.failReports.size(), 0);
    bool hit = false;
    for (size_t i = 0; i < m_config.failReports.size(); ++i)
    {
        const ReportFault& fault = m_config.failReports[i];
        if (fault.reportId >= 0 && fault.reportId != reportId)
            continue;
        if (fault.direction != ReportDirection::Any && fault.direction != direction)
            continue;
        const uint64_t seen = ++m_faultMatches[i];
        if (seen >= fault.nth && (fault.count == 0 || seen - fault.nth < fault.count))
            hit = true;
    }
    return hit;
}

void EmulatedDevice::noteViolationLocked(ProtocolViolation::Kind kind, uint32_t address, uint32_t length)
{
    m_violations.push_back(ProtocolViolation { kind, address, length, m_phase });
}

void EmulatedDevice::finishExchange(ExchangeRecord& record)
{
    // Called with the lock held: bookkeeping shared by both directions.
    record.phase = m_phase;
    ++m_counts[std::make_tuple(m_phase, record.reportId, record.direction)];
    if (m_records.size() < kMaxRecordedExchanges)
        m_records.push_back(record);
    ++m_exchanges;
    if (m_config.unplugAfterExchanges > 0 && m_exchanges >= m_config.unplugAfterExchanges && !m_replugged && m_plugged)
    {
        m_plugged = false;
        ++m_hits.unplugs;
    }
    if (m_unplugAfterExchange)
    {
        m_unplugAfterExchange = false;
        if (m_plugged)
            ++m_hits.unplugs;
        m_plugged = false;
    }
}

bool EmulatedDevice::exchange(uint64_t connection, ReportDirection direction, uint8_t reportId, size_t length,
                              std::string& error, const std::function<bool(ExchangeRecord&)>& respond)
{
    if (length == 0)
    {
        error = "empty report";
        return false;
    }
    std::chrono::microseconds latency;
    bool answers = true;
    std::chrono::milliseconds bound;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        latency = m_config.latency;
        answers = !m_config.neverAnswers;
        bound = m_config.requestBound;
    }
    // Sleep, not spin, and outside the lock: many emulated devices on few cores stay independent.
    if (!answers)
    {
        std::this_thread::sleep_for(bound);
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_exchanges;
        error = "timed out: no answer";
        return false;
    }
    if (latency.count() > 0)
        std::this_thread::sleep_for(latency);

    const char* const what = direction == ReportDirection::Input ? "input report " : "output report ";
    ExchangeRecord record;
    std::function<void(const ExchangeRecord&)> observer;
    bool ok = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        applyReplugLocked(std::chrono::steady_clock::now());
        if (connection != m_connection || !isAttachedLocked(std::chrono::steady_clock::now()))
        {
            error = "device disconnected";
            return false;
        }
        record.direction = direction;
        record.reportId = reportId;
        record.length = length;
        if (faultHitsLocked(reportId, direction))
        {
            error = what + hexId(reportId) + " failed (emulated fault)";
            ++m_hits.failedReports;
        }
        else if (!m_config.speaksProtocol)
            error = what + hexId(reportId) + " not supported";
        else
            ok = respond(record);
        record.failed = !ok;
        finishExchange(record);
        observer = m_observer;
    }
    if (observer)
        observer(record);
    return ok;
}

bool EmulatedDevice::inputReport(uint64_t connection, uint8_t* buffer, size_t length, std::string& error)
{
    if (buffer == nullptr)
        length = 0;
    return exchange(connection, ReportDirection::Input, buffer != nullptr ? buffer[0] : 0, length, error,
                    [&](ExchangeRecord& record) { return answerInputLocked(buffer, length, record, error); });
}

bool EmulatedDevice::outputReport(uint64_t connection, const uint8_t* buffer, size_t length, std::string& error)
{
    if (buffer == nullptr)
        length = 0;
    return exchange(connection, ReportDirection::Output, buffer != nullptr ? buffer[0] : 0, length, error,
                    [&](ExchangeRecord& record) { return takeOutputLocked(buffer, length, record, error); });
}

// --- hooks ---

void EmulatedDevice::configure(const std::function<void(EmulatedDeviceConfig&)>& change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::vector<ReportFault> before = m_config.failReports;
    change(m_config);
    // A fault entry that is new or changed counts its matching exchanges from now on; entries
    // that stayed keep their counts.
    const auto& after = m_config.failReports;
    size_t same = 0;
    while (same < before.size() && same < after.size() && before[same].reportId == after[same].reportId
           && before[same].direction == after[same].direction && before[same].nth == after[same].nth
           && before[same].count == after[same].count)
        ++same;
    m_faultMatches.resize(std::min(same, m_faultMatches.size()));
    m_faultMatches.resize(after.size(), 0);
}

EmulatedDeviceConfig EmulatedDevice::config() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_config;
}

std::vector<uint8_t> EmulatedDevice::readFlash(uint32_t address, size_t length) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> bytes(length);
    m_flash.read(address, bytes.data(), length);
    return bytes;
}

void EmulatedDevice::loadFlash(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_flash.load(address, bytes.data(), bytes.size());
}

bool EmulatedDevice::isErased(uint32_t address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_flash.isErased(address);
}

void EmulatedDevice::setPhase(const std::string& phase)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_phase = phase;
}

size_t EmulatedDevice::exchangeCount(uint8_t reportId, ReportDirection direction, const std::string& phase) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t total = 0;
    for (const auto& entry : m_counts)
    {
        const auto& [entryPhase, entryId, entryDirection] = entry.first;
        if (entryId != reportId)
            continue;
        if (direction != ReportDirection::Any && entryDirection != direction)
            continue;
        if (!phase.empty() && entryPhase != phase)
            continue;
        total += entry.second;
    }
    return total;
}

size_t EmulatedDevice::totalExchanges() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t total = 0;
    for (const auto& entry : m_counts)
        total += entry.second;
    return total;
}

std::vector<ExchangeRecord> EmulatedDevice::exchanges() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

std::vector<ProtocolViolation> EmulatedDevice::violations() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_violations;
}

void EmulatedDevice::clearHistory()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_counts.clear();
    m_records.clear();
    m_violations.clear();
}

void EmulatedDevice::setExchangeObserver(std::function<void(const ExchangeRecord&)> observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = std::move(observer);
}
