#include "EmulatedDevice.h"

#include <algorithm>

using namespace emulated_wire;
#include <thread>

namespace
{
std::string hexId(uint8_t id)
{
    static const char digits[] = "0123456789abcdef";
    return std::string("0x") + digits[id >> 4] + digits[id & 0x0F];
}
} // namespace

EmulatedDevice::EmulatedDevice(EmulatedDeviceConfig config, std::chrono::steady_clock::time_point epoch)
    : m_path(config.path), m_epoch(epoch), m_config(std::move(config)),
      m_flash(m_config.flashSize, m_config.flashFill)
{
    if (!m_config.installedHeader.empty())
        m_flash.load(m_config.flashInfo.firmwareBaseAddress(), m_config.installedHeader.data(),
                     m_config.installedHeader.size());
    m_faultMatches.assign(m_config.failReports.size(), 0);
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

bool EmulatedDevice::answerInputLocked(uint8_t* buffer, size_t length, ExchangeRecord& record, std::string& error)
{
    const auto now = std::chrono::steady_clock::now();
    switch (buffer[0])
    {
    case kIdDeviceInfo:
        if (length != kLenDeviceInfo)
            break;
        std::copy(m_config.deviceInfo.bytes.begin(), m_config.deviceInfo.bytes.end(), buffer + 1);
        return true;

    case kIdFlashInfo:
        if (length != kLenFlashInfo)
            break;
        std::copy(m_config.flashInfo.bytes.begin(), m_config.flashInfo.bytes.end(), buffer + 1);
        return true;

    case kIdData:
    {
        if (length != kLenData)
            break;
        if (isBusyLocked(now))
            noteViolationLocked(ProtocolViolation::CommandWhileBusy, m_readAddress, 0);
        record.address = m_readAddress;
        if (!m_flash.contains(m_readAddress, kReadBytesUsed))
        {
            noteViolationLocked(ProtocolViolation::OutOfRange, m_readAddress, 0);
            error = "read beyond the end of the flash";
            return false;
        }
        uint8_t* payload = buffer + 1;
        put32(payload + kDataAddressAt, m_readAddress);
        put16(payload + kDataCountAt, kDataCapacity);
        uint8_t* data = payload + kDataBytesAt;
        m_flash.read(m_readAddress, data, kDataCapacity);
        if (m_config.corruptRead && m_config.corruptReadAddress >= m_readAddress
            && static_cast<uint64_t>(m_config.corruptReadAddress) < static_cast<uint64_t>(m_readAddress) + kDataCapacity)
            data[m_config.corruptReadAddress - m_readAddress] ^= 0xFF;
        return true;
    }

    case kIdBusy:
        if (length != kLenBusy)
            break;
        buffer[1] = isBusyLocked(now) ? 1 : 0;
        if (m_busyPollsLeft > 0)
            --m_busyPollsLeft;
        return true;

    default:
        break;
    }
    error = "input report " + hexId(buffer[0]) + " of " + std::to_string(length) + " bytes not supported";
    return false;
}

bool EmulatedDevice::takeOutputLocked(const uint8_t* buffer, size_t length, ExchangeRecord& record, std::string& error)
{
    const auto now = std::chrono::steady_clock::now();
    const uint8_t* payload = buffer + 1;
    switch (buffer[0])
    {
    case kIdErase:
    {
        if (length != kLenErase)
            break;
        const uint32_t address = get32(payload);
        const uint32_t count = get32(payload + 4);
        record.address = address;
        record.count = count;
        if (isBusyLocked(now))
            noteViolationLocked(ProtocolViolation::CommandWhileBusy, address, count);
        if (!m_flash.contains(address, count))
        {
            noteViolationLocked(ProtocolViolation::OutOfRange, address, count);
            error = "erase beyond the end of the flash";
            return false;
        }
        m_flash.erase(address, count);
        if (m_config.nonBlankLength > 0)
        {
            // The part of the stubborn range inside this erase stays non-blank.
            const uint64_t from = std::max<uint64_t>(address, m_config.nonBlankAddress);
            const uint64_t to = std::min<uint64_t>(static_cast<uint64_t>(address) + count,
                                                   static_cast<uint64_t>(m_config.nonBlankAddress) + m_config.nonBlankLength);
            if (from < to)
            {
                const std::vector<uint8_t> stuck(static_cast<size_t>(to - from), 0xA5);
                m_flash.load(static_cast<uint32_t>(from), stuck.data(), stuck.size());
            }
        }
        startBusyLocked(now);
        return true;
    }

    case kIdReadAddress:
        if (length != kLenReadAddress)
            break;
        m_readAddress = get32(payload);
        record.address = m_readAddress;
        if (isBusyLocked(now))
            noteViolationLocked(ProtocolViolation::CommandWhileBusy, m_readAddress, 0);
        return true;

    case kIdData:
    {
        if (length != kLenData)
            break;
        const uint32_t address = get32(payload + kDataAddressAt);
        const uint16_t count = get16(payload + kDataCountAt);
        record.address = address;
        record.count = count;
        if (isBusyLocked(now))
            noteViolationLocked(ProtocolViolation::CommandWhileBusy, address, count);
        if (count == 0 || count > kDataCapacity || !m_flash.contains(address, count))
        {
            noteViolationLocked(ProtocolViolation::OutOfRange, address, count);
            error = "write of " + std::to_string(count) + " bytes rejected";
            return false;
        }
        uint32_t firstUnerased = 0;
        const size_t unerased = m_flash.program(address, payload + kDataBytesAt, count, &firstUnerased);
        if (unerased > 0)
            noteViolationLocked(ProtocolViolation::WriteIntoUnerased, firstUnerased, static_cast<uint32_t>(unerased));
        if (m_config.storeWrong && m_config.storeWrongAddress >= address
            && uint64_t(m_config.storeWrongAddress) < uint64_t(address) + count)
        {
            // Acknowledged like any write, but the cell keeps the wrong value.
            const uint8_t wrong = static_cast<uint8_t>(~payload[kDataBytesAt + (m_config.storeWrongAddress - address)]);
            m_flash.load(m_config.storeWrongAddress, &wrong, 1);
        }
        startBusyLocked(now);
        return true;
    }

    default:
        break;
    }
    error = "output report " + hexId(buffer[0]) + " of " + std::to_string(length) + " bytes not supported";
    return false;
}

void EmulatedDevice::finishExchange(ExchangeRecord& record)
{
    // Called with the lock held: bookkeeping shared by both directions.
    record.phase = m_phase;
    ++m_counts[std::make_tuple(m_phase, record.reportId, record.direction)];
    if (m_records.size() < kMaxRecordedExchanges)
        m_records.push_back(record);
    ++m_exchanges;
    if (m_config.unplugAfterExchanges > 0 && m_exchanges >= m_config.unplugAfterExchanges && !m_replugged)
        m_plugged = false;
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
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        latency = m_config.latency;
    }
    // Sleep, not spin, and outside the lock: many emulated devices on few cores stay independent.
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
            error = what + hexId(reportId) + " failed (emulated fault)";
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
    change(m_config);
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
