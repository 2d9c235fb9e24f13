#include "engine/foundation/HubError.h"
#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/ManualClock.h"
#include "platform/http/HttpError.h"
#include "platform/logging/Logger.h"
#include "speech/ondevice/WhisperTranscriptionService.h"
#include "support/Results.h"
#include "support/TempDir.h"
#include "support/ToneFiles.h"

#include <atomic>
#include <cmath>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <mutex>
#include <thread>

namespace velnote {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::result;
using Service = WhisperTranscriptionService;

TEST(WhisperSilence, TheBoundaryIsTranscribed) {
    const float at = Service::kSilenceThreshold;
    const float below = std::nextafter(at, 0.0f);
    EXPECT_TRUE(Service::isSilent({}));
    for (const std::size_t n : {1u, 2u, 4u}) {
        EXPECT_FALSE(Service::isSilent(std::vector<float>(n, at))) << n;
        EXPECT_FALSE(Service::isSilent(std::vector<float>(n, -at))) << n;
        EXPECT_TRUE(Service::isSilent(std::vector<float>(n, below))) << n;
    }
}

TEST(WhisperRetry, TransientFailuresAreRetried) {
    using Http = platform::HttpError;
    using Hub = basalith::HubError;
    const auto retried = [](auto error) {
        return Service::shouldRetryWhisperError(std::make_exception_ptr(error));
    };
    EXPECT_FALSE(retried(platform::CancellationError()));
    EXPECT_TRUE(retried(Http(Http::Code::timedOut, "")));
    EXPECT_TRUE(retried(Http(Http::Code::cannotConnectToHost, "")));
    EXPECT_FALSE(retried(Http(Http::Code::badURL, "timed out"))) << "the code decides, not the text";
    EXPECT_FALSE(retried(Http(Http::Code::secureConnectionFailed, "")));
    EXPECT_TRUE(retried(Hub(Hub::Kind::network, "connection refused")));
    EXPECT_FALSE(retried(Hub(Hub::Kind::httpStatus, "404 not found", 404)));
    EXPECT_TRUE(retried(VocalithInitTimeoutError()));
    EXPECT_TRUE(retried(std::runtime_error("The operation TIMED OUT")));
    EXPECT_TRUE(retried(std::runtime_error("Failed to run the ML Program")));
    EXPECT_TRUE(retried(std::runtime_error("Asynchronous prediction failed")));
    EXPECT_FALSE(retried(std::runtime_error("No space left on device")));
    EXPECT_FALSE(Service::shouldRetryWhisperError(std::make_exception_ptr(42)));
}

TEST(WhisperShift, ResultsMoveOnlyForAPositiveOffsetAndAreSanitizedAlways) {
    auto raw = result({{1, 2, " keep "}, {3, 4, "drop"}}, 0.5f);
    raw->modifySegments([](auto& s) {
        s[0].words = std::vector<vocalith::WordTiming>{{" keep ", {}, 1, 2, 1}};
    });
    const TextSanitizer sanitizer = [](std::string_view t) {
        return t == "drop" ? std::string() : "[" + std::string(t) + "]";
    };
    const auto moved = Service::shiftResults({raw}, 20, sanitizer);
    ASSERT_EQ(moved[0]->segments().size(), 1u);
    EXPECT_EQ(moved[0]->segments()[0].start, 21);
    EXPECT_EQ((*moved[0]->segments()[0].words)[0].end, 22);
    EXPECT_EQ((*moved[0]->segments()[0].words)[0].word, " keep ") << "words are not sanitized";
    EXPECT_EQ(moved[0]->segments()[0].text, "[ keep ]");
    EXPECT_EQ(moved[0]->text(), "[ keep drop]");
    EXPECT_EQ(moved[0]->seekTime(), 20.5f);
    EXPECT_EQ(raw->segments()[0].start, 1) << "the input stays";

    const auto still = Service::shiftResults({raw, result({{0, 1, "drop"}})}, 0, sanitizer);
    EXPECT_EQ(still[0]->segments()[0].start, 1);
    EXPECT_EQ(still[0]->seekTime(), 0.5f);
    EXPECT_TRUE(still[1]->segments().empty()) << "a result whose segments all go stays";
    EXPECT_EQ(Service::shiftResults({result({{0, 1, "x"}})}, -10, sanitizer)[0]->segments()[0].start, 0);
}

TEST(WhisperOptions, OneConstantSetPerTrackWithTheLanguage) {
    const auto detect = Service::decodingOptions(std::nullopt);
    EXPECT_TRUE(detect.detectLanguage);
    EXPECT_FALSE(detect.language);
    EXPECT_EQ(detect.temperatureFallbackCount, 3);
    EXPECT_EQ(detect.sampleLength, 224);
    EXPECT_TRUE(detect.skipSpecialTokens);
    EXPECT_EQ(detect.concurrentWorkerCount, 16);
    EXPECT_EQ(detect.chunkingStrategy, vocalith::ChunkingStrategy::vad);
    const auto german = Service::decodingOptions("de");
    EXPECT_FALSE(german.detectLanguage);
    EXPECT_EQ(german.language, "de");
}

// An engine whose answers the test scripts.
struct FakeEngine final : SpeechEngine {
    std::function<std::vector<vocalith::TranscriptionResultPtr>()> answer = [] {
        return std::vector{result({{1, 2, "hello"}}, 0.0f)};
    };
    std::atomic<int> calls = 0;
    std::vector<vocalith::TranscriptionResultPtr>
    transcribe(const std::vector<float>&, const vocalith::DecodingOptions&, std::stop_token) override {
        ++calls;
        return answer();
    }
};

class WhisperServiceTest : public ::testing::Test {
  protected:
    WhisperServiceTest() {
        fs::create_directories(audio_);
        for (const auto& [name, level] : std::vector<std::pair<std::string, double>>{
                 {"mic_0000.wav", 0.3}, {"mic_0001.wav", 0.0}, {"mic_0002.wav", 0.3}})
            testing::ToneFiles::write(audio_ / name, 16000, 1, {{0.5, 440, level}});
    }

