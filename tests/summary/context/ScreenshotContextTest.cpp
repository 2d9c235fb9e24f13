#include "summary/context/ScreenshotContext.h"

#include "platform/fs/Files.h"
#include "platform/json/IsoDate.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace SummaryContextBuilder;
using testing::TempDir;
namespace fs = std::filesystem;

std::chrono::sys_seconds at(const char* iso) {
    return *platform::parseIsoDate(iso);
}

class ScreenshotContextTest : public ::testing::Test {
  protected:
    fs::path makeSession(const std::string& name, const std::vector<std::string>& files) {
        const fs::path session = root_.path() / name;
        platform::createDirectories(session / "screencaptures");
        for (const std::string& file : files)
            platform::writeFileAtomically(session / "screencaptures" / file, "jpeg bytes");
        return session;
    }

    TempDir root_;
};

TEST_F(ScreenshotContextTest, ListsTheSessionsJpegsInNameOrderWithTimesAndOcrNotes) {
    const fs::path session = makeSession(
        "2025-01-31T09-15-00Z", {"manual_2025-01-31T09-20-05Z_4821.jpg", "0010_2025-01-31T09-16-00Z.JPG",
                                 "0002_2025-01-31T09-15-30Z.jpg", "0001_2025-01-31T09-14-00Z.jpeg", "a.png",
                                 ".hidden.jpg", "notes.txt"});
    const std::string jsonl = platform::readFile(VELNOTE_TEST_DATA_DIR "/summary/ocr_context.jsonl");
    const std::optional<std::string> context = buildScreenshotContext(session, jsonl);
    ASSERT_TRUE(context);
    EXPECT_EQ(
        *context,
        "\n---\n## 利用可能なスクリーンショット（録音開始からの相対時間）\n\n"
        "- 00:00:00 → 0001_2025-01-31T09-14-00Z.jpeg\n"
        "- 00:00:30 → 0002_2025-01-31T09-15-30Z.jpg  # OCR: Q3 Budget Review Revenue +12%\n"
        "- 00:01:00 → 0010_2025-01-31T09-16-00Z.JPG\n"
        "- 00:05:05 → manual_2025-01-31T09-20-05Z_4821.jpg  # OCR: 予算承認フロー\n\n"
        "上記スクリーンショットのうち、議事録のトピックと明確に関連するものだけを選んでください。\n"
        "会議のトピックと無関係なスクリーンショット（デスクトップ・ロック画面・無関係なアプリ画面など）は"
        "挿入しないでください。\n"
        "OCR がある場合は画像内の文言も踏まえて関連度を判断してください。\n"
        "必要なら同一トピックに複数枚の画像を挿入して構いませんが、重複する情報の画像は避けてください。\n"
        "挿入形式は ![説明](PLACEHOLDER:ファイル名) としてください（例: ![スライド](PLACEHOLDER:"
        "0001_2025-01-31T09-14-00Z.jpeg)）。");

    // The chunk of 00:00:30 - 00:05:05 offers its three shots; the footer names the last.
    const std::optional<std::string> hint = filterScreenshotContext(*context, "時間帯 00:00:30 - 00:05:05");
    ASSERT_TRUE(hint);
    EXPECT_EQ(*hint,
              "Screenshots for this time period (00:00:30 - 00:05:05):\n"
              "- 00:00:30 → 0002_2025-01-31T09-15-30Z.jpg  # OCR: Q3 Budget Review Revenue +12%\n"
              "- 00:01:00 → 0010_2025-01-31T09-16-00Z.JPG\n"
              "- 00:05:05 → manual_2025-01-31T09-20-05Z_4821.jpg  # OCR: 予算承認フロー\n"
              "Include relevant images in the intermediate note using the format"
              "`![description](PLACEHOLDER:manual_2025-01-31T09-20-05Z_4821.jpg)` (use actual filenames "
              "following this example).");
    EXPECT_NE(filterScreenshotContext(*context, "時間帯 00:01:00")->find("0010_"), std::string::npos);
    EXPECT_EQ(filterScreenshotContext(*context, "時間帯 00:01:01"), std::nullopt);
    EXPECT_EQ(filterScreenshotContext(*context, "Conversation Record 1/3"), std::nullopt);
}

