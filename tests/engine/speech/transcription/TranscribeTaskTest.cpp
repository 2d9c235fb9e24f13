// The window loop and temperature fallback of the transcription task, over fake models: a decoder
// that answers scripted passes and records where each pass started, and stand-in feature extractor
// and encoder. Segments come from the engine's own seeker.

#include "engine/speech/transcription/TranscribeTask.h"

#include "engine/foundation/support/LogLines.h"
#include "engine/speech/WhisperError.h"
#include "engine/speech/decoding/TextUtilities.h"
#include "engine/speech/transcription/StreamTranscribeTask.h"
#include "platform/concurrency/CancellationError.h"
#include "support/ScriptedTextDecoder.h"
#include "support/TestTokenizer.h"

#include <gtest/gtest.h>
#include <mutex>

namespace vocalith {
namespace {

using basalith::Float16;
using basalith::MultiArray;
using basalith::MultiArrayDataType;
using basalith::testing::LogLines;
using testing::TestVocabulary;
using V = TestVocabulary;

constexpr std::int64_t kWindow = 480000;

class FakeFeatureExtractor : public FeatureExtracting {
  public:
    std::optional<std::int64_t> window = kWindow;
    bool answers = true;
    std::vector<std::int64_t> paddedLengths;

    std::optional<std::int64_t> melCount() const override { return 80; }
    std::optional<std::int64_t> windowSamples() const override { return window; }
    std::optional<FeatureExtractorOutputType> logMelSpectrogram(const AudioProcessorOutputType& audio,
                                                                const std::stop_token&) override {
        paddedLengths.push_back(audio.count());
        if (!answers)
            return std::nullopt;
        return MultiArray({1, 80, 1, 3}, MultiArrayDataType::float16);
    }
};

class FakeAudioEncoder : public AudioEncoding {
  public:
    int calls = 0;
    std::optional<std::int64_t> embedSize() const override { return 2; }
    std::optional<AudioEncoderOutputType> encodeFeatures(const FeatureExtractorOutputType&,
                                                         const std::stop_token&) override {
        ++calls;
        return testing::fakeEncoderOutput();
    }
};

// Answers passes[k] at its k-th pass (the last one once they run out), moving the cache position on
// by the pass's tokens as a real decoder would; records each pass's start position, temperature and
// language, and reports one progress record per pass.
class PassDecoder : public testing::ScriptedTextDecoder {
  public:
    PassDecoder() : ScriptedTextDecoder({V::endOfText}) { setTokenizer(testing::makeTestTokenizer()); }

    std::vector<DecodingResult> passes;
    std::vector<std::int32_t> startPositions;
    std::vector<float> temperatures;
    std::vector<std::optional<std::string>> languages;
    std::optional<std::string> detects;

    std::function<void(std::size_t)> beforePass;

    DecodingResult decodeText(const MultiArray&, DecodingInputs& inputs, TokenSampling& sampler,
                              const DecodingOptions& options, const ProgressCallback& callback,
                              const std::stop_token&) override {
        const std::size_t pass = startPositions.size();
        if (beforePass)
            beforePass(pass);
        auto* position = inputs.cacheLength.dataAs<std::int32_t>();
        startPositions.push_back(*position);
        temperatures.push_back(static_cast<float>(dynamic_cast<GreedyTokenSampler&>(sampler).temperature()));
        languages.push_back(options.language);
        DecodingResult result = passes.at(std::min(pass, passes.size() - 1));
        *position += static_cast<std::int32_t>(result.tokens.size());
        if (callback)
            callback(TranscriptionProgress{.text = result.text});
        return result;
    }

