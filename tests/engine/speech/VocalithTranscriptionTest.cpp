// The engine's transcription entry points: the whole engine on a crafted variant served by a model
// hub on 127.0.0.1, and the batching, ordering and failure rules on an engine whose single task is
// replaced by a fake.

#include "engine/speech/Vocalith.h"
#include "engine/speech/WhisperError.h"
#include "engine/speech/transcription/SegmentSeeker.h"
#include "platform/concurrency/CancellationError.h"
#include "support/CraftedVariant.h"
#include "support/FakeHub.h"
#include "support/LogLines.h"
#include "support/TempDir.h"
#include "support/TestAudio.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>

namespace vocalith {
namespace {

namespace fs = std::filesystem;
using basalith::ModelState;
using testing::TestAudio;

constexpr int kRate = 16000;

std::vector<float> silence(double seconds) {
    return std::vector<float>(static_cast<std::size_t>(seconds * kRate), 0.0f);
}

std::vector<float> joined(std::initializer_list<std::vector<float>> parts) {
    std::vector<float> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::string messageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return caught.what();
    }
}

const std::vector<TranscriptionResultPtr>& results(const TranscriptionOutcome& outcome) {
    return std::get<std::vector<TranscriptionResultPtr>>(outcome);
}

// --- The whole engine ---

// The crafted decoder attends to every frame alike, which times every word at the window's start.
// This seeker hands the real word-timing code an alignment that moves on by 0.4 s a token instead,
// as a trained model's would.
class MovingAlignmentSeeker : public SegmentSeeker {
  public:
    std::optional<std::vector<TranscriptionSegment>>
    addWordTimestamps(std::vector<TranscriptionSegment> segments,
                      const basalith::MultiArray& alignmentWeights, const WhisperTokenizer& tokenizer,
                      std::int64_t seek, std::int64_t segmentSize, std::string_view prependPunctuations,
                      std::string_view appendPunctuations, float lastSpeechTimestamp,
                      const DecodingOptions& options, const TranscriptionTimings& timings) const override {
        const auto rows = alignmentWeights.shape().front();
        const auto frames = alignmentWeights.shape().back();
        basalith::MultiArray moving({rows, frames}, basalith::MultiArrayDataType::float16);
        auto* weights = moving.dataAs<basalith::Float16>();
        for (std::int64_t row = 0; row < rows; ++row)
            for (std::int64_t frame = row * 20; frame < std::min(frames, row * 20 + 20); ++frame)
                weights[row * frames + frame] = basalith::Float16(0.05f);
        return SegmentSeeker::addWordTimestamps(std::move(segments), moving, tokenizer, seek, segmentSize,
                                                prependPunctuations, appendPunctuations, lastSpeechTimestamp,
                                                options, timings);
    }
};

class VocalithTranscriptionTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        variant_ = new velnote::testing::TempDir;
        testing::CraftedVariant{}.write(variant_->path());
    }
    static void TearDownTestSuite() {
        delete variant_;
        variant_ = nullptr;
    }

    static std::shared_ptr<Vocalith> loadedEngine() {
        return Vocalith::create(VocalithConfig{.modelFolder = variant_->path().string(), .verbose = false});
    }

    static inline velnote::testing::TempDir* variant_ = nullptr;
};

