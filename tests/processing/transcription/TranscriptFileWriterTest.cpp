#include "processing/transcription/TranscriptFileWriter.h"

#include "platform/fs/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <system_error>

namespace velnote {
namespace {
namespace fs = std::filesystem;

class TranscriptFileWriterTest : public ::testing::Test {
  protected:
    std::string transcript() const { return platform::readFile(dir_ / "transcript.txt"); }
    std::string raw() const { return platform::readFile(dir_ / "transcript.raw.txt"); }

    testing::TempDir dir_;
    TranscriptFileWriter writer_;
};

TEST_F(TranscriptFileWriterTest, OneLinePerEntryAndTheRawTextsTrimmed) {
    const auto output =
        writer_.write(dir_.path(), {{1, "a", "[00:00:01] a"}, {5, "b", "[00:00:05] b"}}, {"a", "b"});
    EXPECT_EQ(output.transcriptPath, dir_ / "transcript.txt");
    EXPECT_FALSE(output.summaryPath);
    EXPECT_EQ(transcript(), "[00:00:01] a\n[00:00:05] b\n");

    const struct {
        std::vector<std::string> texts;
        const char* raw;
    } cases[] = {
        {{" a", "b "}, "a\nb\n"},
        {{"", ""}, ""},
        {{"x", "", "y"}, "x\n\ny\n"},
        {{"\u3000こんにちは", "世界\u3000"}, "こんにちは\n世界\n"},
    };
    for (const auto& c : cases) {
        writer_.write(dir_.path(), {{0, "z", "[00:00:00] z"}}, c.texts);
        EXPECT_EQ(raw(), c.raw);
        EXPECT_EQ(transcript(), "[00:00:00] z\n") << "a second run replaces, never appends";
    }
}

TEST_F(TranscriptFileWriterTest, LineBreaksInsideASegmentStayOnItsLine) {
    writer_.write(
        dir_.path(),
        {{0, "a\nb", "[00:00:00] a\nb"}, {1, "", "[00:00:01] c\r\nd\re\u2028f"}, {2, "", "[00:00:02] g"}},
        {"a\nb"});
    EXPECT_EQ(transcript(), "[00:00:00] a b\n[00:00:01] c d e f\n[00:00:02] g\n");
    EXPECT_EQ(raw(), "a\nb\n") << "the raw text is bare text and keeps its breaks";
}

TEST_F(TranscriptFileWriterTest, FailuresLeaveTheFilesAsTheyWere) {
    EXPECT_THROW(writer_.write(dir_ / "missing", {{0, "a", "[00:00:00] a"}}, {"a"}), std::system_error);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    fs::create_directories(dir_ / "transcript.raw.txt" / "in-the-way");
    EXPECT_THROW(writer_.write(dir_.path(), {{0, "a", "[00:00:00] a"}}, {"a"}), std::system_error);
    EXPECT_EQ(transcript(), "[00:00:00] a\n") << "the transcript was already replaced";
}

} // namespace
} // namespace velnote
