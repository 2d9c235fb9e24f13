#include "processing/sessions/SnapshotPublisher.h"

#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/logging/Logger.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace std::chrono_literals;
using Snapshots = SnapshotPublisher::Snapshots;

SessionStatusSnapshot snapshot(const std::string& name) {
    SessionStatusSnapshot s;
    s.id = "/w/" + name;
    s.dirName = name;
    return s;
}

class SnapshotPublisherTest : public ::testing::Test {
  protected:
    // Builds `list` and counts builds; returns what reached the main thread.
    bool push(SnapshotPush how) {
        return publisher.push(how, [this] {
            ++builds;
            return list;
        });
    }

    platform::ManualClock clock;
    platform::MainDispatcher main;
    std::vector<Snapshots> published;
    SnapshotPublisher publisher{{.clock = &clock, .mainDispatcher = &main, .publish = [this](Snapshots s) {
                                     published.push_back(std::move(s));
                                 }}};
    Snapshots list{snapshot("a")};
    int builds = 0;
};

TEST_F(SnapshotPublisherTest, FirstRequestPublishesAndUnforcedOnesWithinTheIntervalAreDropped) {
    EXPECT_TRUE(push(SnapshotPush::throttled));
    clock.advance(1s);
    list.push_back(snapshot("b"));
    EXPECT_FALSE(push(SnapshotPush::throttled)); // dropped without building
    EXPECT_EQ(builds, 1);
    EXPECT_TRUE(push(SnapshotPush::forced)); // forced: always builds and publishes
    clock.advance(1400ms);
    EXPECT_FALSE(push(SnapshotPush::throttled)); // within 1.5 s of the forced build's start

    main.runPending();
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(published[1].size(), 2u);
}

TEST_F(SnapshotPublisherTest, UnchangedFingerprintPublishesNothingButStillMovesTheInterval) {
    push(SnapshotPush::throttled);
    clock.advance(2s);
    EXPECT_FALSE(push(SnapshotPush::throttled)); // built, same list
    EXPECT_EQ(builds, 2);
    clock.advance(1s);
    list[0].hasLock = true;
    EXPECT_FALSE(push(SnapshotPush::throttled)); // dropped: the last build was 1 s ago
    EXPECT_EQ(builds, 2);
    clock.advance(1s);
    EXPECT_TRUE(push(SnapshotPush::throttled));
    main.runPending();
    EXPECT_EQ(published.size(), 2u);
}

TEST_F(SnapshotPublisherTest, FingerprintCoversWhatTheListShowsOnly) {
    const auto base = SnapshotPublisher::fingerprint(list);
    const std::function<void(SessionStatusSnapshot&)> shown[] = {
        [](auto& s) { s.id = "/w/other"; },
        [](auto& s) { s.createdAt += std::chrono::seconds(1); },
        [](auto& s) { s.summary.status = StepStatus::failed; },
        [](auto& s) { s.transcription.error = "boom"; },
        [](auto& s) { s.isClosed = true; },
        [](auto& s) { s.summaryHeadline = "h"; },
        [](auto& s) { s.recordingDuration = 1.0; },
        [](auto& s) { s.config.transcription.numberOfSpeakers = 2; },
        [](auto& s) { s.config.outputLanguage = "ja"; },
    };
    for (std::size_t i = 0; i < std::size(shown); ++i) {
        auto changed = list;
        shown[i](changed[0]);
        EXPECT_NE(SnapshotPublisher::fingerprint(changed), base) << i;
    }
    const std::function<void(SessionStatusSnapshot&)> hidden[] = {
        [](auto& s) { s.dirName = "x"; },
        [](auto& s) { s.manuallyStopped = true; },
        [](auto& s) { s.summary.retryCount = 2; },
        [](auto& s) { s.config.summary.userNote = "n"; },
    };
    for (const auto& change : hidden) {
        auto changed = list;
        change(changed[0]);
        EXPECT_EQ(SnapshotPublisher::fingerprint(changed), base);
    }
}

TEST_F(SnapshotPublisherTest, IdsAreLoggedForAtMostTwentySnapshots) {
    for (std::size_t count : {20u, 21u}) {
        platform::LogCapture log;
        list.assign(count, snapshot("s"));
        push(SnapshotPush::forced);
        EXPECT_EQ(log.contains("pushSnapshotsToAppState ids="), count == 20) << count;
    }
}

} // namespace
} // namespace velnote
