#include "processing/queue/SessionDiscovery.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/fs/Files.h"
#include "platform/json/Json.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SessionMetadataStore.h"
#include "support/QueueTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <limits>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

const StepState kDone{.status = StepStatus::done};

// A lock whose owner cannot be a live process (beyond every pid_max).
void writeStaleLock(const fs::path& dir) {
    platform::writeFileAtomically(
        SessionLock::fileIn(dir),
        R"({"acquiredAt":"2024-01-01T00:00:00Z","pid":2147483647,"step":"summary"})");
}

class SessionDiscoveryTest : public ::testing::Test {
  protected:
    fs::path session(const std::string& name, const std::function<void(SessionMetadata&)>& edit) {
        const fs::path dir = dir_ / name;
        testing::makeSession(dir, clock_, [&](SessionMetadata& m) {
            m.steps = {kDone, kDone, kDone};
            edit(m);
        });
        return dir;
    }
    std::chrono::sys_seconds now() const {
        return std::chrono::floor<std::chrono::seconds>(clock_.wallNow());
    }

    testing::TempDir dir_;
    platform::ManualClock clock_;
    SessionDiscovery discovery_{clock_, 300s};
    platform::LogCapture log_;
};

TEST_F(SessionDiscoveryTest, FailedStepsComeBackAfterTheWaitWhileTheirCountIsAtMostTwo) {
    const struct {
        const char* name;
        StepStatus status;
        std::int64_t retryCount;
        std::optional<std::chrono::seconds> failedAgo; // none: no completion time
        bool pending;
    } cases[] = {
        {"failed 299 s ago", StepStatus::failed, 2, 299s, false},
        {"failed 300 s ago", StepStatus::failed, 2, 300s, true},
        {"failed long ago, count 3", StepStatus::failed, 3, 100000s, false},
        {"failed without a time", StepStatus::failed, 0, std::nullopt, true},
        {"failed in the future (clock set back)", StepStatus::failed, 1, -10s, false},
        {"pending", StepStatus::pending, 0, std::nullopt, true},
        {"running", StepStatus::running, 0, std::nullopt, false},
        {"skipped", StepStatus::skipped, 0, std::nullopt, false},
    };
    for (const auto& c : cases) {
        for (const bool summary : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (summary ? " (summary)" : " (transcription)"));
            SessionMetadata meta;
            meta.steps = {kDone, kDone, kDone};
            StepState& step = summary ? meta.steps.summary : meta.steps.transcription;
            step = {c.status, {}, {}, "boom", c.retryCount};
            if (c.failedAgo)
                step.completedAt = now() - *c.failedAgo;
            EXPECT_EQ(discovery_.hasPendingStep(meta), c.pending);
        }
    }
    SessionMetadata diarization;
    diarization.steps = {kDone, {StepStatus::failed, {}, {}, "no speakers", 1}, kDone};
    EXPECT_FALSE(discovery_.hasPendingStep(diarization)) << "nothing would redo a failed diarization";
    diarization.steps.diarization = StepState::fresh(StepStatus::pending);
    EXPECT_TRUE(discovery_.hasPendingStep(diarization));
}

// A damaged "session.json" with a count below zero must not buy the step extra runs: it runs
// three times in all, as one whose count was never written.
TEST_F(SessionDiscoveryTest, ANegativeStoredCountGrantsNoExtraRuns) {
    for (const std::int64_t stored :
         {std::int64_t{-1}, std::int64_t{-1000}, std::numeric_limits<std::int64_t>::min()}) {
        SCOPED_TRACE(stored);
        const fs::path dir = session("damaged" + std::to_string(stored), [](SessionMetadata& m) {
            m.steps.transcription = {StepStatus::failed, {}, {}, "boom", 0};
        });
        const fs::path file = SessionMetadataStore::fileIn(dir);
        platform::Json j = platform::parseJson(platform::readFile(file));
        j["steps"]["transcription"]["retryCount"] = stored;
        platform::writeFileAtomically(file, j.dump());

        int runs = 0;
        for (; runs < 10 && discovery_.shouldEnqueuePendingSession(dir, ScanScope::regular, false, false);
             ++runs)
            SessionMetadataStore::update(
                dir, [](SessionMetadata& m) { m.steps.transcription.markFailed("boom", {}); });
        EXPECT_EQ(runs, 3);
        EXPECT_EQ(SessionMetadataStore::read(dir).steps.transcription.retryCount, 3);
    }
}

