#include "context/screen/OCRContextLog.h"

#include "platform/fs/Files.h"
#include "platform/json/Json.h"
#include "platform/text/Split.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

const Clock::time_point kStart = Clock::time_point(1'700'000'000s);

OCRResult result(std::string text, double score) {
    return OCRResult{std::move(text), PixelRect{1, 2, 3, 4}, score};
}

TEST(OCRContextLogTest, LineHasSortedKeysQualifyingResultsAndElapsedTime) {
    const OCRRecord record{kStart + 3903s + 900ms,
                           "/s/screencaptures/0001_2025-01-31T09-15-00Z.jpg",
                           {result("Agenda", 0.934), result("faint", 0.59), result("Budget \"Q3\"", 0.6)}};
    EXPECT_EQ(
        OCRContextLog::line(record, kStart, false),
        R"({"filename":"0001_2025-01-31T09-15-00Z.jpg","is_manual":false,"results":[{"score":0.93,"text":"Agenda"},)"
        R"({"score":0.6,"text":"Budget \"Q3\""}],"text":"Agenda faint Budget \"Q3\"","timestamp":"65:03"})"
        "\n");
}

TEST(OCRContextLogTest, OnlyTheFirstTenResultsAreListed) {
    OCRRecord record{kStart + 7s, "/s/a.jpg", {}};
    for (int i = 0; i < 12; ++i)
        record.results.push_back(result("line" + std::to_string(i), i == 3 ? 0.2 : 0.9));
    const platform::Json line = platform::parseJson(OCRContextLog::line(record, kStart, true));
    EXPECT_EQ(line["results"].size(), 9U); // 10 first, one of them below 0.6
    EXPECT_EQ(line["results"].back()["text"], "line9");
    EXPECT_EQ(line["timestamp"], "00:07");
    EXPECT_EQ(line["is_manual"], true);
    EXPECT_EQ(platform::toCompactJson(
                  platform::parseJson(OCRContextLog::line(OCRRecord{kStart, "/s/b.jpg", {}}, kStart, false))),
              R"({"filename":"b.jpg","is_manual":false,"results":[],"text":"","timestamp":"00:00"})");
}

TEST(OCRContextLogTest, LinesSinceALimit) {
    const std::string contents = "\n"
                                 R"({"timestamp":"00:00","text":"a"})"
                                 "\n"
                                 R"({"timestamp":"09:59","text":"b"})"
                                 "\n\n"
                                 R"({"timestamp":"10:00","text":"c"})"
                                 "\n"
                                 R"({"timestamp":"later","text":"d"})"
                                 "\n"
                                 R"({"timestamp":"00:-5","text":"e"})"
                                 "\n"
                                 R"({"text":"no time"})"
                                 "\n"
                                 R"([1,2])"
                                 "\n"
                                 R"({"timestamp":"12:0)"
                                 "\n";
    EXPECT_EQ(OCRContextLog::linesSince(contents, 0), R"({"timestamp":"00:00","text":"a"})"
                                                      "\n"
                                                      R"({"timestamp":"09:59","text":"b"})"
                                                      "\n"
                                                      R"({"timestamp":"10:00","text":"c"})"
                                                      "\n"
                                                      R"({"timestamp":"later","text":"d"})"
                                                      "\n"
                                                      R"({"timestamp":"00:-5","text":"e"})"
                                                      "\n"
                                                      R"({"text":"no time"})"
                                                      "\n"
                                                      R"([1,2])"
                                                      "\n"
                                                      R"({"timestamp":"12:0)");
    EXPECT_EQ(OCRContextLog::linesSince(contents, 600), R"({"timestamp":"10:00","text":"c"})"
                                                        "\n"
                                                        R"({"text":"no time"})"
                                                        "\n"
                                                        R"([1,2])"
                                                        "\n"
                                                        R"({"timestamp":"12:0)");
    EXPECT_EQ(OCRContextLog::linesSince(" \n\n", 0), "");
}

TEST(OCRContextLogTest, WriteBatchCreatesThenAppends) {
    testing::TempDir dir;
    const auto file = dir / "ocr_context.jsonl";
    OCRContextLog::writeBatch({"1\n", "2\n"}, file);
    OCRContextLog::writeBatch({"3\n"}, file);
    EXPECT_EQ(platform::readFile(file), "1\n2\n3\n");
    OCRContextLog::writeBatch({"4\n"}, dir / "missing" / "ocr_context.jsonl"); // logged, nothing thrown
}

