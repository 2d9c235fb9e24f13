#include "context/activity/monitor/DefaultForegroundAppSessionMonitor.h"

#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/StoppableSleep.h"
#include "platform/fs/Files.h"
#include "platform/logging/Logger.h"
#include "support/ActivityFakes.h"
#include "support/TempDir.h"

#include <deque>
#include <gtest/gtest.h>
#include <thread>

namespace velnote {
namespace {

using namespace std::chrono_literals;
using platform::Json;

class FakeWorkspace final : public ForegroundWorkspace {
  public:
    std::optional<RunningApplication> frontmostApplication() override { return front; }
    platform::ObserverToken
    observeActivation(std::function<void(std::optional<RunningApplication>)> changed) override {
        activated = std::move(changed);
        return platform::ObserverToken([this] { activated = nullptr; });
    }
    std::optional<RunningApplication> front;
    std::function<void(std::optional<RunningApplication>)> activated;
};

// Titles in the order the test queues them (the last one repeats); a grey screenshot.
class FakeWindows final : public FrontWindowAccess {
  public:
    std::optional<std::string> getFrontWindowTitle(std::int64_t) override {
        std::lock_guard lock(mutex);
        ++titleReads;
        if (titles.size() > 1) {
            auto title = titles.front();
            titles.pop_front();
            return title;
        }
        return titles.empty() ? std::nullopt : titles.front();
    }
    std::optional<platform::DesktopRect> getFrontWindowRect(std::int64_t) override { return std::nullopt; }
    CaptureAttempt captureFrontWindowImageWithReason(std::int64_t) override {
        ++captures;
        return {.image = platform::RgbImage{
                    .width = 4, .height = 4, .pixels = std::vector<std::uint8_t>(48, 100)}};
    }
    std::mutex mutex;
    std::deque<std::optional<std::string>> titles{std::optional<std::string>("Plan")};
    int titleReads = 0;
    std::atomic<int> captures = 0;
};

class NoRegions final : public StructuredTextRegionSource {
  public:
    std::pair<std::vector<StructuredTextRegion>, int>
    extractStructuredTextRegions(const platform::RgbImage&, const platform::RgbImage*,
                                 const platform::RgbImage*, int, int, std::stop_token) override {
        return {{}, 0};
    }
};

class ForegroundMonitorTest : public ::testing::Test {
  protected:
    void setTitles(std::initializer_list<std::optional<std::string>> titles) {
        std::lock_guard lock(windows->mutex);
        windows->titles.assign(titles.begin(), titles.end());
    }
    void observe(const RunningApplication& app = editor) {
        monitor->logForegroundAppChange(app);
        monitor->waitForAnalysis();
    }
    std::vector<Json> events() {
        std::vector<Json> out;
        const std::string text = platform::readFileIfPresent(dir / "foreground_app_log.jsonl").value_or("");
        for (std::size_t start = 0; start < text.size();) {
            const auto end = text.find('\n', start);
            out.push_back(platform::parseJson(text.substr(start, end - start)));
            start = end + 1;
        }
        return out;
    }

    static inline const RunningApplication editor{.pid = 7,
                                                  .name = "Editor",
                                                  .bundleIdentifier = "org.example.editor",
                                                  .bundlePath = "/usr/bin/editor"};