    DecodingResult detectLanguage(const MultiArray&, DecodingInputs&, TokenSampling&, const DecodingOptions&,
                                  Float16, const std::stop_token&) override {
        if (!detects)
            throw WhisperError::decodingFailed("no language");
        DecodingResult result;
        result.language = *detects;
        return result;
    }
};

std::vector<float> seconds(double length) {
    return std::vector<float>(static_cast<std::size_t>(length * 16000), 0.1f);
}

// A pass of text between two timestamps, [0, end] seconds, closed by a second timestamp at its end
// (so the next window starts there), with an optional fallback verdict.
DecodingResult spoken(double end, std::optional<std::string> fallbackReason = std::nullopt,
                      float temperature = 0) {
    DecodingResult result;
    result.tokens = {V::startOfTranscript, V::timestamp(0),   'h',         'i',
                     V::timestamp(end),    V::timestamp(end), V::endOfText};
    for (const auto token : result.tokens)
        result.tokenLogProbs.push_back({{token, -0.1f}});
    result.text = "hi";
    result.language = "en";
    result.temperature = temperature;
    if (fallbackReason)
        result.fallback = DecodingFallback{.needsFallback = true, .fallbackReason = *fallbackReason};
    return result;
}

// The last timestamp pair at zero: the seeker proposes the window's own start.
DecodingResult atZero() {
    DecodingResult result = spoken(0);
    result.tokens = {V::timestamp(0), 'a', V::timestamp(0), V::timestamp(0), V::endOfText};
    result.tokenLogProbs.assign(result.tokens.size(), {});
    return result;
}

DecodingResult silent() {
    DecodingResult result = spoken(1);
    result.noSpeechProb = 0.9f;
    result.avgLogProb = -2;
    return result;
}

class TranscribeTaskTest : public ::testing::Test {
  protected:
    std::unique_ptr<TranscribeTask> makeTask(TranscriptionTimings timings = {}) {
        return std::make_unique<TranscribeTask>(timings, nullptr, nullptr, encoder_, extractor_, seeker_,
                                                decoder_, decoder_->tokenizer());
    }
    TranscriptionResultPtr run(const std::vector<float>& audio,
                               const std::optional<DecodingOptions>& options = {}) {
        task_ = makeTask();
        return task_->run(audio, options);
    }

