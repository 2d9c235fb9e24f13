#include "summary/text/SummaryFormatter.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/logging/Logger.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace SummaryFormatter;

std::string repeated(std::string_view unit, int times, std::string_view separator = "") {
    std::string out;
    for (int i = 0; i < times; ++i) {
        if (i > 0)
            out += separator;
        out += unit;
    }
    return out;
}

// About 300 letters of an ordinary English summary: the plain ratio of
// distinct characters to length falls under 0.18 for text like this.
const std::string englishSummary =
    "# Weekly planning\n\n## Overview\n"
    "The team reviewed the release plan and agreed to move the launch to Friday after the remaining "
    "tests pass. Marketing will prepare the announcement and support will update the help pages.\n\n"
    "## Topics\n- Release date moves to Friday\n- Tests must pass before the launch\n"
    "- Support updates the help pages";

TEST(SummaryFormatterTest, NormalisesOutputLanguages) {
    const struct {
        std::optional<std::string> value;
        const char* code;
    } cases[] = {
        {std::nullopt, "ja"}, {"", "ja"},         {"   ", "ja"},       {"auto", "ja"},
        {"en-gb", "ja"},      {"EN-US", "en"},    {" English ", "en"}, {"中文繁體", "zh-tw"},
        {"ZH-HANT", "zh-tw"}, {"Français", "fr"}, {"ko", "ko"},        {"pt-BR", "pt"},
        {"日本語", "ja"},     {"zh-TW", "zh-tw"}, {"deutsch", "de"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(normalizedOutputLanguage(c.value), c.code) << c.value.value_or("<absent>");
}

TEST(SummaryFormatterTest, RepetitiveNoise) {
    const struct {
        std::string text;
        bool noise;
    } cases[] = {
        {repeated("あ", 12), true},
        {repeated("あ", 11), false},
        {repeated("ほげ", 6), true},
        {repeated("あいうえおかきくけこさしす", 2),
         false},                            // a 13-character unit: periods above 12 are not tried
        {repeated("はい", 6, "、 "), true}, // punctuation and spaces between repetitions
        {"「" + repeated("ワ", 12) + "！」", true},
        {"今日は会議の議題を三つ確認しました", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isRepetitiveNoise(c.text), c.noise) << c.text;
}

TEST(SummaryFormatterTest, HallucinatedLoops) {
    const struct {
        std::string text;
        bool loop;
    } cases[] = {
        {"", true},
        {repeated("la", 7, " "), true},
        {repeated("la", 6, " ") + " and more words", false},
        {repeated("ab", 12), true},
        {"The meeting confirmed the schedule for next week.", false},
        {englishSummary, false},
        {repeated("ab", 60) + " " + englishSummary, true}, // the first hundred characters decide
    };
    for (const auto& c : cases)
        EXPECT_EQ(looksLikeHallucinatedLoop(c.text), c.loop) << c.text;
}

TEST(SummaryFormatterTest, FillerSpeechAndMetaCommentary) {
    EXPECT_TRUE(looksLikeUnsynthesizedFillerSpeech("えっと、あのー、今日はですね"));
    EXPECT_FALSE(looksLikeUnsynthesizedFillerSpeech("- えっと、あのー、今日はですね"));
    EXPECT_TRUE(looksLikeUnsynthesizedFillerSpeech("はい。。そうですね"));
    EXPECT_FALSE(looksLikeUnsynthesizedFillerSpeech(repeated("えっと", 200)));
    EXPECT_FALSE(looksLikeUnsynthesizedFillerSpeech(""));

    EXPECT_TRUE(looksLikeMetaCommentaryOnly("議事録を作成しました。ご確認ください。"));
    EXPECT_FALSE(looksLikeMetaCommentaryOnly("# 会議\n議事録を作成しました。"));
    EXPECT_FALSE(looksLikeMetaCommentaryOnly("| a | b |\n議事録を作成しました。"));
    EXPECT_FALSE(looksLikeMetaCommentaryOnly("要約の方針を話し合った"));
    EXPECT_FALSE(looksLikeMetaCommentaryOnly("  "));

    EXPECT_TRUE(looksLikeStructuredDocument("\n\n  # Title\nbody"));
    EXPECT_FALSE(looksLikeStructuredDocument("Title\n# later"));
    EXPECT_FALSE(looksLikeStructuredDocument(""));
}

TEST(SummaryFormatterTest, TruncatesAtRawTranscriptLines) {
    EXPECT_EQ(truncateAtRawTranscriptLine("Summary line\nsecond \n- [MIC SPEAKER_01 00:01:02] hi\nmore"),
              "Summary line\nsecond");
    EXPECT_EQ(truncateAtRawTranscriptLine("[SPEAKER_00 00:00:01] hi\nrest"), "");
    EXPECT_EQ(truncateAtRawTranscriptLine("no transcript [SPEAKER_00 00:00:01] here\n"),
              "no transcript [SPEAKER_00 00:00:01] here\n");
}

TEST(SummaryFormatterTest, SanitizesGeneratedText) {
    platform::LogCapture log;
    const struct {
        std::string input;
        std::string output;
    } cases[] = {
        {"  The plan is set.<|im_end|>garbage after", "The plan is set."},
        {"The plan is set.\r\n<|eot_id|>x", "The plan is set."},
        {"<|im_end|>The plan is set for Friday and the team agreed.",
         "<|im_end|>The plan is set for Friday and the team agreed."},
        {"<think>reasoning here</think>\nThe plan is set.", "The plan is set."},
        {"The plan is set.\n<think>unfinished reasoning", "The plan is set."},
        {"The plan is set. || || ||||", "The plan is set."},
        {"|| The plan is set.", "|| The plan is set."},
        {"The plan is set.\n\n## Velnote Summary\n- provider: local", "The plan is set."},
        {"The plan is set.\n- [SPEAKER_00 00:00:01] copied", "The plan is set."},
        {repeated("ha", 20, " "), ""},
        {"えっと、あのー、その件は", ""},
        {" \r\n ", ""},
        {englishSummary, englishSummary},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sanitizeGeneratedOverview(c.input), c.output) << c.input;
    EXPECT_TRUE(log.contains("discarded degenerate llama output"));
    EXPECT_TRUE(log.contains("truncated degenerate llama output at ||"));
}

TEST(SummaryFormatterTest, RuleBasedTexts) {
    platform::ManualClock clock; // 2024-01-01T00:00:00Z
    const SummaryTextResources resources = summaryTextResources("en");
    EXPECT_EQ(resources.noSpecialItems, "No notable items.");

    const std::string noSpeech = buildShortSessionSummary({}, "m", "en", clock);
    EXPECT_EQ(noSpeech, resources.shortSessionNoSpeech + "\n\n" + resources.shortSessionMemo +
                            "\n\n## Velnote Summary\n\n- provider: local\n- model: m\n- output_language: en\n"
                            "- generated_at: 2024-01-01T00:00:00Z\n- mode: short-session\n");
    const SummaryContext three{
        .meaningfulSegments = {{"00:00:01", "one"}, {"00:00:02", "two"}, {"00:00:03", "three"}},
        .totalTextLength = 11};
    EXPECT_TRUE(buildShortSessionSummary(three, "m", "en", clock)
                    .starts_with(resources.shortSessionPrefix + " [00:00:01] one / [00:00:02] two\n\n"));

    EXPECT_EQ(synthesizedOverview({"[00:01] 予算を確認", "[00:02]  期限は金曜 "}, {"決定"}, {}, resources),
              "予算を確認。期限は金曜。決定事項が 1 件抽出されました。");
    EXPECT_EQ(synthesizedOverview({}, {}, {}, resources), resources.fallbackOverviewInsufficient);
    EXPECT_EQ(synthesizedOverview({"plain", "b", "c"}, {}, {"t", "u"}, resources),
              "plain。b。TODO が 2 件あります。");

    const std::string text = buildGenerativeSummaryText({.overview = "Overview text",
                                                         .highlights = {"h1"},
                                                         .decisions = {},
                                                         .todos = {"t1", "t2"},
                                                         .resources = resources,
                                                         .model = "m",
                                                         .outputLanguage = "en"},
                                                        clock);
    EXPECT_EQ(text, "Overview text\n\nHighlights\n- h1\n\n- No notable items.\n\n- t1\n- t2\n\n"
                    "## Velnote Summary\n\n- provider: local\n- model: m\n- engine: llama.cpp\n"
                    "- output_language: en\n- generated_at: 2024-01-01T00:00:00Z\n");
}

} // namespace
} // namespace velnote
