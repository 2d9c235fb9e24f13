#include "speech/live/LiveTranslationWorker.h"

#include "platform/concurrency/MainDispatcher.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/fs/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <mutex>

namespace velnote {
namespace {

using namespace std::chrono_literals;

// Translates every line to "T(<line>)" and records each request's text.
class RecordingFactory final : public platform::TranslationSessionFactory {
  public:
    class Session final : public platform::TranslationSession {
      public:
        explicit Session(RecordingFactory& owner) : owner_(owner) {}
        void prepareTranslation() override {}
        std::string translate(const std::string& line) override {
            std::lock_guard lock(owner_.mutex);
            if (owner_.failing) {
                throw platform::TranslationSessionError("offline");
            }
            return "T(" + line + ")";
        }

      private:
        RecordingFactory& owner_;
    };
    std::unique_ptr<platform::TranslationSession> makeSession(const std::string&,
                                                              const std::string&) override {
        return std::make_unique<Session>(*this);
    }
    std::mutex mutex;
    bool failing = false;
};

class LiveTranslationWorkerTest : public ::testing::Test {
  protected:
    LiveTranslationWorkerTest() { main_.runPending(); }
    ~LiveTranslationWorkerTest() override { main_.runPending(); }

    // Moves the clock and runs what came due until the main thread has nothing left to do (a
    // translation comes back from the service's thread).
    void advance(platform::Clock::Duration by) {
        clock_.advance(by);
        settle();
    }
    void settle() {
        for (int round = 0; round < 3; ++round) {
            main_.runPending();
            service_.invalidateSessions().get(); // every translation queued before has answered
            main_.runPending();
        }
    }
    std::string file(const std::string& code) {
        worker_.fileWritesDone().get();
        return platform::readFileIfPresent(dir_ / ("transcript.live." + code + ".txt")).value_or("(none)");
    }
    std::size_t requests() const { return requests_; }

