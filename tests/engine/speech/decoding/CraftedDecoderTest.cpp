// The whole decoder loop over the model runtime, on a crafted model whose greedy choice at every
// cache position is scripted, whatever it hears.

#include "engine/foundation/support/LogLines.h"
#include "engine/speech/WhisperError.h"
#include "engine/speech/decoding/TextDecoder.h"
#include "support/CraftedVariant.h"
#include "support/TempDir.h"
#include "support/TestTokenizer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vocalith {
namespace {

using basalith::Float16;
using basalith::MultiArray;
using testing::TestVocabulary;
using V = TestVocabulary;

class CraftedDecoderTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new velnote::testing::TempDir;
        // Position 0 (start of transcript fed) names Japanese: what language detection sees.
        testing::writeScriptedDecoder(folder_->path(), 1.2, 8);
    }
    static void TearDownTestSuite() { delete folder_; }

    void SetUp() override {
        decoder_.loadModel(*folder_ / "TextDecoder.mlmodelc", basalith::ComputeUnits::cpuAndNeuralEngine,
                           false);
        decoder_.setTokenizer(testing::makeTestTokenizer());
        decoder_.setIsModelMultilingual(true);
    }

    void usePrefill() {
        auto prefill = std::make_shared<TextDecoderContextPrefill>();
        prefill->loadModel(*folder_ / "TextDecoderContextPrefill.mlmodelc", basalith::ComputeUnits::cpuOnly,
                           false);
        decoder_.setPrefillData(prefill);
    }

    DecodingResult decode(const DecodingOptions& options = {}) {
        inputs_ = decoder_.prepareDecoderInputs({});
        decoder_.prefillDecoderInputs(*inputs_, options);
        GreedyTokenSampler sampler(Float16(0), V::endOfText, options);
        return decoder_.decodeText(encoderOutput(), *inputs_, sampler, options);
    }

    static MultiArray encoderOutput() {
        return MultiArray({1, 256, 1, 8}, basalith::MultiArrayDataType::float16);
    }

    static inline velnote::testing::TempDir* folder_ = nullptr;
    TextDecoder decoder_;
    std::shared_ptr<DecodingInputs> inputs_;
};

TEST_F(CraftedDecoderTest, DecodesItsScriptedSequence) {
    EXPECT_EQ(decoder_.logitsSize(), V::size);
    EXPECT_EQ(decoder_.kvCacheEmbedDim(), 512);
    EXPECT_EQ(decoder_.kvCacheMaxSequenceLength(), 224);
    EXPECT_EQ(decoder_.windowSize(), 8);
    EXPECT_EQ(decoder_.embedSize(), 256);
    EXPECT_TRUE(decoder_.supportsWordTimestamps());

    const DecodingResult result = decode();
    EXPECT_EQ(result.text,
              "<|startoftranscript|><|en|><|transcribe|><|0.00|>Hello world.<|1.20|><|endoftext|>");
    EXPECT_EQ(result.language, "en");
    EXPECT_GT(result.avgLogProb, -0.1f);
    EXPECT_FALSE(result.fallback);
    EXPECT_LT(result.noSpeechProb, 0.01f);
    ASSERT_TRUE(result.cache && result.cache->alignmentWeights);
    EXPECT_EQ(result.timings->totalDecodingLoops, 8);
}

TEST_F(CraftedDecoderTest, DebugLinesTellTheLoopBoundTheFirstTokenTimeAndTheWindowText) {
    basalith::testing::LogLines log;
    const DecodingResult result = decode();
    const auto lines = log.lines();
    EXPECT_THAT(
        lines, ::testing::Contains("Running main loop for a maximum of 223 iterations, starting at index 0"));
    EXPECT_THAT(lines,
                ::testing::Contains(::testing::MatchesRegex(
                    "Found first token at: [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} \\+0000")));
    EXPECT_THAT(lines, ::testing::Contains("Completed window: " + result.text));
}

TEST_F(CraftedDecoderTest, ThePrefilledCacheGivesTheSameWindow) {
    const DecodingResult plain = decode();
    usePrefill();
    const DecodingResult prefilled = decode();
    EXPECT_EQ(inputs_->prefillKeyCache->shape(), (MultiArray::Index{1, 512, 1, 3}));
    EXPECT_EQ(prefilled.tokens, plain.tokens);
    // Three steps fewer: the prefill stands for them.
    EXPECT_EQ(prefilled.timings->totalDecodingLoops, 5);
}

TEST_F(CraftedDecoderTest, DetectsTheLanguageInOneStep) {
    auto inputs = decoder_.prepareDecoderInputs({});
    GreedyTokenSampler sampler(Float16(0), V::endOfText, {});
    const DecodingResult result = decoder_.detectLanguage(encoderOutput(), *inputs, sampler, {}, Float16(0));
    EXPECT_EQ(result.language, "ja");
    ASSERT_EQ(result.languageProbs.size(), 1u);
    EXPECT_GT(result.languageProbs.at("ja"), -0.1f);
    EXPECT_TRUE(result.tokens.empty());
    EXPECT_FALSE(result.fallback);
    EXPECT_GT(result.timings->decodingPredictions, 0);

    decoder_.unloadModel();
    EXPECT_EQ(decoder_.modelState(), basalith::ModelState::unloaded);
    EXPECT_FALSE(decoder_.logitsSize());
    EXPECT_THROW(decoder_.detectLanguage(encoderOutput(), *inputs, sampler, {}, Float16(0)), WhisperError);
}

} // namespace
} // namespace vocalith