TEST_F(ScreenshotContextTest, NothingToListGivesNothing) {
    EXPECT_EQ(buildScreenshotContext(root_.path() / "2025-01-31T09-15-00Z", ""), std::nullopt);
    EXPECT_EQ(buildScreenshotContext(makeSession("s1", {"a.png"}), ""), std::nullopt);
    // A folder name without a time leaves every line untimed, so no chunk finds one.
    const std::optional<std::string> untimed =
        buildScreenshotContext(makeSession("recording", {"0001_2025-01-31T09-15-30Z.jpg"}), "");
    ASSERT_TRUE(untimed);
    EXPECT_NE(untimed->find("\n- 0001_2025-01-31T09-15-30Z.jpg\n"), std::string::npos);
    EXPECT_EQ(filterScreenshotContext(*untimed, "時間帯 00:00:00 - 10:00:00"), std::nullopt);
}

TEST_F(ScreenshotContextTest, RelativeTimesFromFileNames) {
    const auto start = at("2025-01-31T09:15:00Z");
    EXPECT_EQ(sessionStartDate("/x/2025-01-31T09-15-00Z"), start);
    EXPECT_EQ(sessionStartDate("/x/no-time"), std::nullopt);
    const struct {
        const char* name;
        std::optional<std::int64_t> seconds;
    } cases[] = {
        {"0001_2025-01-31T09-17-05Z.jpg", 125}, {"manual_2025-01-31T10-15-00Z_42.jpg", 3600},
        {"0001_2025-01-31T09-14-00Z.jpg", 0},   {"nounderscore.jpg", std::nullopt},
        {"0001_screen.jpg", std::nullopt},      {"0001_2025-13-31T09-15-00Z.jpg", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(screenshotRelativeSeconds(c.name, start), c.seconds) << c.name;
}

TEST_F(ScreenshotContextTest, OcrNotesFromBlocksAndRecords) {
    const FileOcrTexts texts =
        parseOCRContextByFile("[00:10] a.jpg\n line a \n\n b \n\n[00:20] empty.jpg\n\n"
                              "[00:30]\nno key\n\n[00:40] a.jpg\nreplaced\n\n"
                              "{\"filename\":\"c.jpg\",\"text\":\" c text \",\"timestamp\":\"00:50\"}");
    EXPECT_EQ(texts.at("a.jpg"), "replaced");
    EXPECT_EQ(texts.at("empty.jpg"), "");
    EXPECT_EQ(texts.at("c.jpg"), "c text");
    EXPECT_EQ(texts.size(), 3u);

    const FileOcrTexts notes = {
        {"three.jpg", "a\n \t b \t\n\nc"}, {"none.jpg", "(テキストなし)"}, {"blank.jpg", ""}};
    EXPECT_EQ(buildScreenshotContextLine("/s/three.jpg", notes, std::nullopt),
              "- three.jpg  # OCR: a / b / c");
    EXPECT_EQ(buildScreenshotContextLine("/s/none.jpg", notes, std::nullopt), "- none.jpg");
    EXPECT_EQ(buildScreenshotContextLine("/s/blank.jpg", notes, std::nullopt), "- blank.jpg");
}

TEST_F(ScreenshotContextTest, ChunkTimeRanges) {
    EXPECT_EQ(screenshotChunkTimeRange("時間帯 00:05:00"), (SecondsRange{300, 300}));
    EXPECT_EQ(screenshotChunkTimeRange("時間帯 00:10:00 - 00:19:58"), (SecondsRange{600, 1198}));
    EXPECT_EQ(screenshotChunkTimeRange("時間帯 00:19:58 - 00:10:00"), std::nullopt);
    EXPECT_EQ(screenshotChunkTimeRange("Conversation Record 1/3"), std::nullopt);

    const FilteredScreenshotLines none = filterScreenshotContextLines("- 00:00:01 → a.jpg", {5, 10});
    EXPECT_TRUE(none.lines.empty());
    EXPECT_EQ(none.exampleFileName, "");
}

} // namespace
} // namespace velnote
