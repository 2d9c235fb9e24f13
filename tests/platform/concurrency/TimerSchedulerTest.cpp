#include "platform/concurrency/TimerScheduler.h"

#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/SystemClock.h"
#include "platform/concurrency/ThreadPool.h"

#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace velnote::platform {
namespace {

using namespace std::chrono_literals;

enum class Kind { once, repeating };

struct Step {
    Clock::Duration advance;
    int firesSoFar;
    bool cancelBeforeRunning = false; // cancel after the advance, before the main queue runs
};

struct TimerCase {
    std::string name;
    Kind kind;
    Clock::Duration period; // delay of a one-shot timer, interval of a repeating one
    std::vector<Step> steps;
    bool activeAtEnd;
    bool cancelAtOnce = false;
};

TEST(TimerSchedulerTest, ManualClockFiresDueTimersDeterministically) {
    const std::vector<TimerCase> cases = {
        {.name = "one-shot fires once at its due time",
         .kind = Kind::once,
         .period = 300s,
         .steps = {{299s, 0}, {1s, 1}, {600s, 1}},
         .activeAtEnd = false},
        {.name = "one-shot with no delay fires at once",
         .kind = Kind::once,
         .period = 0s,
         .steps = {{0s, 1}, {1h, 1}},
         .activeAtEnd = false},
        {.name = "repeating fires each interval",
         .kind = Kind::repeating,
         .period = 10s,
         .steps = {{10s, 1}, {10s, 2}, {5s, 2}, {5s, 3}},
         .activeAtEnd = true},
        {.name = "repeating skips missed ticks instead of piling up",
         .kind = Kind::repeating,
         .period = 10s,
         .steps = {{35s, 1}, {4s, 1}, {1s, 2}},
         .activeAtEnd = true},
        {.name = "cancelled one-shot never fires",
         .kind = Kind::once,
         .period = 5s,
         .steps = {{5s, 0}, {1h, 0}},
         .activeAtEnd = false,
         .cancelAtOnce = true},
        {.name = "one-shot cancelled while queued never fires",
         .kind = Kind::once,
         .period = 5s,
         .steps = {{5s, 0, true}, {1h, 0}},
         .activeAtEnd = false},
        {.name = "cancelled repeating stops",
         .kind = Kind::repeating,
         .period = 10s,
         .steps = {{10s, 1}, {10s, 1, true}, {10s, 1}},
         .activeAtEnd = false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ManualClock clock;
        TimerScheduler scheduler(clock);
        MainDispatcher main;
        int fires = 0;
        auto timer = c.kind == Kind::repeating ? scheduler.repeating(c.period, main, [&] { ++fires; })
                                               : scheduler.once(c.period, main, [&] { ++fires; });
        if (c.cancelAtOnce) {
            timer.cancel();
        }
        for (const auto& step : c.steps) {
            clock.advance(step.advance);
            if (step.cancelBeforeRunning) {
                timer.cancel();
            }
            main.runPending();
            EXPECT_EQ(fires, step.firesSoFar);
        }
        EXPECT_EQ(timer.isActive(), c.activeAtEnd);
    }
}

TEST(TimerSchedulerTest, CallbackMayCancelItsOwnTimer) {
    ManualClock clock;
    TimerScheduler scheduler(clock);
    MainDispatcher main;
    int fires = 0;
    Timer timer;
    timer = scheduler.repeating(1s, main, [&] {
        if (++fires == 2) {
            timer.cancel();
        }
    });
    for (int i = 0; i < 5; ++i) {
        clock.advance(1s);
        main.runPending();
    }
    EXPECT_EQ(fires, 2);
}

TEST(TimerSchedulerTest, SystemClockFiresOneShotOnTheGivenExecutor) {
    TimerScheduler scheduler(SystemClock::shared());
    SerialExecutor executor;
    std::promise<bool> fired;
    auto timer = scheduler.once(20ms, executor, [&] { fired.set_value(executor.isCurrent()); });

    auto result = fired.get_future();
    ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(result.get());
}

TEST(TimerSchedulerTest, SlowRepeatingCallbackNeverOverlapsAndCancelWaitsForIt) {
    TimerScheduler scheduler(SystemClock::shared());
    ThreadPool pool(4); // would run piled-up callbacks side by side
    std::atomic<int> inside{0};
    std::atomic<int> maxInside{0};
    std::atomic<int> fires{0};
    auto timer = scheduler.repeating(2ms, pool, [&] {
        const int now = inside.fetch_add(1) + 1;
        maxInside = std::max(maxInside.load(), now);
        std::this_thread::sleep_for(20ms);
        fires.fetch_add(1);
        inside.fetch_sub(1);
    });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (fires.load() < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }

    timer.cancel();
    EXPECT_EQ(inside.load(), 0);
    const int firesAtCancel = fires.load();
    std::this_thread::sleep_for(50ms);

    EXPECT_GE(firesAtCancel, 3);
    EXPECT_EQ(fires.load(), firesAtCancel);
    EXPECT_EQ(maxInside.load(), 1);
}

TEST(TimerSchedulerTest, RepeatingNeedsAPositiveInterval) {
    ManualClock clock;
    TimerScheduler scheduler(clock);
    MainDispatcher main;
    EXPECT_THROW((void)scheduler.repeating(0s, main, [] {}), std::invalid_argument);
}

} // namespace
} // namespace velnote::platform
