#pragma once

// What one soak run does to one emulated device: the image it is offered and the faults armed on
// it. Images are drawn so that chains of runs on one kept flash meet every layout a user meets:
// safe and unsafe upgrades, new sections over or beside the sections of the headers already in
// the flash, downgrades, and now and then an image whose layout no device can take.

#include "FirmwareImage.h"
#include "emulator/EmulatedDevice.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace soak
{
constexpr uint32_t kBase = 0x10000;     // firmware base address of every soak device
constexpr uint32_t kArea = 0x40000;     // where the images' sections lie
constexpr uint32_t kFlashSize = 0x60000;

enum Fault
{
    InputFailure,           // input reports fail (1 to 3 in a row)
    OutputFailure,          // output reports fail (1 to 3 in a row)
    UnplugAtExchange,       // pulled out at an exchange, plugged in again a little later
    UnplugAfterHeaderWrite, // pulled out right after a write at a header place
    StoredWrong,            // a write acknowledged but stored wrong
    CorruptRead,            // a read answer with a byte changed
    NotBlankAfterErase,     // an erase that leaves bytes non-blank
    BusyTime,               // operations take longer (busy polls and time)
    StuckBusy,              // the busy flag never clears after an operation
    FaultKinds
};
extern const char* const kFaultNames[FaultKinds];

struct ArmedFault
{
    Fault kind = InputFailure;
    uint64_t atExchange = 1; // armed when the device has seen this many exchanges in the run
    uint32_t address = 0;    // stored wrong, corrupted read, not blank, header write
    uint32_t length = 0;     // not blank: bytes; failures: reports in a row; busy: polls
};

struct RunPlan
{
    FirmwareImage image;
    bool hostile = false;            // no device can take it: it must cause no erase or write
    std::vector<ArmedFault> faults;  // none, one or two, of different kinds
};

// Section bytes and a rough length of the run in exchanges, for drawing the exchange at which a
// fault is armed over the whole run.
struct RunLengthModel
{
    // Learns from a run without faults: its section bytes and its exchanges.
    void learn(uint64_t bytes, uint64_t exchanges);
    uint64_t estimate(uint64_t bytes) const;

private:
    double m_n = 0, m_x = 0, m_y = 0, m_xx = 0, m_xy = 0;
};

uint64_t payloadBytes(const FirmwareImage& image);

// The image for the next run of a device of this product code, given the compatibility code of
// the header it runs now (0 in upgrade mode).
FirmwareImage chainImage(std::mt19937& rng, uint16_t productCode, uint16_t runningCompatibilityCode);
FirmwareImage hostileImage(std::mt19937& rng, uint16_t productCode, uint16_t runningCompatibilityCode);
RunPlan drawPlan(std::mt19937& rng, uint16_t productCode, uint16_t runningCompatibilityCode, const RunLengthModel& length);

// The live state of one device's run, shared between its exchange observer (on whichever thread
// talks to the device) and the soak's main thread.
struct LiveRun
{
    std::atomic<uint64_t> exchanges { 0 };
    std::array<std::atomic<bool>, 2> armed {};   // per planned fault
    std::atomic<bool> inputFailed { false };     // an input report failed while attached
    std::atomic<bool> outputFailed { false };
    std::atomic<bool> pulledOut { false };       // the observer pulled the device out
    std::atomic<bool> operations { false };      // an erase or write command was sent
};

// Arms the plan's faults on the device as its exchanges go by. The device's configuration must
// be free of faults when the run starts; the fault at a header write is set up at once.
void armPlan(EmulatedDevice& device, const RunPlan& plan, const std::shared_ptr<LiveRun>& live);

// Which planned faults really changed an exchange, from the device's fault counters before and
// after the run and what the observer saw.
std::array<bool, 2> faultsThatHappened(const RunPlan& plan, const FaultHits& before, const FaultHits& after,
                                       const LiveRun& live);

// Clears every fault from the configuration (a power cycle also ends a stuck operation).
void clearFaults(EmulatedDevice& device);
} // namespace soak
