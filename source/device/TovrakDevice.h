#pragma once

#include "DeviceRecords.h"
#include "FirmwareImage.h"
#include "FlashFootprint.h"
#include "SetUpPool.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class HidBackend;
class HidHandle;

// Told by the idle thread when the attached supported devices differ from g_devices. Runs on
// the idle thread: an implementation hands the work over to the message thread.
class ICallbackDeviceChanged
{
public:
    virtual ~ICallbackDeviceChanged() = default;
    virtual void OnDeviceChanged() = 0;
};

// One attached Tovrak device: its HID interface, the records read from it when it was found,
// and the report commands on which the firmware upgrade is built.
//
// A device object is set up once, by the enumeration that finds it, and is afterwards used by
// one thread at a time (its upgrade worker). deviceInfo, flashInfo and runningCompatibilityCode
// never change after construction and may be read from any thread; present is atomic.
class CTovrakDevice
{
public:
    // Opens the interface and reads the device's identity, flash layout and installed header.
    // Never throws for a device that does not answer: present() tells whether it worked. A
    // failure is logged unless logSetUpFailure is false (the device list's later attempts on a
    // device whose first set-up failed).
    // A set cancel flag makes the set-up give up at its next report exchange (the program ends).
    explicit CTovrakDevice(const std::string& path, bool logSetUpFailure = true,
                           const std::atomic<bool>* cancel = nullptr);
    virtual ~CTovrakDevice();

    CTovrakDevice(const CTovrakDevice&) = delete;
    CTovrakDevice& operator=(const CTovrakDevice&) = delete;

    // --- what was read at construction ---
    const std::string& devicePath() const noexcept { return m_devicePath; }
    const DeviceInfo& deviceInfo() const noexcept { return m_deviceInfo; }
    const FlashInfo& flashInfo() const noexcept { return m_flashInfo; }
    // compatibilityCode of the installed header when that header describes the running
    // firmware, else 0.
    uint16_t runningCompatibilityCode() const noexcept { return m_runningCompatibilityCode; }
    // The headers found at set-up at the firmware base address and 4096 bytes above it.
    const InstalledHeader& headerAtBase() const noexcept { return m_headerAtBase; }
    const InstalledHeader& headerAbove() const noexcept { return m_headerAbove; }
    // Whether an upgrade with this image is a safe one: the compatibility codes match, and
    // putting its header above the base leaves the header at the base, and all the flash it
    // describes, as it is (the firmware that boots if the new one is not complete).
    bool IsSafeUpgrade(const FirmwareHeader& image) const;
    // Set when construction succeeded.
    bool present() const noexcept { return m_bPresent.load(); }
    // Why the set-up failed, for people (empty when it worked).
    const std::string& SetUpError() const noexcept { return m_setUpError; }
    // True once a handle this object opened has seen its interface go. A set-up that could not
    // open the interface has no handle and never tells.
    bool ConnectionEnded() const;

    // An upgrade worker holds one of these while it uses the device: the list keeps a device in
    // use while its handle is connected, even when an enumeration misses it or fails, so that no
    // second object is set up on its path beside the worker.
    class Use
    {
    public:
        Use() = default;
        explicit Use(std::shared_ptr<CTovrakDevice> device);
        ~Use() { release(); }
        Use(Use&& other) noexcept : m_device(std::move(other.m_device)) {}
        Use& operator=(Use&& other) noexcept;
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        void release();

    private:
        std::shared_ptr<CTovrakDevice> m_device;
    };
    bool InUse() const noexcept { return m_users.load() > 0; }
    // False once the interface this object opened is gone (unplugged, or replugged: a new
    // connection on the same path leaves this handle dead). No device traffic; any thread.
    bool IsConnected() const;

    // --- report transport ---
    // Sends an output report: the id, then payloadLength bytes of payload. Logs its failure.
    bool SetData(uint8_t reportId, const uint8_t* payload, size_t payloadLength);
    // Fetches an input report of `length` bytes (id included) into the report buffer; the payload
    // is then at ReportPayload(). Logs nothing: callers log their own failure.
    bool GetData(uint8_t reportId, size_t length);
    const uint8_t* ReportPayload() const noexcept { return m_reportBuffer.data() + 1; }

    static constexpr size_t kReportBufferSize = 1024;

