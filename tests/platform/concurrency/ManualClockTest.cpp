#include "platform/concurrency/ManualClock.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

using namespace std::chrono_literals;

TEST(ManualClockTest, StandsStillUntilAdvancedThenMovesBothClocksAndTellsListeners) {
    const Clock::WallTime wallStart = std::chrono::sys_days{std::chrono::year{2025} / 3 / 9} + 12h;
    ManualClock clock(Clock::SteadyTime{} + 1h, wallStart);
    int calls = 0;
    auto registration = clock.onAdvance([&] { ++calls; });

    EXPECT_EQ(clock.now(), Clock::SteadyTime{} + 1h);
    EXPECT_EQ(clock.wallNow(), wallStart);

    clock.advance(300s);
    EXPECT_EQ(clock.now(), Clock::SteadyTime{} + 1h + 300s);
    EXPECT_EQ(clock.wallNow(), wallStart + 300s);
    EXPECT_EQ(calls, 1);

    registration.reset();
    clock.advance(1s);
    EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace velnote::platform
