// One fault at every exchange of an upgrade in turn: each run must end in a verified upgrade
// or in an error status, never report success over wrong flash content, never hang, and never
// leave a valid header over sections that do not match it, not even for one exchange, and never
// send a command to the device while it is busy.
#include "UpgradeTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>

using namespace upgrade_testing;
using testing_support::ImageSpec;
using testing_support::makeImage;
using testing_support::patternBytes;

namespace
{
FirmwareImage matrixImage()
{
    ImageSpec spec;
    spec.sections = { { "App", kSectionArea, patternBytes(600, 7) },
                      { "Factory.CLR.1", kSectionArea + 0x1000, patternBytes(300) },
                      { "Upgrade.Cfg", kSectionArea + 0x2000, patternBytes(64) } };
    return makeImage(spec);
}

void slowDevice(EmulatedDeviceConfig& c)
{
    setEraseUnit(c, 256); // several erase pieces per section
    c.busyPolls = 1;      // every wait polls twice
}

// What must hold after every exchange: a header that is the new one sits over the new sections;
// the old installed header sits over sections nobody has touched yet.
std::string headerInvariantBroken(const EmulatedDevice& device, const FirmwareImage& image,
                                  const std::vector<uint8_t>& oldHeader, const std::vector<uint8_t>& untouched)
{
    if (headerIsWritten(device, image, kBase))
    {
        const auto held = flashHolds(device, image, kBase);
        return held ? std::string() : std::string("new header over wrong sections: ") + held.message();
    }
    if (device.readFlash(kBase, oldHeader.size()) == oldHeader
        && device.readFlash(kSectionArea, untouched.size()) != untouched)
        return "old header over changed sections";
    return {};
}

struct MatrixRun
{
    Outcome outcome;
    int32_t statusAtFault = -1; // the procedure's status when the fault hit, -1: never hit
    bool faultInRead = false;   // the failed exchange was part of a read (address or data)
    std::string broken;         // the first broken invariant, with the exchange it followed
};

class UpgradeFaultMatrix : public UpgradeTest
{
protected:
    // Runs one upgrade on a fresh device; `inject` arms the fault, `onExchange` may act after
    // each exchange (it gets the 1-based exchange number and the procedure's status).
    MatrixRun runOnce(const std::string& serial, const std::function<void(Target&)>& inject,
                const std::function<void(Target&, size_t, int32_t)>& onExchange = {})
    {
        auto t = attach(serial, slowDevice);
        const auto oldHeader = t.emu->readFlash(kBase, FirmwareHeader::kFixedSize);
        const auto untouched = t.emu->readFlash(kSectionArea, 0x2000 + 64);
        if (inject)
            inject(t);

        MatrixRun run;
        std::atomic<int32_t> status { RESULT_READY };
        std::atomic<int32_t> progress { 0 };
        size_t exchanges = 0;
        t.emu->setExchangeObserver([&](const ExchangeRecord& r) {
            ++exchanges;
            if (r.failed && run.statusAtFault < 0)
            {
                run.statusAtFault = status.load();
                run.faultInRead = r.reportId == KSCAP_HID_FIRMWARE_READ_ADDRESS
                               || (r.reportId == KSCAP_HID_FIRMWARE_DATA && r.direction == ReportDirection::Input);
            }
            if (run.broken.empty())
            {
                const auto broken = headerInvariantBroken(*t.emu, m_image, oldHeader, untouched);
                if (!broken.empty())
                    run.broken = broken + " after exchange " + std::to_string(exchanges);
            }
            if (onExchange)
                onExchange(t, exchanges, status.load());
        });

        auto done = std::async(std::launch::async, [&] {
            return t.device->Upgrade(m_image.header, m_image.sections, status, progress, true);
        });
        if (done.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
        {
            std::fprintf(stderr, "upgrade of %s hangs\n", serial.c_str());
            std::_Exit(1); // the blocked worker cannot be joined
        }
        run.outcome.ok = done.get();
        run.outcome.status = status;
        run.outcome.progress = progress;
        t.emu->setExchangeObserver({});

        if (run.outcome.ok)
        {
            const auto held = flashHolds(*t.emu, m_image, kBase);
            if (!held)
                run.broken = std::string("success over wrong flash: ") + held.message();
        }
        if (violationsOf(*t.emu, ProtocolViolation::WriteIntoUnerased) > 0)
            run.broken = "write into unerased bytes";
        if (violationsOf(*t.emu, ProtocolViolation::CommandWhileBusy) > 0)
            run.broken = "a command went to the device while it was busy";
        if (t.emu->readFlash(kSectionArea + 0x2000, 64) != std::vector<uint8_t>(64, 0xFF))
            run.broken = "an \"Upgrade.\" section was touched";
        return run;
    }

    size_t cleanExchangeCount()
    {
        auto t = attach("CLEAN", slowDevice);
        std::atomic<int32_t> status { RESULT_READY };
        std::atomic<int32_t> progress { 0 };
        EXPECT_TRUE(t.device->Upgrade(m_image.header, m_image.sections, status, progress, true));
        return t.emu->totalExchanges();
    }

    const FirmwareImage m_image = matrixImage();
};
} // namespace

TEST_F(UpgradeFaultMatrix, OneFailedExchangeAtEveryIndex)
{
    const size_t total = cleanExchangeCount();
    ASSERT_GT(total, 50u);
    size_t recovered = 0;
    for (size_t n = 1; n <= total + 1; ++n)
    {
        SCOPED_TRACE("failed exchange " + std::to_string(n) + " of " + std::to_string(total));
        const MatrixRun run = runOnce("F" + std::to_string(n), [&](Target& t) {
            failReport(t, { -1, ReportDirection::Any, n, 1 });
        });
        EXPECT_EQ(run.broken, "");
        if (run.statusAtFault < 0)
        {
            EXPECT_EQ(n, total + 1);
            EXPECT_TRUE(run.outcome.ok);
        }
        else if (run.statusAtFault == RESULT_VERIFYING && run.faultInRead)
        {
            // A read-back is not retried.
            EXPECT_FALSE(run.outcome.ok);
            EXPECT_EQ(run.outcome.status, RESULT_VERIFY_ERROR);
        }
        else if (run.statusAtFault == RESULT_VERIFYING)
        {
            // The header write (after the sections were read back) costs one attempt.
            EXPECT_TRUE(run.outcome.ok);
            ++recovered;
        }
        else
        {
            // One failure while erasing or writing costs one attempt, the next one succeeds.
            EXPECT_TRUE(run.statusAtFault == RESULT_ERASING || run.statusAtFault == RESULT_WRITING) << run.statusAtFault;
            EXPECT_TRUE(run.outcome.ok);
            EXPECT_EQ(run.outcome.status, RESULT_VERIFIED);
            ++recovered;
        }
    }
    EXPECT_GT(recovered, 0u);
}

TEST_F(UpgradeFaultMatrix, UnpluggedAfterEveryExchange)
{
    const size_t total = cleanExchangeCount();
    for (size_t n = 1; n <= total; ++n)
    {
        SCOPED_TRACE("unplugged after exchange " + std::to_string(n) + " of " + std::to_string(total));
        int32_t statusAtUnplug = -1;
        const MatrixRun run = runOnce("U" + std::to_string(n), {}, [&](Target& t, size_t count, int32_t status) {
            if (count == n)
            {
                t.emu->unplug();
                statusAtUnplug = status;
            }
        });
        EXPECT_EQ(run.broken, "");
        ASSERT_GE(statusAtUnplug, 0);
        if (n == total)
        {
            EXPECT_TRUE(run.outcome.ok); // the last exchange went through
            continue;
        }
        EXPECT_FALSE(run.outcome.ok);
        // Attempts after the unplug fail at their header erase; a read-back is not retried.
        if (statusAtUnplug == RESULT_VERIFYING)
            EXPECT_TRUE(run.outcome.status == RESULT_VERIFY_ERROR || run.outcome.status == RESULT_ERASE_ERROR)
                << run.outcome.status;
        else
            EXPECT_TRUE(run.outcome.status == RESULT_ERASE_ERROR || run.outcome.status == RESULT_VERIFY_ERROR)
                << run.outcome.status;
    }
}
