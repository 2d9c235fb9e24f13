#include "context/activity/engine/ActivityEngine.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/fs/Files.h"
#include "platform/json/IsoDate.h"
#include "platform/logging/Logger.h"
#include "support/ActivityFakes.h"
#include "support/TempDir.h"

#include <cmath>
#include <gtest/gtest.h>
#include <mutex>

namespace velnote {
namespace {

using namespace std::chrono_literals;

const ActivityTime kBase = ActivityTime(*platform::parseIsoDate("2025-01-31T09:00:00Z"));

std::string at(double seconds) {
    return formatActivityTime(kBase + std::chrono::milliseconds(std::llround(seconds * 1000)));
}

std::string repeated(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

class ActivityEngineTest : public ::testing::Test {
  protected:
    struct Observation {
        double time = 0;
        std::string description = "Editing the plan";
        std::optional<std::string> service = "Docs";
        std::optional<std::string> screenType = "editor";
        std::string app = "Editor";
        std::string bundle = "org.example.editor";
        double confidence = 0.9;
    };

    void observe(const Observation& o) {
        engine
            ->process({.timestamp = at(o.time),
                       .appName = o.app,
                       .bundleID = o.bundle,
                       .windowTitle = std::nullopt,
                       .screenType = o.screenType,
                       .service = o.service,
                       .description = o.description,
                       .confidence = o.confidence})
            .get();
    }
    void observeRaw(ActivitySourceEvent event) { engine->process(std::move(event)).get(); }

    std::vector<ActivityState> open() { return engine->activities().get(); }
    // Lets the intent asks answer, and waits until the engine has taken the answers.
    std::size_t answerInferences() {
        const std::size_t count = inferences.runHeld();
        engine->activities().get();
        return count;
    }
    ActivityStateFile snapshot() {
        return platform::decode<ActivityStateFile>(
            platform::parseJson(platform::readFile(dir / "activity_state.json")));
    }
    std::vector<FinalizedActivityEntry> logged() {
        std::vector<FinalizedActivityEntry> out;
        const auto text = platform::readFileIfPresent(dir / "activity_log.jsonl").value_or("");
        for (std::size_t start = 0; start < text.size();) {
            const auto end = text.find('\n', start);
            out.push_back(platform::decode<FinalizedActivityEntry>(
                platform::parseJson(text.substr(start, end - start))));
            start = end + 1;
        }
        return out;
    }
    std::vector<std::optional<LiveActivityInfo>> publishedInfos() {
        std::lock_guard lock(mutex);
        return published;
    }

    // A description that embeds as the unit vector at `cosine` to (1, 0).
    std::string atCosine(double cosine) { return catalog->name({cosine, std::sqrt(1 - cosine * cosine)}); }
    std::string atAngle(double angle) { return catalog->name({std::cos(angle), std::sin(angle)}); }

    testing::TempDir dir;
    platform::ManualClock clock{platform::Clock::SteadyTime(24h), kBase};
    testing::HeldExecutor inferences; // the intent asks, run when the test says
    std::shared_ptr<testing::ScriptedModel> model = std::make_shared<testing::ScriptedModel>();
    ActivityIntentInferenceService intents{model};
    std::shared_ptr<testing::VectorCatalog> catalog = std::make_shared<testing::VectorCatalog>();
    DescriptionEmbeddingService embeddings{catalog};
    std::mutex mutex;
    std::vector<std::optional<LiveActivityInfo>> published;
    std::shared_ptr<ActivityEngine> engine =
        ActivityEngine::make(dir / "activity_state.json", dir / "activity_log.jsonl",
                             {.embeddings = &embeddings,
                              .intents = &intents,
                              .clock = &clock,
                              .inferenceExecutor = &inferences,
                              .publish = [this](std::optional<LiveActivityInfo> info) {
                                  std::lock_guard lock(mutex);
                                  published.push_back(std::move(info));
                              }});
};

TEST_F(ActivityEngineTest, IgnoresLowConfidenceBadTimesAndBlankDescriptionsWithoutATrace) {
    observe({.confidence = 0.59});
    observe({.confidence = std::nan("")});
    observe({.description = " \n\t "});
    observeRaw({.timestamp = "2025-01-31 09:00:00", .description = "x", .confidence = 1});
    EXPECT_TRUE(open().empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "activity_state.json"));

    observe({.time = 1, .confidence = 0.6});
    observeRaw({.timestamp = "2025-01-31T09:00:05Z",
                .appName = "Other",
                .bundleID = "b",
                .description = "vec:0,1",
                .confidence = 1});
    const auto activities = open();
    ASSERT_EQ(activities.size(), 2u);
    EXPECT_EQ(activities[0].id, "act_000001");
    EXPECT_EQ(activities[0].eventCount, 1);
    EXPECT_EQ(activities[1].id, "act_000002");
    EXPECT_EQ(activities[1].startTime, kBase + 5s);
    const auto ring = engine->ringBuffer().get();
    ASSERT_EQ(ring.size(), 2u);
    EXPECT_EQ(ring[0].eventID, "e00000001"); // ignored events take no number
    EXPECT_EQ(ring[1].eventID, "e00000002");
}

TEST_F(ActivityEngineTest, JoinsSimilarObservationsAndSplitsDifferentOnes) {
    observe({.time = 0});
    observe({.time = 10,
             .description = atCosine(0.8),
             .service = "Other",
             .screenType = "chat",
             .app = "Chat",
             .bundle = "org.example.chat"});
    observe({.time = 20, .description = "vec:0,1"});
    const auto activities = open();
    ASSERT_EQ(activities.size(), 2u);
    EXPECT_EQ(activities[0].eventCount, 2);
    EXPECT_EQ(activities[0].appsUsed, (std::vector<std::string>{"org.example.editor", "org.example.chat"}));
    EXPECT_EQ(activities[0].appNames, (std::vector<std::string>{"editor", "chat"}));
    EXPECT_EQ(activities[0].services, (std::vector<std::string>{"Docs", "Other"}));
    EXPECT_EQ(activities[0].embeddingHistory.size(), 3u); // the first embedding twice, then the new one
    EXPECT_EQ(activities[1].eventCount, 1);
}

TEST_F(ActivityEngineTest, LargeActivitiesNeedCloserMatchesAndStrongMatchesLess) {
    struct Case {
        int events;
        double cosine;
        bool strong;
        bool joins;
    };
    // Half a thousandth either side of each threshold: 0.72, 0.77 from 31 events, 0.62 and 0.67 strong.
    const Case cases[] = {{30, 0.7205, false, true}, {30, 0.7195, false, false}, {31, 0.7695, false, false},
                          {31, 0.7705, false, true}, {30, 0.6205, true, true},   {30, 0.6195, true, false},
                          {31, 0.6705, true, true},  {31, 0.6695, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.events) + " events at " + std::to_string(c.cosine));
        engine = ActivityEngine::make(dir / "s.json", dir / "l.jsonl",
                                      {.embeddings = &embeddings,
                                       .intents = &intents,
                                       .clock = &clock,
                                       .inferenceExecutor = &inferences,
                                       .publish = [](auto) {}});
        for (int i = 0; i < c.events; ++i) {
            observe({.time = static_cast<double>(i)});
        }
        observe({.time = static_cast<double>(c.events),
                 .description = atCosine(c.cosine),
                 .service = c.strong ? "Docs" : "Mail"});
        EXPECT_EQ(open().size(), c.joins ? 1u : 2u);
    }
}

TEST_F(ActivityEngineTest, AServiceWithALineBreakIsNoMatchButIsStoredTrimmed) {
    observe({.time = 0});
    // Strong only if the service matched; at 0.65 only a strong match admits.
    observe({.time = 1, .description = atCosine(0.65), .service = "Docs\n"});
    ASSERT_EQ(open().size(), 2u);
    EXPECT_EQ(open()[1].services, std::vector<std::string>{"Docs"});
}

TEST_F(ActivityEngineTest, PausesAt120sFinishesAt300sAndLogsTheLastObservationTime) {
    observe({.time = 0, .service = "Docs", .screenType = "editor"});
    observe({.time = 30});
    observe({.time = 150, .description = "vec:0,1", .service = "Mail"});
    ASSERT_EQ(open().size(), 2u);
    EXPECT_EQ(open()[0].status, ActivityStatus::softFinalized); // idle for exactly 120 s
    observe({.time = 330, .description = "vec:0,1", .service = "Mail"});
    auto activities = open();
    ASSERT_EQ(activities.size(), 1u) << "idle for exactly 300 s finishes it";
    EXPECT_EQ(activities[0].id, "act_000002");

    const auto lines = logged();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], (FinalizedActivityEntry{.activityID = "act_000001",
                                                .startTime = "2025-01-31T09:00:00.000Z",
                                                .endTime = "2025-01-31T09:00:30.000Z",
                                                .durationSec = 30,
                                                .intent = "",
                                                .purpose = "Docs", // no answer yet: the fallback label
                                                .appsUsed = {"org.example.editor"},
                                                .services = {"Docs"},
                                                .screenTypes = {"editor"},
                                                .eventCount = 2}));
    for (const auto& entry : snapshot().currentActivities) {
        EXPECT_NE(entry.activityID, "act_000001");
    }
}

