#include "platform/concurrency/MainDispatcher.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velnote::platform {
namespace {

using namespace std::chrono_literals;

TEST(MainDispatcherTest, ManualModeRunsNothingUntilTheTestRunsTheQueueOnItsThread) {
    MainDispatcher main;
    std::vector<int> order;
    std::atomic<bool> allOnMain{true};
    std::thread poster([&] {
        EXPECT_FALSE(main.isMainThread());
        for (int i = 0; i < 3; ++i) {
            main.post([&, i] {
                allOnMain = allOnMain && main.isMainThread();
                order.push_back(i);
                if (i == 0) {
                    main.post([&] { order.push_back(10); });
                }
            });
        }
    });
    poster.join();
    EXPECT_TRUE(order.empty());

    EXPECT_EQ(main.runPending(), 4u);

    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 10}));
    EXPECT_TRUE(allOnMain);
    EXPECT_EQ(main.runPending(), 0u);
}

TEST(MainDispatcherTest, RunUntilRunsArrivingJobsUntilDoneOrTimeout) {
    MainDispatcher main;
    bool done = false; // touched only on main
    std::thread worker([&] {
        std::this_thread::sleep_for(20ms);
        main.post([&] { done = true; });
    });

    EXPECT_TRUE(main.runUntil([&] { return done; }, 10s));
    worker.join();

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(main.runUntil([] { return false; }, 30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST(MainDispatcherTest, RunAndWaitRunsInlineOnMainAndHopsFromOtherThreads) {
    MainDispatcher main;
    main.runPending(); // binds this thread as main

    // On main: inline, so waiting cannot deadlock although nobody runs the queue.
    EXPECT_EQ(main.runAndWait([] { return 1; }), 1);

    std::atomic<bool> finished{false};
    std::string fromWorker;
    bool ranOnMain = false;
    bool errorSeen = false;
    std::thread worker([&] {
        fromWorker = main.runAndWait([&] {
            ranOnMain = main.isMainThread();
            return std::string("hopped");
        });
        try {
            main.runAndWait([]() -> int { throw std::logic_error("refused"); });
        } catch (const std::logic_error&) {
            errorSeen = true;
        }
        finished = true;
    });

    EXPECT_TRUE(main.runUntil([&] { return finished.load(); }, 10s));
    worker.join();
    EXPECT_EQ(fromWorker, "hopped");
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(errorSeen);
}

TEST(MainDispatcherTest, PosterReceivesQueuedJobsInOrderThenEveryNewJob) {
    MainDispatcher main;
    std::vector<int> order;
    main.post([&] { order.push_back(1); });
    main.post([&] { order.push_back(2); });

    std::vector<Job> eventLoop;
    main.setPoster([&](Job job) { eventLoop.push_back(std::move(job)); });
    main.post([&] { order.push_back(3); });

    EXPECT_EQ(main.runPending(), 0u);
    ASSERT_EQ(eventLoop.size(), 3u);
    for (const auto& job : eventLoop) {
        job();
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    main.setPoster({});
    main.post([&] { order.push_back(4); });
    EXPECT_EQ(eventLoop.size(), 3u);
    EXPECT_EQ(main.runPending(), 1u);
}

} // namespace
} // namespace velnote::platform
