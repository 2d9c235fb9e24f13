#include "engine/speech/transcription/ResultWriting.h"

#include "platform/fs/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <memory>

namespace vocalith {
namespace {

using velnote::platform::readFile;
using velnote::testing::TempDir;

WordTiming word(std::string text, float start, float end) {
    return {.word = std::move(text), .tokens = {1}, .start = start, .end = end, .probability = 1};
}

TranscriptionSegment segment(float start, float end, std::string text,
                             std::optional<std::vector<WordTiming>> words = std::nullopt) {
    return {.start = start, .end = end, .text = std::move(text), .words = std::move(words)};
}

TranscriptionResult result(std::vector<TranscriptionSegment> segments) {
    return TranscriptionResult("text", std::move(segments), "en", TranscriptionTimings{});
}

std::string url(const ResultWriteOutcome& outcome) {
    if (const auto* failure = std::get_if<ResultWriteError>(&outcome))
        return "failed: " + failure->message;
    return std::get<std::string>(outcome);
}

TEST(ResultWritingTest, FormatTimeRoundsToTheMillisecond) {
    const WriteSRT writer("/tmp");
    struct Case {
        float seconds;
        bool hours;
        const char* marker;
        const char* expected;
    };
    const Case cases[] = {
        {3725.5f, true, ",", "01:02:05,500"},
        {65.25f, false, ".", "01:05.250"},
        {0, true, ",", "00:00:00,000"},
        {1, true, ",", "00:00:01,000"},
        {1, false, ".", "00:01.000"},
        {3600, false, ".", "01:00:00.000"},
        {2.3f, true, ",", "00:00:02,300"},        // 2.2999999523 as a float
        {59.9996f, false, ".", "01:00.000"},      // the rounding carries into the minute
        {-1.5f, true, ",", "00:00:00,000"},       // no negative subtitle times
        {std::nanf(""), false, ".", "00:00.000"}, //
    };
    for (const auto& c : cases)
        EXPECT_EQ(writer.formatTime(c.seconds, c.hours, c.marker), c.expected) << c.seconds;
}

TEST(ResultWritingTest, SrtAndVttCuesUseWordsWhenThereAreAny) {
    TempDir dir;
    const auto r = result({
        segment(0, 2, " Hello there",
                std::vector{word(" Hello", 0, 0.5f), word(" there", 0.5f, 1), word(".", 1, 1.2f)}),
        segment(3700, 3702.3f, " Long after"),
        segment(5000, 5001, " empty words", std::vector<WordTiming>{}),
    });
    const auto srtUrl = url(WriteSRT(dir.path().string()).write(r, "talk"));
    EXPECT_EQ(srtUrl, "file://" + (dir.path() / "talk.srt").string());
    EXPECT_EQ(readFile(dir / "talk.srt"), "1\n00:00:00,000 --> 00:00:00,500\n Hello\n\n"
                                          "2\n00:00:00,500 --> 00:00:01,000\n there\n\n"
                                          "3\n00:00:01,000 --> 00:00:01,200\n.\n\n"
                                          "4\n01:01:40,000 --> 01:01:42,300\n Long after\n\n"
                                          "5\n01:23:20,000 --> 01:23:21,000\n empty words\n\n");
    (void)WriteVTT(dir.path().string()).write(r, "talk");
    EXPECT_EQ(readFile(dir / "talk.vtt"), "WEBVTT\n\n"
                                          "00:00.000 --> 00:00.500\n Hello\n\n"
                                          "00:00.500 --> 00:01.000\n there\n\n"
                                          "00:01.000 --> 00:01.200\n.\n\n"
                                          "01:01:40.000 --> 01:01:42.300\n Long after\n\n"
                                          "01:23:20.000 --> 01:23:21.000\n empty words\n\n");

    (void)WriteSRT(dir.path().string()).write(result({}), "empty");
    (void)WriteVTT(dir.path().string()).write(result({}), "empty");
    EXPECT_EQ(readFile(dir / "empty.srt"), "");
    EXPECT_EQ(readFile(dir / "empty.vtt"), "WEBVTT\n\n");
}

TEST(ResultWritingTest, JsonFileReadsBackAndReplacesTheOldFileWhole) {
    TempDir dir;
    const auto first = result({segment(0, 1, " one", std::vector{word(" one", 0, 1)})});
    EXPECT_EQ(url(WriteJSON(dir.path().string()).write(first, "r")),
              "file://" + (dir.path() / "r.json").string());
    const auto before = readFile(dir / "r.json");
    EXPECT_EQ(before.rfind("{\n  \"text\": \"text\",\n  \"segments\": [", 0), 0u) << before;
    const auto read = Json::parse(before).get<TranscriptionResult>();
    EXPECT_EQ(read.segments(), first.segments());

    // A result that cannot be encoded leaves the earlier file as it was.
    auto bad = result({segment(0, std::nanf(""), " bad")});
    const auto outcome = WriteJSON(dir.path().string()).write(bad, "r");
    ASSERT_TRUE(std::holds_alternative<ResultWriteError>(outcome));
    EXPECT_EQ(readFile(dir / "r.json"), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(ResultWritingTest, FailuresAreReturnedAndCreateNothing) {
    TempDir dir;
    const auto missing = (dir / "missing").string();
    std::vector<std::unique_ptr<ResultWriting>> writers;
    writers.push_back(std::make_unique<WriteJSON>(missing));
    writers.push_back(std::make_unique<WriteSRT>(missing));
    writers.push_back(std::make_unique<WriteVTT>(missing));
    for (const auto& writer : writers)
        EXPECT_TRUE(std::holds_alternative<ResultWriteError>(writer->write(result({}), "x")));
    // A base name is one file name: nothing may land outside the output folder.
    WriteSRT inFolder(dir.path().string());
    for (const char* name : {"../escape", "", "..", "a/b"})
        EXPECT_TRUE(std::holds_alternative<ResultWriteError>(inFolder.write(result({}), name))) << name;
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(ResultWritingTest, UrlEscapesWhatAUrlCannotHold) {
    TempDir dir;
    const auto folder = dir / "my notes #1";
    std::filesystem::create_directory(folder);
    EXPECT_EQ(url(WriteVTT(folder.string()).write(result({}), "会議")),
              "file://" + dir.path().string() + "/my%20notes%20%231/%E4%BC%9A%E8%AD%B0.vtt");
}

} // namespace
} // namespace vocalith
