#include "context/live/summary/LiveSummaryActor.h"

#include "platform/concurrency/ManualClock.h"
#include "platform/concurrency/ThreadPool.h"
#include "platform/flavor/BuildFlavor.h"
#include "platform/logging/Logger.h"
#include "platform/settings/SettingsStore.h"
#include "providers/support/FakeChatServer.h"
#include "session/config/PromptCatalog.h"
#include "support/LiveSummaryTestSupport.h"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>

namespace velnote {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::ThermalState;
using ::testing::HasSubstr;
using ::testing::Not;

class FakePowerStatus final : public platform::PowerStatus {
  public:
    bool isLowPowerModeEnabled() override { return false; }
    ThermalState thermalState() override { return thermal.load(); }
    std::atomic<ThermalState> thermal{ThermalState::nominal};
};

// A screen monitor that only answers the OCR lines and records from when they were asked.
class FakeScreenMonitor final : public ScreenCaptureMonitoring {
  public:
    explicit FakeScreenMonitor(std::string lines) : lines_(std::move(lines)) {}

    std::future<void> start() override { return done(); }
    std::future<void> stop() override { return done(); }
    std::future<void> updateDisplayID(std::uint32_t) override { return done(); }
    std::future<void> updateCaptureRegion(std::optional<ScreenRect>) override { return done(); }
    std::future<std::optional<fs::path>> captureManualScreenshotOCR() override {
        std::promise<std::optional<fs::path>> promise;
        promise.set_value(std::nullopt);
        return promise.get_future();
    }
    std::future<std::string> ocrContextJsonl(double sinceElapsedSeconds) override {
        {
            std::lock_guard lock(mutex_);
            asked_.push_back(sinceElapsedSeconds);
        }
        std::promise<std::string> promise;
        promise.set_value(lines_);
        return promise.get_future();
    }
    std::vector<double> asked() const {
        std::lock_guard lock(mutex_);
        return asked_;
    }

  private:
    static std::future<void> done() {
        std::promise<void> promise;
        promise.set_value();
        return promise.get_future();
    }

