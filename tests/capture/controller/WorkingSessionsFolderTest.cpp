#include "capture/controller/WorkingSessionsFolder.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/fs/Files.h"
#include "platform/json/IsoDate.h"
#include "platform/logging/Logger.h"
#include "platform/settings/SettingsStore.h"
#include "session/folder/SessionLock.h"
#include "session/folder/SessionMetadataStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <limits>

namespace velnote {
namespace {
namespace fs = std::filesystem;

class WorkingSessionsFolderTest : public ::testing::Test {
  protected:
    // A finished session: every step done or skipped.
    fs::path finished(const std::string& name) {
        const fs::path dir = dir_ / name;
        fs::create_directories(dir);
        SessionMetadata metadata = SessionMetadata::initial(SessionConfig{}, clock_);
        metadata.steps.transcription = StepState::fresh(StepStatus::done);
        metadata.steps.diarization = StepState::fresh(StepStatus::skipped);
        metadata.steps.summary = StepState::fresh(StepStatus::failed);
        SessionMetadataStore::write(metadata, dir);
        return dir;
    }
    int cleanup() { return WorkingSessionsFolder::cleanupExpiredSessions(dir_.path(), settings_, clock_); }
    void keepDays(std::int64_t days) { settings_.set("sessionRetentionDays", platform::SettingsValue(days)); }