TEST_F(VocalithTranscriptionTest, AHubVariantTranscribesLongAudioInChunksWithTimedWords) {
    basalith::testing::FakeHub hub;
    for (const auto& [path, content] : testing::filesBelow(variant_->path()))
        hub.addFile("quorvaneinc/vocalith-coreml", "openai_whisper-tiny/" + path, content);
    const velnote::testing::TempDir cache;
    const auto engine =
        Vocalith::create(VocalithConfig{.model = "tiny",
                                        .downloadBase = cache.path(),
                                        .modelEndpoint = hub.endpoint(),
                                        .segmentSeeker = std::make_shared<MovingAlignmentSeeker>(),
                                        .verbose = false,
                                        .load = true});
    std::mutex mutex;
    std::vector<std::vector<TranscriptionSegment>> discovered;
    engine->setSegmentDiscoveryCallback([&](const std::vector<TranscriptionSegment>& segments) {
        std::lock_guard lock(mutex);
        discovered.push_back(segments);
    });
    bool ownCallbackCalled = false;

    // Speech, a long pause, speech: the cut falls in the pause, so each chunk holds one stretch.
    const auto audio = joined({TestAudio::tone(14, kRate), silence(12), TestAudio::tone(14, kRate)});
    DecodingOptions options;
    options.chunkingStrategy = ChunkingStrategy::vad;
    options.wordTimestamps = true;
    const auto transcribed =
        engine->transcribe(audio, options, {}, [&](const auto&) { ownCallbackCalled = true; });

    ASSERT_EQ(transcribed.size(), 2u);
    const float cut = *transcribed[1]->seekTime();
    EXPECT_EQ(transcribed[0]->seekTime(), 0.0f);
    EXPECT_GT(cut, 14.0f);
    EXPECT_LT(cut, 26.0f);
    for (std::size_t chunk = 0; chunk < 2; ++chunk) {
        SCOPED_TRACE(chunk);
        const float start = chunk == 0 ? 0.0f : cut;
        // One window per chunk: the crafted decoder closes its one segment at 8 s and gives no
        // timestamp pair, so the window is taken whole.
        const auto segments = transcribed[chunk]->segments();
        ASSERT_EQ(segments.size(), 1u);
        const auto& segment = segments[0];
        EXPECT_NE(segment.text.find("<|0.00|>Hello world.<|8.00|>"), std::string::npos) << segment.text;
        EXPECT_EQ(segment.seek, std::lround(start * kRate));
        // Word timing narrowed the segment to its words, on the whole recording's time line.
        ASSERT_TRUE(segment.words);
        ASSERT_EQ(segment.words->size(), 2u);
        const auto& words = *segment.words;
        EXPECT_EQ(words[0].word, "Hello");
        EXPECT_EQ(words[1].word, " world.");
        EXPECT_GE(words[0].start, start);
        EXPECT_LT(words[0].start, words[0].end);
        EXPECT_LE(words[0].end, words[1].start);
        EXPECT_LT(words[1].start, words[1].end);
        EXPECT_LE(words[1].end, start + 8.0f);
        EXPECT_FLOAT_EQ(segment.start, words[0].start);
        EXPECT_FLOAT_EQ(segment.end, words[1].end);
        EXPECT_EQ(transcribed[chunk]->text(), "Hello world.");
    }

    // The caller's own segment callback is not used on this path; the engine's hears every window,
    // with the window's place moved onto the whole recording and its times still the chunk's.
    EXPECT_FALSE(ownCallbackCalled);
    ASSERT_EQ(discovered.size(), 2u);
    std::set<std::int64_t> seeks;
    for (const auto& segments : discovered) {
        ASSERT_EQ(segments.size(), 1u);
        seeks.insert(segments[0].seek);
        EXPECT_LT(segments[0].end, 8.01f);
    }
    EXPECT_EQ(seeks, (std::set<std::int64_t>{0, static_cast<std::int64_t>(std::lround(cut * kRate))}));
}

TEST_F(VocalithTranscriptionTest, AnUnloadedEngineLoadsAgainAndShortAudioIsOneTask) {
    const auto engine = loadedEngine();
    const auto tokenizer = engine->tokenizer();
    engine->unloadModels();

    DecodingOptions options;
    options.chunkingStrategy = ChunkingStrategy::vad;
    std::vector<std::int64_t> windowIds;
    const auto result =
        engine->transcribeFirst(TestAudio::tone(2, kRate), options, [&](const auto& progress) {
            windowIds.push_back(progress.windowId);
            return std::optional<bool>();
        });
    EXPECT_EQ(engine->modelState(), ModelState::loaded);
    EXPECT_EQ(engine->tokenizer(), tokenizer);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->text(), "Hello world.");
    EXPECT_EQ(result->seekTime(), std::nullopt);
    EXPECT_FALSE(windowIds.empty());
    // The finished run's progress object was replaced by a fresh one.
    EXPECT_EQ(engine->progress()->totalUnitCount(), 0);
}