    testing::TempDir dir_;
    platform::ManualClock clock_;
    platform::TimerScheduler timers_{clock_};
    platform::MainDispatcher main_;
    std::shared_ptr<RecordingFactory> factory_ = std::make_shared<RecordingFactory>();
    AppleTranslationService service_{factory_, [] { return std::optional<std::string>("en"); }};
    TranslationWorkerState state_{.sourceLines = {}, .outputLanguage = "en", .inputLanguage = "ja"};
    std::string pending_;
    std::size_t requests_ = 0;
    LiveTranslationWorker worker_{{.translator = &service_,
                                   .clock = &clock_,
                                   .timers = &timers_,
                                   .main = &main_,
                                   .snapshot = [this] { return state_; },
                                   .pendingText = [this] { return pending_; },
                                   .activeSessionDir = [this] { return std::optional(dir_.path()); },
                                   .onChange =
                                       [this] {
                                           if (worker_.liveTranscriptTranslationPending()) {
                                               ++requests_;
                                           }
                                       }}};
};

TEST_F(LiveTranslationWorkerTest, TheSameInputAndOutputLanguageNeverTranslates) {
    state_ = {.sourceLines = {"こんにちは"}, .outputLanguage = "ja", .inputLanguage = "ja"};
    worker_.setDisplayInOutputLanguage(true);
    advance(2s);
    advance(10s);
    worker_.stopTranslationWorker();
    settle();
    EXPECT_EQ(requests(), 0u);
    EXPECT_EQ(worker_.translatedLiveTranscript(), "");
}

TEST_F(LiveTranslationWorkerTest, NewLinesAreTranslatedAloneAndMergedAfterALineBreak) {
    state_.sourceLines = {"一", "二"};
    worker_.setDisplayInOutputLanguage(true);
    advance(1s);
    EXPECT_EQ(requests(), 0u);
    advance(1s); // the first attempt comes 2 s after the start
    EXPECT_EQ(requests(), 1u);
    EXPECT_EQ(worker_.translatedLiveTranscript(), "T(一)\nT(二)");

    state_.sourceLines.push_back("三");
    advance(2s); // polled, but 5 s have not passed since the first attempt
    EXPECT_EQ(requests(), 1u);
    advance(3s);
    EXPECT_EQ(requests(), 2u);
    EXPECT_EQ(worker_.translatedLiveTranscript(), "T(一)\nT(二)\nT(三)");
    EXPECT_EQ(file("en"), "T(一)\nT(二)\nT(三)");

    // Another output language translates everything again into a file of its own.
    state_.outputLanguage = "FR";
    advance(2s);
    advance(5s);
    EXPECT_EQ(worker_.translatedLiveTranscript(), "T(一)\nT(二)\nT(三)");
    EXPECT_EQ(file("fr"), "T(一)\nT(二)\nT(三)");
    EXPECT_EQ(file("en"), "T(一)\nT(二)\nT(三)");
}

TEST_F(LiveTranslationWorkerTest, AFailureIsShownAndTheSameLinesAreTriedAgain) {
    state_.sourceLines = {"一"};
    factory_->failing = true;
    worker_.startTranslationWorker();
    advance(2s);
    EXPECT_EQ(worker_.liveTranscriptTranslationError(), "Apple Translate translation failed: offline");
    EXPECT_FALSE(worker_.liveTranscriptTranslationPending());
    factory_->failing = false;
    advance(2s);
    advance(3s);
    EXPECT_EQ(worker_.liveTranscriptTranslationError(), std::nullopt);
    EXPECT_EQ(worker_.translatedLiveTranscript(), "T(一)");
}

TEST_F(LiveTranslationWorkerTest, StopFlushesAndAStartContinuesFromThePersistedContext) {
    state_.sourceLines = {"一"};
    worker_.startTranslationWorker();
    advance(2s);
    state_.sourceLines.push_back("二");
    worker_.stopTranslationWorker(); // the flush does not wait for the 5 s spacing
    settle();
    EXPECT_FALSE(worker_.isRunning());
    EXPECT_EQ(worker_.translatedLiveTranscript(), "T(一)\nT(二)");
    state_.sourceLines.push_back("三");
    worker_.startTranslationWorker();
    advance(2s);
    EXPECT_EQ(worker_.translatedLiveTranscript(), "T(一)\nT(二)\nT(三)");
    EXPECT_EQ(file("en"), "T(一)\nT(二)\nT(三)");
}

TEST_F(LiveTranslationWorkerTest, ANewRecordingStartsWithoutTheLastOnesContext) {
    worker_.setDisplayInOutputLanguage(true);
    state_.sourceLines = {"一", "二"};
    advance(2s);
    worker_.recordingStateChanged(false);
    settle();
    // The next recording's three lines are all new, not a continuation after the last two.
    state_.sourceLines = {"新1", "新2", "新3"};
    worker_.recordingStateChanged(true);
    EXPECT_EQ(worker_.translatedLiveTranscript(), "");
    advance(2s);
    EXPECT_EQ(worker_.translatedLiveTranscript(), "T(新1)\nT(新2)\nT(新3)");
}

TEST_F(LiveTranslationWorkerTest, TheAccumulatedTranslationIsCutByBytes) {
    state_.sourceLines = {std::string(10500 - 3, 'a')}; // "T(" + ... + ")" is 10,500 characters
    worker_.startTranslationWorker();
    advance(2s);
    EXPECT_EQ(worker_.translatedLiveTranscript().size(), 10000u);
    EXPECT_EQ(worker_.translatedLiveTranscript().back(), ')');

    std::string japanese;
    for (int i = 0; i < 3997; ++i) {
        japanese += "語";
    }
    state_.outputLanguage = "de";
    state_.sourceLines = {japanese};
    advance(5s);
    EXPECT_EQ(worker_.translatedLiveTranscript(), "T(" + japanese + ")"); // 4,000 characters stay whole
}

TEST(LiveTranslationDisplayTest, TailCuts) {
    std::string lines;
    for (int i = 1; i <= 130; ++i) {
        lines += (i > 1 ? "\n" : "") + std::to_string(i);
    }
    const std::string shown = LiveTranslationWorker::tailDisplayText(lines, 120, 12000);
    EXPECT_EQ(shown.rfind("...\n11\n12\n", 0), 0u) << shown.substr(0, 20);
    EXPECT_EQ(shown.substr(shown.size() - 4), "\n130");

    const std::string longLine(15000, 'x');
    EXPECT_EQ(LiveTranslationWorker::tailDisplayText(longLine, 120, 12000),
              "...\n" + std::string(12000, 'x'));
    EXPECT_EQ(LiveTranslationWorker::trimTailResult(longLine, 12000), std::string(12000, 'x'));
    EXPECT_EQ(LiveTranslationWorker::trimTailResult("abc\ndef", 5), "def");
    EXPECT_EQ(LiveTranslationWorker::trimTailResult("abc", 5), "abc");
    EXPECT_EQ(LiveTranslationWorker::tailDisplayText("", 120, 12000), "");

    EXPECT_EQ(LiveTranslationWorker::normalizedLanguageCodeForFile("zh-TW"), "zh-tw");
    EXPECT_EQ(LiveTranslationWorker::normalizedLanguageCodeForFile("en US"), "enus");
    EXPECT_EQ(LiveTranslationWorker::normalizedLanguageCodeForFile("   "), "");
    EXPECT_EQ(LiveTranslationWorker::normalizedLanguageCodeForFile("../x"), "x");
}

TEST_F(LiveTranslationWorkerTest, TheUntranslatedDisplayShowsTheLastLinesAndTheInterimText) {
    for (int i = 1; i <= 130; ++i) {
        state_.sourceLines.push_back(std::to_string(i));
    }
    pending_ = "[02:00] speaking";
    const std::string shown = worker_.displayedLiveTranscriptWindow();
    EXPECT_EQ(shown.rfind("...\n11\n", 0), 0u);
    EXPECT_EQ(shown.substr(shown.size() - 20), "130\n[02:00] speaking");

    state_.sourceLines = {std::string(15000, 'x')};
    pending_.clear();
    EXPECT_EQ(worker_.displayedLiveTranscriptWindow(), std::string(12000, 'x'));
    worker_.setDisplayInOutputLanguage(true);
    EXPECT_EQ(worker_.displayedLiveTranscriptWindow(), "");
    worker_.setDisplayInOutputLanguage(false);
}

} // namespace
} // namespace velnote
