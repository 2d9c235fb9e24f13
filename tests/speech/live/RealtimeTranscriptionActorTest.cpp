#include "speech/live/RealtimeTranscriptionActor.h"

#include "app/state/AppState.h"
#include "platform/concurrency/CallbackGuard.h"
#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/fs/Files.h"
#include "platform/logging/Logger.h"
#include "session/l10n/L10nCatalog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <thread>

namespace velnote {
namespace {

using namespace std::chrono_literals;
using platform::SpeechRecognitionResult;

// An analysis the test drives: results are reported when the test says so. The recogniser keeps
// it, so the test can still look at it after the actor has let its handle go.
class FakeAnalysis {
  public:
    explicit FakeAnalysis(platform::SpeechAnalysisCallbacks callbacks) : callbacks_(std::move(callbacks)) {}
    ~FakeAnalysis() {
        if (finishing_.joinable()) {
            finishing_.join();
        }
    }
    void feed(std::vector<float> samples) { fedSamples += samples.size(); }
    // The last words still in the recogniser come out after finish(), from its own thread.
    void finish() {
        finished = true;
        finishing_ = std::thread([this] {
            if (!finalOnFinish.empty()) {
                result(finalOnFinish, true);
            }
            guard_.run([this] { callbacks_.onEnd(); });
        });
    }
    void result(const std::string& text, bool isFinal) {
        guard_.run([&] { callbacks_.onResult(SpeechRecognitionResult{.text = text, .isFinal = isFinal}); });
    }
    // A result that was already on its way when the analysis was cancelled.
    void lateResult(const std::string& text, bool isFinal) {
        callbacks_.onResult(SpeechRecognitionResult{.text = text, .isFinal = isFinal});
    }
    // Like the real analysis: once cancel() returns, no callback runs.
    void cancel() {
        cancelled = true;
        guard_.revoke();
    }
    void fail() {
        guard_.run([this] { callbacks_.onError(platform::SpeechAnalysisFailure::decoding, "broken"); });
    }

    std::atomic<std::size_t> fedSamples{0};
    std::atomic<bool> finished{false};
    std::atomic<bool> cancelled{false};
    std::string finalOnFinish;
    std::string locale;

  private:
    platform::SpeechAnalysisCallbacks callbacks_;
    platform::CallbackGuard guard_;
    std::thread finishing_;
};

class FakeAnalysisHandle final : public platform::SpeechAnalysis {
  public:
    explicit FakeAnalysisHandle(std::shared_ptr<FakeAnalysis> analysis) : analysis_(std::move(analysis)) {}
    void feed(std::vector<float> samples) override { analysis_->feed(std::move(samples)); }
    void finish() override { analysis_->finish(); }
    void cancel() override { analysis_->cancel(); }

  private:
    std::shared_ptr<FakeAnalysis> analysis_;
};

class FakeRecognizer final : public platform::SpeechRecognizer {
  public:
    std::optional<platform::AudioFormat> bestAvailableAudioFormat(const std::string& locale) override {
        if (locale == "en-US") {
            return platform::AudioFormat{16000, 1};
        }
        return std::nullopt;
    }
    std::unique_ptr<platform::SpeechAnalysis> start(const std::string& locale,
                                                    platform::SpeechAnalysisCallbacks callbacks) override {
        auto analysis = std::make_shared<FakeAnalysis>(std::move(callbacks));
        analysis->locale = locale;
        std::lock_guard lock(mutex);
        started.push_back(analysis);
        return std::make_unique<FakeAnalysisHandle>(analysis);
    }
    FakeAnalysis* analysis(std::size_t index) {
        std::lock_guard lock(mutex);
        return index < started.size() ? started[index].get() : nullptr;
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return started.size();
    }

    std::mutex mutex;
    std::vector<std::shared_ptr<FakeAnalysis>> started;
};

class RealtimeTranscriptionActorTest : public ::testing::Test {
  protected:
    RealtimeTranscriptionActorTest() {
        platform::MainDispatcher::shared().runPending(); // this thread is the main thread
    }

    // Lets everything the analyses posted run on the actor, then the main thread's jobs.
    void settle() {
        for (int round = 0; round < 3; ++round) { // jobs that post jobs: a drain posts a set-up
            actor_.lines().get();
        }
        platform::MainDispatcher::shared().runPending();
    }
    void start(std::optional<std::string> language = "en") {
        actor_.startSession(dir_.path(), std::move(language)).get();
        platform::MainDispatcher::shared().runPending();
    }
    void sysBuffer() {
        const std::vector<float> samples(160, 0.1f);
        actor_.yieldSysBuffer(samples, {16000, 1});
        settle();
    }
    std::string file() const {
        return platform::readFileIfPresent(dir_ / "transcript.live.txt").value_or("(none)");
    }
    AppState& app() { return AppState::shared(); }

