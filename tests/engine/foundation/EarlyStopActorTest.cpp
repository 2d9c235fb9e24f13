#include "engine/foundation/EarlyStopActor.h"

#include "engine/foundation/BasalithError.h"
#include "engine/foundation/ConcurrencyUtilities.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <thread>
#include <unordered_set>

namespace basalith {
namespace {

TEST(EarlyStopActorTest, FlagLivesFromSetToRemove) {
    EarlyStopActor actor;
    const Uuid run = Uuid::random();
    EXPECT_FALSE(actor.get(run));
    actor.set(true, run);
    EXPECT_TRUE(actor.get(run));
    EXPECT_FALSE(actor.get(Uuid::random()));
    EXPECT_EQ(actor.remove(run), true);
    EXPECT_EQ(actor.remove(run), std::nullopt);
    EXPECT_FALSE(actor.get(run));
}

TEST(EarlyStopActorTest, StopRequestReachesOnlyARegisteredRun) {
    EarlyStopActor actor;
    const Uuid run = Uuid::random();
    EXPECT_FALSE(actor.requestStop(run));
    EXPECT_EQ(actor.remove(run), std::nullopt);
    actor.set(false, run);
    EXPECT_TRUE(actor.requestStop(run));
    EXPECT_TRUE(actor.get(run));
    EXPECT_EQ(actor.remove(run), true);
    // A progress report answered after the run ended must not bring its entry back.
    EXPECT_FALSE(actor.requestStop(run));
    EXPECT_EQ(actor.remove(run), std::nullopt);
}

TEST(UuidTest, RandomIdsDifferAndPrintAsVersion4) {
    std::unordered_set<Uuid> ids;
    for (int i = 0; i < 100; ++i)
        ids.insert(Uuid::random());
    EXPECT_EQ(ids.size(), 100u);
    const std::string text = Uuid::random().toString();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');
    EXPECT_EQ(text[8], '-');
}

TEST(BasalithErrorTest, DescriptionIsTheCarriedText) {
    EXPECT_EQ(BasalithError::invalidConfiguration("x").localizedDescription(), "x");
}

TEST(ConcurrencyUtilitiesTest, CountsTheProcessorsTheCallerMayRunOn) {
    int counted = 0;
    std::thread pinned([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(static_cast<int>(::sched_getcpu()), &one);
        ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
        counted = ConcurrencyUtilities::activeProcessorCount();
    });
    pinned.join();
    EXPECT_EQ(counted, 1);
}

} // namespace
} // namespace basalith