    testing::TempDir dir;
    platform::ManualClock clock;
    platform::TimerScheduler timers{clock};
    platform::MainDispatcher main;
    platform::SerialExecutor analyses;
    testing::HeldExecutor inferences;
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<FakeWindows> windows = std::make_shared<FakeWindows>();
    std::atomic<int> modelCalls = 0;
    std::function<std::string(std::stop_token)> answer = [](std::stop_token) {
        return std::string(R"({"service":"Docs","screen_type":"editor","confidence":0.9,)"
                           R"("description":"Editing the plan"})");
    };
    ActivityIntentInferenceService intents{nullptr};
    DescriptionEmbeddingService embeddings{std::make_shared<SystemSentenceEmbeddingCatalog>()};
    std::shared_ptr<DefaultForegroundAppSessionMonitor> monitor = DefaultForegroundAppSessionMonitor::make(
        dir.path(), {.workspace = workspace,
                     .windows = windows,
                     .queue = {.inference = std::make_shared<ScreenInference>(ScreenInference::Dependencies{
                                   .ocr = std::make_shared<NoRegions>(),
                                   .model =
                                       [this](const std::string&, const std::string&, std::stop_token stop) {
                                           ++modelCalls;
                                           return answer(stop);
                                       },
                                   .timers = &timers}),
                               .engine = {.embeddings = &embeddings,
                                          .intents = &intents,
                                          .clock = &clock,
                                          .inferenceExecutor = &inferences,
                                          .publish = [](auto) {}}},
                     .clock = &clock,
                     .timers = &timers,
                     .main = &main,
                     .analysisExecutor = &analyses});
};

TEST_F(ForegroundMonitorTest, LogsAnUnchangedWindowAgainOnlyAfterTenSeconds) {
    observe();
    clock.advance(4s);
    observe();
    EXPECT_EQ(events().size(), 1u);
    clock.advance(6s);
    observe();
    ASSERT_EQ(events().size(), 2u);
    const Json first = events()[0];
    EXPECT_EQ(first["app_name"], "Editor");
    EXPECT_EQ(first["bundle_id"], "org.example.editor");
    EXPECT_EQ(first["pid"], 7);
    EXPECT_EQ(first["window_title"], "Plan");
    EXPECT_EQ(first["timestamp"], "2024-01-01T00:00:00Z");
    EXPECT_EQ(first["vision_inference"]["service"], "Docs");
    EXPECT_EQ(events()[1]["timestamp"], "2024-01-01T00:00:10Z");
}

TEST_F(ForegroundMonitorTest, AChangedTitleIsLoggedAtOnceButTheSameSignatureIsThrottled) {
    observe();
    clock.advance(2s);
    setTitles({"  PLAN "}); // another title for logging, the same window for analysis
    observe();
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[1]["capture_error"], "analysis_throttled");
    EXPECT_EQ(events()[1]["inference_skipped"], true);
    EXPECT_EQ(windows->captures, 1);

    // A new window within a second of a grant is throttled too.
    clock.advance(15s);
    setTitles({"Budget"});
    observe();
    clock.advance(500ms);
    setTitles({"Mail"});
    observe();
    EXPECT_EQ(events()[3]["capture_error"], "analysis_throttled");
    EXPECT_EQ(events()[3]["vision_inference"]["description"], "Screenshot unavailable");
    EXPECT_EQ(windows->captures, 2);
}

TEST_F(ForegroundMonitorTest, ATitleThatAppearsAfter120MillisecondsIsUsed) {
    setTitles({std::nullopt, "Late title"});
    monitor->logForegroundAppChange(editor);
    std::jthread mover([this] {
        while (windows->captures == 0) {
            clock.advance(10ms);
            std::this_thread::sleep_for(1ms);
        }
    });
    monitor->waitForAnalysis();
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(events()[0]["window_title"], "Late title");
    // The logging bookkeeping kept the absent title, so the titled window logs again at once.
    mover.join();
    observe();
    EXPECT_EQ(events().size(), 2u);
}

TEST_F(ForegroundMonitorTest, AnApplicationThatTellsNothingIsUnknown) {
    setTitles({std::nullopt});
    monitor->logForegroundAppChange(RunningApplication{.pid = 9, .name = ""});
    std::jthread mover([this] {
        while (windows->captures == 0) {
            clock.advance(10ms);
            std::this_thread::sleep_for(1ms);
        }
    });
    monitor->waitForAnalysis();
    mover.join();
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(events()[0]["bundle_id"], "unknown");
    EXPECT_EQ(events()[0]["app_name"], "Unknown");
    EXPECT_FALSE(events()[0].contains("window_title"));
    setTitles({"Tool window"});
    observe(RunningApplication{.pid = 9, .name = "", .bundlePath = "/opt/Tool.app"});
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[1]["app_name"], "Tool"); // the installed file's name without its extension
    EXPECT_FALSE(monitor->throttle().isHeavyAnalysisInFlight());
}

TEST_F(ForegroundMonitorTest, PollsEveryFiveSecondsAndFollowsActivations) {
    workspace->front = editor;
    monitor->subscribeToAppActivation();
    monitor->startPolling();
    clock.advance(5s);
    main.runPending();
    monitor->waitForAnalysis();
    EXPECT_EQ(events().size(), 1u);

    platform::LogCapture logs;
    workspace->activated(std::nullopt);
    EXPECT_TRUE(
        logs.contains("ForegroundAppSessionMonitor: Activation notification missing application info."));
    setTitles({"Inbox"});
    workspace->activated(RunningApplication{.pid = 8, .name = "Mail", .bundleIdentifier = "mail"});
    EXPECT_EQ(events().size(), 1u) << "the handler hops to the main thread";
    main.runPending();
    monitor->waitForAnalysis();
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[1]["app_name"], "Mail");
}