    std::unique_ptr<Service> makeService() {
        return std::make_unique<Service>(Service::Dependencies{
            .clock = clock_,
            .timers = timers_,
            .scheduler = scheduler_,
            .makeEngine = [this](const vocalith::VocalithConfig& config,
                                 std::stop_token stop) -> std::shared_ptr<SpeechEngine> {
                {
                    std::lock_guard lock(configsMutex_);
                    configs_.push_back(config);
                }
                if (onCreate)
                    onCreate(config, stop);
                return engine_;
            },
            .cache = std::make_shared<const SpeechResultCache>(dir_.path() / "cache")});
    }

    std::vector<fs::path> chunks(std::initializer_list<const char*> names) const {
        std::vector<fs::path> paths;
        for (const char* name : names)
            paths.push_back(audio_ / name);
        return paths;
    }

    // Runs one track on a thread of its own, moving the clock a second at a time until it ends.
    TrackWhisperOutput run(Service& service, std::vector<fs::path> paths, const std::string& model = "tiny",
                           std::stop_token stop = {}) {
        auto done = std::async(std::launch::async, [&] {
            return service.loadWhisperOutput({.source = "mic", .chunkPaths = paths}, model, std::nullopt,
                                             sanitizer_, stop);
        });
        while (done.wait_for(1ms) != std::future_status::ready)
            clock_.advance(1s);
        return done.get();
    }

    std::vector<vocalith::VocalithConfig> configs() {
        std::lock_guard lock(configsMutex_);
        return configs_;
    }

    bool slotIsFree() {
        auto reservation = scheduler_.reserveSlot(ModelExecutionPriority::localSummary);
        if (reservation.wait_for(1s) != std::future_status::ready)
            return false;
        scheduler_.releaseSlot(reservation.get()).wait();
        return true;
    }