    testing::TempDir configDir_;
    testing::TempDir dir_;
    platform::SettingsStore settings_{configDir_ / "settings.json"};
    platform::ManualClock clock_{platform::ManualClock().now(),
                                 *platform::parseIsoDate("2025-02-10T12:00:00Z")};
};

TEST_F(WorkingSessionsFolderTest, NamesGiveTheirStartTime) {
    struct Case {
        const char* name;
        const char* startedAt; // nullptr: not a session folder name
    };
    const Case cases[] = {
        {"2025-01-31T09-15-00Z", "2025-01-31T09:15:00Z"},
        {"2025-01-31T09-15-00Z-2", "2025-01-31T09:15:00Z"},
        {"2025-01-31T09-15-00Z-17", "2025-01-31T09:15:00Z"},
        {"2025-01-31T09:15:00Z", nullptr},
        {"2025-01-31T09-15-00Z-", nullptr},
        {"2025-01-31T09-15-00Z-x", nullptr},
        {"2025-01-31T09-15-00Zcopy", nullptr},
        {"2025-02-30T09-15-00Z", nullptr},
        {"2025-01-31T09-15-00", nullptr},
        {"notes", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const auto parsed = WorkingSessionsFolder::startTimeOf(c.name);
        if (c.startedAt) {
            EXPECT_EQ(parsed, platform::parseIsoDate(c.startedAt)) << c.name;
        } else {
            EXPECT_FALSE(parsed) << c.name;
        }
    }
}

TEST_F(WorkingSessionsFolderTest, StartsInTheSameSecondGetTheirOwnFolders) {
    const auto startedAt = *platform::parseIsoDate("2025-01-31T09:15:00Z");
    fs::create_directories(dir_ / "2025-01-31T09-15-00Z-3"); // left by an earlier run
    EXPECT_EQ(WorkingSessionsFolder::createSessionFolder(dir_.path(), startedAt).filename(),
              "2025-01-31T09-15-00Z");
    EXPECT_EQ(WorkingSessionsFolder::createSessionFolder(dir_.path(), startedAt).filename(),
              "2025-01-31T09-15-00Z-2");
    EXPECT_EQ(WorkingSessionsFolder::createSessionFolder(dir_.path(), startedAt).filename(),
              "2025-01-31T09-15-00Z-4");
    EXPECT_THROW(WorkingSessionsFolder::createSessionFolder(dir_ / "missing", startedAt),
                 fs::filesystem_error);
}

TEST_F(WorkingSessionsFolderTest, DeletesOnlyFinishedSessionsOlderThanTheRetention) {
    keepDays(7); // cutoff 2025-02-03T12:00:00Z
    const fs::path expired = finished("2025-02-03T11-59-59Z");
    const fs::path expiredTwin = finished("2025-02-01T08-00-00Z-2");
    const fs::path atCutoff = finished("2025-02-03T12-00-00Z");
    const fs::path recent = finished("2025-02-09T12-00-00Z");
    const fs::path noSession = dir_ / "2025-01-01T00-00-00Z"; // a start that failed before its session.json
    fs::create_directories(noSession);
    const fs::path notes = dir_ / "notes";
    const fs::path colons = dir_ / "2025-01-31T09:15:00Z";
    const fs::path hidden = dir_ / ".2025-01-01T00-00-00Z";
    fs::create_directories(notes);
    fs::create_directories(colons);
    fs::create_directories(hidden);
    platform::writeFileAtomically(dir_ / "2025-01-02T00-00-00Z", "a plain file");
    fs::create_directory_symlink(recent, dir_ / "2025-01-03T00-00-00Z");

    platform::LogCapture log;
    EXPECT_EQ(cleanup(), 3);
    EXPECT_TRUE(log.contains("deleted expired sessions count=3 retention_days=7"));
    for (const fs::path& gone : {expired, expiredTwin, noSession}) {
        EXPECT_FALSE(fs::exists(gone)) << gone;
    }
    for (const fs::path& kept : {atCutoff, recent, notes, colons, hidden, dir_ / "2025-01-02T00-00-00Z"}) {
        EXPECT_TRUE(fs::exists(kept)) << kept;
    }
    EXPECT_TRUE(fs::is_symlink(dir_ / "2025-01-03T00-00-00Z"));
}

TEST_F(WorkingSessionsFolderTest, KeepsExpiredSessionsThatStillHaveWorkOrAreInUse) {
    keepDays(1);
    const fs::path pending = finished("2025-01-01T00-00-00Z");
    SessionMetadataStore::update(
        pending, [](SessionMetadata& m) { m.steps.summary = StepState::fresh(StepStatus::pending); });
    const fs::path running = finished("2025-01-02T00-00-00Z");
    SessionMetadataStore::update(
        running, [](SessionMetadata& m) { m.steps.transcription = StepState::fresh(StepStatus::running); });
    const fs::path locked = finished("2025-01-03T00-00-00Z");
    ASSERT_TRUE(SessionLock::acquire(locked, "summary", clock_)); // this live process holds it
    const fs::path unreadable = finished("2025-01-04T00-00-00Z");
    platform::writeFileAtomically(SessionMetadataStore::fileIn(unreadable), "{ half");
    const fs::path staleLock = finished("2025-01-05T00-00-00Z");
    platform::writeFileAtomically(
        SessionLock::fileIn(staleLock),
        "{\"pid\":999999999,\"acquiredAt\":\"2025-01-05T00:00:00Z\",\"step\":\"summary\"}");

    platform::LogCapture log;
    EXPECT_EQ(cleanup(), 1);
    EXPECT_FALSE(fs::exists(staleLock)); // its owner is gone and its work is done
    for (const fs::path& kept : {pending, running, locked, unreadable}) {
        EXPECT_TRUE(fs::exists(kept)) << kept;
    }
    EXPECT_TRUE(log.contains("kept expired session 2025-01-01T00-00-00Z: processing not finished"));
    EXPECT_TRUE(log.contains("kept expired session 2025-01-03T00-00-00Z: in use by a running step"));
}

TEST_F(WorkingSessionsFolderTest, NoRetentionDeletesNothingAndSaysNothing) {
    finished("2000-01-01T00-00-00Z");
    for (std::optional<std::int64_t> days :
         {std::optional<std::int64_t>(), std::optional<std::int64_t>(0), std::optional<std::int64_t>(-3)}) {
        if (days) {
            keepDays(*days);
        }
        platform::LogCapture log;
        EXPECT_EQ(cleanup(), 0);
        EXPECT_TRUE(log.records().empty());
    }
    keepDays(std::numeric_limits<std::int64_t>::max()); // too long to reach any date: no overflow
    EXPECT_EQ(cleanup(), 0);
    EXPECT_TRUE(fs::exists(dir_ / "2000-01-01T00-00-00Z"));
}

TEST_F(WorkingSessionsFolderTest, AnUnlistableFolderIsLogged) {
    keepDays(1);
    platform::LogCapture log;
    EXPECT_EQ(WorkingSessionsFolder::cleanupExpiredSessions(dir_ / "missing", settings_, clock_), 0);
    EXPECT_TRUE(log.contains("AudioCaptureManager: failed to list session directory missing"));
}

} // namespace
} // namespace velnote
