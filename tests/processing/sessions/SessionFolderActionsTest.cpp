#include "processing/sessions/SessionFolderActions.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/error/DomainError.h"
#include "platform/logging/Logger.h"
#include "session/folder/SessionLock.h"
#include "session/l10n/L10n.h"
#include "support/SessionFolderFixture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace velnote {
namespace {

namespace fs = std::filesystem;
using testing::writeSession;
using testing::writeText;

const std::string kName = "2025-01-31T09-15-00Z";

class SessionFolderActionsTest : public ::testing::Test {
  protected:
    SessionFolderActions makeActions(SessionFolderActions::FileOperations ops = {}) {
        SessionQueueAccess queue{.isRunning = [this](const fs::path& d) { return running.contains(d); },
                                 .removePending = [this](const fs::path& d) { pending.erase(d); },
                                 .pushSnapshots = [this](SnapshotPush push) { pushes.push_back(push); }};
        SessionFolderActions::Dependencies deps;
        deps.workingDir = [this] { return working; };
        deps.userDirResolver = [this] {
            return ResolvedDirectory{.url = saved, .releaseAccess = [this] { ++releases; }};
        };
        deps.clock = &clock;
        deps.fileOperations = std::move(ops);
        return SessionFolderActions(std::move(queue), std::move(deps));
    }

    // A session folder with audio, a screenshot the summary shows and one it does not.
    fs::path sessionWithMedia() {
        const auto dir = writeSession(working / kName);
        writeText(dir / "audio/mic_0001.wav", "wav");
        writeText(dir / "screencaptures/shown.jpg", "jpg");
        writeText(dir / "screencaptures/unshown.jpg", "jpg");
        writeText(dir / "summary.md", "![s](screencaptures/shown.jpg)\n");
        return dir;
    }

