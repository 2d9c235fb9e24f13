#include "processing/sessions/SessionMediaCleanup.h"

#include "platform/logging/Logger.h"
#include "support/SessionFolderFixture.h"
#include "support/TempDir.h"

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace velnote {
namespace {

namespace fs = std::filesystem;
using testing::writeText;

class SessionMediaCleanupTest : public ::testing::Test {
  protected:
    testing::TempDir temp;
    fs::path dir = temp / "2025-01-31T09-15-00Z";
};

TEST_F(SessionMediaCleanupTest, KeepsScreenshotsTheTopLevelMarkdownShowsAndDeletesTheRest) {
    writeText(dir / "summary.md",
              "# Notes\n![slide](screencaptures/a.jpg)\n![inline](data:image/png;base64,AAA)\n");
    writeText(dir / "NOTES.MD", "![m](manualcaptures/m.png)\n");
    writeText(dir / "summary_versions/old.md", "![old](screencaptures/old.jpg)\n");
    for (const char* name :
         {"screencaptures/a.jpg", "screencaptures/b.jpg", "screencaptures/old.jpg", "screencaptures/m.png",
          "manualcaptures/m.png", "manualcaptures/x.png", "audio/mic_0001.wav", "ocr_context.txt",
          "ocr_context.jsonl", "transcript.txt", "intermediate/n.md"}) {
        writeText(dir / name, "x");
    }

    SessionMediaCleanup::deleteSessionMediaFiles(dir);

    EXPECT_TRUE(fs::exists(dir / "screencaptures/a.jpg"));
    EXPECT_FALSE(fs::exists(dir / "screencaptures/b.jpg"));
    EXPECT_FALSE(fs::exists(dir / "screencaptures/old.jpg")); // only an older summary version shows it
    EXPECT_FALSE(fs::exists(dir / "screencaptures/m.png"));   // references are per subfolder
    EXPECT_TRUE(fs::exists(dir / "manualcaptures/m.png"));    // upper-case extension is read too
    EXPECT_FALSE(fs::exists(dir / "manualcaptures/x.png"));
    EXPECT_FALSE(fs::exists(dir / "audio"));
    EXPECT_FALSE(fs::exists(dir / "ocr_context.txt"));
    for (const char* kept : {"ocr_context.jsonl", "transcript.txt", "summary.md", "summary_versions/old.md",
                             "intermediate/n.md"}) {
        EXPECT_TRUE(fs::exists(dir / kept)) << kept;
    }
}

// Links written with "./", percent escapes, a title or angle brackets point at the same file; a
// cleanup that misses them deletes an image the summary still shows.
TEST_F(SessionMediaCleanupTest, EverySpellingOfALinkProtectsItsImage) {
    struct Case {
        const char* link;
        const char* file;
    } cases[] = {
        {"./screencaptures/a.jpg", "a.jpg"},
        {"screencaptures/my%20shot.jpg", "my shot.jpg"},
        {"screencaptures/%E4%BC%9A%E8%AD%B0.png", "会議.png"},
        {"screencaptures/t.jpg \"Title\"", "t.jpg"},
        {"<screencaptures/b b.jpg>", "b b.jpg"},
        {"screencaptures/100%.jpg", "100%.jpg"},
    };
    std::string markdown;
    for (const auto& c : cases) {
        markdown += std::string("![x](") + c.link + ")\n";
        writeText(dir / "screencaptures" / c.file, "x");
    }
    writeText(dir / "screencaptures/unreferenced.jpg", "x");
    writeText(dir / "summary.md", markdown);

    SessionMediaCleanup::deleteSessionMediaFiles(dir);

    for (const auto& c : cases)
        EXPECT_TRUE(fs::exists(dir / "screencaptures" / c.file)) << c.link;
    EXPECT_FALSE(fs::exists(dir / "screencaptures/unreferenced.jpg"));
}

TEST_F(SessionMediaCleanupTest, EmptiedSubfolderGoesUnlessHiddenFilesRemain) {
    writeText(dir / "screencaptures/a.jpg", "x");
    writeText(dir / "manualcaptures/a.jpg", "x");
    writeText(dir / "manualcaptures/.keep", "x");

    SessionMediaCleanup::deleteSessionMediaFiles(dir);

    EXPECT_FALSE(fs::exists(dir / "screencaptures"));
    EXPECT_TRUE(fs::exists(dir / "manualcaptures/.keep"));
    EXPECT_FALSE(fs::exists(dir / "manualcaptures/a.jpg"));
}

TEST_F(SessionMediaCleanupTest, MissingMediaIsLoggedAndTheRestStillGoes) {
    platform::LogCapture log;
    writeText(dir / "session.json", "{}");
    writeText(dir / "ocr_context.txt", "x");

    SessionMediaCleanup::deleteSessionMediaFiles(dir);

    EXPECT_TRUE(log.contains("failed to remove audio directory: 2025-01-31T09-15-00Z"));
    EXPECT_FALSE(fs::exists(dir / "ocr_context.txt"));
    EXPECT_TRUE(fs::exists(dir / "session.json"));
}

// A FIFO named like a note would hold the scan for good waiting for a writer; it shows no image,
// so the scan logs it and goes on with the real Markdown files.
TEST_F(SessionMediaCleanupTest, AFifoNamedLikeMarkdownIsSkippedWithoutStalling) {
    platform::LogCapture log;
    writeText(dir / "summary.md", "![slide](screencaptures/a.jpg)\n");
    writeText(dir / "screencaptures/a.jpg", "x");
    writeText(dir / "screencaptures/b.jpg", "x");
    ASSERT_EQ(::mkfifo((dir / "notes.md").c_str(), 0600), 0);

    SessionMediaCleanup::deleteSessionMediaFiles(dir);

    EXPECT_TRUE(log.contains("failed to read markdown file: notes.md"));
    EXPECT_TRUE(fs::exists(dir / "screencaptures/a.jpg"));
    EXPECT_FALSE(fs::exists(dir / "screencaptures/b.jpg"));
}

} // namespace
} // namespace velnote

