#include "session/config/PromptCatalog.h"

#include "session/l10n/L10n.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace velnote {
namespace {

std::size_t lineCount(const std::string& text) {
    return std::count(text.begin(), text.end(), '\n') + 1;
}

TEST(PromptCatalogTest, PresetsComeInOrderWithTextsOfBothLanguages) {
    const struct {
        const char* id;
        std::size_t lines;
        const char* englishStart;
        const char* japaneseStart;
    } presets[] = {
        {"minutes", 20, "Create meeting minutes in Markdown", "会議の文字起こし"},
        {"worklog", 23, "Create a chronological Markdown work log", "文字起こし（Whisper + ライブ）と OCR"},
        {"seminar", 33, "Create Markdown seminar notes", "セミナー・講演の文字起こし"},
    };
    for (const bool japanese : {false, true}) {
        const auto catalog = PromptCatalog::catalog(japanese);
        ASSERT_EQ(catalog.size(), 3u);
        for (std::size_t i = 0; i < catalog.size(); ++i) {
            const auto& p = presets[i];
            EXPECT_EQ(catalog[i].id, p.id);
            EXPECT_EQ(lineCount(catalog[i].prompt), p.lines) << p.id << " japanese=" << japanese;
            EXPECT_FALSE(catalog[i].prompt.ends_with('\n'));
            EXPECT_TRUE(catalog[i].prompt.starts_with(japanese ? p.japaneseStart : p.englishStart)) << p.id;
            EXPECT_EQ(catalog[i].prompt, PromptCatalog::prompt(p.id, japanese));
        }
    }
    const std::string minutes = PromptCatalog::prompt("minutes", false);
    EXPECT_NE(minutes.find("\n\n# [Meeting Title]\n\n| Item | Details |\n"), std::string::npos);
    EXPECT_NE(
        minutes.find("| Date/Time | (Infer from timestamps or context; use \"Unknown\" if unavailable) |"),
        std::string::npos);
    EXPECT_NE(PromptCatalog::prompt("worklog", false).find("- HH:MM — Action taken"), std::string::npos);
}

TEST(PromptCatalogTest, UnknownIdsGiveTheMinutesPrompt) {
    for (const bool japanese : {false, true}) {
        const std::string minutes = PromptCatalog::prompt("minutes", japanese);
        for (const char* id : {"Worklog", "custom", "", "minutes "}) {
            EXPECT_EQ(PromptCatalog::prompt(id, japanese), minutes) << id;
        }
        EXPECT_NE(PromptCatalog::prompt("worklog", japanese), minutes);
    }
    EXPECT_EQ(PromptCatalog::prompt("seminar"), PromptCatalog::prompt("seminar", L10n::isJapanese()));
}

TEST(PromptCatalogTest, OptionsPairIdsWithLocalizedLabels) {
    const auto options = PromptCatalog::options();
    ASSERT_EQ(options.size(), 3u);
    EXPECT_EQ(options[0], (PromptOption{.id = "minutes",
                                        .label = L10n::localized("L10n.Prompts.minutesWriterLabel",
                                                                 "Meeting Minutes Writer")}));
    EXPECT_EQ(options[1].id, "worklog");
    EXPECT_EQ(options[2], (PromptOption{.id = "seminar",
                                        .label = L10n::localized("L10n.Prompts.seminarWriterLabel",
                                                                 "Seminar Notes Writer")}));
    EXPECT_EQ(PromptCatalog::catalog()[1].label, options[1].label);
}

TEST(PromptCatalogTest, LiveSummarySystemPromptChoosesItsTwoLinesIndependently) {
    const std::string english = "You are an AI assistant for meeting and work sessions. Summarize the "
                                "following transcript concisely.";
    const std::string japanese =
        "あなたは会議・作業セッションのAIアシスタントです。以下のトランスクリプトを簡潔に要約してください。";
    const struct {
        const char* output;
        bool japaneseInterface;
        std::string expected;
    } cases[] = {
        {"ja", false, english + "\n出力言語: 日本語"},
        {"ja", true, japanese + "\n出力言語: 日本語"},
        {"zh-tw", true, japanese + "\nOutput language: zh-tw"},
        {"JA", false, english + "\nOutput language: JA"},
        {"", false, english + "\nOutput language: "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PromptCatalog::LiveSummaryCLI::system(c.output, c.japaneseInterface), c.expected)
            << c.output;
    }
}

TEST(PromptCatalogTest, TheBuiltInLiveAndIntermediatePromptsAreFourLinesInEachLanguage) {
    const struct {
        std::string text;
        std::size_t bytes;
    } cases[] = {
        {PromptCatalog::liveSummaryPrompt(false), 298},
        {PromptCatalog::liveSummaryPrompt(true), 370},
        {PromptCatalog::intermediateNotePrompt(false), 325},
        {PromptCatalog::intermediateNotePrompt(true), 400},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text.size(), c.bytes) << c.text;
        EXPECT_EQ(std::count(c.text.begin(), c.text.end(), '\n'), 3) << c.text;
    }
    EXPECT_TRUE(PromptCatalog::intermediateNotePrompt(false).starts_with("Bullet points only."));
}

} // namespace
} // namespace velnote