// Recogniser text with NUL bytes, broken UTF-8 or of great length, written after a line that a
// write which died cut short: every new line reads back whole, the broken one stays apart.
TEST(OCRContextLogTest, BadTextAndATornLastLineLeaveEveryNewLineReadable) {
    testing::TempDir dir;
    const auto file = dir / "ocr_context.jsonl";
    platform::appendToFile(file, R"({"timestamp":"00:01","te)");
    const std::vector<std::string> texts = {std::string("a\0b", 3), "caf\xC3 \xFF",
                                            std::string(1 << 20, 'x')};
    std::vector<std::string> lines;
    for (const std::string& text : texts)
        lines.push_back(
            OCRContextLog::line(OCRRecord{kStart + 5s, "/s/a.jpg", {result(text, 0.9)}}, kStart, false));
    ASSERT_TRUE(OCRContextLog::writeBatch(lines, file));

    const std::string kept = OCRContextLog::linesSince(platform::readFile(file), 1);
    std::vector<std::string> read;
    for (const std::string& line : platform::splitOn(kept, "\n"))
        read.push_back(line);
    ASSERT_EQ(read.size(), 4U);
    EXPECT_EQ(read[0], R"({"timestamp":"00:01","te)");
    EXPECT_EQ(platform::parseJson(read[1])["text"], std::string("a\0b", 3));
    EXPECT_EQ(platform::parseJson(read[2])["text"], "caf\uFFFD \uFFFD");
    EXPECT_EQ(platform::parseJson(read[3])["text"].get<std::string>().size(), std::size_t{1} << 20);
}

TEST(OCRContextLogTest, AFailedBatchIsHeldAndWrittenBeforeTheNextOne) {
    testing::TempDir dir;
    const auto file = dir / "ocr_context.jsonl";
    std::filesystem::create_directory(file); // in the way: the append cannot open it
    OCRBatchWriter writer(file);
    EXPECT_FALSE(writer.write({"1\n", "2\n"}));
    EXPECT_EQ(writer.heldLines(), 2U);
    std::vector<std::string> many;
    for (std::size_t i = 0; i < OCRBatchWriter::kMaxHeldLines; ++i)
        many.push_back("x\n");
    EXPECT_FALSE(writer.write(many)); // beyond the limit the oldest go
    EXPECT_EQ(writer.heldLines(), OCRBatchWriter::kMaxHeldLines);

    std::filesystem::remove(file);
    EXPECT_TRUE(writer.write({"3\n"}));
    EXPECT_EQ(writer.heldLines(), 0U);
    const std::string written = platform::readFile(file);
    EXPECT_EQ(written.size(), 2 * (OCRBatchWriter::kMaxHeldLines + 1));
    EXPECT_TRUE(written.starts_with("x\n"));
    EXPECT_TRUE(written.ends_with("x\n3\n"));
}

TEST(RecentOCRTextsTest, TextInThreeOfTheLastEightShotsIsFixed) {
    RecentOCRTexts recent;
    const std::vector<OCRResult> shot{result("File  Edit View", 0.9), result("Meeting notes", 0.9)};
    recent.update({"file edit view"});
    recent.update({"File Edit\u3000View"});
    EXPECT_EQ(recent.filterFixedText(shot), shot); // two shots known: nothing is fixed yet
    recent.update({});                             // an empty shot counts for nothing
    EXPECT_EQ(recent.filterFixedText(shot), shot);
    recent.update({"FILE EDIT VIEW", "other"});
    EXPECT_EQ(recent.filterFixedText(shot), std::vector<OCRResult>{shot[1]});
    for (int i = 0; i < 6; ++i)
        recent.update({"something else " + std::to_string(i)});
    EXPECT_EQ(recent.filterFixedText(shot), shot); // the menu left the window of eight

    RecentOCRTexts tight(2, 2); // fixed from 2 of the last 2
    tight.update({"file edit view"});
    EXPECT_EQ(tight.filterFixedText(shot), shot);
    tight.update({"file edit view"});
    EXPECT_EQ(tight.filterFixedText(shot), std::vector<OCRResult>{shot[1]});
}

TEST(OCRContextLogTest, NormalizeDropsCaseAndEveryWhiteSpace) {
    EXPECT_EQ(OCRContextLog::normalizeText(" Ab\tC\n日\u3000本 "), "abc日本");
}

} // namespace
} // namespace velnote
