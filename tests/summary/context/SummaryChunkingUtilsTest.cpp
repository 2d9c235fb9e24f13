#include "summary/context/SummaryChunkingUtils.h"

#include "session/settings/UserDictionaryStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace SummaryChunkingUtils;
using testing::TempDir;

constexpr auto english = InterfaceLanguage::english;
constexpr auto japanese = InterfaceLanguage::japanese;

TEST(SummaryChunkingUtilsTest, TranscriptTimeRange) {
    const struct {
        std::string transcript;
        InterfaceLanguage language;
        std::optional<std::string> range;
    } cases[] = {
        {"[SPEAKER_00 00:00:05] a\n[SPEAKER_01 00:45:10] b", english, "00:00:05–00:45:10（approx. 45m5s）"},
        {"[SPEAKER_00 00:00:05] a\n[SPEAKER_01 00:45:10] b", japanese, "00:00:05–00:45:10（約45分5秒）"},
        {"[SPEAKER_00 00:00:00] a\n[SPEAKER_00 00:01:00] b", english, "00:00:00–00:01:00（approx. 1m）"},
        {"[SPEAKER_00 00:00:00] a\n[SPEAKER_00 00:01:00] b", japanese, "00:00:00–00:01:00（約1分）"},
        {"[SPEAKER_00 00:00:01] a\n[SPEAKER_00 00:01:00] b", japanese, "00:00:01–00:01:00（約59秒）"},
        {"[SPEAKER_00 00:01:00] a\n[SPEAKER_00 00:00:30] b", english, "00:01:00–00:00:30（approx. -30s）"},
        {"[SPEAKER_00 00:01:00] a\n[SPEAKER_00 00:01:00] b", english, std::nullopt},
        {"[SPEAKER_00 00:01:00] only one", english, std::nullopt},
        {"[MIC SPEAKER_00 00:01:23] a\n[MIC SPEAKER_00 00:09:23] b", english, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(extractTranscriptTimeRange(c.transcript, c.language), c.range) << c.transcript;
}

TEST(SummaryChunkingUtilsTest, DirectivesByModelGroup) {
    EXPECT_EQ(compactSummaryDirective("my prompt", "apple_local", english),
              "Create a meeting summary in Markdown.\n"
              "Output in order: # Title → ## Overview (2 sentences max) → ## Topics (bullet points).\n"
              "No tables. No speculation. Mark unclear parts with (※).");
    EXPECT_TRUE(compactSummaryDirective("my prompt", "qwen3-8b-instruct-mlx-4bit", japanese)
                    .ends_with("- 推測は書かない。不明な箇所は（※）で示す。"));
    EXPECT_EQ(compactSummaryDirective("  my prompt \n", "other", english), "my prompt");
    EXPECT_TRUE(compactSummaryDirective("   ", "other", english)
                    .starts_with(
                        "Create meeting minutes in Markdown format from the transcript (Whisper + live).\n"));
    EXPECT_TRUE(compactSummaryDirective("", "other", japanese).ends_with("末尾に独立セクションは作らない。"));

    EXPECT_EQ(compactIntermediateDirective("mine", "qwen2.5-3b-instruct-mlx-4bit", japanese),
              "以下の文字起こし断片から事実のみを箇条書きで抽出せよ。推測や要約は書かないこと。");
    EXPECT_EQ(compactIntermediateDirective(" mine ", "qwen3-8b-instruct-mlx-4bit", english), "mine");
    EXPECT_TRUE(compactIntermediateDirective("", "other", english).starts_with("Bullet points only."));
}

TEST(SummaryChunkingUtilsTest, OutputLanguageInstruction) {
    EXPECT_EQ(
        buildOutputLanguageInstruction("ko"),
        "Output entirely in Korean. All text including headings, labels, and bullets must be in Korean.");
    EXPECT_EQ(buildOutputLanguageInstruction("zh-tw"), buildOutputLanguageInstruction("zh-tw"));
    EXPECT_NE(buildOutputLanguageInstruction("zh-tw").find("Traditional Chinese"), std::string::npos);
    for (const char* code : {"zh-TW", "ja", "auto", ""})
        EXPECT_NE(buildOutputLanguageInstruction(code).find("in Japanese."), std::string::npos) << code;
}

class ChunkNoteTest : public ::testing::Test {
  protected:
    void setDictionary(std::vector<std::pair<std::string, std::string>> pairs) {
        std::vector<UserDictionaryEntry> entries;
        for (auto& [wrong, correct] : pairs)
            entries.push_back({.id = platform::Uuid::random(), .wrong = wrong, .correct = correct});
        UserDictionaryStore::saveEntries(entries, settings_);
    }

    TempDir dir_;
    platform::SettingsStore settings_{dir_ / "settings.json"};
};

TEST_F(ChunkNoteTest, DictionaryHintKeepsCompleteEntriesOnly) {
    EXPECT_EQ(userDictionaryHint(settings_), "");
    setDictionary({{"wrong", ""}});
    EXPECT_EQ(userDictionaryHint(settings_), "");
    setDictionary({{"Hush tape", "Hushtape"}, {"", "x"}, {"kubanetes", "Kubernetes"}});
    EXPECT_EQ(
        userDictionaryHint(settings_),
        "User dictionary entries are listed below. Use them to correct mistakes in transcription or summary. "
        "Format: \"incorrect -> correct\".\n- Hush tape -> Hushtape\n- kubanetes -> Kubernetes");
}

TEST_F(ChunkNoteTest, NoteRequestPieces) {
    const SummarySourceChunk chunk{.label = "時間帯 00:00:05",
                                   .text = "【Conversation Record】\n[00:00:05] hi"};
    const NoteRequest plain = chunkNoteContent(chunk, "", "en", std::nullopt, "other", english, settings_);
    EXPECT_EQ(plain.system,
              "Output entirely in English. All text including headings, labels, and bullets must be in "
              "English.\n\nExtract facts from the following transcript fragment as bullet points.\n"
              "1 item = 1 fact, decision, or action item.\nAlways retain numbers, proper nouns, "
              "deadlines, and assignees.\nDo not add speculation, inference, or summarization.\n"
              "Prioritize completeness above all.");
    EXPECT_TRUE(plain.user.starts_with("【Intermediate Note Guidelines】\nBullet points only."));
    EXPECT_TRUE(plain.user.ends_with(
        "\n\n【Target Fragment: 時間帯 00:00:05】\n【Conversation Record】\n[00:00:05] hi"));

    // A directive that carries a marker gets no second header; a blank hint is left out, another kept whole.
    const NoteRequest marked = chunkNoteContent(chunk, "【中間ノートの指針】\n自分のルール", "ja",
                                                std::string(" \n "), "other", japanese, settings_);
    EXPECT_TRUE(marked.user.starts_with("【中間ノートの指針】\n自分のルール\n\n【Target Fragment"));
    EXPECT_TRUE(marked.system.ends_with("網羅性を最優先する。"));
    EXPECT_EQ(chunkNoteContent(chunk, "Intermediate Note Guidelines: mine", "en", std::nullopt, "x", english,
                               settings_)
                  .user.find("【Intermediate Note Guidelines】"),
              std::string::npos);

    setDictionary({{"a", "b"}});
    const NoteRequest full =
        chunkNoteContent(chunk, "rules", "en", std::string("  Screenshots…\n"), "x", english, settings_);
    EXPECT_TRUE(full.user.ends_with("hi\n\n" + userDictionaryHint(settings_) + "\n\n  Screenshots…\n"));
}

} // namespace
} // namespace velnote
