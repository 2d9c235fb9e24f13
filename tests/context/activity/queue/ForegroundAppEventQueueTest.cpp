#include "context/activity/queue/ForegroundAppEventQueue.h"

#include "platform/fs/Files.h"
#include "platform/logging/Logger.h"
#include "support/ActivityFakes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using platform::Json;

// Regions the test sets per call; counts the calls.
class ScriptedSource final : public StructuredTextRegionSource {
  public:
    std::pair<std::vector<StructuredTextRegion>, int>
    extractStructuredTextRegions(const platform::RgbImage&, const platform::RgbImage* current,
                                 const platform::RgbImage* previous, int, int, std::stop_token) override {
        ++calls;
        sawCurrent = current != nullptr;
        sawPrevious = previous != nullptr;
        if (fail) {
            throw std::runtime_error("recogniser crashed");
        }
        return {next, 2};
    }
    std::vector<StructuredTextRegion> next{
        {.text = "Quarterly plan", .weight = 0.5, .position = "top", .size = "large"}};
    bool fail = false;
    int calls = 0;
    bool sawCurrent = false;
    bool sawPrevious = false;
};

platform::RgbImage screenshot(int width = 8, int height = 4) {
    return {.width = width,
            .height = height,
            .pixels = std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * 3), 90)};
}

class ForegroundAppEventQueueTest : public ::testing::Test {
  protected:
    using Request = ForegroundAppEventQueue::EnqueueRequest;

    void SetUp() override { makeQueue(dir.path()); }
    void makeQueue(const std::filesystem::path& folder) {
        auto inference = std::make_shared<ScreenInference>(ScreenInference::Dependencies{
            .ocr = source, .model = [this](const std::string&, const std::string&, std::stop_token) {
                ++modelCalls;
                return reply;
            }});
        queue = std::make_unique<ForegroundAppEventQueue>(
            folder / "foreground_app_log.jsonl", folder / "activity_state.json",
            folder / "activity_log.jsonl",
            ForegroundAppEventQueue::Dependencies{.inference = inference,
                                                  .engine = {.embeddings = &embeddings,
                                                             .intents = &intents,
                                                             .inferenceExecutor = &held,
                                                             .publish = [](auto) {}}});
    }

    Request request(std::optional<std::string> title = "Plan") {
        return {.appName = "Editor",
                .bundleID = "org.Example.Editor",
                .pid = 42,
                .windowTitle = std::move(title),
                .timestamp = "2025-01-31T09:15:00Z"};
    }
    Request withScreenshot(std::optional<std::string> title = "Plan") {
        Request r = request(std::move(title));
        r.screenshot = screenshot();
        return r;
    }
    Request throttled(std::optional<std::string> title = "Plan") {
        Request r = request(std::move(title));
        r.captureError = "analysis_throttled";
        return r;
    }

    std::vector<std::string> lines() {
        std::vector<std::string> out;
        const std::string text = platform::readFileIfPresent(dir / "foreground_app_log.jsonl").value_or("");
        for (std::size_t start = 0; start < text.size();) {
            const auto end = text.find('\n', start);
            out.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return out;
    }
    Json lastEvent() { return platform::parseJson(lines().back()); }

    testing::TempDir dir;
    std::shared_ptr<ScriptedSource> source = std::make_shared<ScriptedSource>();
    std::string reply =
        R"({"service":"Docs","screen_type":"editor","confidence":0.9,"description":"Editing the plan"})";
    int modelCalls = 0;
    testing::HeldExecutor held;
    ActivityIntentInferenceService intents{nullptr};
    DescriptionEmbeddingService embeddings{std::make_shared<SystemSentenceEmbeddingCatalog>()};
    std::unique_ptr<ForegroundAppEventQueue> queue;
};

TEST_F(ForegroundAppEventQueueTest, AnalysesAScreenshotAndWritesOneSortedLine) {
    queue->enqueue(withScreenshot("docs/plan ✓"));
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(
        lines()[0],
        R"({"app_name":"Editor","bundle_id":"org.Example.Editor","inference_skipped":false,)"
        R"("ocr_regions":[{"position":"top","size":"large","text":"Quarterly plan","weight":0.5}],"pid":42,)"
        R"("saliency_region_count":2,"timestamp":"2025-01-31T09:15:00Z","vision_inference":{"confidence":0.9,)"
        R"("description":"Editing the plan","screen_type":"editor","service":"Docs"},"window_title":"docs\/plan ✓"})");
    EXPECT_TRUE(source->sawCurrent);
    EXPECT_FALSE(source->sawPrevious);
    const auto open = queue->activityEngine()->activities().get();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].services, std::vector<std::string>{"Docs"});
}