    testing::TempDir dir_;
    fs::path audio_ = dir_.path() / "S" / "audio";
    platform::ManualClock clock_;
    platform::TimerScheduler timers_{clock_};
    ModelExecutionScheduler scheduler_{clock_};
    std::shared_ptr<FakeEngine> engine_ = std::make_shared<FakeEngine>();
    std::mutex configsMutex_;
    std::vector<vocalith::VocalithConfig> configs_; // written by creation threads, read after
    std::function<void(const vocalith::VocalithConfig&, std::stop_token)> onCreate;
    TextSanitizer sanitizer_ = [](std::string_view t) { return "<" + std::string(t) + ">"; };
    platform::LogCapture log_;
};

// Silent chunks are skipped; the others are transcribed once, cached raw, and moved to their place.
TEST_F(WhisperServiceTest, ChunksAreTranscribedCachedAndMovedToTheirPlace) {
    auto service = makeService();
    const auto output = run(*service, chunks({"mic_0000.wav", "mic_0001.wav", "mic_0002.wav"}));
    ASSERT_EQ(output.results.size(), 2u);
    EXPECT_EQ(output.results[0]->segments()[0].start, 1);
    EXPECT_EQ(output.results[1]->segments()[0].start, 21);
    EXPECT_EQ(output.results[1]->seekTime(), 20.0f);
    EXPECT_EQ(output.results[1]->segments()[0].text, "<hello>");
    EXPECT_EQ(engine_->calls, 2);
    EXPECT_TRUE(slotIsFree());
    EXPECT_TRUE(log_.contains("whisper decode model=tiny language=auto detectLanguage=true"));
    const auto made = configs();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].model, "tiny");
    EXPECT_EQ(made[0].load, true);
    EXPECT_TRUE(made[0].download);
    EXPECT_FALSE(made[0].verbose);

    const SpeechResultCache cache(dir_.path() / "cache");
    EXPECT_FALSE(cache.loadCachedJson(audio_ / "mic_0001.wav", "tiny", std::nullopt));
    const auto stored =
        cache.loadCachedResults<vocalith::TranscriptionResult>(audio_ / "mic_0002.wav", "tiny", std::nullopt);
    ASSERT_TRUE(stored);
    EXPECT_EQ((*stored)[0].segments()[0].start, 1) << "stored before the shift";
    EXPECT_EQ((*stored)[0].segments()[0].text, "hello") << "and before the sanitizer";

    // Again: from the cache, with the sanitizer of this run.
    sanitizer_ = [](std::string_view t) { return t == "hello" ? std::string() : std::string(t); };
    const auto again = run(*service, chunks({"mic_0000.wav", "mic_0002.wav"}));
    EXPECT_EQ(engine_->calls, 2);
    ASSERT_EQ(again.results.size(), 2u);
    EXPECT_TRUE(again.results[1]->segments().empty());
    EXPECT_TRUE(log_.contains("chunk cache hit: mic_0002.wav"));
    EXPECT_EQ(configs().size(), 1u) << "the engine is kept for the same model";
}

// A result the cache cannot store (a score that is not a number) still reaches the transcript.
TEST_F(WhisperServiceTest, AResultTheCacheCannotEncodeKeepsTheTrack) {
    engine_->answer = [] {
        auto segment = testing::engineSegment({1, 2, "hello"});
        segment.avgLogprob = std::numeric_limits<float>::quiet_NaN();
        return std::vector{std::make_shared<vocalith::TranscriptionResult>(
            "hello", std::vector{segment}, "en", vocalith::TranscriptionTimings{}, 0.0f)};
    };
    auto service = makeService();
    const auto output = run(*service, chunks({"mic_0000.wav"}));
    ASSERT_EQ(output.results.size(), 1u);
    EXPECT_EQ(output.results[0]->segments()[0].text, "<hello>");
    EXPECT_TRUE(log_.contains("WhisperTranscriptionService: failed to encode cache for mic_0000.wav: "));
    EXPECT_FALSE(SpeechResultCache(dir_.path() / "cache")
                     .loadCachedJson(audio_ / "mic_0000.wav", "tiny", std::nullopt));
    EXPECT_TRUE(slotIsFree());
}

