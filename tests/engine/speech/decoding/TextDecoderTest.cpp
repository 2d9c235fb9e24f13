#include "engine/speech/decoding/TextDecoder.h"

#include "engine/foundation/support/LogLines.h"
#include "engine/speech/WhisperError.h"
#include "platform/concurrency/CancellationError.h"
#include "support/ScriptedTextDecoder.h"
#include "support/TestTokenizer.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <gtest/gtest.h>
#include <thread>

namespace vocalith {
namespace {

using basalith::Float16;
using basalith::MultiArray;
using testing::ScriptedTextDecoder;
using testing::TestVocabulary;
using V = TestVocabulary;

std::int64_t tokenOf(const std::string& text) {
    const auto ids = testing::makeTestTokenizer()->encode(text);
    EXPECT_EQ(ids.size(), 1u) << text;
    return ids.front();
}

// Greedy decoding of one window from a fresh multilingual prompt
// [start of transcript, en, transcribe, 0.00].
class TextDecoderTest : public ::testing::Test {
  protected:
    const std::int64_t hello = tokenOf("Hello"), world = tokenOf(" world"), stop = '.';
    // What the step at each cache position predicts; the first three are forced-prompt steps.
    std::vector<std::int64_t> script = {V::english, V::transcribe,   3,           hello, world,
                                        stop,       V::timestamp(1), V::endOfText};

    std::shared_ptr<ScriptedTextDecoder> makeDecoder() {
        auto decoder = std::make_shared<ScriptedTextDecoder>(script);
        decoder->setTokenizer(testing::makeTestTokenizer());
        decoder->setIsModelMultilingual(true);
        return decoder;
    }

    DecodingResult decode(TextDecoder& decoder, const DecodingOptions& options = {},
                          const ProgressCallback& callback = {}, std::int64_t prefilled = 0) {
        inputs_ = decoder.prepareDecoderInputs({});
        decoder.prefillDecoderInputs(*inputs_, options);
        if (prefilled > 0)
            inputs_->reset(prefilled, 224); // as a cache prefill of that many positions leaves them
        GreedyTokenSampler sampler(Float16(0), V::endOfText, options);
        return decoder.decodeText(testing::fakeEncoderOutput(), *inputs_, sampler, options, callback);
    }