    // --- flash commands ---
    // Polls the write-in-progress flag until it clears (true), the flag cannot be read or the
    // time limit passes (false).
    bool WaitForWIP();
    // Polls the write-in-progress flag until the device reports idle (true), within the same time
    // limit as WaitForWIP. Unlike WaitForWIP it lets a few failed polls in a row pass: it is the
    // wait that follows a failed poll, before the next command may go to the device.
    bool WaitUntilIdle();
    // Writes 1 to 256 bytes at the address and waits for the write to finish.
    bool WriteFirmwareData(uint32_t address, const uint8_t* data, uint16_t length);
    // Reads `length` bytes in pieces of 64 (two reports each). A failure leaves the pieces read
    // before it in the buffer.
    bool ReadFirmwareData(uint32_t address, uint8_t* buffer, size_t length);
    // Starts erasing the range and waits for it to finish.
    bool SetFirmwareErase(uint32_t address, uint32_t count);

    // --- the firmware upgrade ---
    // Puts one image into the flash: erases every other valid header whose flash the upgrade
    // touches (and, for a header at the base, the one above it, which would boot first), erases
    // the header area and every section's range, checks that clear sections read back blank,
    // writes the sections, reads them back, and only then writes the header and reads it back.
    // Erase and write are tried up to three times, verification once. A header that turns out
    // wrong is erased again, so that no valid header is left over flash that is not its own.
    // Status (an UpgradeStatus) and progress (percent) are written as it goes, for a poller on
    // another thread. The header goes to the firmware base address when headerAtBase is set,
    // 4096 bytes above it otherwise. True with RESULT_VERIFIED; false with RESULT_ERASE_ERROR,
    // RESULT_WRITE_ERROR or RESULT_VERIFY_ERROR.
    bool Upgrade(const FirmwareHeader& header,
                 const std::array<std::vector<uint8_t>, FirmwareHeader::kMaxSections>& sectionData,
                 std::atomic<int32_t>& status, std::atomic<int32_t>& progress, bool headerAtBase);

    // The header place of a safe upgrade, above the firmware base address.
    static constexpr uint32_t kSafeHeaderOffset = kSafeHeaderPlaceOffset;

    // Longest wait for a flash operation: a large erase takes seconds, never this long.
    static constexpr std::chrono::milliseconds kWipTimeLimit { 30000 };
    // Tests shorten the limit of one device.
    void SetWipTimeLimit(std::chrono::milliseconds limit) noexcept { m_wipTimeLimit = limit; }

    // Why this device must not take the image, before any traffic: an erase unit of 0, a header
    // block that passes the 32-bit address space, or an erased or written section range over the
    // new header block at headerAddress or (safe upgrade, headerAtBase false) over the installed
    // header block at the base. Empty when the image may go ahead.
    std::string findDeviceLayoutProblem(const FirmwareHeader& header, uint64_t headerAddress, bool headerAtBase) const;

    // The acceptance test of one enumerated interface: supported ids, a parsable report
    // descriptor, a readable serial number string, and a device information report of the
    // supported format. The handle it opens is closed again.
    static bool ProbeInterface(HidBackend& backend, const std::string& path);
    // The same test, telling a supported device that did not answer its information report
    // (Unreadable, with the reason and the probe's handle) from one that is not supported.
    static SetUpOutcome Probe(HidBackend& backend, const std::string& path, const std::atomic<bool>* cancel);

    // --- the device list (g_devices) ---
    // All device traffic of the list (probes of new interfaces, set-up of new devices) runs on
    // a pool of up to 32 threads, one job per path at a time, outside the list's lock: a device
    // that is slow or never answers holds up only its own job. A survey enumerates, hands new
    // paths to the pool and takes in what it finished. While the idle thread runs, it is the only
    // regular surveyor: Refresh on the message thread then only applies the idle thread's last
    // survey, so the message thread never waits on a device. Without the idle thread, Refresh
    // surveys on the calling thread first and waits for the set-ups it started.
    //
    // A listed device whose path is still enumerated stays while its handle is connected; one
    // whose handle is dead (unplugged and plugged in again, or another device on the same path)
    // is dropped and its path set up again as a new device. A device in use by an upgrade worker
    // stays while its handle is connected, even when an enumeration fails or misses it. A
    // supported device that cannot be read (its information report or its set-up fails) is
    // logged once per appearance and tried again after 1, 2, 4 ... 60 s; until then it is no
    // change, so it causes no refills. The delay ends early when the connection that failed goes
    // (another device, or the same one plugged in again) or the probe reads another serial number.
    //
    // Fills the list (waiting for the set-ups it started until they are done or none has ended
    // for a second), then starts the idle thread unless it runs; registers the callback.
    static bool Init(ICallbackDeviceChanged* callback);
    // Stops the idle thread, stops the set-ups at their next exchange (one inside a request ends
    // with the request's bound) and empties the list.
    static void Uninit();
    // Surveys once (set-up of new devices only with addNew, which keeps them for the next
    // Refresh); true when the attached supported devices differ from the list.
    static bool AddAllDevices(bool addNew);
    // Brings the list in line with the attached devices: new ones appended, gone or broken ones
    // dropped. A dropped device lives on while someone still holds it.
    static bool Refresh();
    // For commands that run once: waits until no set-up runs and no failed one is due again
    // within retryWindow (each failed set-up is tried again when due, up to the window's end),
    // then returns the supported devices that still could not be read, by path with the reason.
    struct SetUpProblem
    {
        std::string path;
        std::string reason;
    };
    static std::vector<SetUpProblem> SettleSetUps(std::chrono::milliseconds retryWindow);
    // The first retry delay of a device whose set-up failed (1 s; tests shorten it). It doubles
    // at every further failure, up to 60 times the first.
    static void SetSetUpRetryDelay(std::chrono::milliseconds first);