    std::string lines_;
    mutable std::mutex mutex_;
    std::vector<double> asked_;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class LiveSummaryActorTest : public ::testing::Test {
  protected:
    LiveSummaryActorTest() {
        appState.setSummarySectionVisible(true);
        fs::create_directories(sessionDir);
        actor = std::make_unique<LiveSummaryActor>(
            LiveSummaryActor::Environment{.clock = &clock,
                                          .mainDispatcher = &main,
                                          .appState = &appState,
                                          .power = &power,
                                          .generation = roads.environment(server),
                                          .afterPass = [this] {
                                              std::lock_guard lock(passMutex);
                                              ++passes;
                                              passEnded.notify_all();
                                          }});
    }
    ~LiveSummaryActorTest() override { actor.reset(); }

    SessionConfig config(std::function<void(SessionConfig&)> edit = {}) const {
        SessionConfig config;
        config.outputLanguage = "en";
        config.summary.localModel = "qwen2.5-7b-instruct-mlx-4bit";
        config.liveSummary = {.enabled = true,
                              .intervalMinutes = 5,
                              .provider = "local",
                              .prompt = "summarise the meeting",
                              .modelPath = roads.modelFile.string(),
                              .providerModel = std::nullopt,
                              .providerBaseURL = std::nullopt};
        if (edit) {
            edit(config);
        }
        return config;
    }

    void start(const SessionConfig& sessionConfig, std::shared_ptr<ScreenCaptureMonitoring> monitor = nullptr,
               const fs::path& dir = {}) {
        actor
            ->startSession(dir.empty() ? sessionDir : dir, std::move(monitor), sessionConfig, clock.wallNow())
            .get();
    }
    void start() { start(config()); }
    void transcript(std::string text) { actor->setLatestTranscript(std::move(text)).get(); }

    // Moves the clock and waits until `count` passes in all have ended (their next wait fixed).
    void advanceToPass(platform::Clock::Duration by, int count) {
        clock.advance(by);
        std::unique_lock lock(passMutex);
        ASSERT_TRUE(passEnded.wait_for(lock, 20s, [&] { return passes >= count; }))
            << "passes: " << passes << " of " << count;
    }
    // Moves the clock and checks for a while that no pass comes.
    void advanceWithoutPass(platform::Clock::Duration by) {
        const int before = passCount();
        clock.advance(by);
        std::unique_lock lock(passMutex);
        EXPECT_FALSE(passEnded.wait_for(lock, 100ms, [&] { return passes > before; })) << "a pass came early";
    }
    int passCount() {
        std::lock_guard lock(passMutex);
        return passes;
    }

    // The state the recording window shows, once the main thread has run what was posted.
    AppState& shown() {
        main.runPending();
        return appState;
    }
    std::string lastPrompt() const {
        const auto prompts = roads.model.prompts();
        return prompts.empty() ? std::string() : prompts.back();
    }

    testing::TempDir dir;
    fs::path sessionDir = dir.path() / "2024-01-01T00-00-00Z";
    platform::ManualClock clock;
    platform::MainDispatcher main;
    platform::SettingsStore settings{dir.path() / "settings.json"};
    platform::ThreadPool pool{2};
    AppState appState{AppState::Dependencies{
        .settings = &settings, .clock = &clock, .mainDispatcher = &main, .metadataExecutor = &pool}};
    FakePowerStatus power;
    testing::LoopbackServer server;
    testing::LiveSummaryRoads roads;
    std::mutex passMutex;
    std::condition_variable passEnded;
    int passes = 0;
    std::unique_ptr<LiveSummaryActor> actor;
};

TEST_F(LiveSummaryActorTest, TheFirstSummaryComesOneFullIntervalAfterTheStart) {
    const auto monitor = std::make_shared<FakeScreenMonitor>(R"({"text":"Roadmap slide"})");
    start(config(), monitor);
    transcript("[00:10] we ship on Friday");
    advanceWithoutPass(4min + 59s);
    EXPECT_EQ(roads.model.calls(), 0u);

    advanceToPass(1s, 1);
    EXPECT_EQ(readFile(sessionDir / "summary.live.md"), "- the summary\n");
    EXPECT_EQ(shown().liveSummary(), "- the summary");
    EXPECT_FALSE(appState.liveSummaryPending());
    EXPECT_EQ(appState.liveSummaryError(), std::nullopt);
    EXPECT_EQ(monitor->asked(), std::vector<double>{0}); // the first ten minutes: all the screen text
    EXPECT_THAT(lastPrompt(), HasSubstr("<|im_start|>system\nsummarise the meeting<|im_end|>"));
    EXPECT_THAT(lastPrompt(), HasSubstr("[00:10] we ship on Friday"));
    EXPECT_THAT(lastPrompt(), HasSubstr("Roadmap slide"));
}

TEST_F(LiveSummaryActorTest, AnUnchangedTranscriptIsNotSummarisedAgain) {
    start();
    const std::string tail(1600, 't');
    transcript("[00:01] aaaa\n" + tail);
    advanceToPass(5min, 1);
    EXPECT_EQ(roads.model.calls(), 1u);

    advanceToPass(5min, 2);
    transcript("[00:01] bbbb\n" + tail); // same length, same last 1600 characters
    advanceToPass(5min, 3);
    EXPECT_EQ(roads.model.calls(), 1u);

    roads.model.answer = [](const std::string&) { return std::string("- the second summary"); };
    transcript("[00:01] aaaa\n" + tail + "\n[09:00] and a decision");
    advanceToPass(5min, 4);
    EXPECT_EQ(roads.model.calls(), 2u);
    EXPECT_THAT(lastPrompt(), HasSubstr("Previous Live Summary】\n- the summary"));
    EXPECT_EQ(shown().liveSummary(), "- the second summary");
}

TEST_F(LiveSummaryActorTest, AfterTenMinutesOnlyTheRecentLinesAndScreenTextAreSummarised) {
    start(config([](SessionConfig& c) { c.liveSummary.intervalMinutes = 12; }));
    const auto monitor = std::make_shared<FakeScreenMonitor>("");
    actor->setScreenMonitor(monitor).get();
    transcript("[01:00] too old\n[02:00] right at the window's start\nan unstamped line\n"
               "[1:02:03] a stamp with hours\n[11:30] the latest news");
    advanceToPass(12min, 1);
    EXPECT_EQ(monitor->asked(), std::vector<double>{120});
    const std::string prompt = lastPrompt();
    EXPECT_THAT(prompt, Not(HasSubstr("too old")));
    EXPECT_THAT(prompt, Not(HasSubstr("a stamp with hours")));
    EXPECT_THAT(prompt,
                HasSubstr("[02:00] right at the window's start\nan unstamped line\n[11:30] the latest news"));

    actor->setScreenMonitor(nullptr).get();
    transcript("[20:00] more");
    advanceToPass(12min, 2);
    EXPECT_EQ(monitor->asked().size(), 1u);
    EXPECT_EQ(roads.model.calls(), 2u);
}

TEST_F(LiveSummaryActorTest, AHotMachineWaitsLongerAndSkipsThePassUntilItCools) {
    power.thermal = ThermalState::serious;
    start();
    transcript("[00:10] words");
    advanceWithoutPass(5min);
    platform::LogCapture logs;
    advanceToPass(5min, 1);
    EXPECT_EQ(roads.model.calls(), 0u);
    EXPECT_TRUE(logs.contains("live summary throttled due to thermal state=serious"));
    EXPECT_FALSE(fs::exists(sessionDir / "summary.live.md"));

    power.thermal = ThermalState::fair; // the wait already fixed stays 600 s
    advanceWithoutPass(5min);
    advanceToPass(5min, 2);
    EXPECT_EQ(roads.model.calls(), 1u);
}

TEST_F(LiveSummaryActorTest, TheSwitchAndTheIntervalRestartTheWaitFromZero) {
    start();
    transcript("[00:10] words");
    advanceWithoutPass(3min);
    actor->updateSchedule(false, 5).get();
    actor->updateSchedule(true, 5).get();
    advanceWithoutPass(3min);
    advanceToPass(2min, 1);
    EXPECT_EQ(roads.model.calls(), 1u);

    actor->updateSchedule(true, 0).get(); // brought up to one minute
    transcript("[00:10] words\n[08:00] more words");
    advanceToPass(1min, 2);
    EXPECT_EQ(roads.model.calls(), 2u);

    actor->updateSchedule(false, 1).get(); // the loop goes on, its passes end at the switch
    transcript("[00:10] words\n[09:00] other words");
    advanceToPass(1min, 3);
    EXPECT_EQ(roads.model.calls(), 2u);
}

TEST_F(LiveSummaryActorTest, StoppingDuringAGenerationShowsNoLateResult) {
    roads.model.hold();
    start();
    transcript("[00:10] words");
    clock.advance(5min);
    ASSERT_TRUE(roads.model.waitForHeldCall());
    EXPECT_TRUE(shown().liveSummaryPending());

    actor->stopSession().get();
    EXPECT_FALSE(shown().liveSummaryPending());
    {
        std::unique_lock lock(passMutex);
        ASSERT_TRUE(passEnded.wait_for(lock, 20s, [&] { return passes >= 1; }));
    }
    EXPECT_FALSE(fs::exists(sessionDir / "summary.live.md"));
    EXPECT_EQ(shown().liveSummary(), "");
    EXPECT_FALSE(appState.liveSummaryPending());
    // The generation ended because the recording stopped: that is no failure to show.
    EXPECT_EQ(appState.liveSummaryError(), std::nullopt);
}

TEST_F(LiveSummaryActorTest, ALatePassOfAnEarlierRecordingNeverReachesTheNextOne) {
    const fs::path nextDir = dir.path() / "next";
    fs::create_directories(nextDir);
    roads.model.hold();
    roads.model.ignoreStop();
    start();
    transcript("[00:10] the first recording");
    clock.advance(5min);
    ASSERT_TRUE(roads.model.waitForHeldCall());
    actor->stopSession().get();
    start(config(), nullptr, nextDir);
    transcript("[00:10] the second recording");
    roads.model.answer = [](const std::string& prompt) {
        return prompt.find("first recording") != std::string::npos ? std::string("- first")
                                                                   : std::string("- second");
    };
    roads.model.release();
    {
        std::unique_lock lock(passMutex);
        ASSERT_TRUE(passEnded.wait_for(lock, 20s, [&] { return passes >= 1; }));
    }
    EXPECT_FALSE(fs::exists(sessionDir / "summary.live.md"));
    EXPECT_FALSE(fs::exists(nextDir / "summary.live.md"));
    EXPECT_EQ(shown().liveSummary(), "");

    advanceToPass(5min, 2); // the second recording's own pass is not held up by the first one's
    EXPECT_EQ(readFile(nextDir / "summary.live.md"), "- second\n");
    EXPECT_EQ(shown().liveSummary(), "- second");
}

TEST_F(LiveSummaryActorTest, AFailedPassShowsItsMessageKeepsTheSummaryAndRetries) {
    start();
    transcript("[00:10] words");
    advanceToPass(5min, 1);
    EXPECT_EQ(shown().liveSummary(), "- the summary");

    transcript("[00:10] words\n[06:00] more");
    roads.model.answer = [](const std::string&) -> std::string { throw std::runtime_error("decode failed"); };
    platform::LogCapture logs;
    advanceToPass(5min, 2);
    EXPECT_TRUE(logs.contains("live summary failed: decode failed"));
    EXPECT_EQ(shown().liveSummary(), "- the summary");
    EXPECT_EQ(appState.liveSummaryError(),
              "The live summary failed. It will retry automatically in a while.");
    EXPECT_FALSE(appState.liveSummaryPending());

    roads.model.answer = [](const std::string&) { return std::string("  - retried  \n"); };
    advanceToPass(5min, 3); // the same transcript is tried again
    EXPECT_EQ(roads.model.calls(), 3u);
    EXPECT_EQ(shown().liveSummary(), "- retried");
    EXPECT_EQ(appState.liveSummaryError(), std::nullopt);
    EXPECT_EQ(readFile(sessionDir / "summary.live.md"), "- retried\n");
}

TEST_F(LiveSummaryActorTest, AFailedWriteIsReportedButTheNewSummaryIsKept) {
    start();
    transcript("[00:10] words");
    fs::remove_all(sessionDir);
    advanceToPass(5min, 1);
    EXPECT_EQ(shown().liveSummary(), "");
    EXPECT_EQ(appState.liveSummaryError(),
              "The live summary failed. It will retry automatically in a while.");

    fs::create_directories(sessionDir);
    advanceToPass(5min, 2); // unchanged transcript: the kept summary counts
    EXPECT_EQ(roads.model.calls(), 1u);
    transcript("[00:10] words\n[07:00] more");
    advanceToPass(5min, 3);
    EXPECT_THAT(lastPrompt(), HasSubstr("Previous Live Summary】\n- the summary"));
    EXPECT_TRUE(fs::exists(sessionDir / "summary.live.md"));
}

TEST_F(LiveSummaryActorTest, TheSessionConfigurationChoosesPromptAndProvider) {
    struct Case {
        std::string name;
        std::string provider;
        std::string prompt;
        bool storeFlavour;
        std::string systemPrompt;
    };
    const std::string builtIn = PromptCatalog::liveSummaryPrompt(false);
    const Case cases[] = {
        {"a blank prompt", "local", " \n\t", false, builtIn},
        {"an unknown provider", "no_such_provider", "mine", false, "mine"},
        {"a command-line tool in the store flavour", "claude_cli", "mine", true, "mine"},
    };
    const auto restore = BuildFlavor::testOverride();
    int pass = 0;
    for (const Case& c : cases) {
        BuildFlavor::setTestOverride(c.storeFlavour ? std::optional(BuildFlavorType::appStore)
                                                    : std::nullopt);
        start(config([&](SessionConfig& s) {
            s.liveSummary.provider = c.provider;
            s.liveSummary.prompt = c.prompt;
        }));
        transcript("[00:10] words");
        advanceToPass(5min, ++pass);
        EXPECT_THAT(lastPrompt(), HasSubstr("<|im_start|>system\n" + c.systemPrompt + "<|im_end|>"))
            << c.name;
        EXPECT_EQ(roads.model.calls(), static_cast<std::size_t>(pass)) << c.name;
    }
    BuildFlavor::setTestOverride(restore);
}

TEST_F(LiveSummaryActorTest, ProviderSettingsAndLanguageApplyFromTheNextPass) {
    start();
    transcript("[00:10] words");
    actor->updateProviderSettings(SummaryProvider::llamaCppLocal, "   ", std::nullopt, std::nullopt).get();
    actor->setOutputLanguage("de").get();
    advanceToPass(5min, 1);
    EXPECT_THAT(lastPrompt(), HasSubstr("system\n" + PromptCatalog::liveSummaryPrompt(false) + "<|im_end|>"));
    EXPECT_THAT(lastPrompt(), HasSubstr("Output language: de\n"));

    // Empty model and endpoint texts mean the provider's defaults: the chat API's own address.
    roads.providers.setKey("openAIAPIKey", "sk-test");
    server.reply(testing::openAIAnswer("- from the API"));
    actor
        ->updateProviderSettings(SummaryProvider::openAI, "remote rules", std::string("gpt-x"),
                                 std::string(""))
        .get();
    transcript("[00:10] words\n[06:00] more");
    advanceToPass(5min, 2);
    ASSERT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(testing::chatCallOf(server.requests().at(0)).system, "remote rules");
    EXPECT_EQ(platform::Json::parse(server.requests().at(0).body)["model"], "gpt-x");
    EXPECT_EQ(shown().liveSummary(), "- from the API");
}

TEST_F(LiveSummaryActorTest, TheTranscriptKeepsItsLast24000Characters) {
    start();
    std::vector<std::string> lines = {"[00:01] FIRST"};
    for (int i = 0; i < 300; ++i) {
        lines.push_back("[00:02] " + std::string(92, 'x'));
    }
    actor->updateLatestTranscript(lines).get();
    advanceToPass(5min, 1);
    EXPECT_THAT(lastPrompt(), Not(HasSubstr("FIRST")));

    actor->updateLatestTranscript({"[00:01] a", "[00:02] b"}).get();
    advanceToPass(5min, 2);
    EXPECT_THAT(lastPrompt(), HasSubstr("[00:01] a\n[00:02] b"));
}

TEST(LiveSummaryTranscriptTest, StampsReadAsMinutesAndSeconds) {
    const std::pair<std::string, double> cases[] = {
        {"75:03", 4503}, {"00:05", 5}, {"1:02:03", 0}, {"ab:01", 0},    {"::05:", 0},
        {"5:", 0},       {" 1:02", 0}, {"", 0},        {"2.5:30", 180},
    };
    for (const auto& [stamp, seconds] : cases) {
        EXPECT_EQ(LiveSummaryActor::elapsedSeconds(stamp), seconds) << stamp;
    }
}

TEST(LiveSummaryTranscriptTest, TheWindowKeepsUnstampedAndRecentLines) {
    const std::string text = "[00:30] early\n\n[bad] malformed\nno stamp [00:01]\n[05:00] late";
    EXPECT_EQ(LiveSummaryActor::filterTranscript(text, 0), text);
    EXPECT_EQ(LiveSummaryActor::filterTranscript(text, -5), text);
    EXPECT_EQ(LiveSummaryActor::filterTranscript(text, 60), "\nno stamp [00:01]\n[05:00] late");
    EXPECT_EQ(LiveSummaryActor::filterTranscript("[open line", 60), "[open line");
}

TEST(LiveSummaryTranscriptTest, TheFingerprintIsTheLengthAndTheLast1600Characters) {
    EXPECT_EQ(LiveSummaryActor::transcriptFingerprint("会議"), "2:会議");
    const std::string longText = "head" + std::string(1600, 'z');
    EXPECT_EQ(LiveSummaryActor::transcriptFingerprint(longText), "1604:" + std::string(1600, 'z'));
}

} // namespace
} // namespace velnote
