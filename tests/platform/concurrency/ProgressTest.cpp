#include "platform/concurrency/Progress.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace velnote::platform {
namespace {

TEST(ProgressTest, FinishedChildrenCompleteTheirPendingUnits) {
    const auto parent = Progress::make(3);
    const auto first = Progress::make(100);
    const auto second = Progress::make(0);
    parent->addChild(first, 2);
    parent->addChild(second, 1);
    EXPECT_FALSE(parent->isFinished());

    first->setCompletedUnitCount(50);
    EXPECT_DOUBLE_EQ(parent->fractionCompleted(), 1.0 / 3);
    first->setCompletedUnitCount(100);
    EXPECT_EQ(parent->completedUnitCount(), 2);
    // Finishing again adds nothing.
    first->setCompletedUnitCount(100);
    EXPECT_EQ(parent->completedUnitCount(), 2);

    // A child without units is not finished until it gets some.
    second->setTotalUnitCount(10);
    second->setCompletedUnitCount(10);
    EXPECT_TRUE(parent->isFinished());
    EXPECT_DOUBLE_EQ(parent->fractionCompleted(), 1);
}

TEST(ProgressTest, ChildrenAreAddedOnceAndNeverInACycle) {
    const auto parent = Progress::make(2);
    const auto child = Progress::make(1);
    parent->addChild(child, 1);
    parent->addChild(child, 1);
    child->addChild(parent, 1);
    parent->addChild(parent, 1);
    child->setCompletedUnitCount(1);
    EXPECT_EQ(parent->completedUnitCount(), 1);
    EXPECT_FALSE(parent->isFinished());
}

TEST(ProgressTest, ConcurrentChildrenAllCount) {
    const auto parent = Progress::make(64);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            for (int k = 0; k < 8; ++k) {
                const auto child = Progress::make(1);
                parent->addChild(child, 1);
                child->setCompletedUnitCount(1);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(parent->completedUnitCount(), 64);
    EXPECT_TRUE(parent->isFinished());
}

} // namespace
} // namespace velnote::platform