TEST_F(VocalithTranscriptionTest, ACancelledCallThrowsAndLeavesAFreshProgress) {
    const auto engine = loadedEngine();
    const auto before = engine->progress();
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(engine->transcribe(TestAudio::tone(2, kRate), DecodingOptions(), {}, {}, stop.get_token()),
                 velnote::platform::CancellationError);
    EXPECT_NE(engine->progress(), before);
}

// --- Batches, order and failures, on a fake task ---

// Each input is told by its loudest sample (k / 10 for input k). The fake "transcribes" it into a
// result whose text is k, after a pause that makes later inputs finish first, and reports one
// progress record and one segment on the way.
class FakeTaskEngine : public Vocalith {
  public:
    explicit FakeTaskEngine(const VocalithConfig& config) : Vocalith(config) {}

    static std::vector<float> input(int k, double seconds = 1) {
        return TestAudio::tone(seconds, kRate, 440, k / 10.0);
    }

    std::vector<TranscriptionResultPtr> runTranscribeTask(const std::vector<float>& audioArray,
                                                          const std::optional<DecodingOptions>&,
                                                          const ProgressCallback& callback,
                                                          const SegmentDiscoveryCallback& segmentCallback,
                                                          const std::stop_token&) override {
        float loudest = 0;
        for (const float sample : audioArray)
            loudest = std::max(loudest, std::abs(sample));
        const int k = static_cast<int>(std::lround(loudest * 10));
        meetTheOthers();
        std::this_thread::sleep_for(std::chrono::milliseconds(10 * (6 - k)));
        if (callback)
            callback(TranscriptionProgress{.text = std::to_string(k)});
        if (segmentCallback)
            segmentCallback(
                {TranscriptionSegment{.seek = 0, .start = 0, .end = 1, .text = std::to_string(k)}});
        {
            std::lock_guard lock(mutex_);
            --running_;
        }
        if (failing.contains(k))
            throw WhisperError::transcriptionFailed("input " + std::to_string(k) + " failed");
        return {std::make_shared<TranscriptionResult>(
            std::to_string(k), std::vector<TranscriptionSegment>{TranscriptionSegment{.start = 0, .end = 1}},
            "en", TranscriptionTimings{})};
    }

    int maxRunning() const {
        std::lock_guard lock(mutex_);
        return maxRunning_;
    }

    // Each task then waits until `together` tasks run at once, or every one of `inputs` has
    // started, so the count of concurrent tasks does not depend on how the threads are scheduled.
    void expectTogether(int together, int inputs) {
        std::lock_guard lock(mutex_);
        together_ = together;
        inputs_ = inputs;
    }

    std::set<int> failing;

