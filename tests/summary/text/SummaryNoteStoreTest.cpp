#include "summary/text/SummaryNoteStore.h"

#include "platform/fs/Files.h"
#include "platform/logging/Logger.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velnote {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

TEST(SummaryNoteStoreTest, FileNamesFromLabels) {
    const struct {
        const char* label;
        std::int64_t index;
        const char* name;
    } cases[] = {
        {"Transcript 00:00-05:00", 0, "001_Transcript 00_00-05_00.txt"},
        {"  時間帯 00:05:00 ", 41, "042_時間帯 00_05_00.txt"},
        {"議事/メモ", 1, "002_議事_メモ.txt"},
        {"a::b:", 2, "003_a__b.txt"},
        {"?!.:/", 3, "004_chunk.txt"},
        {"..", 4, "005_chunk.txt"},
        {"", 998, "999_chunk.txt"},
        {"x", 999, "1000_x.txt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SummaryNoteStore::noteFileName(c.label, c.index), c.name) << c.label;
    EXPECT_EQ(SummaryNoteStore::noteInputFileName("A:B", 0), "001_A_B_input.txt");
}

TEST(SummaryNoteStoreTest, LocalNotesAndPromptsAreWrittenAsGiven) {
    TempDir session;
    const SummarySourceChunk chunk{.label = "Conversation Record 1/2", .text = "t"};
    SummaryFormatter::saveIntermediateNoteInput(
        chunk, "<|im_start|>system\ns<|im_end|>\n<|im_start|>assistant", 0, session.path());
    EXPECT_EQ(platform::readFile(session / "intermediate/001_Conversation Record 1_2_input.txt"),
              "# Intermediate note input\nlabel: Conversation Record 1/2\n\n## "
              "Prompt\n<|im_start|>system\ns<|im_end|>");
    SummaryFormatter::saveIntermediateNoteInput(chunk, "plain prompt\n", 1, session.path());
    EXPECT_EQ(platform::readFile(session / "intermediate/002_Conversation Record 1_2_input.txt"),
              "# Intermediate note input\nlabel: Conversation Record 1/2\n\n## Prompt\nplain prompt\n");

    SummaryFormatter::saveIntermediateNote("first", "L", 0, session.path());
    SummaryFormatter::saveIntermediateNote("second", "L", 0, session.path());
    EXPECT_EQ(SummaryNoteStore::loadIntermediateNoteShared("L", 0, session.path()), "second");

    // A session folder that cannot hold the notes fails loudly for the local pipeline.
    platform::writeFileAtomically(session / "file", "x");
    EXPECT_THROW(SummaryFormatter::saveIntermediateNote("n", "L", 0, session / "file"), std::system_error);
}

TEST(SummaryNoteStoreTest, SharedOperationsNeverThrow) {
    TempDir session;
    SummaryNoteStore::saveIntermediateNoteShared("n", "L", 0, std::nullopt);
    SummaryNoteStore::saveIntermediateNoteInputShared("L", "s", "u", 0, std::nullopt);
    EXPECT_EQ(SummaryNoteStore::loadIntermediateNoteShared("L", 0, std::nullopt), std::nullopt);
    EXPECT_FALSE(fs::exists(session / "intermediate"));

    SummaryNoteStore::saveIntermediateNoteInputShared("Merge 1", "sys", "user", 4, session.path());
    EXPECT_EQ(platform::readFile(session / "intermediate/005_Merge 1_input.txt"),
              "# Intermediate note input\nlabel: Merge 1\n\n## System\nsys\n\n## User\nuser");
    SummaryNoteStore::saveIntermediateNoteShared("", "Empty", 0, session.path());
    EXPECT_EQ(SummaryNoteStore::loadIntermediateNoteShared("Empty", 0, session.path()), "");
    EXPECT_EQ(SummaryNoteStore::loadIntermediateNoteShared("Missing", 0, session.path()), std::nullopt);
    platform::writeFileAtomically(session / "intermediate/001_Binary.txt", "\xff\xfe");
    EXPECT_EQ(SummaryNoteStore::loadIntermediateNoteShared("Binary", 0, session.path()), std::nullopt);

    platform::LogCapture log;
    platform::writeFileAtomically(session / "blocked", "x");
    SummaryNoteStore::saveIntermediateNoteShared("n", "L", 0, session / "blocked");
    EXPECT_TRUE(log.contains("failed to save intermediate note 'L'"));
}

} // namespace
} // namespace velnote
