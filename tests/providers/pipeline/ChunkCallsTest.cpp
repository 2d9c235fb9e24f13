#include "providers/pipeline/ChunkCalls.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/logging/Logger.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/support/FakeChatServer.h"
#include "providers/support/ProviderTestEnvironment.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace std::chrono_literals;
using testing::CannedReply;
namespace Chunking = RemoteAIChunkingPipeline;

class ChunkCallsTest : public ::testing::Test {
  protected:
    ChunkCallsTest() { env.setKey("openAIAPIKey", "sk-test"); }

    // Answers the n-th request with the n-th reply (the last one for every further request).
    void script(std::vector<CannedReply> replies) {
        server.setHandler([this, replies = std::move(replies)](const testing::RecordedRequest&) {
            const std::size_t n = served++;
            return replies[std::min(n, replies.size() - 1)];
        });
    }

    // The call, with the manual clock moved on while it waits, as a wall clock would be.
    std::string callWhileTimePasses(std::stop_token stop = {}) {
        auto call = std::async(std::launch::async, [&] {
            return Chunking::summarizeChunk({.provider = SummaryProvider::openAI}, "sys", "user",
                                            environment(), stop);
        });
        while (call.wait_for(5ms) != std::future_status::ready)
            clock.advance(100ms);
        return call.get();
    }

    RemoteSummaryEnvironment environment() {
        return {.providers = env.environment(testing::ProviderTestEnvironment::endpointsOn(server)),
                .clock = &clock};
    }

    std::atomic<std::size_t> served = 0;
    platform::ManualClock clock;
    testing::LoopbackServer server;
    testing::ProviderTestEnvironment env;
    platform::LogCapture logs;
};

TEST_F(ChunkCallsTest, ARateLimitThenSuccessWaitsOnce) {
    script({CannedReply::with(429, "slow down"), testing::openAIAnswer("note")});
    EXPECT_EQ(callWhileTimePasses(), "note");
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_TRUE(logs.contains("rate limited (429), retry 1/3 after 1s"));
    EXPECT_FALSE(logs.contains("retry 2/3"));
}

TEST_F(ChunkCallsTest, ThreeRateLimitsGiveUpWithTheLastAfterWaitsOfOneAndTwoSeconds) {
    script(
        {CannedReply::with(429, "first"), CannedReply::with(429, "second"), CannedReply::with(429, "third")});
    try {
        callWhileTimePasses();
        FAIL() << "no error";
    } catch (const RemoteAISummarizationError& error) {
        EXPECT_EQ(error.detail(), "status=429 body=third");
    }
    EXPECT_EQ(server.requestCount(), 3u);
    EXPECT_TRUE(logs.contains("retry 1/3 after 1s"));
    EXPECT_TRUE(logs.contains("retry 2/3 after 2s"));
    EXPECT_FALSE(logs.contains("retry 3/3"));
}

TEST_F(ChunkCallsTest, OnlyRateLimitsAreRetried) {
    // A 400 whose body quotes an earlier rate limit counts as one: only the text is looked at.
    script({CannedReply::with(400, "after status=429"), CannedReply::with(500, "down")});
    try {
        callWhileTimePasses();
        FAIL() << "no error";
    } catch (const RemoteAISummarizationError& error) {
        EXPECT_EQ(error.detail(), "status=500 body=down");
    }
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(ChunkCallsTest, AStopDuringTheWaitEndsTheCallCancelled) {
    script({CannedReply::with(429, "slow down")});
    std::stop_source stop;
    auto call = std::async(std::launch::async, [&] {
        return Chunking::summarizeChunk({.provider = SummaryProvider::openAI}, "sys", "user", environment(),
                                        stop.get_token());
    });
    while (!logs.contains("retry 1/3"))
        std::this_thread::sleep_for(1ms);
    stop.request_stop();
    EXPECT_THROW(call.get(), platform::CancellationError);
    EXPECT_EQ(server.requestCount(), 1u);
}

} // namespace
} // namespace velnote
