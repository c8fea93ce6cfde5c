#include "platform/event.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

TEST(Event, AutoResetReleasesOneWaitPerSet) {
    Event event(false, false);
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    event.Set(); // a second Set before anyone waited does not count twice
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));

    Event initially(false, true);
    EXPECT_TRUE(initially.Wait(0));
    EXPECT_FALSE(initially.Wait(0));
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    Event event(true, true);
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(10));
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    EXPECT_TRUE(event.Wait(Event::kInfinite));
}

TEST(Event, TimedWaitWaitsItsTimeWhenNotSignalled) {
    Event event;
    const auto start = Clock::now();
    EXPECT_FALSE(event.Wait(50));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
}

// An auto-reset Set hands the signal to exactly one of several waiters; a
// manual-reset Set lets all of them through.
TEST(Event, AutoResetWakesOneWaiterManualWakesAll) {
    for (const bool manual : {false, true}) {
        SCOPED_TRACE(manual ? "manual" : "auto");
        Event event(manual, false);
        std::atomic<int> woken{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 4; ++i)
            waiters.emplace_back([&] {
                if (event.Wait(500)) ++woken;
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        event.Set();
        for (auto& waiter : waiters)
            waiter.join();
        EXPECT_EQ(woken.load(), manual ? 4 : 1);
    }
}

} // namespace
} // namespace qm