    // The first listed device with exactly this serial number, or null.
    static std::shared_ptr<CTovrakDevice> FindBySerialNumber(const std::string& serialNumber);
    // The listed device with exactly this serial number on exactly this path, or null.
    static std::shared_ptr<CTovrakDevice> FindDevice(const std::string& serialNumber, const std::string& path);
    // The device an upgrade worker takes for a row of this serial number and path, found by
    // serial number first: the listed device with the serial number on the path; otherwise,
    // when exactly one listed device has the serial number and the row saw no other device with
    // it (samePathOnly false), that one, as the row's device may come back on another path; null
    // in every other case. So a worker never chooses between twins (devices that share a serial
    // number), nor takes the twin of a device that has gone: upgrading the wrong one is worse
    // than not upgrading. An empty path takes the first listed device with the serial number.
    static std::shared_ptr<CTovrakDevice> FindForWorker(const std::string& serialNumber, const std::string& path,
                                                        bool samePathOnly);
    // A copy of the list, taken under its lock.
    static std::vector<std::shared_ptr<CTovrakDevice>> ListedDevices();
    // True while the idle thread exists.
    static bool IsMonitoring();

    class IdleThread;

private:
    // The construction steps; returns the number of the step that failed, 0 when all worked.
    int Open();
    bool ReadInstalledHeader(uint32_t address, const uint8_t* fixedPart, InstalledHeader& out);
    // Erases the header block at the address and reads it back until no bootable header is left
    // there (at most three tries). Logs its own failure.
    bool InvalidateHeader(uint32_t address, uint16_t size, const std::string& device);
    static bool Survey(bool setUpNew, std::chrono::milliseconds waitForSetUps,
                       std::chrono::milliseconds quiet = std::chrono::milliseconds(0));
    static void ApplySurvey();

    const std::string m_devicePath;
    DeviceInfo m_deviceInfo;
    FlashInfo m_flashInfo;
    uint16_t m_runningCompatibilityCode = 0;
    // Bytes of the installed header block at the base: its headerSize when that is plausible,
    // otherwise the largest header there can be.
    uint32_t m_installedHeaderSize = FirmwareHeader::kCapacity;
    InstalledHeader m_headerAtBase;
    InstalledHeader m_headerAbove;
    std::atomic<bool> m_bPresent { false };
    std::string m_setUpError;
    const std::atomic<bool>* m_pCancel = nullptr; // only while the constructor runs
    std::atomic<int> m_users { 0 };
    std::unique_ptr<HidHandle> m_hDevice;
    std::array<uint8_t, kReportBufferSize> m_reportBuffer {};
    std::chrono::milliseconds m_wipTimeLimit { kWipTimeLimit };
    // A busy wait ran out of time: until the flag is seen clear, later waits poll once and give
    // up at once, so that retries and relaunches do not wait on the same stuck flag again.
    std::atomic<bool> m_bBusyStuck { false };
};

// The attached supported devices, in the order they were first found. Membership changes only
// on the message thread and always under g_devicesMutex; the idle thread reads it under the
// mutex. Entries are shared: an upgrade worker keeps its device alive after it left the list.
extern std::vector<std::shared_ptr<CTovrakDevice>> g_devices;
extern std::mutex g_devicesMutex;