  private:
    void meetTheOthers() {
        std::unique_lock lock(mutex_);
        ++started_;
        maxRunning_ = std::max(maxRunning_, ++running_);
        changed_.notify_all();
        // Bounded, so that an engine running fewer at once fails the count instead of hanging.
        changed_.wait_for(lock, std::chrono::seconds(30),
                          [this] { return running_ >= together_ || started_ >= inputs_; });
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int running_ = 0;
    int maxRunning_ = 0;
    int started_ = 0;
    int together_ = 1;
    int inputs_ = 0;
};

std::shared_ptr<FakeTaskEngine> fakeEngine() {
    return Vocalith::create<FakeTaskEngine>(VocalithConfig{.verbose = false, .download = false});
}

std::vector<std::string> texts(const std::vector<TranscriptionOutcome>& outcomes) {
    std::vector<std::string> answer;
    for (const auto& outcome : outcomes) {
        if (const auto* list = std::get_if<std::vector<TranscriptionResultPtr>>(&outcome))
            answer.push_back(list->empty() ? "" : list->front()->text());
        else
            answer.push_back("error: " + messageOf(std::get<std::exception_ptr>(outcome)));
    }
    return answer;
}

TEST(VocalithBatchTest, BatchesOfTheWorkerCountRunInTurnAndAnswerInInputOrder) {
    const auto engine = fakeEngine();
    std::vector<std::vector<float>> inputs;
    for (int k = 1; k <= 5; ++k)
        inputs.push_back(FakeTaskEngine::input(k));
    const auto withWorkers = [](int count) {
        DecodingOptions options;
        options.concurrentWorkerCount = count;
        return options;
    };
    std::mutex mutex;
    std::map<std::string, std::int64_t> windowIds; // text reported -> window id
    const ProgressCallback callback = [&](const TranscriptionProgress& progress) -> std::optional<bool> {
        std::lock_guard lock(mutex);
        windowIds[progress.text] = progress.windowId;
        return true;
    };

    struct Case {
        int workers;
        int expectedMaxRunning;
    };
    for (const Case& c : {Case{2, 2}, Case{0, 5}, Case{-3, 1}}) {
        SCOPED_TRACE(c.workers);
        const auto fresh = fakeEngine();
        fresh->expectTogether(c.expectedMaxRunning, static_cast<int>(inputs.size()));
        const auto outcomes = fresh->transcribeWithResults(inputs, withWorkers(c.workers), callback);
        EXPECT_EQ(texts(outcomes), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
        EXPECT_EQ(fresh->maxRunning(), c.expectedMaxRunning);
        EXPECT_EQ(windowIds,
                  (std::map<std::string, std::int64_t>{{"1", 0}, {"2", 1}, {"3", 2}, {"4", 3}, {"5", 4}}));
    }

    // The largest count among the options decides; absent options count as 0.
    engine->expectTogether(3, static_cast<int>(inputs.size()));
    const auto mixed = engine->transcribeWithOptions(
        inputs, {withWorkers(1), std::nullopt, withWorkers(3), withWorkers(1), withWorkers(1)});
    EXPECT_EQ(texts(mixed), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(engine->maxRunning(), 3);
}

TEST(VocalithBatchTest, UnbalancedListsGiveOneErrorAndFailuresStayWithTheirInput) {
    const auto engine = fakeEngine();
    const std::vector<std::vector<float>> three = {FakeTaskEngine::input(1), FakeTaskEngine::input(2),
                                                   FakeTaskEngine::input(3)};
    EXPECT_EQ(
        texts(engine->transcribeWithOptions(three, {DecodingOptions(), DecodingOptions()})),
        std::vector<std::string>{"error: The number of audio arrays and decoding options must be balanced."});
    EXPECT_EQ(texts(engine->transcribeWithOptions(three, {std::nullopt, std::nullopt, std::nullopt},
                                                  std::vector<std::int64_t>{0})),
              std::vector<std::string>{
                  "error: The number of audio arrays and seek offset indexes must be balanced."});
    EXPECT_TRUE(engine->transcribeWithOptions({}, {}).empty());

    engine->failing = {2};
    EXPECT_EQ(texts(engine->transcribeWithResults(three)),
              (std::vector<std::string>{"1", "error: input 2 failed", "3"}));
    const auto optional = engine->transcribe(three);
    ASSERT_EQ(optional.size(), 3u);
    EXPECT_TRUE(optional[0] && !optional[1] && optional[2]);
}

TEST(VocalithBatchTest, SeekOffsetsMoveTheReportedSegmentsOfEachInput) {
    const auto engine = fakeEngine();
    std::mutex mutex;
    std::map<std::string, std::int64_t> seeks;
    engine->setSegmentDiscoveryCallback([&](const std::vector<TranscriptionSegment>& segments) {
        std::lock_guard lock(mutex);
        seeks[segments.front().text] = segments.front().seek;
    });
    engine->transcribeWithOptions({FakeTaskEngine::input(1), FakeTaskEngine::input(2)},
                                  {std::nullopt, std::nullopt}, std::vector<std::int64_t>{1000, 64000});
    EXPECT_EQ(seeks, (std::map<std::string, std::int64_t>{{"1", 1000}, {"2", 64000}}));
}

TEST(VocalithBatchTest, AChunkedRunKeepsTheChunksThatWorkedAndFailsWhenNoneDid) {
    basalith::testing::LogLines log(basalith::Logging::LogLevel::error);
    const auto engine = fakeEngine();
    basalith::Logging::shared().setLogLevel(basalith::Logging::LogLevel::error);
    // Two stretches of speech, told apart by their loudness, with a pause to cut in.
    const auto audio = joined({FakeTaskEngine::input(1, 14), silence(12), FakeTaskEngine::input(2, 14)});
    DecodingOptions options;
    options.chunkingStrategy = ChunkingStrategy::vad;

    engine->failing = {1};
    const auto partial = engine->transcribe(audio, options);
    ASSERT_EQ(partial.size(), 1u);
    EXPECT_EQ(partial[0]->text(), "2");
    EXPECT_GT(*partial[0]->seekTime(), 14.0f);
    EXPECT_TRUE(log.contains("Error transcribing chunk 0: input 1 failed"));

    // Nothing transcribed is no empty success: the first chunk's error comes back.
    engine->failing = {1, 2};
    try {
        engine->transcribe(audio, options);
        ADD_FAILURE() << "no error";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.message(), "input 1 failed");
    }
}

TEST(VocalithBatchTest, FilesLoadInOrderAndAnUnreadableOneKeepsItsPlace) {
    const velnote::testing::TempDir folder;
    const auto engine = fakeEngine();
    std::vector<TranscriptionState> states;
    engine->setTranscriptionStateCallback([&](TranscriptionState state) { states.push_back(state); });
    TestAudio::writeMono(folder / "one.wav", kRate, FakeTaskEngine::input(1));
    // A stereo file at another rate: its channels summed, resampled to 16 kHz.
    TestAudio::writeTone(folder / "three.wav", 44100, 2, 1, {1, 1}, 440, 0.3);
    const std::vector<std::string> paths = {(folder / "one.wav").string(), (folder / "absent.wav").string(),
                                            (folder / "three.wav").string()};

    const auto outcomes = engine->transcribeWithResults(paths);
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(results(outcomes[0]).front()->text(), "1");
    EXPECT_NE(messageOf(std::get<std::exception_ptr>(outcomes[1])).find("absent.wav"), std::string::npos);
    EXPECT_EQ(results(outcomes[2]).front()->text(), "3");
    EXPECT_EQ(states, (std::vector<TranscriptionState>{TranscriptionState::convertingAudio,
                                                       TranscriptionState::transcribing,
                                                       TranscriptionState::finished}));
    const auto optional = engine->transcribe(paths);
    EXPECT_TRUE(optional[0] && !optional[1] && optional[2]);

    states.clear();
    EXPECT_EQ(engine->transcribeFirst(paths[0])->text(), "1");
    EXPECT_THROW(engine->transcribe(paths[1]), std::exception);
    // A file that cannot be loaded reports no further state.
    EXPECT_EQ(states, (std::vector<TranscriptionState>{
                          TranscriptionState::convertingAudio, TranscriptionState::transcribing,
                          TranscriptionState::finished, TranscriptionState::convertingAudio}));
    EXPECT_GT(engine->currentTimings().audioLoading, 0);
}

} // namespace
} // namespace vocalith
