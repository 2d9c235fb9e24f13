#include "summary/context/SummaryContextBuilder.h"

#include "platform/fs/Files.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace SummaryContextBuilder;

std::string repeated(std::string_view unit, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += unit;
    return out;
}

std::vector<std::string> labels(const std::vector<SummarySourceChunk>& chunks) {
    std::vector<std::string> out;
    for (const auto& chunk : chunks)
        out.push_back(chunk.label);
    return out;
}

TEST(SummaryContextBuilderTest, ParsesClocks) {
    const struct {
        const char* text;
        std::optional<float> seconds;
    } cases[] = {
        {"00:01:23", 83.f},
        {"01:05", 65.f},
        {"12::34", 754.f},
        {"-01:30", -30.f},
        {"+1:+2", 62.f},
        {"1:2:3:4", std::nullopt},
        {"5", std::nullopt},
        {"1:a", std::nullopt},
        {"1: 2", std::nullopt},
        {"+-1:00", std::nullopt},
        {"99999999999999999999:00", std::nullopt},
        {"9223372036854775807:9223372036854775807:0", static_cast<float>(9223372036854775807.0 * 3660)},
    };
    for (const auto& c : cases) {
        const std::optional<float> parsed = parseTimestamp(c.text);
        ASSERT_EQ(parsed.has_value(), c.seconds.has_value()) << c.text;
        if (parsed) {
            EXPECT_FLOAT_EQ(*parsed, *c.seconds) << c.text;
        }
    }
}

TEST(SummaryContextBuilderTest, TimestampedLinesAndSegments) {
    const std::string transcript =
        "[MIC SPEAKER_00 00:01:23] Hello\n\n  [01:05]  Hi \n[note] x\n[00:01:23]\n"
        "[MIC 00:01:23 extra] text\nno bracket 00:00:01\n[SYS SPEAKER_01 00:02:00] Bye";
    const std::vector<TimestampedEntry> entries = parseTimestampedLines(transcript, "T");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], (TimestampedEntry{.source = "T", .startTime = 83, .text = "Hello"}));
    EXPECT_EQ(entries[1], (TimestampedEntry{.source = "T", .startTime = 65, .text = "Hi"}));
    EXPECT_EQ(entries[2].startTime, 120);

    const std::vector<Segment> segments = extractSegments(transcript);
    ASSERT_EQ(segments.size(), 4u); // "  [01:05]" does not start with "[" and "[00:01:23]" has no text
    EXPECT_EQ(segments[0], (Segment{.timestamp = "MIC SPEAKER_00 00:01:23", .text = "Hello"}));
    EXPECT_EQ(segments[1], (Segment{.timestamp = "note", .text = "x"}));
}

TEST(SummaryContextBuilderTest, MeaningfulUtterances) {
    const struct {
        const char* text;
        bool meaningful;
    } cases[] = {
        {"はい", false},
        {"ありがとうございます", false},
        {"OK!!", true},
        {"今日は晴れです", true},
        {" うん ", false},
        {"ああああああああああああ", false},
        {"えーと、そうですね、はい", false},
        {"Let us start.", true},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isMeaningful(c.text), c.meaningful) << c.text;

    const SummaryContext context =
        buildSummaryContext({{"00:01", "はい"}, {"00:02", "会議を始めます"}, {"00:03", "予算の確認です"}});
    EXPECT_EQ(context.meaningfulSegments.size(), 2u);
    EXPECT_EQ(context.totalTextLength, 7 + 7); // characters, not bytes
}

