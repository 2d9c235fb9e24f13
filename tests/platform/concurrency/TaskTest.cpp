#include "platform/concurrency/Task.h"

#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/ThreadPool.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace velnote::platform {
namespace {

using namespace std::chrono_literals;

TEST(TaskTest, LongJobSeesCancellationAndEndsWithCancellationError) {
    std::promise<void> started;
    auto task = startTask(ThreadPool::shared(), [&started](std::stop_token token) {
        started.set_value();
        for (;;) {
            throwIfCancelled(token);
            std::this_thread::sleep_for(1ms);
        }
        return 0;
    });
    started.get_future().wait();
    EXPECT_FALSE(task.waitFor(10ms));
    EXPECT_FALSE(task.isCancelled());

    task.cancel();

    EXPECT_TRUE(task.isCancelled());
    ASSERT_TRUE(task.waitFor(10s));
    EXPECT_THROW(task.get(), CancellationError);
}

TEST(TaskTest, FinishedTaskReportsItsValueOrItsError) {
    auto value =
        startTask(ThreadPool::shared().executor(Priority::background), [](std::stop_token) { return 5; });
    auto failure =
        startTask(ThreadPool::shared(), [](std::stop_token) { throw std::out_of_range("no such session"); });

    EXPECT_EQ(value.get(), 5);
    EXPECT_FALSE(value.valid());
    EXPECT_THROW(failure.get(), std::out_of_range);
}

TEST(TaskTest, TaskCancelledBeforeItsTurnNeverStartsItsWork) {
    SerialExecutor executor;
    std::promise<void> gate;
    executor.post([released = gate.get_future().share()] { released.wait(); });
    std::atomic<bool> workRan{false};
    auto task = startTask(executor, [&workRan](std::stop_token) { workRan = true; });

    task.cancel();
    gate.set_value();

    EXPECT_THROW(task.get(), CancellationError);
    EXPECT_FALSE(workRan);
}

} // namespace
} // namespace velnote::platform
