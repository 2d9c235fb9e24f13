#include "platform/concurrency/SerialExecutor.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace velnote::platform {
namespace {

TEST(SerialExecutorTest, RunsJobsOneAtATimeInPostingOrderOnItsOwnThread) {
    constexpr int posters = 4;
    constexpr int jobsEach = 200;
    SerialExecutor executor;
    std::vector<std::vector<int>> seen(posters); // touched only on the executor
    std::atomic<int> inside{0};
    std::atomic<bool> overlapOrWrongThread{false};

    std::vector<std::thread> threads;
    for (int poster = 0; poster < posters; ++poster) {
        threads.emplace_back([&, poster] {
            for (int i = 0; i < jobsEach; ++i) {
                executor.post([&, poster, i] {
                    if (inside.fetch_add(1) != 0 || !executor.isCurrent()) {
                        overlapOrWrongThread = true;
                    }
                    seen[poster].push_back(i);
                    inside.fetch_sub(1);
                });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto result = executor.submit([&] { return seen; }).get();

    EXPECT_FALSE(overlapOrWrongThread);
    EXPECT_FALSE(executor.isCurrent());
    for (const auto& sequence : result) {
        ASSERT_EQ(sequence.size(), static_cast<std::size_t>(jobsEach));
        for (int i = 0; i < jobsEach; ++i) {
            EXPECT_EQ(sequence[i], i);
        }
    }
}

TEST(SerialExecutorTest, SubmitDeliversResultsAndExceptionsThroughTheFuture) {
    SerialExecutor executor;
    auto value = executor.submit([] { return 42; });
    auto failure = executor.submit([]() -> int { throw std::runtime_error("disk full"); });
    auto afterFailure = executor.submit([] { return std::string("still running"); });

    EXPECT_EQ(value.get(), 42);
    try {
        failure.get();
        ADD_FAILURE() << "expected the job's exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "disk full");
    }
    EXPECT_EQ(afterFailure.get(), "still running");
}

TEST(SerialExecutorTest, JobPostedFromAJobRunsAfterThoseAlreadyQueued) {
    SerialExecutor executor;
    std::vector<std::string> order;
    std::promise<void> gate;
    std::promise<void> chainDone;
    executor.post([&, released = gate.get_future().share()] {
        released.wait();
        order.push_back("first");
        executor.post([&] {
            order.push_back("posted by first");
            chainDone.set_value();
        });
    });
    executor.post([&] { order.push_back("second"); });
    gate.set_value();
    chainDone.get_future().wait();

    const auto result = executor.submit([&] { return order; }).get();
    EXPECT_EQ(result, (std::vector<std::string>{"first", "second", "posted by first"}));
}

TEST(SerialExecutorTest, DestructorRunsEveryQueuedJobIncludingThoseTheyPost) {
    auto counter = std::make_shared<std::atomic<int>>(0);
    {
        SerialExecutor executor;
        for (int i = 0; i < 50; ++i) {
            executor.post([&executor, counter] {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                counter->fetch_add(1);
                executor.post([counter] { counter->fetch_add(1); });
            });
        }
    }
    EXPECT_EQ(counter->load(), 100);
}

} // namespace
} // namespace velnote::platform
