// A whole transcription through the model runtime: generated mel and encoder models and a decoder
// whose greedy choice at every cache position is scripted, whatever it hears, with the engine's
// own decoder, seeker and audio processor.

#include "engine/speech/decoding/TextDecoder.h"
#include "engine/speech/transcription/TranscribeTask.h"
#include "support/CraftedVariant.h"
#include "support/TempDir.h"
#include "support/TestTokenizer.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

class CraftedTranscriptionTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new velnote::testing::TempDir;
        // Position 0 names Japanese (what language detection sees); the prompt fills positions
        // 0-2, so the window decodes "<|0.00|>Hello world.<|1.20|>".
        testing::CraftedVariant{.closingSeconds = 1.2, .encoderSeed = 1}.write(folder_->path());
    }
    static void TearDownTestSuite() { delete folder_; }

    std::unique_ptr<TranscribeTask> makeTask() {
        const auto units = basalith::ComputeUnits::cpuOnly;
        auto extractor = std::make_shared<FeatureExtractor>();
        extractor->loadModel(*folder_ / "MelSpectrogram.mlmodelc", units, false);
        auto encoder = std::make_shared<AudioEncoder>();
        encoder->loadModel(*folder_ / "AudioEncoder.mlmodelc", units, false);
        auto decoder = std::make_shared<TextDecoder>();
        decoder->loadModel(*folder_ / "TextDecoder.mlmodelc", units, false);
        auto prefill = std::make_shared<TextDecoderContextPrefill>();
        prefill->loadModel(*folder_ / "TextDecoderContextPrefill.mlmodelc", units, false);
        decoder->setPrefillData(prefill);
        decoder->setTokenizer(testing::makeTestTokenizer());
        decoder->setIsModelMultilingual(true);
        return std::make_unique<TranscribeTask>(TranscriptionTimings{}, nullptr, nullptr, encoder, extractor,
                                                std::make_shared<SegmentSeeker>(), decoder,
                                                decoder->tokenizer());
    }

    static inline velnote::testing::TempDir* folder_ = nullptr;
};

TEST_F(CraftedTranscriptionTest, TranscribesAWindow) {
    const auto task = makeTask();
    std::vector<TranscriptionSegment> discovered;
    task->setSegmentDiscoveryCallback(
        [&](const auto& segments) { discovered.insert(discovered.end(), segments.begin(), segments.end()); });
    DecodingOptions options;
    options.language = "en";
    options.skipSpecialTokens = true;
    const auto result = task->run(std::vector<float>(10 * 16000, 0.01f), options);

    EXPECT_EQ(result->text(), "Hello world.");
    EXPECT_EQ(result->language(), "en");
    const auto segments = result->segments();
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments, discovered);
    EXPECT_EQ(segments[0].text, "Hello world.");
    EXPECT_EQ(segments[0].start, 0);
    EXPECT_FLOAT_EQ(segments[0].end, 1.2f);
    const auto timings = result->timings();
    EXPECT_EQ(timings.totalEncodingRuns, 1);
    EXPECT_GT(timings.totalDecodingLoops, 0);
    EXPECT_GT(timings.fullPipeline, 0);
    EXPECT_TRUE(task->progress()->isFinished());
}

TEST_F(CraftedTranscriptionTest, WordTimingReadsTheDecodersAlignmentRows) {
    // The crafted decoder attends evenly to every frame, so the warping puts every word at the
    // window start: the segment is left without length and dropped. What counts here is that the
    // decoder's alignment rows line up with the window's tokens.
    const auto task = makeTask();
    DecodingOptions options;
    options.language = "en";
    options.wordTimestamps = true;
    const auto result = task->run(std::vector<float>(10 * 16000, 0.01f), options);
    EXPECT_EQ(result->timings().totalTimestampAlignmentRuns, 1);
    EXPECT_TRUE(result->segments().empty());
}

TEST_F(CraftedTranscriptionTest, DetectsTheLanguageOfTheAudio) {
    const auto task = makeTask();
    DecodingOptions options;
    options.detectLanguage = true;
    const auto result = task->run(std::vector<float>(5 * 16000, 0.01f), options);
    EXPECT_EQ(result->language(), "ja");
    EXPECT_EQ(result->text(), "Hello world.");
}

} // namespace
} // namespace vocalith
