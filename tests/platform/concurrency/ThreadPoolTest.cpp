#include "platform/concurrency/ThreadPool.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velnote::platform {
namespace {

using namespace std::chrono_literals;

// Occupies one worker until open() is called.
class Gate {
  public:
    void holdWorker(ThreadPool& pool, Priority priority) {
        auto started = std::make_shared<std::promise<void>>();
        auto running = started->get_future();
        pool.post(
            [started, released = released_] {
                started->set_value();
                released.wait();
            },
            priority);
        running.wait();
    }
    void open() { release_.set_value(); }

  private:
    std::promise<void> release_;
    std::shared_future<void> released_ = release_.get_future().share();
};

TEST(ThreadPoolTest, HasAtLeastTwoThreads) {
    EXPECT_EQ(ThreadPool(1).threadCount(), 2u);
    EXPECT_GE(ThreadPool(0).threadCount(), 2u);
    EXPECT_GE(ThreadPool::shared().threadCount(), 2u);
}

TEST(ThreadPoolTest, FreeWorkerTakesWaitingUtilityJobBeforeEarlierBackgroundJob) {
    ThreadPool pool(2);
    Gate first;
    Gate second;
    first.holdWorker(pool, Priority::utility);
    second.holdWorker(pool, Priority::utility);

    std::mutex mutex;
    std::vector<std::string> order;
    auto record = [&](std::string name) {
        std::lock_guard lock(mutex);
        order.push_back(std::move(name));
    };
    auto background = pool.executor(Priority::background).submit([&] { record("background"); });
    auto utility = pool.executor(Priority::utility).submit([&] { record("utility"); });

    first.open(); // one worker free: it must pick utility, then background
    background.get();
    utility.get();
    second.open();

    EXPECT_EQ(order, (std::vector<std::string>{"utility", "background"}));
}

TEST(ThreadPoolTest, BackgroundWorkLeavesOneWorkerForUtilityWork) {
    ThreadPool pool(2);
    Gate longBackground;
    longBackground.holdWorker(pool, Priority::background);

    auto secondBackground = pool.executor(Priority::background).submit([] {});
    auto utility = pool.executor(Priority::utility).submit([] { return 7; });

    ASSERT_EQ(utility.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(utility.get(), 7);
    // The second background job may not take the last free worker.
    EXPECT_EQ(secondBackground.wait_for(50ms), std::future_status::timeout);

    longBackground.open();
    EXPECT_EQ(secondBackground.wait_for(10s), std::future_status::ready);
}

} // namespace
} // namespace velnote::platform
