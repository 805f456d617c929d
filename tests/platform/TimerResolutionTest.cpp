// The process-wide count behind ScopedTimerResolution: the first object raises the timer
// resolution, the last one restores it, whatever threads create and destroy them.
#include "Platform.h"

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace
{
bool onWindows()
{
    return (juce::SystemStats::getOperatingSystemType() & juce::SystemStats::Windows) != 0;
}
} // namespace

TEST(TimerResolution, RaisedWhileAnyObjectLivesAndRestoredAfterTheLast)
{
    ASSERT_EQ(platform::ScopedTimerResolution::activeCount(), 0);
    ASSERT_FALSE(platform::ScopedTimerResolution::isRaised());
    {
        platform::ScopedTimerResolution first;
        EXPECT_EQ(platform::ScopedTimerResolution::activeCount(), 1);
        // Windows accepts a 1 ms period; elsewhere nothing is raised.
        EXPECT_EQ(platform::ScopedTimerResolution::isRaised(), onWindows());
        {
            platform::ScopedTimerResolution second;
            EXPECT_EQ(platform::ScopedTimerResolution::activeCount(), 2);
        }
        // The first object still holds the resolution.
        EXPECT_EQ(platform::ScopedTimerResolution::activeCount(), 1);
        EXPECT_EQ(platform::ScopedTimerResolution::isRaised(), onWindows());
    }
    EXPECT_EQ(platform::ScopedTimerResolution::activeCount(), 0);
    EXPECT_FALSE(platform::ScopedTimerResolution::isRaised());
}

TEST(TimerResolution, ObjectsOfManyThreadsBalanceOut)
{
    // Eight workers start and end upgrades at random moments against one long upgrade.
    auto longRunning = std::make_unique<platform::ScopedTimerResolution>();
    std::atomic<bool> sawUnraised { false };
    std::vector<std::thread> workers;
    for (int t = 0; t < 8; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i)
            {
                platform::ScopedTimerResolution scoped;
                if (platform::ScopedTimerResolution::isRaised() != onWindows())
                    sawUnraised = true;
            }
        });
    for (auto& worker : workers)
        worker.join();
    EXPECT_FALSE(sawUnraised.load()) << "the resolution dropped while objects existed";
    EXPECT_EQ(platform::ScopedTimerResolution::activeCount(), 1);
    longRunning.reset();
    EXPECT_EQ(platform::ScopedTimerResolution::activeCount(), 0);
    EXPECT_FALSE(platform::ScopedTimerResolution::isRaised());
}
