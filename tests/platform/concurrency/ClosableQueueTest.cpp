#include "platform/concurrency/ClosableQueue.h"

#include "platform/concurrency/WorkerGroup.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace velnote::platform {
namespace {

TEST(ClosableQueue, EveryValueReachesExactlyOneOfSeveralConsumersThenCloseEndsThem) {
    ClosableQueue<int> queue;
    std::mutex mutex;
    std::multiset<int> taken;
    std::vector<std::thread> consumers;
    for (int c = 0; c < 4; ++c) {
        consumers.emplace_back([&] {
            while (auto value = queue.take()) {
                std::lock_guard lock(mutex);
                taken.insert(*value);
            }
        });
    }
    std::thread producer([&] {
        for (int i = 0; i < 1000; ++i)
            queue.push(i);
        queue.close();
    });
    producer.join();
    for (auto& consumer : consumers)
        consumer.join();
    ASSERT_EQ(taken.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(taken.count(i), 1u);
    EXPECT_FALSE(queue.push(1)); // closed
}

TEST(ClosableQueue, ValuesQueuedBeforeCloseAreStillTakenInOrder) {
    ClosableQueue<int> queue;
    queue.push(1);
    queue.push(2);
    queue.close();
    EXPECT_EQ(queue.take(), 1);
    EXPECT_EQ(queue.take(), 2);
    EXPECT_EQ(queue.take(), std::nullopt);
}

TEST(ClosableQueue, AStopRequestEndsAWaitingTake) {
    ClosableQueue<int> queue;
    std::stop_source stop;
    std::optional<int> result = 7;
    std::thread taker([&] { result = queue.take(stop.get_token()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop.request_stop();
    taker.join();
    EXPECT_EQ(result, std::nullopt);
}

TEST(WorkerGroup, TheFirstErrorStopsTheOtherJobsAndIsRethrown) {
    ClosableQueue<int> never; // the blocked jobs only end through the group's stop
    WorkerGroup group;
    std::atomic<int> ended{0};
    for (int i = 0; i < 3; ++i) {
        group.add([&](std::stop_token stop) {
            never.take(stop);
            ++ended;
        });
    }
    group.add([](std::stop_token) { throw std::runtime_error("chunk 3 failed"); });
    try {
        group.wait();
        FAIL();
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "chunk 3 failed");
    }
    EXPECT_EQ(ended.load(), 3);
}

TEST(WorkerGroup, AStopOfTheParentReachesTheJobs) {
    std::stop_source parent;
    ClosableQueue<int> never;
    WorkerGroup group(parent.get_token());
    group.add([&](std::stop_token stop) { never.take(stop); });
    parent.request_stop();
    EXPECT_NO_THROW(group.wait());
}

} // namespace
} // namespace velnote::platform
