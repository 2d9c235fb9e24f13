#include "platform/wake/WallClockTimer.h"

#include "platform/concurrency/MainDispatcher.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

using namespace std::chrono_literals;

TEST(WallClockTimerTest, FiresOnceAtTheCalendarTime) {
    MainDispatcher main;
    int fired = 0;
    const auto due = std::chrono::system_clock::now() + 80ms;
    auto timer = WallClockTimer::at(due, main, [&] { ++fired; });
    EXPECT_TRUE(timer.isActive());

    ASSERT_TRUE(main.runUntil([&] { return fired > 0; }, 5s));
    EXPECT_GE(std::chrono::system_clock::now(), due);
    EXPECT_FALSE(timer.isActive());
    main.runUntil([] { return false; }, 100ms);
    EXPECT_EQ(fired, 1);
}

TEST(WallClockTimerTest, PastTimeFiresAtOnce) {
    MainDispatcher main;
    bool fired = false;
    auto timer = WallClockTimer::at(std::chrono::system_clock::now() - 1h, main, [&] { fired = true; });
    EXPECT_TRUE(main.runUntil([&] { return fired; }, 5s));
}

TEST(WallClockTimerTest, DroppedOrCancelledTimerNeverRuns) {
    MainDispatcher main;
    bool fired = false;
    auto soon = std::chrono::system_clock::now() + 30ms;
    {
        auto dropped = WallClockTimer::at(soon, main, [&] { fired = true; });
    }
    auto cancelled = WallClockTimer::at(soon, main, [&] { fired = true; });
    cancelled.cancel();
    // Also a timer that fired but whose job has not run yet.
    auto posted = WallClockTimer::at(std::chrono::system_clock::now() - 1s, main, [&] { fired = true; });
    std::this_thread::sleep_for(100ms);
    posted.cancel();
    main.runUntil([] { return false; }, 100ms);
    EXPECT_FALSE(fired);
}

} // namespace
} // namespace velnote::platform
