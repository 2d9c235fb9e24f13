#include "context/ocr/OCRService.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velnote {
namespace {

using platform::TextObservation;

constexpr double kW = 1000;
constexpr double kH = 1000;

TextObservation at(std::string text, PixelRect r, float confidence = 0.9F) {
    return TextObservation{.text = std::move(text),
                           .confidence = confidence,
                           .x = r.x,
                           .y = r.y,
                           .width = r.width,
                           .height = r.height};
}

std::vector<std::string> textsOf(const std::vector<StructuredTextRegion>& regions) {
    std::vector<std::string> texts;
    for (const auto& r : regions)
        texts.push_back(r.text);
    return texts;
}

TEST(OCRServiceRegionsTest, SaliencyBoostsTextWhoseCentreItHolds) {
    const PixelRect box{400, 480, 200, 40};
    const std::vector<TextObservation> text{at("Project plan", box, 1)};
    const auto plain = OCRService::selectStructuredRegions(text, {}, kW, kH, nullptr, nullptr, 100);
    const auto inside = OCRService::selectStructuredRegions(text, {{PixelRect{300, 400, 400, 200}, 1.0F}}, kW,
                                                            kH, nullptr, nullptr, 100);
    // Overlapping by an IoU of 0.05 or less gives nothing.
    const auto grazing = OCRService::selectStructuredRegions(text, {{PixelRect{590, 510, 400, 400}, 1.0F}},
                                                             kW, kH, nullptr, nullptr, 100);
    ASSERT_EQ(plain.size(), 1U);
    EXPECT_NEAR(inside[0].weight / plain[0].weight, 1.85, 1e-9);
    EXPECT_DOUBLE_EQ(grazing[0].weight, plain[0].weight);
}

TEST(OCRServiceRegionsTest, NeedsMeaningfulLettersAndConfidence) {
    const std::vector<TextObservation> observations = {
        at("漢字", {100, 400, 50, 20}, 0.3F), // two ideographs at 0.3: kept
        at("12:45", {100, 500, 50, 20}, 1),   // a clock: no meaningful letters
        at("ok", {100, 600, 50, 20}, 0.2F),   // below 0.25
        at("Settings", {100, 20, 80, 20}, 1), // top 5 % of the screen
    };
    EXPECT_EQ(textsOf(OCRService::selectStructuredRegions(observations, {}, kW, kH, nullptr, nullptr, 100)),
              std::vector<std::string>{"漢字"});
}

TEST(OCRServiceRegionsTest, CentreFallbackOnlyAfterAtMostOneRegion) {
    const std::vector<TextObservation> central = {
        at("Weekly sync", {420, 480, 160, 20}),
        at("Roadmap review", {420, 520, 160, 20}),
        at("Budget draft", {420, 440, 160, 20}),
    };
    // A cap of 1 stops the main pass at one region; the centre pass then adds the best line by its
    // line score (the longest) and stops at the cap after it.
    EXPECT_EQ(textsOf(OCRService::selectStructuredRegions(central, {}, kW, kH, nullptr, nullptr, 1)),
              (std::vector<std::string>{"Weekly sync", "Roadmap review"}));
    // Two regions from the main pass: no centre pass.
    EXPECT_EQ(OCRService::selectStructuredRegions(central, {}, kW, kH, nullptr, nullptr, 2).size(), 2U);
    // A cap of 0 still lets one record through in each pass.
    EXPECT_EQ(OCRService::selectStructuredRegions(central, {}, kW, kH, nullptr, nullptr, 0).size(), 2U);
}

TEST(OCRServiceRegionsTest, SameTextTwiceIsOneRegionAndTheCapHolds) {
    std::vector<TextObservation> observations = {at("Search files", {100, 300, 100, 20}),
                                                 at("Search files", {700, 800, 100, 20})};
    EXPECT_EQ(OCRService::selectStructuredRegions(observations, {}, kW, kH, nullptr, nullptr, 100).size(),
              1U);

    std::vector<TextObservation> many;
    for (int i = 0; i < 150; ++i) {
        // Distinct texts with no shared letter pairs and separate boxes.
        std::string text = "Item";
        text += static_cast<char>('A' + i % 26);
        text += static_cast<char>('a' + i / 26);
        text += std::to_string(i * 7919);
        many.push_back(
            at(text, {static_cast<double>(i % 10) * 90, 60 + static_cast<double>(i / 10) * 60, 80, 20}));
    }
    const auto regions = OCRService::selectStructuredRegions(many, {}, kW, kH, nullptr, nullptr, 100);
    EXPECT_EQ(regions.size(), 100U);
}

TEST(OCRServiceRegionsTest, LabelsPositionAndSize) {
    struct Case {
        PixelRect box;
        std::string position;
        std::string size;
    };
    const Case cases[] = {
        {{100, 320, 100, 20}, "center", "small"}, // centre at 33 %
        {{100, 319, 100, 20}, "top", "small"},    // centre at 32.9 %
        {{100, 700, 100, 20}, "bottom", "small"},
        {{100, 500, 200, 100}, "center", "medium"}, // area ratio 0.02
        {{100, 500, 400, 200}, "center", "large"},  // exactly 0.08
    };
    for (const Case& c : cases) {
        const auto regions = OCRService::selectStructuredRegions({at("Document title", c.box)}, {}, kW, kH,
                                                                 nullptr, nullptr, 100);
        ASSERT_EQ(regions.size(), 1U);
        EXPECT_EQ(regions[0].position, c.position) << c.box.y;
        EXPECT_EQ(regions[0].size, c.size) << c.box.width;
    }
}

TEST(OCRServiceRegionsTest, EmptyScreenGivesNothing) {
    EXPECT_TRUE(OCRService::selectStructuredRegions({at("Hello there", {0, 500, 10, 10})}, {}, 0, 0, nullptr,
                                                    nullptr, 100)
                    .empty());
}

TEST(OCRServiceRegionsTest, RegionJson) {
    const StructuredTextRegion region{.text = "Inbox", .weight = 0.5, .position = "top", .size = "small"};
    const platform::Json json = region;
    EXPECT_EQ(platform::toCompactJson(json),
              R"({"position":"top","size":"small","text":"Inbox","weight":0.5})");
    EXPECT_EQ(json.get<StructuredTextRegion>(), region);
    platform::Json lacking = json;
    lacking.erase("size");
    EXPECT_THROW((void)lacking.get<StructuredTextRegion>(), platform::JsonDecodeError);
    platform::Json wrongType = json;
    wrongType["weight"] = "heavy";
    EXPECT_THROW((void)wrongType.get<StructuredTextRegion>(), platform::JsonDecodeError);
}

TEST(OCRServiceSaliencyTest, FindsWhatStandsOutOfAFlatScreen) {
    platform::RgbImage image{480, 270, std::vector<std::uint8_t>(480 * 270 * 3, 235)};
    for (int y = 100; y < 160; ++y)
        for (int x = 300; x < 420; ++x)
            image.pixel(x, y)[0] = image.pixel(x, y)[1] = image.pixel(x, y)[2] = 20;
    const auto regions = OCRService::extractSalientRegions(image, 20);
    ASSERT_FALSE(regions.empty());
    EXPECT_LE(regions.size(), 20U);
    const SalientRegion& top = regions.front();
    EXPECT_TRUE(top.boundingBox.contains(360, 130));
    EXPECT_GT(top.saliencyScore, 0.0F);
    EXPECT_LE(top.saliencyScore, 1.0F);
    EXPECT_TRUE(OCRService::extractSalientRegions(image, 0).empty());
    platform::RgbImage flat{100, 100, std::vector<std::uint8_t>(100 * 100 * 3, 128)};
    EXPECT_TRUE(OCRService::extractSalientRegions(flat, 20).empty());
}

} // namespace
} // namespace velnote
