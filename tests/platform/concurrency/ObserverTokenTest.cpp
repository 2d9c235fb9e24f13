#include "platform/concurrency/ObserverToken.h"

#include <gtest/gtest.h>

namespace velnote::platform {
namespace {

TEST(ObserverTokenTest, UnsubscribesOnceWhicheverTokenHoldsTheSubscription) {
    int calls = 0;
    {
        ObserverToken first([&] { ++calls; });
        ObserverToken second(std::move(first));
        first.reset(); // moved from: holds nothing
        EXPECT_EQ(calls, 0);
        ObserverToken third;
        third = std::move(second);
        EXPECT_EQ(calls, 0);
        third.reset();
        third.reset();
        EXPECT_EQ(calls, 1);
        third = ObserverToken([&] { calls += 10; });
    }
    EXPECT_EQ(calls, 11) << "destroying the last holder unsubscribes";
}

} // namespace
} // namespace velnote::platform