TEST_F(SessionDiscoveryTest, FullAndChangeScansAgreeOnWhatToQueue) {
    const auto pendingSummary = [](SessionMetadata& m) {
        m.steps.summary = StepState::fresh(StepStatus::pending);
    };
    const struct {
        const char* name;
        std::function<void(SessionMetadata&)> edit;
        bool regular; // the regular full scan queues it
        bool nightly; // the nightly full scan queues it
        bool change;  // the change scan queues it
    } cases[] = {
        {"work-left", pendingSummary, true, false, true},
        {"all-done", [](SessionMetadata&) {}, false, false, false},
        {"nightly",
         [&](SessionMetadata& m) {
             pendingSummary(m);
             m.config.system.nightlyBatch = true;
         },
         false, true, false},
        // Stopped by hand: every scan leaves it alone until a retry clears the mark.
        {"stopped",
         [&](SessionMetadata& m) {
             pendingSummary(m);
             m.manuallyStopped = true;
         },
         false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = session(c.name, c.edit);
        EXPECT_EQ(discovery_.shouldEnqueuePendingSession(dir, ScanScope::regular, false, false), c.regular);
        EXPECT_EQ(discovery_.shouldEnqueuePendingSession(dir, ScanScope::nightlyOnly, false, false),
                  c.nightly);
        EXPECT_EQ(discovery_.shouldEnqueueOnChange(dir, false, false), c.change);
        EXPECT_FALSE(discovery_.shouldEnqueuePendingSession(dir, ScanScope::regular, true, false))
            << "already pending";
        EXPECT_FALSE(discovery_.shouldEnqueueOnChange(dir, false, true)) << "already running";
    }
    EXPECT_TRUE(log_.contains("session marked nightly-only; skipping immediate enqueue: nightly"));
    EXPECT_TRUE(log_.contains("new session enqueued: work-left"));
}

TEST_F(SessionDiscoveryTest, ScansRepairWhatAVanishedProcessLeftButNeverALiveLock) {
    const auto transcribing = [](SessionMetadata& m) { m.steps.transcription.status = StepStatus::running; };
    const fs::path withTranscript = session("with-transcript", transcribing);
    platform::writeFileAtomically(withTranscript / "transcript.txt", "[00:00:00] hi\n");
    const fs::path withoutTranscript = session("without-transcript", transcribing);
    const fs::path staleLock = session("stale-lock", transcribing);
    writeStaleLock(staleLock);
    const fs::path liveLock = session("live-lock", transcribing);
    ASSERT_TRUE(SessionLock::acquire(liveLock, "transcription", clock_));

    EXPECT_FALSE(discovery_.shouldEnqueuePendingSession(withTranscript, ScanScope::regular, false, false))
        << "repaired to done; nothing left";
    EXPECT_EQ(testing::readSession(withTranscript).steps.transcription.status, StepStatus::done);
    EXPECT_TRUE(discovery_.shouldEnqueuePendingSession(withoutTranscript, ScanScope::regular, false, false));
    EXPECT_EQ(testing::readSession(withoutTranscript).steps.transcription,
              StepState::fresh(StepStatus::pending));
    EXPECT_TRUE(discovery_.shouldEnqueueOnChange(staleLock, false, false));
    EXPECT_FALSE(fs::exists(SessionLock::fileIn(staleLock)));
    EXPECT_TRUE(log_.contains("cleared stale lock during scan: stale-lock"));
    for (const bool change : {false, true}) {
        EXPECT_FALSE(
            change ? discovery_.shouldEnqueueOnChange(liveLock, false, false)
                   : discovery_.shouldEnqueuePendingSession(liveLock, ScanScope::regular, false, false));
    }
    EXPECT_EQ(testing::readSession(liveLock).steps.transcription.status, StepStatus::running);
}

TEST_F(SessionDiscoveryTest, ListsOnlyVisibleFolders) {
    fs::create_directories(dir_ / "2025-01-01T00-00-00Z");
    fs::create_directories(dir_ / ".hidden");
    platform::writeFileAtomically(dir_ / "plain.txt", "x");
    fs::create_directory_symlink(dir_ / "2025-01-01T00-00-00Z", dir_ / "link");
    EXPECT_EQ(SessionDiscovery::listSessionFolders(dir_.path(), "failed"),
              (std::vector<fs::path>{dir_ / "2025-01-01T00-00-00Z"}));
    EXPECT_TRUE(
        SessionDiscovery::listSessionFolders(dir_ / "missing", "failed to list base directory").empty());
    EXPECT_TRUE(log_.contains("failed to list base directory: missing: "));
}

} // namespace
} // namespace velnote
