#include "context/activity/inference/ScreenInference.h"

#include "context/activity/inference/OCRServiceTextRegions.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/StoppableSleep.h"
#include "platform/error/DomainError.h"
#include "platform/logging/Logger.h"

#include <atomic>
#include <gtest/gtest.h>
#include <limits>
#include <thread>

namespace velnote {
namespace {

using namespace std::chrono_literals;

std::vector<StructuredTextRegion> regions(std::initializer_list<const char*> texts) {
    std::vector<StructuredTextRegion> out;
    for (const char* text : texts) {
        out.push_back({.text = text, .weight = 1, .position = "center", .size = "small"});
    }
    return out;
}

TEST(ParseVisionInference, ReadsTheObjectLeniently) {
    struct Case {
        const char* reply;
        VisionInference expected;
    };
    const Case cases[] = {
        {"```json\n{\"service\":\"Docs\",\"screen_type\":\"editor\",\"entity\":\"plan.md\",\"confidence\":0."
         "8,"
         "\"description\":\"Editing\"}\n```",
         {"Docs", "editor", "plan.md", 0.8, "Editing"}},
        {"Here it is: {\"app\":\"Mail\",\"type\":\"inbox\",\"desc\":\"Reading\",\"confidence\":1.7} Thanks!",
         {"Mail", "inbox", std::nullopt, 1, "Reading"}},
        {R"({"service":3,"app":"Chat","screenType":"chat","confidence":-0.2})",
         {"Chat", "chat", std::nullopt, 0, ""}},
        {R"({"service":"S","confidence":"0.8","description":"d"})", {"S", "unknown", std::nullopt, 0, "d"}},
        // The outer object is not JSON with its prose, and nests too deep for the search, which
        // finds the inner object: the outer keys are lost.
        {R"(note {"service":"Outer","a":{"b":{"description":"deep"}}} end)",
         {"unknown", "unknown", std::nullopt, 0, ""}},
        {R"([{"service":"First","description":"one"},{"service":"Second"}])",
         {"First", "unknown", std::nullopt, 0, "one"}},
        {"{ not closed", {"unknown", "unknown", std::nullopt, 0, "Unable to parse inference result."}},
        {"no json here", {"unknown", "unknown", std::nullopt, 0, "Unable to parse inference result."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(parseVisionInference(c.reply), c.expected);
    }
}

TEST(ParseVisionInference, LogsAnObjectThatIsNoJSON) {
    platform::LogCapture logs;
    EXPECT_EQ(parseVisionInference("x {service: bare} y").description, "Unable to parse inference result.");
    EXPECT_TRUE(logs.contains("parseVisionInference: failed to parse JSON: "));
}

TEST(RegionSimilarity, ComparesCharacterPairsIgnoringCaseAndSpacing) {
    EXPECT_EQ(regionTextSimilarity("a b c", "abc"), 1);
    EXPECT_EQ(regionTextSimilarity("a", "a"), 1);
    EXPECT_EQ(regionTextSimilarity("a", "b"), 0);
    EXPECT_EQ(regionTextSimilarity("abcd", "abce"), 0.5);
    EXPECT_EQ(regionTextSimilarity("会議資料", "会議資料"), 1);
    EXPECT_EQ(regionSimilarityBetween(regions({"Quarterly  PLAN", "Budget"}),
                                      regions({"quarterly plan", " budget "})),
              1);
    EXPECT_EQ(regionSimilarityBetween({}, regions({"x"})), 0);
    EXPECT_EQ(regionSimilarityBetween(regions({" ", ""}), regions({" "})), 0);
    // Only the first ten regions count.
    auto many = regions({"a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "a9", "a0"});
    auto more = many;
    more.push_back({.text = "entirely different", .weight = 1, .position = "top", .size = "small"});
    EXPECT_EQ(regionSimilarityBetween(many, more), 1);
}

TEST(VisionPrompt, SendsTheTitleTwiceAndTheFirstTenTexts) {
    auto twelve = regions({"t1", "t2", "t3", "t4", "t5", "t6", "t7", "t8", "t9", "t10", "t11", "t12"});
    const auto input = platform::parseJson(makeVisionInput("  docs/plan \n", twelve));
    EXPECT_EQ(input["app"], "docs/plan");
    EXPECT_EQ(input["window_title"], "docs/plan");
    EXPECT_EQ(input["top_texts"].size(), 10u);
    EXPECT_NE(makeVisionInput("docs/plan", {}).find("docs/plan"), std::string::npos)
        << "no \\/ in the prompt";
    EXPECT_EQ(platform::parseJson(makeVisionInput("   ", {}))["app"], "Unknown");
    EXPECT_EQ(platform::parseJson(makeVisionInput(std::nullopt, {}))["window_title"], "Unknown");

    const std::string prompt = makeVisionPrompt("Plan", {});
    EXPECT_EQ(
        prompt.rfind(
            "From the following screen information, identify the app/service and screen type.\nInput: {", 0),
        0u);
    EXPECT_NE(prompt.find("- confidence: 0.0-1.0\n- description: provide a detailed description"),
              std::string::npos);
    EXPECT_EQ(prompt.substr(prompt.size() - 31), "\n\nDo not output any other text.");
}

// The screenshots' OCR service as the screen inference reads it: like the real one it answers a
// stop with no regions rather than an error.
class RecordingOCR final : public VisionOCRServiceProtocol {
  public:
    std::vector<OCRResult> extractImportantTextWithVision(const platform::RgbImage&,
                                                          const platform::RgbImage*,
                                                          const platform::RgbImage*, std::int64_t,
                                                          const std::vector<std::string>&,
                                                          const std::stop_token&) override {
        return {};
    }
    std::string recognizeTextOnEntireImage(const platform::RgbImage&, const std::vector<std::string>&,
                                           const std::stop_token&) override {
        return {};
    }
    std::pair<std::vector<StructuredTextRegion>, std::int64_t>
    extractStructuredTextRegions(const platform::RgbImage&, const platform::RgbImage* current,
                                 const platform::RgbImage* previous, std::int64_t maxRegions,
                                 std::int64_t saliencyTopK, const std::stop_token& stop) override {
        limits = {maxRegions, saliencyTopK};
        thumbnails = {current, previous};
        if (stall) {
            started = true;
            platform::ManualClock never;
            platform::sleepUntil(never, never.now() + 24h, stop);
            return {};
        }
        return {regions({"Inbox", "Draft"}), salient};
    }
    std::pair<std::int64_t, std::int64_t> limits{};
    std::pair<const platform::RgbImage*, const platform::RgbImage*> thumbnails{};
    std::int64_t salient = 4;
    std::atomic<bool> stall = false;
    std::atomic<bool> started = false;
};

TEST(OCRServiceTextRegions, AsksTheScreenshotsOCRAndItsStopEndsInTheTimeout) {
    platform::ManualClock clock;
    platform::TimerScheduler timers{clock};
    const auto ocr = std::make_shared<RecordingOCR>();
    const ScreenInference inference(
        {.ocr = std::make_shared<OCRServiceTextRegions>(ocr),
         .model = [](const std::string&, const std::string&, std::stop_token) { return std::string("{}"); },
         .timers = &timers});
    const platform::RgbImage image{.width = 2, .height = 2, .pixels = std::vector<std::uint8_t>(12, 0)};
    const platform::RgbImage thumbnail = image;
    const auto [found, salient] = inference.fetchVisionOCR(image, &thumbnail, nullptr);
    EXPECT_EQ(found, regions({"Inbox", "Draft"}));
    EXPECT_EQ(salient, 4);
    EXPECT_EQ(ocr->limits, (std::pair<std::int64_t, std::int64_t>{100, 20}));
    EXPECT_EQ(ocr->thumbnails.first, &thumbnail);
    EXPECT_EQ(ocr->thumbnails.second, nullptr);

    ocr->salient = std::int64_t{1} << 40; // a count beyond int stays the largest int, never negative
    EXPECT_EQ(inference.fetchVisionOCR(image, nullptr, nullptr).second, std::numeric_limits<int>::max());

    ocr->stall = true;
    std::jthread mover([&] {
        while (!ocr->started) {
            std::this_thread::sleep_for(1ms);
        }
        clock.advance(15s);
    });
    EXPECT_THROW(inference.fetchVisionOCR(image, nullptr, nullptr), platform::DomainError);
}

class ScreenInferenceTest : public ::testing::Test {
  protected:
    class Source final : public StructuredTextRegionSource {
      public:
        std::pair<std::vector<StructuredTextRegion>, int>
        extractStructuredTextRegions(const platform::RgbImage&, const platform::RgbImage* current,
                                     const platform::RgbImage* previous, int maxRegions, int saliencyTopK,
                                     std::stop_token stop) override {
            EXPECT_EQ(maxRegions, 100);
            EXPECT_EQ(saliencyTopK, 20);
            hadThumbnails = current && previous;
            if (block) {
                started = true;
                platform::ManualClock never;
                platform::sleepUntil(never, never.now() + 24h, stop);
            }
            return {regions({"Hello"}), 3};
        }
        std::atomic<bool> block = false;
        std::atomic<bool> started = false;
        bool hadThumbnails = false;
    };

    // Moves the clock by `by` once the blocking work has started.
    std::jthread advanceWhenStarted(const std::atomic<bool>& started, platform::Clock::Duration by) {
        return std::jthread([this, &started, by] {
            while (!started) {
                std::this_thread::sleep_for(1ms);
            }
            clock.advance(by);
        });
    }

    platform::ManualClock clock;
    platform::TimerScheduler timers{clock};
    std::shared_ptr<Source> source = std::make_shared<Source>();
    std::atomic<bool> modelStarted = false;
    std::function<std::string(std::stop_token)> answer = [](std::stop_token) {
        return std::string(
            R"({"service":"Docs","screen_type":"editor","confidence":0.9,"description":"Editing"})");
    };
    ScreenInference inference{
        {.ocr = source,
         .model =
             [this](const std::string& system, const std::string& user, std::stop_token stop) {
                 EXPECT_EQ(system.rfind("You are an assistant that infers the screen type", 0), 0u);
                 EXPECT_NE(user.find("\"Hello\""), std::string::npos);
                 modelStarted = true;
                 return answer(stop);
             },
         .timers = &timers}};
};

TEST_F(ScreenInferenceTest, ReadsRegionsAndAsksTheModel) {
    const platform::RgbImage image{.width = 2, .height = 2, .pixels = std::vector<std::uint8_t>(12, 0)};
    const auto [found, salient] = inference.fetchVisionOCR(image, &image, &image);
    EXPECT_EQ(found, regions({"Hello"}));
    EXPECT_EQ(salient, 3);
    EXPECT_TRUE(source->hadThumbnails);
    const auto result = inference.fetchVisionLLMInference("Plan", found, salient);
    EXPECT_EQ(result.inference, (VisionInference{"Docs", "editor", std::nullopt, 0.9, "Editing"}));
    EXPECT_EQ(result.saliencyRegionCount, 3);
    EXPECT_FALSE(result.usedCachedInference);
    EXPECT_FALSE(result.regionSimilarity.has_value());
}

TEST_F(ScreenInferenceTest, TheOCRFailsWithTheTimeoutAfter15Seconds) {
    source->block = true;
    const platform::RgbImage image{.width = 1, .height = 1, .pixels = {0, 0, 0}};
    auto mover = advanceWhenStarted(source->started, 15s);
    try {
        inference.fetchVisionOCR(image, nullptr, nullptr);
        FAIL() << "no timeout";
    } catch (const platform::DomainError& e) {
        EXPECT_EQ(e.domain(), "ForegroundAppSessionMonitor");
        EXPECT_EQ(e.code(), 1);
        EXPECT_STREQ(e.what(), "Inference timeout");
    }
}

TEST_F(ScreenInferenceTest, AModelThatFailsTimesOutOrIsCancelledGivesTheFailureInference) {
    answer = [](std::stop_token) -> std::string { throw std::runtime_error("model missing"); };
    EXPECT_EQ(inference.fetchVisionLLMInference("Plan", regions({"Hello"}), 0).inference,
              (VisionInference{"unknown", "unknown", std::nullopt, 0, "Inference failed: model missing"}));

    answer = [](std::stop_token stop) {
        platform::ManualClock never;
        platform::sleepUntil(never, never.now() + 24h, stop);
        return std::string("{}");
    };
    // The failed call above already started the model: the clock may only move once this call's
    // limit is running.
    modelStarted = false;
    {
        auto mover = advanceWhenStarted(modelStarted, 45s);
        EXPECT_EQ(inference.fetchVisionLLMInference("Plan", regions({"Hello"}), 0).inference.description,
                  "Inference failed: timeout");
    }
    std::stop_source caller;
    caller.request_stop();
    EXPECT_EQ(inference.fetchVisionLLMInference("Plan", regions({"Hello"}), 0, caller.get_token())
                  .inference.description,
              "Inference failed: the task was cancelled");
}

} // namespace
} // namespace velnote