TEST_F(ActivityEngineTest, SoftFinalizedActivitiesAskForTheirIntentAndWakeOnANewObservation) {
    observe({.time = 0});
    observe({.time = 120, .description = "vec:0,1", .service = "Mail"});
    EXPECT_EQ(answerInferences(), 1u);
    auto first = open()[0];
    EXPECT_EQ(first.status, ActivityStatus::softFinalized);
    EXPECT_TRUE(first.lastInferenceTime.has_value());
    EXPECT_EQ(first.intent, "coding");
    EXPECT_EQ(ActivityEngine::workStateString(first), "Paused");
    observe({.time = 125});
    EXPECT_EQ(open()[0].status, ActivityStatus::active);
}

TEST_F(ActivityEngineTest, AsksForTheIntentAfterFourEventsAndAgainOnlyAfter30sOrADrift) {
    // Observation times and the wall clock move together here, as they do in a recording.
    for (int i = 0; i < 3; ++i) {
        observe({.time = i * 10.0});
    }
    EXPECT_EQ(answerInferences(), 0u);
    clock.advance(35s);
    observe({.time = 30});
    EXPECT_EQ(answerInferences(), 1u);
    EXPECT_EQ(snapshot().currentActivities.at(0).intent, "coding");
    EXPECT_EQ(snapshot().currentActivities.at(0).purpose, "writing code");

    for (int i = 1; i <= 4; ++i) { // four new events within 30 s of the ask
        observe({.time = 30.0 + i});
    }
    EXPECT_EQ(answerInferences(), 0u);
    observe({.time = 64}); // 29 s after the ask
    EXPECT_EQ(answerInferences(), 0u);
    clock.advance(30s);
    observe({.time = 65});
    EXPECT_EQ(answerInferences(), 1u);

    // Within 30 s of that ask, events that keep turning the centre away trigger one soon.
    std::size_t asked = 0;
    for (int i = 1; i <= 12 && asked == 0; ++i) {
        const auto centre = open().at(0).centerEmbedding;
        const double angle = std::atan2(centre[1], centre[0]) + std::acos(0.7);
        observe({.time = 65.0 + i, .description = atAngle(angle)});
        asked = answerInferences();
        ASSERT_EQ(open().size(), 1u);
    }
    EXPECT_EQ(asked, 1u);
}

