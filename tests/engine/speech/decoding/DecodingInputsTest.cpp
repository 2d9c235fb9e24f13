#include "engine/speech/decoding/DecodingInputs.h"

#include "engine/speech/WhisperError.h"
#include "platform/ml/ModelGenerator.h"
#include "support/ScriptedTextDecoder.h"
#include "support/TempDir.h"
#include "support/TestTokenizer.h"

#include <gtest/gtest.h>
#include <numeric>

namespace vocalith {
namespace {

using basalith::Float16;
using basalith::MultiArray;
using basalith::MultiArrayDataType;
using testing::ScriptedTextDecoder;
using testing::TestVocabulary;
namespace ml = velnote::platform::ml;

constexpr std::int64_t kBegin = TestVocabulary::endOfText;

std::vector<int> updateMask(const DecodingInputs& inputs) {
    return inputs.kvCacheUpdateMask.toIntArray();
}
std::vector<float> paddingMask(const DecodingInputs& inputs) {
    return inputs.decoderKeyPaddingMask.toFloatArray();
}

// Update mask one-hot at `position`, padding 0 up to it and -10000 after it, over `covered`
// positions.
void expectMasksAt(const DecodingInputs& inputs, std::int64_t position, std::int64_t covered = 224) {
    const auto update = updateMask(inputs);
    const auto padding = paddingMask(inputs);
    for (std::int64_t i = 0; i < covered; ++i) {
        EXPECT_EQ(update[static_cast<std::size_t>(i)], i == position ? 1 : 0) << "update mask at " << i;
        EXPECT_EQ(padding[static_cast<std::size_t>(i)], i <= position ? 0.0f : -10000.0f)
            << "padding at " << i;
    }
}

class DecodingInputsTest : public ::testing::Test {
  protected:
    DecodingInputsTest() : decoder_({1}) {
        decoder_.setTokenizer(testing::makeTestTokenizer());
        decoder_.setIsModelMultilingual(true);
    }

    std::vector<std::int64_t> promptFor(const std::optional<DecodingOptions>& options) {
        auto inputs = decoder_.prepareDecoderInputs({});
        return decoder_.prefillDecoderInputs(*inputs, options).initialPrompt;
    }