    std::shared_ptr<DecodingInputs> inputs_;
};

TEST_F(TextDecoderTest, DecodesTheScriptedWindow) {
    auto decoder = makeDecoder();
    const DecodingResult result = decode(*decoder);
    const std::vector<std::int64_t> expected = {
        V::startOfTranscript, V::english,  V::transcribe, V::timeBegin, hello, world, stop,
        V::timestamp(1),      V::endOfText};
    EXPECT_EQ(result.tokens, expected);
    EXPECT_EQ(result.text,
              "<|startoftranscript|><|en|><|transcribe|><|0.00|>Hello world.<|1.00|><|endoftext|>");
    // Forced prompt steps feed the prompt; then each prediction is fed back.
    EXPECT_EQ(decoder->fed(), std::vector<std::int64_t>(expected.begin(), expected.end() - 1));
    EXPECT_EQ(result.language, "en");
    EXPECT_EQ(result.languageProbs, (std::map<std::string, float>{{"en", 0.0f}}));
    ASSERT_EQ(result.tokenLogProbs.size(), expected.size());
    EXPECT_EQ(result.tokenLogProbs[0], (std::map<std::int64_t, float>{{V::startOfTranscript, 0.0f}}));
    EXPECT_LT(result.tokenLogProbs[4].at(hello), 0.0f);
    EXPECT_GT(result.avgLogProb, -0.2f);
    EXPECT_EQ(result.temperature, 0.0f);
    EXPECT_GT(result.compressionRatio, 0.0f);
    EXPECT_LT(result.noSpeechProb, 0.01f);
    EXPECT_FALSE(result.fallback);
    ASSERT_TRUE(result.timings);
    EXPECT_EQ(result.timings->totalDecodingLoops, 8);
    EXPECT_EQ(result.timings->totalKVUpdateRuns, 7);
    EXPECT_LT(result.timings->firstTokenTime, TranscriptionTimings::kUnrecorded);
    ASSERT_TRUE(result.cache);
    EXPECT_FALSE(result.cache->alignmentWeights);
    // The inputs are ready for the step after the last one: position 7.
    const auto update = inputs_->kvCacheUpdateMask.toIntArray();
    EXPECT_EQ(std::find(update.begin(), update.end(), 1) - update.begin(), 7);
    EXPECT_EQ(inputs_->keyCache.toFloatArray()[6], 6.0f);
}

TEST_F(TextDecoderTest, TheFirstTokenTestJudgesTheFirstSampledToken) {
    auto decoder = makeDecoder();
    const auto flatAt = [](std::int64_t flat) {
        return [flat](std::int64_t position, MultiArray& logits) {
            if (position == flat)
                logits = MultiArray({1, 1, V::size}, basalith::MultiArrayDataType::float16);
        };
    };
    // An unsure prediction while the prompt is still forced is thrown away, not judged.
    decoder->adjust = flatAt(0);
    EXPECT_EQ(decode(*decoder).tokens.size(), 9u);
    // An unsure first sampled token stops the window and asks for a fallback.
    decoder->adjust = flatAt(3);
    const auto unsure = decode(*decoder);
    EXPECT_EQ(unsure.tokens.size(), 5u);
    ASSERT_TRUE(unsure.fallback);
    EXPECT_EQ(unsure.fallback->fallbackReason, "firstTokenLogProbThreshold");
    EXPECT_TRUE(unsure.fallback->needsFallback);
    // With a prefilled cache the first step is the first sampled token.
    decoder->adjust = flatAt(3);
    EXPECT_EQ(decode(*decoder, {}, {}, 3).fallback->fallbackReason, "firstTokenLogProbThreshold");
}

TEST_F(TextDecoderTest, NoSpeechProbabilityComesFromTheStartOfTranscriptStep) {
    auto decoder = makeDecoder();
    const auto noSpeechAt = [](std::int64_t at) {
        return [at](std::int64_t position, MultiArray& logits) {
            if (position == at)
                logits.dataAs<Float16>()[V::noSpeech] = Float16(12);
        };
    };
    decoder->adjust = noSpeechAt(0);
    const auto silent = decode(*decoder);
    const double expected = std::exp(12.0) / (std::exp(12.0) + std::exp(10.0) + (V::size - 2));
    EXPECT_NEAR(silent.noSpeechProb, expected, 1e-3);
    ASSERT_TRUE(silent.fallback);
    EXPECT_EQ(silent.fallback->fallbackReason, "silence");
    EXPECT_FALSE(silent.fallback->needsFallback);
    // Later steps do not count.
    decoder->adjust = noSpeechAt(4);
    EXPECT_LT(decode(*decoder).noSpeechProb, 0.01f);
    // A cache prefilled past the start of transcript: that step is run once more on its own,
    // before the first decoding step, and leaves the inputs as they were.
    decoder = makeDecoder();
    decoder->adjust = noSpeechAt(0);
    const auto prefilled = decode(*decoder, {}, {}, 3);
    EXPECT_NEAR(prefilled.noSpeechProb, expected, 1e-3);
    EXPECT_EQ(decoder->fed(), (std::vector<std::int64_t>{V::startOfTranscript, V::timeBegin, hello, world,
                                                         stop, V::timestamp(1)}));
    EXPECT_EQ(prefilled.tokens, silent.tokens);
    decoder->adjust = noSpeechAt(3);
    EXPECT_LT(decode(*decoder, {}, {}, 3).noSpeechProb, 0.01f);
}

TEST_F(TextDecoderTest, AWindowNeverGrowsBeyondItsCache) {
    script = {V::english, V::transcribe, 3, 'a'}; // never ends
    auto decoder = makeDecoder();
    DecodingOptions options;
    options.sampleLength = 500;
    const auto full = decode(*decoder, options);
    EXPECT_EQ(full.tokens.size(), 223u + 1);
    EXPECT_EQ(full.tokens.back(), V::endOfText);
    EXPECT_EQ(full.fallback->fallbackReason, "compressionRatioThreshold");
    options.sampleLength = 10;
    EXPECT_EQ(decode(*decoder, options).tokens.size(), 4u + 7 + 1);
    // A bound at the first position runs no step: the prompt alone, closed.
    options.sampleLength = 0;
    const auto none = decode(*decoder, options);
    EXPECT_EQ(none.tokens, (std::vector<std::int64_t>{V::startOfTranscript, V::english, V::transcribe,
                                                      V::timeBegin, V::endOfText}));
    EXPECT_EQ(none.timings->firstTokenTime, TranscriptionTimings::kUnrecorded);
    EXPECT_EQ(none.timings->totalDecodingLoops, 0);
}

TEST_F(TextDecoderTest, ACallbackStopsTheWindowButNotThePrompt) {
    script = {V::english, V::transcribe, 3, 'a'};
    auto decoder = makeDecoder();
    // Slow steps, so the callbacks (on the shared pool) keep up with the loop.
    decoder->adjust = [](std::int64_t, MultiArray&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    struct Seen {
        std::mutex mutex;
        std::vector<TranscriptionProgress> reports;
    };
    auto seen = std::make_shared<Seen>();
    const auto result =
        decode(*decoder, {}, [seen](const TranscriptionProgress& progress) -> std::optional<bool> {
            std::lock_guard lock(seen->mutex);
            seen->reports.push_back(progress);
            return false;
        });
    EXPECT_GE(result.tokens.size(), 4u + 1 + 1) << "stopped while the prompt was forced";
    EXPECT_LT(result.tokens.size(), 100u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::lock_guard lock(seen->mutex);
    ASSERT_FALSE(seen->reports.empty());
    const auto& last = seen->reports.back();
    EXPECT_EQ(last.windowId, 0);
    EXPECT_TRUE(last.avgLogprob && last.compressionRatio);
    EXPECT_EQ(last.text.rfind("<|startoftranscript|><|en|><|transcribe|><|0.00|>", 0), 0u);
}

TEST_F(TextDecoderTest, APromptTimestampGivesWayToThePredictedOne) {
    script = {V::english, V::transcribe, V::timestamp(0.5), hello, V::timestamp(1), V::endOfText};
    auto decoder = makeDecoder();
    basalith::testing::LogLines log;
    const auto result = decode(*decoder);
    EXPECT_EQ(result.tokens[3], V::timestamp(0.5));
    EXPECT_EQ(decoder->fed()[3], V::timestamp(0.5));
    EXPECT_TRUE(log.contains("Skipping prompt tokenIndex: 3, token: " + std::to_string(V::timestamp(0.5)) +
                             ", text: <|0.50|>"));
    EXPECT_TRUE(log.contains("Forcing prompt tokenIndex: 0, token: " + std::to_string(V::startOfTranscript) +
                             ", text: <|startoftranscript|>"));
}

TEST_F(TextDecoderTest, LanguageAlignmentAndSpecialTokensOfTheResult) {
    auto decoder = makeDecoder();
    decoder->withAlignment = true;
    DecodingOptions options;
    options.language = "ja";
    options.skipSpecialTokens = true;
    const auto result = decode(*decoder, options);
    EXPECT_EQ(result.language, "ja");
    EXPECT_EQ(result.languageProbs, (std::map<std::string, float>{{"ja", 0.0f}}));
    ASSERT_TRUE(result.cache && result.cache->alignmentWeights);
    // Row p + 1 holds the weights of the step at p.
    EXPECT_EQ(result.cache->alignmentWeights->toFloatArray()[5 * ScriptedTextDecoder::kFrames], 4.0f);

    decoder->setIsModelMultilingual(false);
    const auto english = decode(*decoder);
    EXPECT_EQ(english.language, "en");
    EXPECT_EQ(english.tokens[1], V::timeBegin);
}

TEST_F(TextDecoderTest, FailuresAreTheEnginesErrors) {
    auto decoder = makeDecoder();
    auto inputs = decoder->prepareDecoderInputs({});
    decoder->prefillDecoderInputs(*inputs, DecodingOptions{});
    GreedyTokenSampler sampler(Float16(0), V::endOfText, {});
    std::stop_source cancelled;
    cancelled.request_stop();
    EXPECT_THROW(
        decoder->decodeText(testing::fakeEncoderOutput(), *inputs, sampler, {}, {}, cancelled.get_token()),
        velnote::platform::CancellationError);

    TextDecoder withoutModel;
    withoutModel.setTokenizer(testing::makeTestTokenizer());
    try {
        withoutModel.decodeText(testing::fakeEncoderOutput(), *inputs, sampler, {});
        ADD_FAILURE();
    } catch (const WhisperError& error) {
        EXPECT_EQ(error, WhisperError::decodingLogitsFailed("Unable to decode logits"));
    }
    TextDecoder withoutTokenizer;
    EXPECT_THROW(withoutTokenizer.decodeText(testing::fakeEncoderOutput(), *inputs, sampler, {}),
                 WhisperError);
    inputs->initialPrompt.clear();
    EXPECT_THROW(decoder->decodeText(testing::fakeEncoderOutput(), *inputs, sampler, {}), WhisperError);
}

} // namespace
} // namespace vocalith