TEST(SummaryContextBuilderTest, SplitsUnderByteLimits) {
    using Pieces = std::vector<std::string>;
    EXPECT_EQ(splitTextByByteLimit("あいう", 4), (Pieces{"あ", "い", "う"}));
    EXPECT_EQ(splitTextByByteLimit("あいう", 9), (Pieces{"あいう"}));
    EXPECT_EQ(splitTextByByteLimit("  abcdef ", 4), (Pieces{"abcd", "ef"}));
    EXPECT_EQ(splitTextByByteLimit("あ", 1), (Pieces{"あ"}));
    EXPECT_TRUE(splitTextByByteLimit(" \n ", 4).empty());

    const auto chunks = splitLabeledText("aaaa\n\nbbbb\ncccc\n", "Conversation Record", 10);
    EXPECT_EQ(labels(chunks), (Pieces{"Conversation Record 1/2", "Conversation Record 2/2"}));
    EXPECT_EQ(chunks[0].text, "aaaa\nbbbb");
    EXPECT_EQ(chunks[1].text, "cccc");
    EXPECT_TRUE(splitLabeledText("  ", "X", 10).empty());

    // One note larger than maxBytes / 2 spreads over several items.
    const std::vector<std::string> batches = buildNoteChunks({"line one\nline two\nline three", "other"}, 24);
    EXPECT_EQ(batches, (Pieces{"- line one\n- line two", "- line three\n- other"}));
    EXPECT_EQ(buildNoteChunks({"a", "b"}, 100), (Pieces{"- a\n- b"}));
    EXPECT_TRUE(buildNoteChunks({" ", ""}, 100).empty());
}

TEST(SummaryContextBuilderTest, SourceChunksTakeThePlainPathWithoutClocks) {
    EXPECT_TRUE(buildSourceChunks(" ", "", "\n", 100, 4).empty());

    std::string screen;
    for (int i = 1; i <= 7; ++i)
        screen += repeated(std::to_string(i), 20) + "\n";
    const auto chunks = buildSourceChunks("hello there", "live words", screen, 25, 3);
    EXPECT_EQ(labels(chunks),
              (std::vector<std::string>{"Conversation Record 1/1", "Live Transcript 1/1", "Screen OCR 5/7",
                                        "Screen OCR 6/7", "Screen OCR 7/7"}));
    EXPECT_EQ(buildSourceChunks("", "", screen, 25, 0).size(), 1u);

    // One clock anywhere sends everything down the time-aligned path; untimed lines drop out.
    const auto timed = buildSourceChunks("untimed transcript line", "[00:05] live", "", 1000, 3);
    ASSERT_EQ(timed.size(), 1u);
    EXPECT_EQ(timed[0].label, "時間帯 00:00:05");
    EXPECT_EQ(timed[0].text, "【Live Transcript】\n[00:00:05] live");
}

TEST(SummaryContextBuilderTest, ScreenTextFromOcrContextJsonl) {
    const std::string jsonl = platform::readFile(VELNOTE_TEST_DATA_DIR "/summary/ocr_context.jsonl");
    const std::vector<TimestampedEntry> entries = parseOCRContextEntries(jsonl);
    ASSERT_EQ(entries.size(), 2u); // the empty text and the torn last line are skipped
    EXPECT_EQ(entries[0],
              (TimestampedEntry{.source = "画面OCR",
                                .startTime = 30,
                                .text = "[0002_2025-01-31T09-15-30Z.jpg] Q3 Budget Review Revenue +12%"}));
    EXPECT_EQ(entries[1].startTime, 305);

    const auto chunks =
        buildSourceChunks("[SPEAKER_00 00:00:10] Let us start with the budget.", "", jsonl, 10000, 1);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].label, "時間帯 00:00:10 - 00:05:05");
    EXPECT_EQ(chunks[0].text,
              "【Conversation Record】\n[00:00:10] Let us start with the budget.\n\n【画面OCR】\n"
              "[00:00:30] [0002_2025-01-31T09-15-30Z.jpg] Q3 Budget Review Revenue +12%\n"
              "[00:05:05] [manual_2025-01-31T09-20-05Z_4821.jpg] 予算承認フロー");

    // The block form still reads.
    const auto blocks =
        parseOCRContextEntries("[00:10] screen.jpg\nQ3 Budget\n\n[bad] x\ny\n\n[00:20]\nplain");
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].text, "[screen.jpg] Q3 Budget");
    EXPECT_EQ(blocks[1].text, "plain");
}

