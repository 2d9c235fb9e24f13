#include "processing/modelslot/ModelExecutionScheduler.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/logging/Logger.h"
#include "processing/modelslot/ModelExecutionSchedulerError.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {
using Priority = ModelExecutionPriority;
using Token = ModelExecutionSlotToken;

class ModelExecutionSchedulerTest : public ::testing::Test {
  protected:
    Token reserveNow(Priority priority) {
        auto future = scheduler_.reserveSlot(priority);
        EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        return future.get();
    }
    // Every request made so far has been handled (a token never granted releases nothing).
    void sync() { scheduler_.releaseSlot(Token{}).get(); }
    static bool isWaiting(const std::future<Token>& future) {
        return future.wait_for(std::chrono::seconds(0)) == std::future_status::timeout;
    }

    platform::ManualClock clock_; // stands still: equal creation times fall back to arrival order
    platform::LogCapture log_;
    ModelExecutionScheduler scheduler_{clock_};
};

TEST_F(ModelExecutionSchedulerTest, AFreeSlotIsGrantedAtOnceEvenToACancelledCaller) {
    std::stop_source stop;
    stop.request_stop();
    auto future = scheduler_.reserveSlot(Priority::localSummary, stop.get_token());
    const Token token = future.get();
    EXPECT_TRUE(log_.contains("model scheduler reserved slot priority=localSummary active=1"));
    scheduler_.releaseSlot(token).get();
    EXPECT_FALSE(log_.contains("queued request"));
    reserveNow(Priority::whisper);
}

TEST_F(ModelExecutionSchedulerTest, WaitersAreGrantedByPriorityThenInArrivalOrder) {
    Token holder = reserveNow(Priority::whisper);
    auto local = scheduler_.reserveSlot(Priority::localSummary);
    auto firstWhisper = scheduler_.reserveSlot(Priority::whisper);
    auto foundation = scheduler_.reserveSlot(Priority::appleLocal);
    auto secondWhisper = scheduler_.reserveSlot(Priority::whisper);
    sync();
    EXPECT_TRUE(log_.contains("model scheduler queued request priority=whisper pending=4"));

    std::vector<std::future<Token>*> expectedOrder = {&firstWhisper, &secondWhisper, &foundation, &local};
    for (std::size_t i = 0; i < expectedOrder.size(); ++i) {
        scheduler_.releaseSlot(holder).get();
        ASSERT_FALSE(isWaiting(*expectedOrder[i])) << i;
        holder = expectedOrder[i]->get();
        for (std::size_t later = i + 1; later < expectedOrder.size(); ++later)
            EXPECT_TRUE(isWaiting(*expectedOrder[later])) << "one waiter per release";
    }
    EXPECT_TRUE(log_.contains("model scheduler promoting queued request priority=localSummary pending=0"));
}

TEST_F(ModelExecutionSchedulerTest, RefusesTheLowClassWhenTooManyWaitButNeverWhisperOrRemote) {
    const auto refused = [](std::future<Token> future) {
        try {
            future.get();
        } catch (const ModelExecutionSchedulerError& error) {
            EXPECT_EQ(error.kind(), ModelExecutionSchedulerError::Kind::droppedLowPriorityTask);
            EXPECT_STREQ(error.what(), "モデル実行キューが過負荷のため、低優先度タスクを破棄しました。");
            return true;
        }
        return false;
    };
    [[maybe_unused]] const Token holder = reserveNow(Priority::whisper);
    std::vector<std::future<Token>> waiting;
    for (int i = 0; i < 24; ++i)
        waiting.push_back(scheduler_.reserveSlot(i % 2 ? Priority::localSummary : Priority::appleLocal));
    for (int i = 0; i < 6; ++i)
        waiting.push_back(scheduler_.reserveSlot(Priority::whisper));
    EXPECT_TRUE(refused(scheduler_.reserveSlot(Priority::localSummary))) << "the 25th low-class waiter";
    EXPECT_TRUE(refused(scheduler_.reserveSlot(Priority::appleLocal)));
    EXPECT_TRUE(log_.contains("model scheduler dropped low-priority request priority=appleLocal pending=30"));
    waiting.push_back(scheduler_.reserveSlot(Priority::whisper));
    waiting.push_back(scheduler_.reserveSlot(Priority::remoteSummary));
    sync();
    for (auto& future : waiting)
        EXPECT_TRUE(isWaiting(future)) << "queued, not refused";

    // 64 waiting in all: the low class is refused whatever its own count.
    ModelExecutionScheduler busy(clock_);
    [[maybe_unused]] const Token busyHolder = busy.reserveSlot(Priority::whisper).get();
    std::vector<std::future<Token>> whispers;
    for (int i = 0; i < 64; ++i)
        whispers.push_back(busy.reserveSlot(Priority::whisper));
    EXPECT_TRUE(refused(busy.reserveSlot(Priority::appleLocal)));
    auto remote = busy.reserveSlot(Priority::remoteSummary);
    busy.releaseSlot(Token{}).get();
    EXPECT_TRUE(isWaiting(remote));
}

TEST_F(ModelExecutionSchedulerTest, ACancelledWaiterNeverGetsTheSlot) {
    const Token holder = reserveNow(Priority::localSummary);
    std::stop_source stop;
    auto cancelled = scheduler_.reserveSlot(Priority::whisper, stop.get_token());
    auto next = scheduler_.reserveSlot(Priority::appleLocal);
    sync();
    stop.request_stop();
    EXPECT_THROW(cancelled.get(), platform::CancellationError);
    sync();
    EXPECT_TRUE(log_.contains("model scheduler cancelled queued request priority=whisper"));

    scheduler_.releaseSlot(holder).get();
    ASSERT_FALSE(isWaiting(next));
    const Token granted = next.get();

    // A second release of the old token leaves the new holder alone.
    scheduler_.releaseSlot(holder).get();
    auto after = scheduler_.reserveSlot(Priority::whisper);
    sync();
    EXPECT_TRUE(isWaiting(after));
    scheduler_.releaseSlot(granted).get();
    EXPECT_FALSE(isWaiting(after));
}

} // namespace
} // namespace velnote
