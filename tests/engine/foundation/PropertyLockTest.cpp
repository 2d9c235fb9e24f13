#include "engine/foundation/PropertyLock.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace basalith {
namespace {

TEST(UnfairLockTest, BodyErrorPassesOnAndReleasesTheLock) {
    UnfairLock lock;
    EXPECT_THROW(lock.withLock([]() -> int { throw std::runtime_error("body"); }), std::runtime_error);
    EXPECT_EQ(lock.withLock([] { return 7; }), 7);
}

TEST(PropertyLockTest, EncodesAndDecodesAsTheBareValue) {
    nlohmann::json object{{"text", PropertyLock<std::string>("abc")},
                          {"list", PropertyLock<std::vector<int>>({1, 2})}};
    EXPECT_EQ(object.dump(), R"({"list":[1,2],"text":"abc"})");
    EXPECT_EQ(object["text"].get<PropertyLock<std::string>>().get(), "abc");
    EXPECT_THROW(nlohmann::json(3).get<PropertyLock<std::string>>(), nlohmann::json::type_error);
}

TEST(PropertyLockTest, CopySharesTheLockButNotTheValue) {
    PropertyLock<int> original(1);
    PropertyLock<int> copy = original;
    copy.set(2);
    EXPECT_EQ(original.get(), 1);
    EXPECT_EQ(copy.get(), 2);
}

// Two threads adding at once must not lose an update: the change runs in one hold of the lock.
TEST(PropertyLockTest, ConcurrentChangesAreNotLost) {
    PropertyLock<int> counter(0);
    PropertyLock<std::vector<int>> list;
    constexpr int kPerThread = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) {
                counter.modify([](int& value) { ++value; });
                list.modify([i](std::vector<int>& values) { values.push_back(i); });
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter.get(), 4 * kPerThread);
    EXPECT_EQ(list.get().size(), 4u * kPerThread);
}

} // namespace
} // namespace basalith