    std::shared_ptr<FakeFeatureExtractor> extractor_ = std::make_shared<FakeFeatureExtractor>();
    std::shared_ptr<FakeAudioEncoder> encoder_ = std::make_shared<FakeAudioEncoder>();
    std::shared_ptr<SegmentSeeking> seeker_ = std::make_shared<SegmentSeeker>();
    std::shared_ptr<PassDecoder> decoder_ = std::make_shared<PassDecoder>();
    std::unique_ptr<TranscribeTask> task_;
};

TEST_F(TranscribeTaskTest, TemperatureFallback) {
    struct Case {
        int fallbackCount;
        std::vector<bool> retries;       // verdict of each pass
        std::vector<float> temperatures; // in half precision
        double totalFallbacks;
    };
    const Case cases[] = {
        // No fallback allowed: a pass that asks for one is still the window's result.
        {0, {true}, {0}, 0},
        // Every pass asks: four passes, three of them followed by another, the last one kept.
        {3, {true, true, true, true}, {0, 0.199951171875f, 0.39990234375f, 0.599609375f}, 3},
        {5, {true, false}, {0, 0.199951171875f}, 1},
        // A negative count is read as none.
        {-2, {true}, {0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fallbackCount);
        decoder_ = std::make_shared<PassDecoder>();
        for (std::size_t i = 0; i < c.retries.size(); ++i)
            decoder_->passes.push_back(spoken(
                9.5, c.retries[i] ? std::optional<std::string>("compressionRatioThreshold") : std::nullopt,
                static_cast<float>(i)));
        LogLines log(basalith::Logging::LogLevel::info);
        const auto result =
            run(seconds(10),
                DecodingOptions(DecodingOptions::Arguments{.temperatureFallbackCount = c.fallbackCount}));

        ASSERT_EQ(decoder_->temperatures.size(), c.temperatures.size());
        for (std::size_t i = 0; i < c.temperatures.size(); ++i)
            EXPECT_EQ(decoder_->temperatures[i], c.temperatures[i]);
        std::vector<std::string> fallbackLines;
        for (const auto& line : log.lines())
            if (line.starts_with("Fallback #"))
                fallbackLines.push_back(line);
        std::vector<std::string> expectedLines;
        for (std::size_t i = 0; i < c.retries.size(); ++i)
            if (c.retries[i])
                expectedLines.push_back("Fallback #" + std::to_string(i + 1) +
                                        " (compressionRatioThreshold)");
        EXPECT_EQ(fallbackLines, expectedLines);
        EXPECT_EQ(result->timings().totalDecodingFallbacks, c.totalFallbacks);
        // The last pass is the window's result, and every pass started from the prefilled cache.
        ASSERT_EQ(result->segments().size(), 1u);
        EXPECT_EQ(result->segments()[0].temperature, static_cast<float>(c.retries.size() - 1));
        for (const auto position : decoder_->startPositions)
            EXPECT_EQ(position, decoder_->startPositions.front());
    }
}

// Records the first alignment weight each word timing is given.
class WeightRecordingSeeker : public SegmentSeeker {
  public:
    mutable std::vector<float> firstWeights;
    std::optional<std::vector<TranscriptionSegment>>
    addWordTimestamps(std::vector<TranscriptionSegment> segments, const MultiArray& weights,
                      const WhisperTokenizer&, std::int64_t, std::int64_t, std::string_view, std::string_view,
                      float, const DecodingOptions&, const TranscriptionTimings&) const override {
        firstWeights.push_back(weights.toFloatArray().front());
        return segments;
    }
};

TEST_F(TranscribeTaskTest, ALastPassThatHeardNothingGivesWayToTheLikeliestEarlierPass) {
    DecodingResult nothing = spoken(0, "firstTokenLogProbThreshold", 3);
    nothing.tokens = {V::startOfTranscript, V::timestamp(0), V::endOfText};
    nothing.tokenLogProbs.assign(nothing.tokens.size(), {});
    struct Case {
        std::vector<float> avgLogProbs; // of the passes that heard "hi"; then a pass that heard nothing
        float keptTemperature;
    };
    const Case cases[] = {
        {{-0.4f, -0.2f, -0.3f}, 1}, // the likeliest of the passes with text
        {{}, 0},                    // no pass heard anything: the last pass stands
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.avgLogProbs.size());
        decoder_ = std::make_shared<PassDecoder>();
        auto recorder = std::make_shared<WeightRecordingSeeker>();
        seeker_ = recorder;
        // Every pass fills the one alignment buffer the decoder keeps, as the real decoder does.
        MultiArray shared({8, 3}, MultiArrayDataType::float16);
        for (std::size_t i = 0; i < c.avgLogProbs.size(); ++i) {
            decoder_->passes.push_back(spoken(9.5, "compressionRatioThreshold", static_cast<float>(i)));
            decoder_->passes.back().avgLogProb = c.avgLogProbs[i];
        }
        decoder_->passes.push_back(nothing);
        decoder_->passes.back().temperature = static_cast<float>(c.avgLogProbs.size());
        for (auto& pass : decoder_->passes)
            pass.cache = DecodingCache{.alignmentWeights = shared};
        decoder_->beforePass = [&](std::size_t pass) {
            std::fill_n(shared.dataAs<Float16>(), 24, Float16(static_cast<float>(pass)));
        };

        const auto result = run(
            seconds(10),
            DecodingOptions(DecodingOptions::Arguments{
                .temperatureFallbackCount = static_cast<int>(c.avgLogProbs.size()), .wordTimestamps = true}));
        EXPECT_EQ(decoder_->temperatures.size(), c.avgLogProbs.size() + 1);
        if (c.avgLogProbs.empty()) {
            EXPECT_EQ(result->text(), "");
            continue;
        }
        EXPECT_EQ(result->text(), "hi");
        ASSERT_EQ(result->segments().size(), 1u);
        EXPECT_EQ(result->segments()[0].temperature, c.keptTemperature);
        // Word timing reads the kept pass's own weights, not those of the passes after it.
        EXPECT_EQ(recorder->firstWeights, std::vector<float>{c.keptTemperature});
    }
}

TEST_F(TranscribeTaskTest, FallbacksAddUpOverWindowsAndRuns) {
    decoder_->passes = {spoken(2, "logProbThreshold")};
    const DecodingOptions options(DecodingOptions::Arguments{.temperatureFallbackCount = 3});
    const auto task = makeTask();
    // 3.5 s: a window at 0 s and one at 2 s (where the first window's last timestamp says to go
    // on), each with three passes decoded again; the task's timings carry over to its next run.
    EXPECT_EQ(task->run(seconds(3.5), options)->timings().totalDecodingFallbacks, 6);
    const auto second = task->run(seconds(3.5), options);
    EXPECT_EQ(second->timings().totalDecodingFallbacks, 12);
    EXPECT_EQ(second->timings().totalDecodingWindows, 4);
}

TEST_F(TranscribeTaskTest, OneShortWindowIsPaddedToTheModelWindow) {
    decoder_->passes = {spoken(9.5)};
    const auto result = run(seconds(10));
    EXPECT_EQ(extractor_->paddedLengths, std::vector<std::int64_t>{kWindow});
    ASSERT_EQ(result->segments().size(), 1u);
    EXPECT_EQ(result->segments()[0].start, 0);
    EXPECT_EQ(result->segments()[0].end, 9.5f);
    EXPECT_EQ(result->text(), "hi");
    EXPECT_EQ(result->language(), "en");
    EXPECT_EQ(task_->progress()->totalUnitCount(), 160000);
    EXPECT_TRUE(task_->progress()->isFinished());
    const auto timings = result->timings();
    EXPECT_EQ(timings.totalEncodingRuns, 1);
    EXPECT_EQ(timings.totalDecodingWindows, 1);
    EXPECT_DOUBLE_EQ(timings.inputAudioSeconds, 10);
}

TEST_F(TranscribeTaskTest, WindowsFollowTheSeekPoints) {
    struct Case {
        std::string name;
        std::vector<DecodingResult> passes;
        std::optional<int> maxWindowSeek;
        std::vector<std::int64_t> seeks; // of the segments found
    };
    const Case cases[] = {
        {"each window goes on at its last timestamp", {spoken(20)}, std::nullopt, {0, 320000}},
        {"the advance is capped", {spoken(20)}, 160000, {0, 160000, 320000, 480000}},
        // A silent window adds nothing and moves on by its whole size.
        {"a silent window", {silent(), spoken(20)}, std::nullopt, {480000}},
        // Time tokens all at zero would leave the seek where it is: the window counts as heard.
        {"no advance", {atZero()}, std::nullopt, {0, 480000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        decoder_ = std::make_shared<PassDecoder>();
        decoder_->passes = c.passes;
        const auto result =
            run(seconds(40), DecodingOptions(DecodingOptions::Arguments{.maxWindowSeek = c.maxWindowSeek}));
        std::vector<std::int64_t> seeks;
        for (const auto& segment : result->segments())
            seeks.push_back(segment.seek);
        EXPECT_EQ(seeks, c.seeks);
        // Every window, silent ones too, starts decoding from the prefilled cache.
        for (const auto position : decoder_->startPositions)
            EXPECT_EQ(position, decoder_->startPositions.front());
    }
}

TEST_F(TranscribeTaskTest, AClipWithinThePaddingMakesNoWindow) {
    decoder_->passes = {spoken(1)};
    const auto result =
        run(seconds(10), DecodingOptions(DecodingOptions::Arguments{.clipTimestamps = {0, 0.5f}}));
    EXPECT_TRUE(extractor_->paddedLengths.empty());
    EXPECT_TRUE(result->segments().empty());
    EXPECT_EQ(result->text(), "");
    EXPECT_EQ(result->language(), "en");
    EXPECT_TRUE(task_->progress()->isFinished());
}

TEST_F(TranscribeTaskTest, ClipsOutsideTheAudioAreNotRead) {
    decoder_->passes = {spoken(9.5)};
    const auto result =
        run(seconds(10), DecodingOptions(DecodingOptions::Arguments{.clipTimestamps = {-5, 20, 30, 40}}));
    // Only [0, 10 s) exists; the second clip lies beyond the samples.
    EXPECT_EQ(extractor_->paddedLengths, std::vector<std::int64_t>{kWindow});
    EXPECT_EQ(task_->progress()->totalUnitCount(), 160000);
    EXPECT_EQ(result->segments().size(), 1u);
}

TEST_F(TranscribeTaskTest, FailuresAndCancellation) {
    decoder_->passes = {spoken(1)};
    extractor_->answers = false;
    try {
        run(seconds(5));
        FAIL() << "no error";
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.errorCase(), WhisperError::Case::transcriptionFailed);
        EXPECT_EQ(error.message(), "Mel output is nil");
    }

    extractor_->answers = true;
    std::stop_source stop;
    stop.request_stop();
    task_ = makeTask();
    EXPECT_THROW(task_->run(seconds(5), std::nullopt, {}, stop.get_token()),
                 velnote::platform::CancellationError);
    EXPECT_EQ(extractor_->paddedLengths.size(), 1u); // the failing run above; the cancelled one stops first
    EXPECT_EQ(encoder_->calls, 0);
}

TEST_F(TranscribeTaskTest, ProgressReportsCarryTheWindowNumber) {
    decoder_->passes = {spoken(25)};
    std::mutex mutex;
    std::vector<std::int64_t> windowIds;
    task_ = makeTask();
    task_->run(seconds(40), std::nullopt, [&](const TranscriptionProgress& progress) -> std::optional<bool> {
        std::lock_guard lock(mutex);
        windowIds.push_back(progress.windowId);
        return std::nullopt;
    });
    EXPECT_EQ(windowIds, (std::vector<std::int64_t>{0, 1}));
}

TEST_F(TranscribeTaskTest, DetectedLanguageIsUsedAndAFailedDetectionIsIgnored) {
    decoder_->setIsModelMultilingual(true);
    decoder_->passes = {spoken(2)};
    decoder_->passes[0].language = "";
    decoder_->detects = "ja";
    const DecodingOptions detect(DecodingOptions::Arguments{.detectLanguage = true});
    EXPECT_EQ(run(seconds(5), detect)->language(), "ja");
    EXPECT_EQ(decoder_->languages.back(), "ja");

    decoder_->detects.reset();
    EXPECT_EQ(run(seconds(5), detect)->language(), "en");
    EXPECT_EQ(decoder_->languages.back(), std::nullopt);
}

TEST_F(TranscribeTaskTest, TheStreamTranscriberRunsOneTaskAgainAndAgain) {
    decoder_->passes = {spoken(9.5)};
    StreamTranscribeTask stream(makeTask());
    int reports = 0;
    const auto count = [&](const TranscriptionProgress&) -> std::optional<bool> {
        ++reports;
        return std::nullopt;
    };
    stream.run(seconds(10), {}, count);
    const auto second = stream.run(seconds(10), {}, count);
    EXPECT_EQ(second->timings().totalDecodingWindows, 2);
    EXPECT_EQ(second->segments().size(), 1u);
    EXPECT_EQ(reports, 2);
    const std::vector<std::int64_t> tokens{1, 2, 3, 1, 2, 3};
    EXPECT_EQ(stream.compressionRatio(tokens), TextUtilities::compressionRatio(tokens));
}

// A seeker whose word timings leave the first segment with no length.
class CollapsingSeeker : public SegmentSeeker {
  public:
    std::optional<std::vector<TranscriptionSegment>>
    addWordTimestamps(std::vector<TranscriptionSegment> segments, const MultiArray&, const WhisperTokenizer&,
                      std::int64_t, std::int64_t, std::string_view, std::string_view, float,
                      const DecodingOptions&, const TranscriptionTimings&) const override {
        segments.front().end = segments.front().start;
        return segments;
    }
};

TEST_F(TranscribeTaskTest, SegmentsWithoutLengthAfterWordTimingAreDropped) {
    seeker_ = std::make_shared<CollapsingSeeker>();
    DecodingResult pass = spoken(2);
    pass.tokens = {V::timestamp(0), 'a',         V::timestamp(1), V::timestamp(1), 'b',
                   V::timestamp(2), V::endOfText};
    pass.tokenLogProbs.assign(pass.tokens.size(), {});
    pass.cache = DecodingCache{.alignmentWeights = MultiArray({8, 3}, MultiArrayDataType::float16)};
    decoder_->passes = {pass};
    const auto result =
        run(seconds(2.5), DecodingOptions(DecodingOptions::Arguments{.wordTimestamps = true}));
    ASSERT_EQ(result->segments().size(), 1u);
    EXPECT_EQ(result->segments()[0].start, 1);
    EXPECT_EQ(result->timings().totalTimestampAlignmentRuns, 1);
}

TEST_F(TranscribeTaskTest, ASilentWindowIsNotWordTimed) {
    DecodingResult pass = silent();
    pass.cache = DecodingCache{.alignmentWeights = MultiArray({8, 3}, MultiArrayDataType::float16)};
    decoder_->passes = {pass};
    task_ = makeTask();
    int discoveries = 0;
    task_->setSegmentDiscoveryCallback([&](const auto&) { ++discoveries; });
    const auto result =
        task_->run(seconds(5), DecodingOptions(DecodingOptions::Arguments{.wordTimestamps = true}));
    EXPECT_TRUE(result->segments().empty());
    EXPECT_EQ(discoveries, 0);
    EXPECT_EQ(result->timings().totalTimestampAlignmentRuns, 0);
    EXPECT_EQ(result->timings().totalDecodingWindows, 0);
}

} // namespace
} // namespace vocalith