    testing::TempDir temp;
    fs::path working = temp / "WorkingSessions";
    fs::path saved = temp / "Saved/Sessions";
    platform::ManualClock clock;
    std::set<fs::path> running;
    std::set<fs::path> pending;
    std::vector<SnapshotPush> pushes;
    int releases = 0;
};

TEST_F(SessionFolderActionsTest, CloseMovesUnderAFreeNameAndDeletesMedia) {
    const auto dir = sessionWithMedia();
    fs::create_directories(saved / kName);
    fs::create_directories(saved / (kName + "-1"));
    pending = {dir};

    makeActions().closeSession(dir, SessionMedia::remove);

    const auto moved = saved / (kName + "-2");
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_TRUE(fs::exists(moved / "screencaptures/shown.jpg"));
    EXPECT_FALSE(fs::exists(moved / "screencaptures/unshown.jpg"));
    EXPECT_FALSE(fs::exists(moved / "audio"));
    EXPECT_TRUE(SessionMetadataStore::read(moved).mediaFilesDeleted);
    EXPECT_TRUE(pending.empty());
    EXPECT_EQ(pushes, std::vector<SnapshotPush>{SnapshotPush::forced});
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(fs::status(saved).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(SessionFolderActionsTest, NameClashGivesDashOneAndKeepsTheExtension) {
    fs::create_directories(temp / "x");
    EXPECT_EQ(SessionFolderActions::uniqueDestinationURL(temp / "y"), temp / "y");
    EXPECT_EQ(SessionFolderActions::uniqueDestinationURL(temp / "x"), temp / "x-1");
    fs::create_directories(temp / "a.b");
    EXPECT_EQ(SessionFolderActions::uniqueDestinationURL(temp / "a.b"), temp / "a-1.b");
}

TEST_F(SessionFolderActionsTest, RunningOrLiveLockedSessionsStayPut) {
    const auto runningDir = writeSession(working / "running");
    const auto lockedDir = writeSession(working / "locked");
    running = {runningDir};
    pending = {runningDir, lockedDir};
    ASSERT_TRUE(SessionLock::acquire(lockedDir, "transcription", clock)); // held by this live process
    platform::LogCapture log;
    auto actions = makeActions();

    actions.closeSession(runningDir, SessionMedia::keep);
    actions.deleteSession(runningDir);
    actions.closeSession(lockedDir, SessionMedia::keep);
    actions.deleteSession(lockedDir);

    EXPECT_TRUE(fs::exists(runningDir / "session.json"));
    EXPECT_TRUE(fs::exists(lockedDir / "session.json"));
    EXPECT_EQ(pending, std::set<fs::path>{runningDir}); // the locked one left the pending list
    EXPECT_TRUE(pushes.empty());
    EXPECT_TRUE(log.contains("deleteSession blocked: session is running: running"));
    EXPECT_TRUE(log.contains("deleteSession blocked: non-stale lock exists: locked"));
}

TEST_F(SessionFolderActionsTest, DeleteClearsAStaleLockFirst) {
    const auto dir = writeSession(working / kName);
    writeText(SessionLock::fileIn(dir),
              R"({"acquiredAt":"2024-01-01T00:00:00Z","pid":999999999,"step":"start"})");

    makeActions().deleteSession(dir);

    EXPECT_FALSE(fs::exists(dir));
    EXPECT_EQ(pushes, std::vector<SnapshotPush>{SnapshotPush::forced});
}

TEST_F(SessionFolderActionsTest, ReopenMovesBackOrThrowsTheTwoCodes) {
    const auto dir = writeSession(saved / kName);
    fs::create_directories(working / kName);

    try {
        makeActions().openSavedSession(saved / "vanished");
        FAIL() << "no error";
    } catch (const platform::DomainError& e) {
        EXPECT_EQ(e.domain(), "Velnote");
        EXPECT_EQ(e.code(), 1);
        EXPECT_EQ(std::string(e.what()),
                  L10n::localized("L10n.Processing.sessionNotFound", "Session not found."));
    }

    makeActions().openSavedSession(dir);
    EXPECT_TRUE(fs::exists(working / (kName + "-1") / "session.json"));
    EXPECT_EQ(pushes, std::vector<SnapshotPush>{SnapshotPush::throttled});
}

// When the rename fails (another file system), the copy must be complete before the original
// goes, and a removal that fails must never cost the only complete copy.
class SessionFolderMoveTest : public SessionFolderActionsTest {
  protected:
    SessionFolderActions::FileOperations crossDevice(std::function<void(const fs::path&)> removeAll = {}) {
        return {[this](const fs::path& from, const fs::path& to) {
                    if (failAside || to.parent_path() != from.parent_path()) {
                        throw fs::filesystem_error("rename", from, to,
                                                   std::make_error_code(std::errc::cross_device_link));
                    }
                    fs::rename(from, to);
                },
                std::move(removeAll)};
    }
    std::set<std::string> files(const fs::path& root) {
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(root))
            names.insert(fs::relative(e.path(), root).string());
        return names;
    }
    bool failAside = false;
};

TEST_F(SessionFolderMoveTest, CopyThenRemoveWhenRenameFails) {
    const auto dir = sessionWithMedia();
    const auto before = files(dir);
    makeActions(crossDevice()).closeSession(dir, SessionMedia::keep);

    EXPECT_FALSE(fs::exists(dir));
    EXPECT_EQ(files(saved / kName), before);
    EXPECT_TRUE(files(working).empty()); // no leftover either
}

TEST_F(SessionFolderMoveTest, SourceThatCannotBeRemovedStaysWholeAndTheCopyGoes) {
    const auto dir = sessionWithMedia();
    const auto before = files(dir);
    failAside = true;
    platform::LogCapture log;

    makeActions(crossDevice()).closeSession(dir, SessionMedia::keep);

    EXPECT_EQ(files(dir), before);
    EXPECT_FALSE(fs::exists(saved / kName));
    EXPECT_TRUE(log.contains("failed to close session: " + kName));
    EXPECT_TRUE(pushes.empty());
}

TEST_F(SessionFolderMoveTest, RemovalFailingHalfWayKeepsTheCompleteCopy) {
    const auto dir = sessionWithMedia();
    const auto before = files(dir);
    auto removeHalf = [](const fs::path& folder) {
        fs::remove_all(folder / "audio");
        throw fs::filesystem_error("remove", folder, std::make_error_code(std::errc::permission_denied));
    };
    platform::LogCapture log;

    makeActions(crossDevice(removeHalf)).closeSession(dir, SessionMedia::keep);

    EXPECT_EQ(files(saved / kName), before);
    EXPECT_FALSE(fs::exists(dir)); // what is left of the original is set aside, hidden from scans
    EXPECT_TRUE(log.contains("failed to remove the moved session's old copy"));
    EXPECT_EQ(pushes, std::vector<SnapshotPush>{SnapshotPush::forced});
}

TEST_F(SessionFolderMoveTest, CopyThatFailsLeavesNoPartialDestination) {
    const auto dir = sessionWithMedia();
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0); // copy refuses special files

    EXPECT_THROW(makeActions(crossDevice()).moveDirectory(dir, saved / kName), fs::filesystem_error);
    EXPECT_TRUE(fs::exists(dir / "audio/mic_0001.wav"));
    EXPECT_FALSE(fs::exists(saved / kName));
}

} // namespace
} // namespace velnote