TEST_F(ForegroundMonitorTest, StopEndsEverythingAndFlushesTheActivities) {
    workspace->front = editor;
    monitor->subscribeToAppActivation();
    monitor->startPolling();
    observe();
    monitor->stop().get();
    EXPECT_FALSE(workspace->activated);
    const Json state = platform::parseJson(platform::readFile(dir / "activity_state.json"));
    EXPECT_EQ(state["current_activities"], Json::array());
    EXPECT_NE(platform::readFileIfPresent(dir / "activity_log.jsonl").value_or("").find("act_000001"),
              std::string::npos);
    clock.advance(10s);
    main.runPending();
    monitor->logForegroundAppChange(editor);
    monitor->waitForAnalysis();
    EXPECT_EQ(events().size(), 1u) << "a stopped monitor observes nothing";
}

TEST_F(ForegroundMonitorTest, ANewerObservationOrStopCutsALongAnalysisShortAndItIsStillLogged) {
    answer = [](std::stop_token stop) {
        platform::ManualClock never;
        platform::sleepUntil(never, never.now() + 24h, stop);
        return std::string("{}");
    };
    auto untilModelCall = [this](int n) {
        while (modelCalls < n) {
            std::this_thread::sleep_for(1ms);
        }
    };
    monitor->logForegroundAppChange(editor);
    untilModelCall(1);
    clock.advance(4s);
    observe(); // the next poll: the window is unchanged, so only the cancel shows
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(events()[0]["vision_inference"]["description"], "Inference failed: the task was cancelled");
    EXPECT_FALSE(monitor->throttle().isHeavyAnalysisInFlight());

    clock.advance(20s);
    setTitles({"Budget"});
    monitor->logForegroundAppChange(editor);
    untilModelCall(2);
    monitor->stop().get();
    ASSERT_EQ(events().size(), 2u) << "stop waits for the analysis it cuts short";
    EXPECT_EQ(events()[1]["window_title"], "Budget");
}

TEST_F(ForegroundMonitorTest, StopWithNothingStartedStillFlushes) {
    monitor->stop().get();
    EXPECT_TRUE(std::filesystem::exists(dir / "activity_state.json"));
}

TEST(ForegroundAnalysisThrottle, GrantsAtMostOneAnalysisAtATimePerSecondAndPerWindow) {
    ForegroundAnalysisThrottle throttle;
    const auto t0 = platform::Clock::SteadyTime(24h);
    EXPECT_TRUE(throttle.shouldRunHeavyAnalysis("App", "Doc", t0));
    EXPECT_FALSE(throttle.shouldRunHeavyAnalysis("Other", "Doc", t0 + 2s)) << "one in flight";
    throttle.setHeavyAnalysisInFlight(false);
    EXPECT_FALSE(throttle.shouldRunHeavyAnalysis("Other", "x", t0 + 999ms));
    EXPECT_FALSE(throttle.shouldRunHeavyAnalysis("app", " doc ", t0 + 14s)) << "same signature within 15 s";
    EXPECT_TRUE(throttle.shouldRunHeavyAnalysis("app", " doc ", t0 + 15s));
    throttle.setHeavyAnalysisInFlight(false);
    EXPECT_TRUE(throttle.shouldRunHeavyAnalysis("Other", std::nullopt, t0 + 40s));
    EXPECT_EQ(throttle.rememberedSignatures(), 1u) << "older signatures are pruned";
}

TEST(ForegroundAnalysisThrottle, LogsTheSameWindowAgainAfterTenSeconds) {
    ForegroundAnalysisThrottle throttle;
    const auto t0 = platform::Clock::SteadyTime(24h);
    EXPECT_TRUE(throttle.shouldLog("app", "Doc", t0));
    EXPECT_FALSE(throttle.shouldLog("app", "Doc", t0 + 9s));
    EXPECT_TRUE(throttle.shouldLog("app", "Doc ", t0 + 9s)) << "titles compare exactly";
    EXPECT_TRUE(throttle.shouldLog("app", std::nullopt, t0 + 9s));
    EXPECT_FALSE(throttle.shouldLog("app", std::nullopt, t0 + 10s));
    EXPECT_TRUE(throttle.shouldLog("app", std::nullopt, t0 + 19s));
}

} // namespace
} // namespace velnote
