#include "context/ocr/VisionOCRService.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using platform::TextObservation;

// Answers with fixed lines and remembers what it was asked.
class FakeRecognizer final : public platform::TextRecognizer {
  public:
    std::vector<TextObservation> recognize(const platform::GrayImage& image,
                                           const platform::TextRecognitionRequest& request,
                                           const std::stop_token&, std::string& error) override {
        ++calls;
        seenSize = {image.width, image.height};
        lastRequest = request;
        error = failure;
        return lines;
    }
    int calls = 0;
    std::pair<int, int> seenSize;
    platform::TextRecognitionRequest lastRequest;
    std::vector<TextObservation> lines;
    std::string failure;
};

class DefaultVisionOCRServiceTest : public ::testing::Test {
  protected:
    DefaultVisionOCRService service() {
        return DefaultVisionOCRService(VisionOCRDependencies{
            .recognizer = &recognizer,
            .supportedLanguages =
                [] {
                    return std::vector<std::string>{"en-US", "ja-JP"};
                },
            .effectiveInputLanguage = [this] { return inputLanguage; },
            .customWords = [] { return std::vector<std::string>{"Hushtape"}; },
        });
    }
    FakeRecognizer recognizer;
    std::optional<std::string> inputLanguage;
    platform::RgbImage image{400, 300, std::vector<std::uint8_t>(400 * 300 * 3, 250)};
};

TEST_F(DefaultVisionOCRServiceTest, AsksWithTheSessionsLanguagesAndTheCustomWords) {
    recognizer.lines = {
        {.text = "Sprint retrospective\n", .confidence = 0.9F, .x = 20, .y = 100, .width = 500, .height = 30},
        {.text = "ok", .confidence = 0.9F, .x = 20, .y = 200, .width = 30, .height = 20}};
    auto ocr = service();
    const auto lines = ocr.extractImportantTextWithVision(image, nullptr, nullptr, 800, {"ja", "fr-FR"});
    EXPECT_EQ(recognizer.seenSize, (std::pair{400, 300}));
    EXPECT_EQ(recognizer.lastRequest.languages, std::vector<std::string>{"ja-JP"});
    EXPECT_EQ(recognizer.lastRequest.customWords, std::vector<std::string>{"Hushtape"});
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].text, "Sprint retrospective");
    EXPECT_EQ(lines[0].boundingBox, (PixelRect{20, 100, 380, 30})); // cut to the image

    inputLanguage = "en_US"; // the session's languages match nothing: the input language leads
    EXPECT_EQ(ocr.recognizeTextOnEntireImage(image, {"xx"}), "Sprint retrospective\n ok");
    EXPECT_EQ(recognizer.lastRequest.languages, (std::vector<std::string>{"en-US", "ja-JP"}));
}

TEST_F(DefaultVisionOCRServiceTest, CancelledOrFailedRecognitionGivesNothing) {
    recognizer.lines = {
        {.text = "Quarterly numbers", .confidence = 1, .x = 0, .y = 100, .width = 100, .height = 20}};
    auto ocr = service();
    std::stop_source stop;
    stop.request_stop();
    EXPECT_TRUE(
        ocr.extractImportantTextWithVision(image, nullptr, nullptr, 800, {}, stop.get_token()).empty());
    EXPECT_EQ(ocr.extractStructuredTextRegions(image, nullptr, nullptr, 100, 20, stop.get_token()).second, 0);
    EXPECT_EQ(recognizer.calls, 0);
    EXPECT_TRUE(
        ocr.extractStructuredTextRegions(platform::RgbImage{}, nullptr, nullptr, 100, 20).first.empty());

    recognizer.lines.clear();
    recognizer.failure = "cannot load the recognition data";
    EXPECT_EQ(ocr.recognizeTextOnEntireImage(image, {}), "");
}

TEST(DefaultVisionOCRServiceWordsTest, UserDictionaryGivesWrongThenCorrectTexts) {
    const std::vector<UserDictionaryEntry> entries{{.id = {}, .wrong = "", .correct = "Kubernetes"},
                                                   {.id = {}, .wrong = "teh", .correct = "the"},
                                                   {.id = {}, .wrong = "x", .correct = ""}};
    EXPECT_EQ(DefaultVisionOCRService::customWordsOf(entries),
              (std::vector<std::string>{"Kubernetes", "teh", "the", "x"}));
    EXPECT_TRUE(DefaultVisionOCRService::customWordsOf({}).empty());
}

} // namespace
} // namespace velnote
