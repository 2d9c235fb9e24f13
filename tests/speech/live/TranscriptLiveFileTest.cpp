#include "speech/live/TranscriptLiveFile.h"

#include "platform/fs/Files.h"
#include "platform/logging/Logger.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velnote {
namespace {

TEST(TranscriptLiveFileTest, AppendsCreateTheFileOnceAndKeepWhatIsThere) {
    testing::TempDir dir;
    {
        TranscriptLiveFile file;
        file.scheduleAppend("[00:01] one", dir.path());
        file.scheduleAppend("[00:02] two", dir.path());
    }
    EXPECT_EQ(platform::readFile(dir / "transcript.live.txt"), "[00:01] one\n[00:02] two\n");
    struct stat info {};
    ASSERT_EQ(::stat((dir / "transcript.live.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(TranscriptLiveFileTest, AFailedAppendIsLoggedAndLeavesTheFileAlone) {
    testing::TempDir dir;
    platform::LogCapture log;
    TranscriptLiveFile file;
    file.scheduleAppend("lost", dir / "missing-folder");
    std::filesystem::create_directory(dir / "transcript.live.txt"); // what is there cannot be appended to
    file.scheduleAppend("also lost", dir.path());
    file.scheduleRewrite({}, dir.path()).get();
    EXPECT_TRUE(log.contains("transcript.live.txt 書き込み失敗"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "transcript.live.txt"));
}

TEST(TranscriptLiveFileTest, TheRewriteRunsAfterQueuedAppendsSoEveryLineIsThereOnce) {
    testing::TempDir dir;
    TranscriptLiveFile file;
    for (int i = 0; i < 200; ++i) {
        file.scheduleAppend("line " + std::to_string(i), dir.path());
    }
    file.scheduleRewrite({"line 0", "line 1", "recovered"}, dir.path()).get();
    EXPECT_EQ(platform::readFile(dir / "transcript.live.txt"), "line 0\nline 1\nrecovered\n");
}

TEST(TranscriptLiveFileTest, ARewriteWithoutLinesCreatesNothing) {
    testing::TempDir dir;
    TranscriptLiveFile file;
    file.scheduleRewrite({}, dir.path()).get();
    EXPECT_FALSE(std::filesystem::exists(dir / "transcript.live.txt"));
}

} // namespace
} // namespace velnote