    testing::TempDir dir_;
    platform::ManualClock clock_;
    platform::TimerScheduler timers_{clock_};
    std::shared_ptr<FakeRecognizer> recognizer_ = std::make_shared<FakeRecognizer>();
    RealtimeTranscriptionActor actor_{{.recognizer = recognizer_,
                                       .authorizer = std::make_shared<platform::SystemSpeechAuthorizer>(),
                                       .clock = &clock_,
                                       .timers = &timers_,
                                       .currentLocale = [] { return std::string("en-US"); }}};
};

TEST_F(RealtimeTranscriptionActorTest, InterimTextsMakeAThrottledPreviewAndFinalTextsCommitLines) {
    start();
    ASSERT_EQ(recognizer_->count(), 1u); // the microphone is set up at once
    EXPECT_EQ(recognizer_->analysis(0)->locale, "en-US");
    sysBuffer(); // the first system buffer starts that channel's set-up and is dropped
    ASSERT_EQ(recognizer_->count(), 2u);
    EXPECT_EQ(recognizer_->analysis(1)->fedSamples, 0u);
    sysBuffer();
    EXPECT_EQ(recognizer_->analysis(1)->fedSamples, 160u);

    clock_.advance(65s);
    recognizer_->analysis(0)->result("hello", false);
    settle();
    EXPECT_EQ(app().transcriptPendingTextBuffer().latest, "[01:05] hello");
    EXPECT_TRUE(app().transcriptLinesBuffer().latest.empty());

    clock_.advance(300ms);
    recognizer_->analysis(1)->result("world", false);
    settle();
    EXPECT_EQ(app().transcriptPendingTextBuffer().latest, "[01:05] hello / world");

    clock_.advance(100ms); // too soon after the last preview: not shown
    recognizer_->analysis(1)->result("world again", false);
    settle();
    EXPECT_EQ(app().transcriptPendingTextBuffer().latest, "[01:05] hello / world");

    clock_.advance(100ms); // a commit is never throttled
    recognizer_->analysis(0)->result("  hello there\t", true);
    settle();
    EXPECT_EQ(app().transcriptLinesBuffer().latest, std::vector<std::string>{"[01:05] hello there"});
    EXPECT_EQ(app().transcriptPendingTextBuffer().latest, "");
    EXPECT_FALSE(app().transcriptPendingBuffer().latest);

    recognizer_->analysis(0)->result("", true); // an empty final text commits nothing
    clock_.advance(1s);
    recognizer_->analysis(1)->result("second line", true);
    settle();
    EXPECT_EQ(actor_.lines().get(), (std::vector<std::string>{"[01:05] hello there", "[01:06] second line"}));
    actor_.stopSession().get();
    EXPECT_EQ(file(), "[01:05] hello there\n[01:06] second line\n");
}

TEST_F(RealtimeTranscriptionActorTest, AStopCommitsTheLastFinalTextsAndInterimTextsOnce) {
    start();
    sysBuffer();
    clock_.advance(10s);
    recognizer_->analysis(0)->result("first", true);
    settle();
    clock_.advance(120s);
    recognizer_->analysis(0)->finalOnFinish = "still in flight";
    recognizer_->analysis(1)->result("abc", false);
    settle();

    actor_.stopSession().get();
    EXPECT_TRUE(recognizer_->analysis(0)->finished);
    EXPECT_EQ(file(), "[00:10] first\n[02:10] still in flight\n[02:10] abc\n");
    EXPECT_EQ(actor_.lines().get().size(), 3u);
    // Buffers after the stop are dropped.
    const std::vector<float> samples(160, 0.1f);
    actor_.yieldMicBuffer(samples, {16000, 1});
    settle();
    EXPECT_EQ(recognizer_->analysis(0)->fedSamples, 0u);
}

// Records what the live summary is handed, in the order of the calls.
class RecordingSink final : public LiveSummaryTranscriptSink {
  public:
    void setLatestTranscript(std::string transcript) override {
        std::lock_guard lock(mutex);
        transcripts.push_back(std::move(transcript));
    }
    std::mutex mutex;
    std::vector<std::string> transcripts;
};

TEST_F(RealtimeTranscriptionActorTest, TheLiveSummaryGetsEveryCommitInOrder) {
    auto sink = std::make_shared<RecordingSink>();
    actor_.setLiveSummarySink(sink).get();
    start();
    sysBuffer();
    for (int i = 0; i < 50; ++i) {
        recognizer_->analysis(i % 2)->result("line " + std::to_string(i), true);
    }
    settle();
    std::lock_guard lock(sink->mutex);
    ASSERT_EQ(sink->transcripts.size(), 50u);
    EXPECT_EQ(sink->transcripts.front(), "[00:00] line 0");
    EXPECT_EQ(sink->transcripts.back().substr(sink->transcripts.back().size() - 16), "\n[00:00] line 49");
    actor_.stopSession().get();
}

TEST_F(RealtimeTranscriptionActorTest, AStopWithNothingSaidWritesNoFile) {
    start();
    actor_.stopSession().get();
    EXPECT_FALSE(std::filesystem::exists(dir_ / "transcript.live.txt"));
}

TEST_F(RealtimeTranscriptionActorTest, ALanguageChangeDropsInterimTextsAndTheOldAnalysis) {
    start();
    const std::vector<float> samples(160, 0.1f);
    actor_.yieldMicBuffer(samples, {16000, 1}); // gives the microphone a known format
    settle();
    recognizer_->analysis(0)->result("abc", false);
    settle();

    actor_.updateInputLanguage("english").get();
    ASSERT_EQ(recognizer_->count(), 2u); // the microphone again; the system channel stays idle
    EXPECT_TRUE(recognizer_->analysis(0)->cancelled);
    recognizer_->analysis(0)->lateResult("stale", true);
    settle();
    EXPECT_TRUE(actor_.lines().get().empty());

    actor_.stopSession().get();
    EXPECT_FALSE(std::filesystem::exists(dir_ / "transcript.live.txt")); // "abc" was dropped, not committed
}

TEST_F(RealtimeTranscriptionActorTest, EachSetUpLogsTheFormatsItConvertsBetween) {
    platform::LogCapture log;
    start("en");
    const std::vector<float> samples(960, 0.1f);
    actor_.yieldSysBuffer(samples, {48000, 2});
    settle();
    EXPECT_TRUE(
        log.contains("realtime: channel=mic inputFormat=16000 Hz, 1 ch analyzerFormat=16000 Hz, 1 ch"));
    EXPECT_TRUE(
        log.contains("realtime: channel=sys inputFormat=48000 Hz, 2 ch analyzerFormat=16000 Hz, 1 ch"));
    EXPECT_TRUE(
        log.contains("realtime: channel sys setup complete locale=en-US requested=en effective=en-US"));
    actor_.stopSession().get();
}

TEST_F(RealtimeTranscriptionActorTest, ALanguageWithoutModelShowsTheUnavailableTexts) {
    platform::LogCapture log;
    start("ja");
    EXPECT_EQ(recognizer_->count(), 0u);
    EXPECT_EQ(app().liveTranscriptError(), "The speech recognition model for \"日本語\" is not available.");
    EXPECT_EQ(app().statusMessage(),
              "Speech recognition model for \"日本語\" not downloaded — go to System Settings > "
              "General > Language & Region");
    EXPECT_TRUE(log.contains("realtime: model unavailable for locale=ja-JP"));
    sysBuffer(); // every later buffer tries again
    EXPECT_EQ(recognizer_->count(), 0u);
    actor_.stopSession().get();
}

// A Japanese interface shows both texts from the catalogue, not the English defaults.
TEST(RealtimeModelUnavailableTexts, TheCatalogueHasThemInJapanese) {
    const auto catalog = L10nCatalog::load(L10nCatalog::locate(), L10nCatalog::Locale::parse("ja_JP.UTF-8"));
    EXPECT_EQ(catalog.localized("L10n.Recording.modelUnavailableDetail", "-", {std::string("日本語")}),
              "「日本語」の音声認識モデルが利用できません。");
    EXPECT_EQ(catalog.localized("L10n.Recording.modelUnavailableStatus", "-", {std::string("日本語")}),
              "「日本語」の音声認識モデルがダウンロードされていません — システム設定 > 一般 > 言語と地域 "
              "で追加してください");
}

TEST_F(RealtimeTranscriptionActorTest, AFailedAnalysisKeepsItsInterimTextAndIsRebuiltByTheNextBuffer) {
    start();
    clock_.advance(3s);
    recognizer_->analysis(0)->result("pending words", false);
    recognizer_->analysis(0)->fail();
    settle();
    clock_.advance(4s);
    settle();
    EXPECT_TRUE(actor_.lines().get().empty());
    clock_.advance(1s); // five seconds after the failure
    settle();
    EXPECT_EQ(actor_.lines().get(), std::vector<std::string>{"pending words"});
    EXPECT_TRUE(recognizer_->analysis(0)->cancelled);

    const std::vector<float> samples(160, 0.1f);
    actor_.yieldMicBuffer(samples, {16000, 1});
    settle();
    EXPECT_EQ(recognizer_->count(), 2u);
    actor_.stopSession().get();
    EXPECT_EQ(file(), "pending words\n");
}

TEST_F(RealtimeTranscriptionActorTest, AStopDuringTheRecoveryWaitEndsIt) {
    start();
    recognizer_->analysis(0)->result("pending", false);
    recognizer_->analysis(0)->fail();
    settle();
    actor_.stopSession().get();
    clock_.advance(10s);
    settle();
    EXPECT_EQ(actor_.lines().get(), std::vector<std::string>{"[00:00] pending"});
}

} // namespace
} // namespace velnote
