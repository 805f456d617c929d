// watch: a line for every supported device that is attached at the start, appears or goes, until
// interrupted.
#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

using namespace cli_testing;

namespace
{
class CliWatch : public CliTest
{
};

bool waitFor(const std::function<bool()>& condition, int milliseconds = 5000)
{
    for (int waited = 0; waited < milliseconds; waited += 10)
    {
        if (condition())
            return true;
        juce::Thread::sleep(10);
    }
    return condition();
}
} // namespace

TEST_F(CliWatch, AttachedAndDetachedLinesUntilInterrupted)
{
    plug("T1");
    firmwareFile(1, 3, 9);
    std::atomic<bool> interrupted { false };
    CliResult result;
    std::thread watcher([&] { result = run({ "watch", "--json" }, {}, false, &interrupted); });

    // The watcher plays the message thread; this thread only plugs and pulls emulated devices.
    ASSERT_TRUE(waitFor([&] { return CTovrakDevice::IsMonitoring(); }));
    juce::Thread::sleep(300);
    auto second = plug("T2", packed(2, 0, 7));
    m_bus->add(makeForeignDeviceConfig(0x046d, 0xc31c)); // not a Tovrak device: no line
    juce::Thread::sleep(600);
    m_bus->unplug(second->path());
    juce::Thread::sleep(600);
    interrupted = true;
    watcher.join();

    EXPECT_EQ(result.exitCode, CliExit::Ok) << result.err;
    const auto lines = linesOf(result.out);
    ASSERT_EQ(lines.size(), 3u) << result.out;
    const char* expected[][3] = { { "attached", "T1", "1.2.0" }, { "attached", "T2", "2.0.7" }, { "detached", "T2", "2.0.7" } };
    for (size_t i = 0; i < lines.size(); ++i)
    {
        const juce::var event = parseJson(lines[i]);
        ASSERT_TRUE(event.isObject()) << lines[i];
        EXPECT_EQ(event["event"].toString(), expected[i][0]);
        EXPECT_EQ(event["serialNumber"].toString(), expected[i][1]);
        EXPECT_EQ(event["name"].toString(), juce::String("Tovrak ") + expected[i][1]);
        EXPECT_EQ(event["installedVersion"].toString(), expected[i][2]);
    }
}

TEST_F(CliWatch, TextLinesAndATimeLimit)
{
    plug("T1");
    const juce::uint32 start = juce::Time::getMillisecondCounter();
    const CliResult r = run({ "watch", "--seconds", "1" });
    const juce::uint32 took = juce::Time::getMillisecondCounter() - start;
    EXPECT_EQ(r.exitCode, CliExit::Ok);
    EXPECT_EQ(r.out, "attached  T1  Tovrak T1  1.2.0\n");
    EXPECT_GE(took, 1000u);
    EXPECT_LT(took, 4000u);
}
