#include "processing/sessions/SessionSnapshotBuilder.h"

#include "platform/concurrency/SerialExecutor.h"
#include "platform/fs/Files.h"
#include "platform/logging/Logger.h"
#include "processing/sessions/SessionOverallStatus.h"
#include "session/folder/SessionLock.h"
#include "support/SessionFolderFixture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

namespace fs = std::filesystem;
using testing::writeSession;
using Status = SessionOverallStatus::Status;

class SessionSnapshotBuilderTest : public ::testing::Test {
  protected:
    SessionSnapshotBuilder makeBuilder() {
        return SessionSnapshotBuilder({.workingDir = [this] { return working; },
                                       .userDirResolver = [this] { return ResolvedDirectory{.url = saved}; },
                                       .readExecutor = &reads});
    }
    static std::vector<std::string> names(const std::vector<SessionStatusSnapshot>& list) {
        std::vector<std::string> out;
        for (const auto& s : list)
            out.push_back(s.dirName);
        return out;
    }

    testing::TempDir temp;
    fs::path working = temp / "Working";
    fs::path saved = temp / "Saved";
    platform::SerialExecutor reads;
};

TEST_F(SessionSnapshotBuilderTest, ListsBothFoldersNewestFirstWithCanonicalIds) {
    writeSession(working / "w-old", 100);
    writeSession(working / "w-new", 300);
    writeSession(saved / "s-mid", 200);
    writeSession(saved / "s-tie", 300);
    fs::create_directories(working / "not-a-session");
    fs::create_directories(working / ".hidden");
    writeSession(working / ".hidden/x", 400);
    fs::create_directory_symlink(working, temp / "link");
    working = temp / "link"; // scanned through a symbolic link

    const auto list = makeBuilder().snapshotAll({}, {});

    EXPECT_EQ(names(list), (std::vector<std::string>{"w-new", "s-tie", "s-mid", "w-old"}));
    EXPECT_EQ(list[0].id, fs::canonical(temp.path()) / "Working/w-new");
    EXPECT_FALSE(list[0].isClosed);
    EXPECT_TRUE(list[1].isClosed);
}

TEST_F(SessionSnapshotBuilderTest, SavedFolderEqualToWorkingListsEachSessionOnceAsClosed) {
    writeSession(working / "a", 1);
    saved = working;
    const auto list = makeBuilder().snapshotAll({}, {});
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].isClosed);
}

// On a first launch the saved folder does not exist yet: it holds nothing, and that is no error.
TEST_F(SessionSnapshotBuilderTest, AMissingFolderIsEmptyAndQuietAnUnreadableOneIsLogged) {
    writeSession(working / "a", 1);
    platform::LogCapture logs;
    EXPECT_EQ(names(makeBuilder().snapshotAll({}, {})), (std::vector<std::string>{"a"}));
    EXPECT_FALSE(logs.contains("failed to list scan directory"));

    platform::writeFileAtomically(saved, "not a folder");
    EXPECT_EQ(names(makeBuilder().snapshotAll({}, {})), (std::vector<std::string>{"a"}));
    EXPECT_TRUE(logs.contains("failed to list scan directory: Saved"));
}

TEST_F(SessionSnapshotBuilderTest, QueueSetsMatchOnlyTheCanonicalFolder) {
    const auto a = fs::canonical(writeSession(working / "a", 1));
    const auto b = fs::canonical(writeSession(working / "b", 2));
    const auto list = makeBuilder().snapshotAll({a}, {b / "." / ".." / "b"});
    ASSERT_EQ(list.size(), 2u);
    EXPECT_FALSE(list[0].isPending); // b, held under another spelling
    EXPECT_TRUE(list[1].isRunning);
}

TEST_F(SessionSnapshotBuilderTest, CacheReusesUntouchedSessionsWithFlagsTakenAnew) {
    const auto dir = fs::canonical(writeSession(working / "a", 1));
    auto builder = makeBuilder();
    EXPECT_TRUE(builder.snapshotAll({dir}, {}).at(0).isRunning);
    ASSERT_FALSE(builder.snapshotAll({}, {}).at(0).isRunning); // from the cache, running cleared

    ASSERT_TRUE(SessionLock::acquire(dir, "summary"));
    EXPECT_TRUE(builder.snapshotAll({}, {}).at(0).hasLock);

    // A rewrite that keeps the modification time is not read again: the cache answers...
    const auto file = SessionMetadataStore::fileIn(dir);
    const auto mtime = fs::last_write_time(file);
    SessionMetadataStore::update(dir, [](SessionMetadata& m) { m.summaryHeadline = "Weekly"; });
    fs::last_write_time(file, mtime);
    EXPECT_EQ(builder.snapshotAll({}, {}).at(0).summaryHeadline, std::nullopt);
    // ...until the time moves.
    fs::last_write_time(file, mtime + std::chrono::seconds(1));
    EXPECT_EQ(builder.snapshotAll({}, {}).at(0).summaryHeadline, "Weekly");

    fs::remove(SessionMetadataStore::fileIn(dir));
    EXPECT_TRUE(builder.snapshotAll({}, {}).empty());
}

TEST_F(SessionSnapshotBuilderTest, UnreadableSessionIsLeftOutAndTheRestListed) {
    writeSession(working / "good", 1);
    testing::writeText(working / "bad/session.json", "{");
    const auto list = makeBuilder().snapshotAll({}, {});
    EXPECT_EQ(names(list), std::vector<std::string>{"good"});
}

TEST(SessionOverallStatusTest, FirstMatchingRuleWins) {
    using S = StepStatus;
    struct Case {
        S t, d, s;
        bool running, pending, stopped;
        Status expected;
    } cases[] = {
        {S::done, S::skipped, S::skipped, false, false, false, Status::done},
        {S::skipped, S::skipped, S::skipped, false, false, false, Status::done},
        {S::done, S::skipped, S::pending, false, false, false, Status::pending},
        {S::done, S::skipped, S::pending, false, false, true, Status::stopped},
        {S::pending, S::pending, S::pending, true, false, false, Status::queued},
        {S::failed, S::pending, S::pending, false, true, false, Status::failed},
        {S::failed, S::pending, S::running, true, false, false, Status::running},
    };
    for (const auto& c : cases) {
        SessionStatusSnapshot s;
        s.transcription.status = c.t;
        s.diarization.status = c.d;
        s.summary.status = c.s;
        s.isRunning = c.running;
        s.isPending = c.pending;
        s.manuallyStopped = c.stopped;
        EXPECT_EQ(SessionOverallStatus::of(s), c.expected) << static_cast<int>(c.expected);
    }
    EXPECT_EQ(SessionOverallStatus::label(Status::running), "Processing");
}

} // namespace
} // namespace velnote
