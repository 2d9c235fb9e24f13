// The real base model, converted from the pinned checkpoint that scripts/fetch-models unpacks,
// decoding a real recording through the engine's tokenizer and decoder loop.

#include "engine/speech/audio/AudioProcessor.h"
#include "engine/speech/decoding/TextDecoder.h"
#include "engine/speech/tokenizer/TokenizerLoader.h"
#include "engine/speech/tokenizer/TokenizerUtilities.h"
#include "platform/ml/Model.h"
#include "support/ConvertedBaseModel.h"

#include <gtest/gtest.h>

namespace vocalith {
namespace {

namespace fs = std::filesystem;
namespace ml = velnote::platform::ml;
using basalith::Float16;
using basalith::MultiArray;

using testing::dependencyCache;

class BaseModelDecodingModelTest : public testing::ConvertedBaseModelTest {
  protected:
    // The encoder output of some samples, padded to one window.
    static MultiArray encode(const std::vector<float>& samples) {
        const auto audio = AudioProcessor::padOrTrimAudio(samples, 0, Constants::defaultWindowSamples);
        const auto mel = ml::Model::load(variant() / ml::kMelSpectrogramFolder);
        const auto features = mel->predict({{"audio", *audio}}).at("melspectrogram_features");
        const auto encoder = ml::Model::load(variant() / ml::kAudioEncoderFolder);
        return encoder->predict({{"melspectrogram_features", features}}).at("encoder_output_embeds");
    }

    // The decoder with its cache prefill and the variant's tokenizer, as the engine loads them.
    static std::unique_ptr<TextDecoder> loadDecoder() {
        auto decoder = std::make_unique<TextDecoder>();
        decoder->loadModel(variant() / ml::kTextDecoderFolder, basalith::ComputeUnits::cpuAndNeuralEngine,
                           false);
        auto prefill = std::make_shared<TextDecoderContextPrefill>();
        prefill->loadModel(variant() / ml::kTextDecoderContextPrefillFolder, basalith::ComputeUnits::cpuOnly,
                           false);
        decoder->setPrefillData(prefill);
        decoder->setTokenizer(
            loadTokenizer(ModelVariant::base, std::nullopt, {variant()}, false, "http://127.0.0.1:1"));
        decoder->setIsModelMultilingual(true);
        return decoder;
    }

    static DecodingResult decode(TextDecoder& decoder, const MultiArray& embeds,
                                 const DecodingOptions& options) {
        auto inputs = decoder.prepareDecoderInputs({});
        decoder.prefillDecoderInputs(*inputs, options);
        EXPECT_EQ(inputs->cacheLength.toIntArray(), std::vector<int>{3});
        GreedyTokenSampler sampler(Float16(0), decoder.tokenizer()->specialTokens().endToken, options);
        return decoder.decodeText(embeds, *inputs, sampler, options);
    }
};

TEST_F(BaseModelDecodingModelTest, GreedyDecodingWithoutTimestampsGivesTheSpokenWords) {
    const auto decoder = loadDecoder();
    const MultiArray embeds = encode(AudioProcessor::loadAudioAsFloatArray(
        (dependencyCache() / "speech/librivox/sense_and_sensibility_01_austen_64kb-0870.wav").string()));
    DecodingOptions options;
    options.language = "en";
    options.withoutTimestamps = true;
    const DecodingResult result = decode(*decoder, embeds, options);

    EXPECT_EQ(result.tokens.front(), 50258);
    EXPECT_EQ(result.tokens.back(), 50257);
    const std::string said =
        "john dashwood had then leisure to consider how much there might be prudently in "
        "his power to do for them";
    const std::string heard = normalized(decoder->tokenizer()->decode([&] {
        std::vector<std::int64_t> text;
        for (const auto token : result.tokens)
            if (token < 50257)
                text.push_back(token);
        return text;
    }()));
    EXPECT_NE(heard.find(said), std::string::npos) << heard;
    EXPECT_FALSE(result.fallback) << result.fallback->fallbackReason;
    EXPECT_LT(result.noSpeechProb, 0.1f);
    std::printf("decoded: %s (avg log-probability %.3f, no speech %.4f)\n", heard.c_str(), result.avgLogProb,
                result.noSpeechProb);
}

TEST_F(BaseModelDecodingModelTest, SilenceIsToldByTheNoSpeechProbability) {
    const auto decoder = loadDecoder();
    DecodingOptions options;
    options.language = "en";
    const DecodingResult result = decode(*decoder, encode(std::vector<float>(16000, 0.0f)), options);
    // Above the default threshold, so the window counts as silent (whatever fallback the unsure
    // first token asks for).
    EXPECT_GT(result.noSpeechProb, 0.6f);
}

} // namespace
} // namespace vocalith
