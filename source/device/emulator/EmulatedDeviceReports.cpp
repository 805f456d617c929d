// The report protocol as the emulated device answers it: every input report it sends and every
// output report (erase, read address, write) it takes, with the flash faults that act on them.
#include "EmulatedDevice.h"

#include <algorithm>

using namespace emulated_wire;

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
        {
            data[m_config.corruptReadAddress - m_readAddress] ^= 0xFF;
            if (m_config.corruptReadAddress - m_readAddress < kReadBytesUsed)
                ++m_hits.corruptedReads; // within the bytes the host takes
        }
        return true;
    }

    case kIdBusy:
        if (length != kLenBusy)
            break;
        buffer[1] = pollBusyLocked(now) ? 1 : 0;
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
                ++m_hits.nonBlankErases;
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
            ++m_hits.storedWrong;
        }
        if (m_config.unplugAfterWrite && m_config.unplugAfterWriteAddress >= address
            && uint64_t(m_config.unplugAfterWriteAddress) < uint64_t(address) + count)
        {
            m_config.unplugAfterWrite = false; // once: the write is acknowledged, then the device is gone
            m_unplugAfterExchange = true;
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

