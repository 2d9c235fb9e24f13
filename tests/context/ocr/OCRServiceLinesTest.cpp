#include "context/ocr/OCRService.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velnote {
namespace {

using platform::TextObservation;

constexpr double kW = 1000;
constexpr double kH = 1000;

TextObservation line(std::string text, double y, float confidence = 1, double x = 100, double width = 300,
                     double height = 20) {
    return TextObservation{
        .text = std::move(text), .confidence = confidence, .x = x, .y = y, .width = width, .height = height};
}

TEST(OCRServiceScoreTest, RejectsAndScoresLines) {
    const std::string latin60(60, 'a');
    const std::string kana60 = [] {
        std::string s;
        for (int i = 0; i < 30; ++i)
            s += "あ漢";
        return s;
    }();
    struct Case {
        std::string text;
        double top;
        float confidence;
        double expected;
    };
    const Case cases[] = {
        {latin60, 500, 1, 1.0}, // full length, full confidence
        {kana60, 500, 1, 1.3},  // kana and ideographs only: + 30 %
        {latin60, 40, 1, 0},    // top edge at 4 % of the height
        {latin60, 50, 1, 1.0},  // at 5 %: scored
        {"https://example.com/a", 500, 1, 0},
        {"WWW.example.com", 500, 1, 0},
        {"www.", 500, 1, 0.5 * 1 + 0.5 * 4.0 / 60}, // the prefix alone is no address
        {"←→↑ ab", 500, 1, 0},                      // 3 of 6 are symbols
        {"abcdefghij", 500, 0.5F, 0.5 * 0.5 + 0.5 * 10.0 / 60},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(OCRService::scoreTextObservation(c.text, c.confidence, PixelRect{0, c.top, 10, 10}, kH),
                    c.expected, 1e-9)
            << c.text << " at " << c.top;
    }
}

TEST(OCRServiceMeasuresTest, BigramJaccardIgnoresCaseAndWhiteSpace) {
    struct Case {
        std::string a, b;
        double expected;
    };
    const Case cases[] = {
        {"A", "a", 1},
        {"ab", "ab c", 0.5},
        {"a", "b", 0},
        {"", "", 1},
        {"Hello World", "helloworld", 1},
        {"日本語", "日本　語", 1}, // the ideographic space is white space too
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(OCRService::characterBigramJaccard(c.a, c.b), c.expected) << c.a << " / " << c.b;
}

TEST(OCRServiceMeasuresTest, RectIoU) {
    EXPECT_DOUBLE_EQ(OCRService::rectIoU({0, 0, 10, 10}, {5, 0, 10, 10}), 50.0 / 150.0);
    EXPECT_DOUBLE_EQ(OCRService::rectIoU({0, 0, 10, 10}, {10, 0, 10, 10}), 0); // touching only
    EXPECT_DOUBLE_EQ(OCRService::rectIoU({0, 0, 10, 10}, {0, 0, 10, 10}), 1);
}

TEST(OCRServiceMeasuresTest, RegionPixelDiffOnThumbnails) {
    platform::GrayImage previous{4, 4, std::vector<std::uint8_t>(16, 100)};
    platform::GrayImage current = previous;
    current.pixels[5] = 120; // (1, 1)
    current.pixels[6] = 120; // (2, 1)
    // Full image 400 × 400 onto a 4 × 4 thumbnail: (100, 100, 200, 100) covers columns 1-2 of row 1.
    EXPECT_DOUBLE_EQ(OCRService::regionPixelDiff({100, 100, 200, 100}, current, previous, 4, 4, 400, 400),
                     20);
    // Top and bottom truncate to the same thumbnail row: nothing to compare.
    EXPECT_DOUBLE_EQ(OCRService::regionPixelDiff({100, 110, 200, 50}, current, previous, 4, 4, 400, 400), 0);
    // A box that is not finite measures nothing.
    EXPECT_DOUBLE_EQ(OCRService::regionPixelDiff({1e308, 0, 1e308, 10}, current, previous, 4, 4, 1e-300, 400),
                     0);
    // Pixels beyond the shorter buffer are skipped, not read.
    platform::GrayImage shortPrevious{4, 1, std::vector<std::uint8_t>(4, 100)};
    EXPECT_DOUBLE_EQ(OCRService::regionPixelDiff({0, 0, 400, 400}, current, shortPrevious, 4, 4, 400, 400),
                     0);
}

TEST(OCRServiceLinesTest, KeepsLongEnoughScoredLinesWithoutDuplicates) {
    const std::vector<TextObservation> observations = {
        line("abc", 100),                    // 3 characters: never a line
        line("Quarterly report", 200, 0.9F), // inside the longer line below
        line("Quarterly report draft", 300, 0.9F, 100, 300),
        line("Budget overview", 400, 0.5F, 100, 300),
        line("Budget overview!", 402, 0.4F, 100, 300), // same box, scored lower
        line("  Agenda items  ", 600, 0.8F, 500, 200),
    };
    const auto results = OCRService::selectImportantLines(observations, kW, kH, nullptr, nullptr, 0);
    std::vector<std::string> texts;
    for (const OCRResult& r : results)
        texts.push_back(r.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Quarterly report draft", "Agenda items", "Budget overview"}));
    EXPECT_EQ(results[1].boundingBox, (PixelRect{500, 600, 200, 20}));
}

TEST(OCRServiceLinesTest, CharacterCapNeverCutsALine) {
    const std::vector<TextObservation> observations = {
        line(std::string(500, 'a'), 100, 1, 0, 100),
        line(std::string(400, 'b'), 300, 0.9F, 200, 100),
        line(std::string(300, 'c'), 500, 0.8F, 400, 100),
    };
    const auto capped = OCRService::selectImportantLines(observations, kW, kH, nullptr, nullptr, 800);
    ASSERT_EQ(capped.size(), 2U); // 900 characters: the second passes the cap, a third is not added
    EXPECT_EQ(OCRService::selectImportantLines(observations, kW, kH, nullptr, nullptr, 0).size(), 3U);
}

TEST(OCRServiceLinesTest, ChangedLinesWeighMore) {
    const std::vector<TextObservation> observations = {
        line("Unchanged heading", 100, 1, 0, 500, 100),
        line("Fresh message text", 600, 0.5F, 0, 500, 100),
    };
    platform::GrayImage previous{10, 10, std::vector<std::uint8_t>(100, 50)};
    platform::GrayImage current = previous;
    for (int y = 6; y < 7; ++y)
        for (int x = 0; x < 5; ++x)
            current.pixels[static_cast<std::size_t>(y * 10 + x)] =
                100; // root mean square 50 under the second line
    const auto results = OCRService::selectImportantLines(observations, kW, kH, &current, &previous, 0);
    ASSERT_EQ(results.size(), 2U);
    EXPECT_EQ(results[0].text, "Fresh message text");
    EXPECT_NEAR(results[0].score,
                OCRService::scoreTextObservation("Fresh message text", 0.5F, {0, 600, 500, 100}, kH) * 2.5,
                1e-9);
}

TEST(OCRServiceLinesTest, JoinedTextKeepsEveryReadingInOrder) {
    EXPECT_EQ(OCRService::joinedText({line(" one\n", 0), line("two ", 10), line("x", 20)}), "one\n two  x");
    EXPECT_EQ(OCRService::joinedText({}), "");
}

TEST(OCRServiceLanguagesOrderTest, SessionLanguagesFirstElseTheInputLanguage) {
    const std::vector<std::string> supported{"en-US", "fr-FR", "zh-Hans", "ja-JP"};
    struct Case {
        std::vector<std::string> session;
        std::optional<std::string> input;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{"ja-JP", "en", "ja"}, std::nullopt, {"ja-JP", "en-US"}}, // mapped, repeats dropped
        {{"xx-YY"}, "fr", {"fr-FR", "en-US", "zh-Hans", "ja-JP"}}, // nothing matched: the input language
        {{}, "auto", {"ja-JP", "en-US", "fr-FR", "zh-Hans"}},      // automatic: Japanese first
        {{}, std::nullopt, {"ja-JP", "en-US", "fr-FR", "zh-Hans"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            OCRService::orderedSupportedRecognitionLanguages(c.session, supported, [&] { return c.input; }),
            c.expected);
    }
    EXPECT_TRUE(OCRService::orderedSupportedRecognitionLanguages({"ja-JP"}, {}, nullptr).empty());
    bool asked = false;
    OCRService::orderedSupportedRecognitionLanguages({"en-US"}, supported, [&] {
        asked = true;
        return std::optional<std::string>();
    });
    EXPECT_FALSE(asked); // the session's languages decide: the application state is not read
}

TEST(OCRServicePreprocessTest, KeepsTheSizeAndRaisesContrast) {
    platform::RgbImage image{8, 2, std::vector<std::uint8_t>(48, 0)};
    for (int x = 0; x < 8; ++x) {
        for (int y = 0; y < 2; ++y) {
            std::uint8_t* p = image.pixel(x, y);
            p[0] = p[1] = p[2] = x < 4 ? 90 : 170;
        }
    }
    const platform::GrayImage out = OCRService::preprocessForOCR(image);
    ASSERT_EQ(out.width, 8);
    ASSERT_EQ(out.height, 2);
    EXPECT_GT(out.at(7, 0) - out.at(0, 0), 170 - 90); // the two tones lie further apart
    EXPECT_TRUE(OCRService::preprocessForOCR(platform::RgbImage{}).pixels.empty());
}

} // namespace
} // namespace velnote
