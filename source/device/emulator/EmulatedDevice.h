#pragma once

#include "EmulatedBoot.h"
#include "EmulatedDeviceConfig.h"
#include "EmulatedFlash.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

// One report exchange as the emulated device saw it.
struct ExchangeRecord
{
    ReportDirection direction = ReportDirection::Input;
    uint8_t reportId = 0;
    size_t length = 0;      // including the id byte
    uint32_t address = 0;   // erase, write and read-address commands; reads: the read address
    uint32_t count = 0;     // erase and write commands
    bool failed = false;
    std::string phase;      // the label set with setPhase when the exchange happened
};

// Something a host did that a real device would not forgive.
struct ProtocolViolation
{
    enum Kind
    {
        WriteIntoUnerased, // data written to bytes not erased since their last write
        CommandWhileBusy,  // erase, write or data read while the last operation still ran
        OutOfRange         // erase or write beyond the end of the flash, or a bad byte count
    };
    Kind kind;
    uint32_t address = 0;
    uint32_t length = 0;
    std::string phase;
};

// How often each fault really changed what the device did: a fault that is armed but never met
// (a stored-wrong address that no write covers, a busy flag nobody polls) counts nothing.
struct FaultHits
{
    uint64_t failedReports = 0;  // exchanges failed by failReports
    uint64_t storedWrong = 0;    // acknowledged writes that stored a byte wrong
    uint64_t corruptedReads = 0; // read answers with a byte changed
    uint64_t nonBlankErases = 0; // erases that left bytes non-blank
    uint64_t stuckBusyPolls = 0; // busy polls answered "busy" only because the flag sticks
    uint64_t busyPolls = 0;      // busy polls answered "busy" by the busy time or poll count
    uint64_t unplugs = 0;        // vanished by the exchange budget or after a write
};

// An emulated Tovrak device (or foreign HID interface) with its flash. Every operation is
// thread-safe: one mutex guards the device's state, and the per-exchange latency is slept
// outside it, so that several devices served on several threads do not slow each other.
class EmulatedDevice
{
public:
    EmulatedDevice(EmulatedDeviceConfig config, std::chrono::steady_clock::time_point epoch);
    ~EmulatedDevice();

    EmulatedDevice(const EmulatedDevice&) = delete;
    EmulatedDevice& operator=(const EmulatedDevice&) = delete;

    const std::string& path() const noexcept { return m_path; }
    std::string serialNumber() const;

    // --- presence (used by the emulator backend) ---
    // True when the interface is attached now: plugged, within its hot-plug window, and not
    // vanished after its exchange budget.
    bool isAttached() const;
    // Plugging again starts a new connection: handles opened before stay dead.
    void plug();
    void unplug();
    uint64_t connection() const;

    // --- the interface, as a handle sees it ---
    bool open(uint64_t& connection, std::string& error);
    bool attributes(uint16_t& vendorId, uint16_t& productId) const;
    bool descriptorParsable() const;
    bool serialStringReadable() const;
    bool inputReport(uint64_t connection, uint8_t* buffer, size_t length, std::string& error);
    bool outputReport(uint64_t connection, const uint8_t* buffer, size_t length, std::string& error);

    // --- hooks for tests and tools ---
    // Changes the configuration in place (faults, timing, records) under the device's lock.
    void configure(const std::function<void(EmulatedDeviceConfig&)>& change);
    EmulatedDeviceConfig config() const;

    // What the boot loader would take from the flash as it is now, and what it took when the
    // device last started (was made, plugged in or replugged). On every start the device runs
    // what it boots: the running version it reports follows the booted header (0 in upgrade mode).
    emulated_boot::BootView bootView() const;
    emulated_boot::BootView bootedAtStart() const;
    // Starts the device again from its flash (a power cycle on the same connection).
    void reboot();

    FaultHits faultHits() const;
    // Writes the flash to the configured flash file now (also done by the destructor).
    bool saveFlashFile() const;

    std::vector<uint8_t> readFlash(uint32_t address, size_t length) const;
    void loadFlash(uint32_t address, const std::vector<uint8_t>& bytes);
    bool isErased(uint32_t address) const;

    // Labels the exchanges that follow (e.g. "erasing"); counts are kept per label.
    void setPhase(const std::string& phase);
    // Exchanges by report id and direction, in one phase or (empty phase) in all of them.
    size_t exchangeCount(uint8_t reportId, ReportDirection direction, const std::string& phase = {}) const;
    size_t totalExchanges() const;
    std::vector<ExchangeRecord> exchanges() const;
    std::vector<ProtocolViolation> violations() const;
    void clearHistory();

    // Called after every exchange, outside the device's lock, on the exchanging thread.
    void setExchangeObserver(std::function<void(const ExchangeRecord&)> observer);

    // At most this many exchanges are kept in exchanges(); counts go on regardless.
    static constexpr size_t kMaxRecordedExchanges = 1u << 20;

private:
    bool isAttachedLocked(std::chrono::steady_clock::time_point now) const;
    bool replugDueLocked(std::chrono::steady_clock::time_point now) const;
    void applyReplugLocked(std::chrono::steady_clock::time_point now);
    bool isBusyLocked(std::chrono::steady_clock::time_point now);
    // Busy poll answer: counts which fault, if any, made it "busy".
    bool pollBusyLocked(std::chrono::steady_clock::time_point now);
    void bootLocked();
    emulated_boot::BootView bootViewLocked() const;
    bool saveFlashFileLocked() const;
    bool faultHitsLocked(uint8_t reportId, ReportDirection direction);
    void startBusyLocked(std::chrono::steady_clock::time_point now);
    void noteViolationLocked(ProtocolViolation::Kind kind, uint32_t address, uint32_t length);
    bool answerInputLocked(uint8_t* buffer, size_t length, ExchangeRecord& record, std::string& error);
    bool takeOutputLocked(const uint8_t* buffer, size_t length, ExchangeRecord& record, std::string& error);
    void finishExchange(ExchangeRecord& record);
    // The common frame of every exchange: latency, presence, faults, bookkeeping, observer.
    bool exchange(uint64_t connection, ReportDirection direction, uint8_t reportId, size_t length, std::string& error,
                  const std::function<bool(ExchangeRecord&)>& respond);

    mutable std::mutex m_mutex;
    const std::string m_path;
    const std::chrono::steady_clock::time_point m_epoch;
    EmulatedDeviceConfig m_config;
    EmulatedFlash m_flash;

    bool m_plugged = true;
    bool m_replugged = false; // the scenario's replug has happened
    uint64_t m_connection = 1;
    uint64_t m_exchanges = 0;
    uint32_t m_readAddress = 0;
    uint32_t m_busyPollsLeft = 0;
    std::chrono::steady_clock::time_point m_busyUntil {};
    std::vector<uint64_t> m_faultMatches; // per entry of m_config.failReports
    FaultHits m_hits;
    bool m_unplugAfterExchange = false;
    uint32_t m_factoryRunningVersion = 0;
    emulated_boot::BootView m_booted;

    std::string m_phase;
    std::map<std::tuple<std::string, uint8_t, ReportDirection>, size_t> m_counts;
    std::vector<ExchangeRecord> m_records;
    std::vector<ProtocolViolation> m_violations;
    std::function<void(const ExchangeRecord&)> m_observer;
};