TEST_F(ActivityEngineTest, KeepsBoundedHistoriesAndTheSnapshotShowsTheLastFiveDescriptions) {
    for (int i = 1; i <= 21; ++i) {
        observe({.time = i * 3.0, .description = "step " + std::to_string(i)});
    }
    const auto activity = open().at(0);
    EXPECT_EQ(activity.descriptions.size(), 20u);
    EXPECT_EQ(activity.descriptions.front(), "step 2");
    EXPECT_EQ(activity.embeddingHistory.size(), 12u);
    EXPECT_EQ(snapshot().currentActivities.at(0).descriptions,
              (std::vector<std::string>{"step 17", "step 18", "step 19", "step 20", "step 21"}));

    for (int i = 0; i < 85; ++i) {
        observe({.time = 70.0 + i});
    }
    const auto ring = engine->ringBuffer().get();
    ASSERT_EQ(ring.size(), 100u);
    EXPECT_EQ(ring.front().eventID, "e00000007");
}

TEST_F(ActivityEngineTest, DebouncesUnforcedSnapshotsByObservationTime) {
    observe({.time = 0, .description = "vec:1,0"});
    observe({.time = 1.9, .description = "vec:0,1"});
    EXPECT_EQ(snapshot().updatedAt, at(0));
    EXPECT_EQ(snapshot().currentActivities.size(), 1u);
    observe({.time = 2.0, .description = "vec:0,1"});
    EXPECT_EQ(snapshot().updatedAt, at(2.0));
    EXPECT_EQ(snapshot().currentActivities.size(), 2u);
    EXPECT_EQ(publishedInfos().size(), 2u);
}

TEST_F(ActivityEngineTest, FlushLogsEveryOpenActivityAndClearsTheCurrentOne) {
    observe({.time = 0});
    observe({.time = 10, .description = "vec:0,1", .service = "Mail"});
    clock.advance(1h);
    engine->flush(true).get();
    const auto lines = logged();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].activityID, "act_000001");
    EXPECT_EQ(lines[1].activityID, "act_000002");
    const auto state = snapshot();
    EXPECT_TRUE(state.currentActivities.empty());
    EXPECT_EQ(state.updatedAt, formatActivityTime(kBase + 1h));
    ASSERT_FALSE(publishedInfos().empty());
    EXPECT_FALSE(publishedInfos().back().has_value());
    EXPECT_TRUE(open().empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "activity_state.json.tmp"));
}