    ScriptedTextDecoder decoder_;
};

TEST_F(DecodingInputsTest, PreparedInputsAreSizedFromTheModelAndOpenAtPositionZero) {
    const auto inputs = decoder_.prepareDecoderInputs({1, 2});
    EXPECT_EQ(inputs->initialPrompt, (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(inputs->keyCache.shape(), (MultiArray::Index{1, 4, 1, 224}));
    EXPECT_EQ(inputs->alignmentWeights.shape(), (MultiArray::Index{224, 3}));
    EXPECT_EQ(inputs->kvCacheUpdateMask.dataType(), MultiArrayDataType::int32);
    EXPECT_EQ(inputs->decoderKeyPaddingMask.dataType(), MultiArrayDataType::float16);
    EXPECT_FALSE(inputs->prefillKeyCache);
    expectMasksAt(*inputs, 0);

    TextDecoder unloaded;
    try {
        unloaded.prepareDecoderInputs({});
        ADD_FAILURE();
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.message(), "Unable to determine kvCacheEmbedDim");
    }
}

TEST_F(DecodingInputsTest, MasksAfterReset) {
    const auto inputs = decoder_.prepareDecoderInputs({});
    inputs->reset(0, 224);
    expectMasksAt(*inputs, 0);
    inputs->reset(5, 224);
    EXPECT_EQ(inputs->cacheLength.toIntArray(), std::vector<int>{5});
    expectMasksAt(*inputs, 5);
    // A sample length above the cache is cut to it instead of writing past the masks.
    inputs->reset(3, 448);
    expectMasksAt(*inputs, 3);
    // At or beyond the covered positions the last one is written.
    inputs->reset(300, 224);
    expectMasksAt(*inputs, 223);
    inputs->reset(8, 10);
    const auto update = updateMask(*inputs);
    EXPECT_EQ(std::accumulate(update.begin(), update.begin() + 10, 0), 1);
    EXPECT_EQ(update[8], 1);
}

TEST_F(DecodingInputsTest, PromptsFollowTheOptions) {
    const std::int64_t sot = TestVocabulary::startOfTranscript, ts0 = TestVocabulary::timeBegin;
    DecodingOptions options;
    EXPECT_EQ(promptFor(std::nullopt), (std::vector<std::int64_t>{sot}));
    EXPECT_EQ(promptFor(options),
              (std::vector<std::int64_t>{sot, TestVocabulary::english, TestVocabulary::transcribe, ts0}));
    options.language = "ja";
    options.task = DecodingTask::translate;
    options.withoutTimestamps = true;
    EXPECT_EQ(promptFor(options),
              (std::vector<std::int64_t>{sot, TestVocabulary::japanese, TestVocabulary::translate,
                                         TestVocabulary::noTimestamps}));
    options.language = "xx"; // no such token: English stands in
    EXPECT_EQ(promptFor(options)[1], TestVocabulary::english);
    decoder_.setIsModelMultilingual(false);
    EXPECT_EQ(promptFor(DecodingOptions{}), (std::vector<std::int64_t>{sot, ts0}));
}

TEST_F(DecodingInputsTest, PreviousTextAndPrefixKeepTheirMostRecentTokens) {
    DecodingOptions options;
    std::vector<std::int64_t> previous(200);
    std::iota(previous.begin(), previous.end(), 1);
    previous[195] = kBegin + 5; // special tokens are dropped
    options.promptTokens = previous;
    auto prompt = promptFor(options);
    ASSERT_EQ(prompt.size(), 1 + 110 + 4u);
    EXPECT_EQ(prompt[0], TestVocabulary::startOfPrevious);
    EXPECT_EQ(prompt[1], 90);
    EXPECT_EQ(prompt[110], 200);
    EXPECT_EQ(prompt[111], TestVocabulary::startOfTranscript);

    options.promptTokens.reset();
    std::vector<std::int64_t> prefix(113);
    std::iota(prefix.begin(), prefix.end(), 1);
    options.prefixTokens = std::vector<std::int64_t>(prefix.begin() + 1, prefix.end());
    EXPECT_EQ(promptFor(options).size(), 4 + 112u);
    options.prefixTokens = prefix;
    prompt = promptFor(options);
    EXPECT_EQ(prompt.size(), 4 + 112u);
    EXPECT_EQ(prompt[4], 2);
}

TEST_F(DecodingInputsTest, ALongPromptWithAPrefixLeavesRoomToDecode) {
    DecodingOptions options;
    std::vector<std::int64_t> previous(111);
    std::iota(previous.begin(), previous.end(), 1);
    options.promptTokens = previous;
    options.prefixTokens = std::vector<std::int64_t>(60, 300);
    auto prompt = promptFor(options);
    // The oldest previous tokens give way: 116 positions at most, so 107 are left to decode.
    ASSERT_EQ(prompt.size(), 116u);
    EXPECT_EQ(prompt[0], TestVocabulary::startOfPrevious);
    EXPECT_EQ(prompt[1], 111 - 50);
    EXPECT_EQ(prompt[52], TestVocabulary::startOfTranscript);
    // A prefix that fills the room on its own leaves no previous text at all.
    options.prefixTokens = std::vector<std::int64_t>(112, 300);
    prompt = promptFor(options);
    EXPECT_EQ(prompt.size(), 116u);
    EXPECT_EQ(prompt[0], TestVocabulary::startOfTranscript);
}

TEST_F(DecodingInputsTest, CachePrefillStartsDecodingAfterThePrefilledPositions) {
    velnote::testing::TempDir dir;
    ml::TextDecoderContextPrefillConfig config{
        .decoder = {.vocabularySize = static_cast<int>(TestVocabulary::size),
                    .contextLength = 448,
                    .width = 2,
                    .headCount = 1,
                    .layerCount = 2,
                    .audioContextLength = 3,
                    .kvCacheLength = 224,
                    .layerNormEps = 1e-5f,
                    .alignmentHeads = {}},
        .startOfTranscriptToken = static_cast<int>(TestVocabulary::startOfTranscript),
        .transcribeToken = static_cast<int>(TestVocabulary::transcribe),
        .translateToken = static_cast<int>(TestVocabulary::translate),
        .multilingual = true};
    ml::writeRandomModel(dir / "TextDecoderContextPrefill.mlmodelc", config, 7);
    auto prefill = std::make_shared<TextDecoderContextPrefill>();
    prefill->loadModel(dir / "TextDecoderContextPrefill.mlmodelc", basalith::ComputeUnits::cpuOnly, false);
    decoder_.setPrefillData(prefill);

    auto inputs = decoder_.prepareDecoderInputs({});
    decoder_.prefillDecoderInputs(*inputs, DecodingOptions{});
    EXPECT_EQ(inputs->cacheLength.toIntArray(), std::vector<int>{3});
    expectMasksAt(*inputs, 3);
    ASSERT_TRUE(inputs->prefillKeyCache);
    EXPECT_EQ(inputs->prefillKeyCache->shape(), (MultiArray::Index{1, 4, 1, 3}));
    const auto prefilled = inputs->prefillKeyCache->toFloatArray();
    const auto keys = inputs->keyCache.toFloatArray();
    for (std::int64_t channel = 0; channel < 4; ++channel) {
        for (std::int64_t position = 0; position < 3; ++position)
            EXPECT_EQ(keys[static_cast<std::size_t>(channel * 224 + position)],
                      prefilled[static_cast<std::size_t>(channel * 3 + position)]);
        EXPECT_EQ(keys[static_cast<std::size_t>(channel * 224 + 3)], 0.0f);
    }

    // Previous text: no cache prefill.
    DecodingOptions withPrevious;
    withPrevious.promptTokens = std::vector<std::int64_t>{5, 6};
    inputs = decoder_.prepareDecoderInputs({});
    decoder_.prefillDecoderInputs(*inputs, withPrevious);
    EXPECT_EQ(inputs->cacheLength.toIntArray(), std::vector<int>{0});
    EXPECT_FALSE(inputs->prefillKeyCache);
    expectMasksAt(*inputs, 0);

    // A prefill wrapper without its model: the prompt is set, the masks stay.
    prefill->unloadModel();
    inputs = decoder_.prepareDecoderInputs({});
    decoder_.prefillDecoderInputs(*inputs, DecodingOptions{});
    EXPECT_EQ(inputs->initialPrompt.size(), 4u);
    expectMasksAt(*inputs, 0);
}

TEST_F(DecodingInputsTest, CacheUpdatesWriteOnlyTheirPositions) {
    auto inputs = decoder_.prepareDecoderInputs({});
    const auto slice = MultiArray::create({1, 4, 1, 1}, MultiArrayDataType::float16, Float16(2));
    TextDecoding::updateKVCache(inputs->keyCache, slice, inputs->valueCache, slice, 10);
    const auto keys = inputs->keyCache.toFloatArray();
    for (std::int64_t channel = 0; channel < 4; ++channel) {
        for (std::int64_t position = 0; position < 224; ++position)
            EXPECT_EQ(keys[static_cast<std::size_t>(channel * 224 + position)], position == 10 ? 2.0f : 0.0f);
    }
    const auto row = MultiArray::create({1, 3}, MultiArrayDataType::float16, Float16(1));
    TextDecoding::updateAlignmentWeights(inputs->alignmentWeights, row, 0);
    const auto weights = inputs->alignmentWeights.toFloatArray();
    EXPECT_EQ(std::accumulate(weights.begin(), weights.end(), 0.0f), 3.0f);
    EXPECT_EQ(weights[3], 1.0f); // row 1

    // Positions outside the cache are refused before anything is written.
    EXPECT_THROW(TextDecoding::updateKVCache(inputs->keyCache, slice, inputs->valueCache, slice, 224),
                 WhisperError);
    EXPECT_THROW(TextDecoding::updateKVCache(inputs->keyCache, slice, inputs->valueCache, slice, -1),
                 WhisperError);
    EXPECT_THROW(TextDecoding::updateAlignmentWeights(inputs->alignmentWeights, row, 223), WhisperError);
    const auto wide = MultiArray::create({1, 5, 1, 1}, MultiArrayDataType::float16, Float16(2));
    EXPECT_THROW(TextDecoding::updateKVCache(inputs->keyCache, wide, inputs->valueCache, wide, 0),
                 WhisperError);
    EXPECT_EQ(inputs->keyCache.toFloatArray(), keys);
}

} // namespace
} // namespace vocalith
