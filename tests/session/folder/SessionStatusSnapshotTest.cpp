#include "session/folder/SessionStatusSnapshot.h"

#include "support/SessionSamples.h"

#include <functional>
#include <gtest/gtest.h>

namespace velnote {
namespace {

// The interface republishes the list only when some snapshot differs, so
// every field, down to the configuration, must take part in equality.
TEST(SessionStatusSnapshotTest, EveryFieldTakesPartInEquality) {
    SessionStatusSnapshot base;
    base.id = "/tmp/WorkingSessions/2025-01-31T09-15-00Z";
    base.dirName = "2025-01-31T09-15-00Z";
    base.config = testing::sampleConfig();
    const std::function<void(SessionStatusSnapshot&)> changes[] = {
        [](auto& s) { s.id = "/tmp/Sessions/2025-01-31T09-15-00Z"; },
        [](auto& s) { s.dirName = "other"; },
        [](auto& s) { s.createdAt += std::chrono::seconds(1); },
        [](auto& s) { s.transcription.status = StepStatus::running; },
        [](auto& s) { s.diarization.retryCount = 1; },
        [](auto& s) { s.summary.error = "boom"; },
        [](auto& s) { s.isRunning = true; },
        [](auto& s) { s.isPending = true; },
        [](auto& s) { s.isClosed = true; },
        [](auto& s) { s.isMediaDeleted = true; },
        [](auto& s) { s.hasLock = true; },
        [](auto& s) { s.manuallyStopped = true; },
        [](auto& s) { s.summaryHeadline = ""; },
        [](auto& s) { s.recordingDuration = 0.0; },
        [](auto& s) { s.config.summary.userNote = "changed"; },
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        SessionStatusSnapshot changed = base;
        EXPECT_EQ(changed, base);
        changes[i](changed);
        EXPECT_NE(changed, base) << "change " << i;
    }
}

} // namespace
} // namespace velnote