TEST_F(ForegroundAppEventQueueTest, ReusesTheWindowsInferenceWhileItsTextHardlyChanges) {
    queue->enqueue(withScreenshot());
    source->next[0].text = "quarterly  PLAN"; // the same text
    queue->enqueue(withScreenshot(" PLAN ")); // the same window signature
    EXPECT_EQ(modelCalls, 1);
    EXPECT_TRUE(source->sawPrevious);
    Json event = lastEvent();
    EXPECT_EQ(event["inference_skipped"], true);
    EXPECT_EQ(event["region_similarity"], 1.0);
    EXPECT_EQ(event["ocr_regions"][0]["text"], "quarterly  PLAN");
    EXPECT_EQ(event["vision_inference"]["service"], "Docs");

    source->next[0].text = "Budget review";
    reply = R"({"service":"Docs","screen_type":"editor","confidence":0.8,"description":"Editing plan B"})";
    queue->enqueue(withScreenshot());
    EXPECT_EQ(modelCalls, 2);
    event = lastEvent();
    EXPECT_EQ(event["inference_skipped"], false);
    EXPECT_FALSE(event.contains("region_similarity"));
}

TEST_F(ForegroundAppEventQueueTest, ObservationsWithoutAScreenshotReuseOrSubstitute) {
    queue->enqueue(throttled());
    Json event = lastEvent();
    EXPECT_EQ(event["vision_inference"]["description"], "Screenshot unavailable");
    EXPECT_EQ(event["vision_inference"]["confidence"], 0);
    EXPECT_FALSE(event.contains("inference_skipped"));
    EXPECT_EQ(event["capture_error"], "analysis_throttled");

    queue->enqueue(withScreenshot());
    queue->enqueue(throttled());
    event = lastEvent();
    EXPECT_EQ(event["vision_inference"]["service"], "Docs");
    EXPECT_EQ(event["inference_skipped"], true);
    for (const char* key : {"ocr_regions", "saliency_region_count", "region_similarity"}) {
        EXPECT_FALSE(event.contains(key)) << key;
    }

    Request failed = request();
    failed.captureError = "sc_capture_failed";
    queue->enqueue(failed);
    EXPECT_EQ(lastEvent()["vision_inference"]["description"], "Screenshot unavailable");
    EXPECT_EQ(lastEvent()["capture_error"], "sc_capture_failed");

    Request untitled = request(std::nullopt);
    queue->enqueue(untitled);
    EXPECT_FALSE(lastEvent().contains("window_title"));
    EXPECT_EQ(modelCalls, 1);
}

TEST_F(ForegroundAppEventQueueTest, AFailedOCRIsLoggedAndCachedAsOCRTimedOut) {
    source->fail = true;
    platform::LogCapture logs;
    queue->enqueue(withScreenshot());
    EXPECT_TRUE(logs.contains("Foreground OCR stage timed out or failed: recogniser crashed"));
    Json event = lastEvent();
    EXPECT_EQ(event["vision_inference"]["description"], "OCR timed out");
    EXPECT_EQ(event["ocr_regions"], Json::array());
    EXPECT_EQ(event["saliency_region_count"], 0);
    EXPECT_EQ(event["inference_skipped"], false);
    EXPECT_EQ(modelCalls, 0);
    queue->enqueue(throttled()); // the failure inference is what the window has now
    EXPECT_EQ(lastEvent()["vision_inference"]["description"], "OCR timed out");
}

TEST_F(ForegroundAppEventQueueTest, AThumbnailThatCannotBeMadeIsNotCached) {
    Request empty = request();
    empty.screenshot = platform::RgbImage{};
    queue->enqueue(empty);
    EXPECT_FALSE(source->sawCurrent);
    queue->enqueue(empty);
    EXPECT_FALSE(source->sawPrevious);
}

TEST_F(ForegroundAppEventQueueTest, TheInferenceCacheForgetsTheFirstWindowInsertedFirst) {
    for (int i = 0; i <= 200; ++i) {
        queue->enqueue(withScreenshot("window " + std::to_string(i)));
    }
    queue->enqueue(throttled("window 0"));
    EXPECT_EQ(lastEvent()["vision_inference"]["description"], "Screenshot unavailable");
    queue->enqueue(throttled("window 1"));
    EXPECT_EQ(lastEvent()["vision_inference"]["description"], "Editing the plan");
}

TEST_F(ForegroundAppEventQueueTest, ARemovedLogIsStartedAgainAndAMissingFolderFailsEveryLine) {
    queue->enqueue(throttled());
    std::filesystem::remove(dir / "foreground_app_log.jsonl");
    queue->enqueue(throttled());
    EXPECT_EQ(lines().size(), 1u);

    makeQueue(dir / "gone");
    platform::LogCapture logs;
    queue->enqueue(withScreenshot());
    EXPECT_TRUE(logs.contains(
        "ForegroundAppEventQueue: Failed to write foreground app log: Unable to create log file at " +
        (dir / "gone" / "foreground_app_log.jsonl").string() + "."));
    EXPECT_EQ(queue->activityEngine()->activities().get().size(), 1u) << "the engine still gets the event";
}

TEST(WindowSignature, LowerCasesAndTrims) {
    EXPECT_EQ(windowSignature("Editor", "  Q3 Plan \n"), "editor|q3 plan");
    EXPECT_EQ(windowSignature("Editor", std::nullopt), "editor|");
}

} // namespace
} // namespace velnote