TEST_F(ActivityEngineTest, WritesCompactSortedLinesWithEscapedSlashes) {
    observe({.time = 0, .service = "docs/site", .screenType = "editor"});
    engine->flush(true).get();
    EXPECT_EQ(
        platform::readFile(dir / "activity_log.jsonl"),
        R"({"activity_id":"act_000001","apps_used":["org.example.editor"],"duration_sec":0,)"
        R"("end_time":"2025-01-31T09:00:00.000Z","event_count":1,"intent":"","purpose":"docs\/site",)"
        R"("screen_types":["editor"],"services":["docs\/site"],"start_time":"2025-01-31T09:00:00.000Z"})"
        "\n");
    EXPECT_EQ(platform::readFile(dir / "activity_state.json"),
              R"({"current_activities":[],"updated_at":"2025-01-31T09:00:00.000Z","version":1})");
}

TEST_F(ActivityEngineTest, ALogThatCannotBeWrittenIsReportedAndTrackingGoesOn) {
    std::filesystem::create_directory(dir / "activity_log.jsonl"); // a folder where the file should be
    observe({.time = 0});
    platform::LogCapture logs;
    engine->flush(true).get();
    EXPECT_TRUE(logs.contains("ActivityEngine: Failed to write activity log: "));
    EXPECT_TRUE(open().empty());
    EXPECT_TRUE(snapshot().currentActivities.empty());
}

TEST(ActivityEngineRules, SemanticDescriptionDropsIdentifiersAndJoinsTheParts) {
    struct Case {
        std::string description;
        std::optional<std::string> service;
        std::optional<std::string> screenType;
        std::string expected;
    };
    const Case cases[] = {
        {"Reading https://example.com/a?b=1 now", "Browser", "browser", "Reading now | Browser | browser"},
        {"Commit 3f9a0c1d2e4b in repo", std::nullopt, std::nullopt, "Commit in repo"},
        {"Mail to someone@example.org", " Mail\t", "", "Mail to | Mail"},
        {"Open /home/user/project/main.cpp", std::nullopt, "editor", "Open | editor"},
        {"line one\nline\ttwo", std::nullopt, std::nullopt, "line one line two"},
        {repeated("あ", 200), std::nullopt, std::nullopt, repeated("あ", 160)},
        {std::string(40, 'x') + " left", std::nullopt, std::nullopt, "left"}, // a base64-like run
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(ActivityEngine::semanticDescription(c.description, c.service, c.screenType), c.expected);
    }
}

TEST(ActivityEngineRules, WeightedCentroidDecaysOlderRowsAndSkipsOtherLengths) {
    EXPECT_TRUE(ActivityEngine::weightedCentroid({}).empty());
    const auto centre = ActivityEngine::weightedCentroid({{1, 0}, {1, 2, 3}, {0, 1}});
    const double w = 0.92 * 0.92; // the third row's weight: the skipped row still counts a position
    EXPECT_NEAR(centre[0], 1 / std::sqrt(1 + w * w), 1e-12);
    EXPECT_NEAR(centre[1], w / std::sqrt(1 + w * w), 1e-12);
}

TEST(ActivityEngineRules, CurrentActivityTellsMinutesAndWorkState) {
    struct Case {
        double spanSeconds;
        std::int64_t events;
        std::string intent;
        std::string summary;
        std::string workState;
    };
    const Case cases[] = {
        {0, 1, "coding", "coding / 1 min", "Working"},   {89, 2, "coding", "coding / 1 min", "Working"},
        {90, 2, "coding", "coding / 2 min", "Working"},  {120, 6, "coding", "coding / 2 min", "Focused"},
        {120, 5, "coding", "coding / 2 min", "Working"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.summary);
        ActivityState activity{.id = "act_000001",
                               .startTime = kBase,
                               .lastUpdateTime =
                                   kBase + std::chrono::milliseconds(std::llround(c.spanSeconds * 1000)),
                               .eventCount = c.events,
                               .intent = c.intent};
        const auto info = ActivityEngine::latestActivityInfo({{activity.id, activity}});
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(info->summary, c.summary);
        EXPECT_EQ(info->workState, c.workState);
    }
    ActivityState noIntent{
        .id = "act_000002", .startTime = kBase, .lastUpdateTime = kBase, .services = {"Docs"}};
    const auto info = ActivityEngine::latestActivityInfo({{noIntent.id, noIntent}});
    EXPECT_EQ(info->purpose, "Docs");
    EXPECT_EQ(info->summary, "from " + formatLocalHourMinute(kBase) + " for 1 min");
    EXPECT_FALSE(ActivityEngine::latestActivityInfo({}).has_value());
}

} // namespace
} // namespace velnote