namespace velnote {
namespace {

TEST(SessionMediaCleanupLinkTest, AMediaFolderThatIsALinkLeavesItsTargetAlone) {
    testing::TempDir temp;
    const auto dir = temp / "2025-01-31T09-15-00Z";
    testing::writeText(temp / "elsewhere/photo.jpg", "x");
    testing::writeText(dir / "summary.md", "# Notes\n");
    std::filesystem::create_directory_symlink(temp / "elsewhere", dir / "screencaptures");

    SessionMediaCleanup::deleteSessionMediaFiles(dir);

    EXPECT_TRUE(std::filesystem::exists(temp / "elsewhere/photo.jpg"));
}

// "screencaptures" swapped for a link to another folder and back, as fast as the kernel allows,
// while the cleanup runs: whichever it finds first, it must never delete through the link.
TEST(SessionMediaCleanupLinkTest, AMediaFolderSwappedForALinkMidwayLeavesItsTargetAlone) {
    namespace fs = std::filesystem;
    testing::TempDir temp;
    const auto dir = temp / "2025-01-31T09-15-00Z";
    testing::writeText(temp / "elsewhere/photo.jpg", "x");
    testing::writeText(dir / "summary.md", "# Notes\n");
    testing::writeText(dir / "screencaptures/.keep", "x"); // keeps the real folder through every round
    fs::create_directory_symlink(temp / "elsewhere", dir / "swapped");
    const fs::path real = dir / "screencaptures";
    const fs::path link = dir / "swapped";

    std::atomic<bool> stop = false;
    std::thread swapper([&] {
        while (!stop)
            ::renameat2(AT_FDCWD, real.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
    });
    for (int round = 0; round < 3000 && fs::exists(temp / "elsewhere/photo.jpg"); ++round)
        SessionMediaCleanup::cleanupSessionMediaSubdirectory("screencaptures", dir, {});
    stop = true;
    swapper.join();

    EXPECT_TRUE(fs::exists(temp / "elsewhere/photo.jpg"));
}

} // namespace
} // namespace velnote