TEST_F(WhisperServiceTest, TransientEngineFailuresAreRetriedOthersAreNot) {
    auto service = makeService();
    int failures = 2;
    engine_->answer = [&] {
        if (failures-- > 0)
            throw std::runtime_error("Request TIMED OUT");
        return std::vector{result({{1, 2, "x"}})};
    };
    EXPECT_EQ(run(*service, chunks({"mic_0000.wav"})).results.size(), 1u);
    EXPECT_EQ(engine_->calls, 3);
    EXPECT_TRUE(log_.contains("whisper retry attempt=2 error=Request TIMED OUT"));

    engine_->answer = []() -> std::vector<vocalith::TranscriptionResultPtr> {
        throw platform::HttpError(platform::HttpError::Code::badURL, "timed out");
    };
    EXPECT_THROW(run(*service, chunks({"mic_0002.wav"})), platform::HttpError);
    EXPECT_EQ(engine_->calls, 4);
    EXPECT_TRUE(slotIsFree());
}

TEST_F(WhisperServiceTest, AFailingNewModelKeepsTheLoadedOne) {
    auto service = makeService();
    run(*service, chunks({"mic_0000.wav"}), "A");
    onCreate = [](const vocalith::VocalithConfig& config, std::stop_token) {
        if (config.model == "B")
            throw std::runtime_error("model B is damaged");
    };
    EXPECT_THROW(run(*service, chunks({"mic_0000.wav"}), "B"), std::runtime_error);
    EXPECT_EQ(service->loadedModel(), "A");
    onCreate = nullptr;
    run(*service, chunks({"mic_0000.wav"}), "B");
    EXPECT_EQ(service->loadedModel(), "B");
}

// A creation that hangs costs three limits and the two waits, then frees the slot at once; what
// it makes later is thrown away.
TEST_F(WhisperServiceTest, AHungCreationTimesOutAndFreesTheSlot) {
    auto service = makeService();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    onCreate = [released](const vocalith::VocalithConfig&, std::stop_token) { released.wait(); };
    const auto started = clock_.now();
    try {
        run(*service, chunks({"mic_0000.wav"}));
        FAIL() << "no time-out";
    } catch (const VocalithInitTimeoutError& error) {
        EXPECT_STREQ(error.what(), "Vocalith initialization timed out (GPU/Metal not ready)");
    }
    EXPECT_GE(clock_.now() - started, 3 * 120s + 3s);
    EXPECT_TRUE(slotIsFree());
    release.set_value();
    EXPECT_EQ(service->loadedModel(), std::nullopt);
    EXPECT_EQ(configs().size(), 3u);
}

// The engine goes once it has gone unused for 300 s, also when chunks used it after its hand-out.
TEST_F(WhisperServiceTest, TheEngineIsDroppedAfterThreeHundredSecondsUnused) {
    auto service = makeService();
    engine_->answer = [this] {
        clock_.advance(100s);
        return std::vector{result({{1, 2, "x"}})};
    };
    auto done = std::async(std::launch::async, [&] {
        return service->loadWhisperOutput({.source = "mic", .chunkPaths = chunks({"mic_0000.wav"})}, "tiny",
                                          std::nullopt, sanitizer_, {});
    });
    done.get(); // handed out at t, last used at t + 100 s
    clock_.advance(200s);
    EXPECT_EQ(service->loadedModel(), "tiny") << "only 200 s unused";
    clock_.advance(99s);
    EXPECT_EQ(service->loadedModel(), "tiny");
    clock_.advance(1s);
    EXPECT_EQ(service->loadedModel(), std::nullopt);
    EXPECT_TRUE(log_.contains("Vocalith model unloaded after 300s idle"));
}

TEST_F(WhisperServiceTest, CancellationAndUnreadableChunksEndTheTrackAndFreeTheSlot) {
    auto service = makeService();
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(run(*service, chunks({"mic_0000.wav"}), "tiny", stop.get_token()),
                 platform::CancellationError);
    EXPECT_TRUE(slotIsFree());

    run(*service, chunks({"mic_0000.wav"})); // now cached
    fs::remove(audio_ / "mic_0000.wav");
    EXPECT_ANY_THROW(run(*service, chunks({"mic_0000.wav"})));
    EXPECT_TRUE(slotIsFree());
    EXPECT_TRUE(run(*service, {}).results.empty());
}

} // namespace
} // namespace velnote