TEST(SummaryContextBuilderTest, HighlightsAndKeywordItems) {
    const std::string longText = "決定事項として予算の確認を行いました。" + repeated("あ", 101);
    EXPECT_EQ(sentenceScore(longText), 4 + 2);
    EXPECT_EQ(sentenceScore(repeated("ワ", 12)), -8);
    EXPECT_EQ(sentenceScore("todo: send the url"), 4);

    const std::vector<Segment> segments = {{"00:00:03", "plain words"},
                                           {"00:00:02", "次回の確認"},
                                           {"00:00:01", "plain words"},
                                           {"00:00:04", "  "}};
    EXPECT_EQ(topHighlights(segments, 0), (std::vector<std::string>{"[00:00:02] 次回の確認"}));
    EXPECT_EQ(topHighlights(segments, 5),
              (std::vector<std::string>{"[00:00:02] 次回の確認", "[00:00:01] plain words"}));
    EXPECT_EQ(topHighlights({{"a", " "}, {"b", ""}}, 1), (std::vector<std::string>{"[a]  "}));
    EXPECT_TRUE(topHighlights({}, 3).empty());

    const std::vector<Segment> items = {{"1", "Send the TODO list"},
                                        {"2", "send the todo list"},
                                        {"3", "nothing here"},
                                        {"4", "Deadline is Friday"}};
    EXPECT_EQ(filteredItems(items, {"todo", "deadline"}, 5),
              (std::vector<std::string>{"[1] Send the TODO list", "[2] send the todo list",
                                        "[4] Deadline is Friday"}));
    EXPECT_EQ(filteredItems(items, {"todo"}, -3), (std::vector<std::string>{"[1] Send the TODO list"}));
}

TEST(SummaryContextBuilderTest, TruncatesInStepsOfSixtyFourCharacters) {
    const std::string japanese = repeated("あ", 6000);
    const std::string head = truncateFromHead(japanese, 3000);
    EXPECT_EQ(head.size(), 944u * 3);
    EXPECT_EQ(truncateFromTail(japanese, 3000).size(), 944u * 3);
    EXPECT_EQ(truncateFromHead("  fits  ", 8), "  fits  ");
    EXPECT_EQ(truncateFromTail("abcdefghij", 4), ""); // 8 characters, then 64 fewer: nothing
    EXPECT_EQ(truncateFromHead("abc", 0), "");
    EXPECT_EQ(truncateFromHead("abc", -5), "");
    EXPECT_EQ(truncateFromTail("abc", -5), "");
    const std::string mixed = "start" + repeated("x", 200) + "end";
    EXPECT_EQ(truncateFromTail(mixed, 150), mixed.substr(mixed.size() - 144));
}

TEST(SummaryContextBuilderTest, GenerationProfilesByExactName) {
    EXPECT_EQ(generationProfile("qwen2.5-7b-instruct-mlx-4bit"),
              (GenerationProfile{20000, 14000, 600, 700, 1400, 6}));
    EXPECT_EQ(generationProfile("apple_local"), generationProfile("qwen2.5-3b-instruct-mlx-4bit"));
    EXPECT_EQ(generationProfile("llama3-8b-instruct-mlx-4bit").maxOCRChunks, 3);
    EXPECT_EQ(generationProfile("qwen3-8b-instruct-mlx-4bit").sourceChunkByteLimit, 18000);
    EXPECT_EQ(generationProfile("Qwen2.5-7B-Instruct-MLX-4bit"),
              (GenerationProfile{10000, 10000, 400, 480, 1000, 4}));
    EXPECT_EQ(generationProfile("/models/qwen2.5-7b-instruct-mlx-4bit.gguf").sourceChunkByteLimit, 10000);
}

} // namespace
} // namespace velnote
