#include "engine/foundation/MultiArray.h"
#include "platform/json/Json.h"
#include "platform/ml/Model.h"
#include "platform/ml/ModelConfig.h"
#include "platform/ml/convert/ModelConverter.h"
#include "platform/ml/convert/WhisperCheckpoint.h"
#include "support/CheckpointFixtures.h"
#include "support/FetchedModels.h"
#include "support/SpeechFiles.h"
#include "support/TempDir.h"
#include "support/WhisperReference.h"

#include <algorithm>
#include <cmath>
#include <ggml-cpu.h>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace velnote::platform::ml {
namespace {

namespace fs = std::filesystem;
using basalith::Float16;
using basalith::MultiArray;
using basalith::MultiArrayDataType;

constexpr std::size_t kWindowSamples = 480000;

// The five read passages of the fetched recordings, one after another, padded to one window.
std::vector<float> readPassages(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".wav")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<float> samples;
    for (const auto& file : files) {
        const auto passage = testing::readSpeech16k(file);
        samples.insert(samples.end(), passage.begin(), passage.end());
    }
    samples.resize(kWindowSamples, 0.0f);
    return samples;
}

// The checkpoint's weights as the model file stores them: matrices rounded to float16.
testing::ReferenceWeights storedWeights(const WhisperCheckpoint& checkpoint,
                                        const AudioEncoderConfig& config) {
    std::map<std::string, StoredType> stored;
    for (const auto& spec : tensorSpecs(config))
        stored[spec.name] = spec.storedType;
    return [&checkpoint, stored](const std::string& name) {
        std::vector<double> values;
        for (const float v : checkpoint.tensors().at(name).toFloat())
            values.push_back(
                stored.at(name) == StoredType::float16 ? static_cast<double>(static_cast<Float16>(v)) : v);
        return values;
    };
}

double rms(const std::vector<double>& values) {
    double sum = 0;
    for (const double v : values)
        sum += v * v;
    return std::sqrt(sum / static_cast<double>(values.size()));
}

MultiArray ints(std::vector<std::int64_t> shape, const std::vector<std::int32_t>& values) {
    MultiArray array(std::move(shape), MultiArrayDataType::int32);
    std::copy(values.begin(), values.end(), array.dataAs<std::int32_t>());
    return array;
}

// The pinned base model converted once, and its mel and encoder outputs for the read passages.
class BaseModelTest : public ::testing::Test {
  protected:
    struct Shared {
        testing::TempDir dir;
        std::unique_ptr<WhisperCheckpoint> checkpoint;
        fs::path variant;
        std::vector<float> samples;
        MultiArray features{{1}, MultiArrayDataType::float16};
        MultiArray embeds{{1}, MultiArrayDataType::float16};
    };

    static void SetUpTestSuite() {
        const auto source = testing::fetchedModel("whisper-base");
        const auto passages = testing::fetchedSpeech("librivox");
        if (!source || !passages)
            return;
        shared_ = new Shared;
        shared_->checkpoint = std::make_unique<WhisperCheckpoint>(WhisperCheckpoint::load(*source));
        shared_->variant = shared_->dir / "openai_whisper-base";
        convertCheckpoint(*shared_->checkpoint, shared_->variant);
        shared_->samples = readPassages(*passages);
        MultiArray audio({static_cast<std::int64_t>(kWindowSamples)}, MultiArrayDataType::float32);
        std::copy(shared_->samples.begin(), shared_->samples.end(), audio.dataAs<float>());
        const auto mel = Model::load(shared_->variant / kMelSpectrogramFolder);
        shared_->features = mel->predict({{"audio", audio}}).at("melspectrogram_features");
        const auto encoder = Model::load(shared_->variant / kAudioEncoderFolder);
        shared_->embeds =
            encoder->predict({{"melspectrogram_features", shared_->features}}).at("encoder_output_embeds");
    }

    static void TearDownTestSuite() {
        delete shared_;
        shared_ = nullptr;
    }

    void SetUp() override {
        if (shared_ == nullptr)
            GTEST_SKIP() << testing::kFetchHint;
    }

    static Shared* shared_;
};

BaseModelTest::Shared* BaseModelTest::shared_ = nullptr;

// The converted model computes the log-mel spectrogram and the encoder output of real speech as
// plain double-precision loops do with the checkpoint's weights.
TEST_F(BaseModelTest, MelAndEncoderMatchTheDoublePrecisionReferenceOnRealSpeech) {
    const auto& s = *shared_;
    ASSERT_EQ(s.features.shape(), (MultiArray::Index{1, 80, 1, 3000}));
    const auto expectedMel = testing::referenceLogMel(s.samples, 80);
    const auto melValues = s.features.toFloatArray();
    double melError = 0;
    for (std::size_t i = 0; i < melValues.size(); ++i)
        melError = std::max(melError, std::abs(melValues[i] - expectedMel[i]));
    EXPECT_LT(melError, 4e-3); // float16 rounding of values near 1

    // The reference encoder gets the very mel the runtime's encoder got.
    ASSERT_EQ(s.embeds.shape(), (MultiArray::Index{1, 512, 1, 1500}));
    const AudioEncoderConfig config = variantConfigs(*s.checkpoint).audioEncoder;
    const auto expected = testing::referenceEncoder(
        std::vector<double>(melValues.begin(), melValues.end()),
        {.melCount = 80, .contextLength = 1500, .width = 512, .heads = 8, .layers = 6},
        storedWeights(*s.checkpoint, config),
        static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    const auto actual = s.embeds.toFloatArray(); // [channel][frame]
    const auto at = [&](int frame, int channel) {
        return static_cast<double>(actual[channel * 1500 + frame]);
    };
    const double scale = rms(expected);
    // Where the runtime holds the matrices in BF16 (8 mantissa bits, the activations rounded to
    // them too) the output strays about twice as far; the transcripts' word error rate does not
    // change. A wrong computation strays by the output's whole magnitude.
    const double slack = ggml_cpu_has_avx512_bf16() ? 2.0 : 1.0;

    double frameError = 0; // the first frames, value by value
    for (int frame = 0; frame < 10; ++frame) {
        for (int channel = 0; channel < 512; ++channel)
            frameError = std::max(frameError, std::abs(at(frame, channel) - expected[frame * 512 + channel]));
    }
    EXPECT_LT(frameError, 0.02 * slack * scale);

    // Every channel summed over all frames: the whole output at a glance. A few channels of
    // this model hold large constants, so each sum is judged against its own magnitude.
    double sumError = 0;
    for (int channel = 0; channel < 512; ++channel) {
        double got = 0, want = 0, magnitude = 0;
        for (int frame = 0; frame < 1500; ++frame) {
            got += at(frame, channel);
            want += expected[frame * 512 + channel];
            magnitude += std::abs(expected[frame * 512 + channel]);
        }
        sumError = std::max(sumError, std::abs(got - want) / magnitude);
    }
    EXPECT_LT(sumError, 2e-3 * slack);
    std::printf(
        "mel max error %.2e; encoder rms %.3f, first frames max error %.2e, channel sums max relative "
        "error %.2e\n",
        melError, scale, frameError, sumError);
}

// The reference shares the converter's reading of the checkpoint, so it cannot catch a tensor
// put in the wrong place. Words can: greedy decoding of the first passage must give its text.
TEST_F(BaseModelTest, GreedyDecodingGivesTheFirstPassagesWords) {
    const auto& s = *shared_;
    const auto decoder = Model::load(s.variant / kTextDecoderFolder);
    const TextDecoderConfig config = variantConfigs(*s.checkpoint).textDecoder;
    const std::int64_t width = config.kvCacheWidth(), length = config.kvCacheLength;
    MultiArray keys({1, width, 1, length}, MultiArrayDataType::float16);
    MultiArray values({1, width, 1, length}, MultiArrayDataType::float16);

    // Token ids back to text through the vocabulary: byte-level pieces, "Ġ" standing for a space.
    const auto tokenizer = parseJson(testing::readBytes(s.variant / "tokenizer.json"));
    std::map<std::int64_t, std::string> pieces;
    for (const auto& [piece, id] : tokenizer["model"]["vocab"].items())
        pieces[id.get<std::int64_t>()] = piece;
    const auto textOf = [&](const std::vector<std::int32_t>& ids) {
        std::string text;
        for (const auto id : ids)
            text += pieces.contains(id) ? pieces[id] : "";
        for (std::size_t at; (at = text.find("\xC4\xA0")) != std::string::npos;)
            text.replace(at, 2, " ");
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        return text;
    };

    // Start of transcript, English, transcribe, no timestamps; then greedy until the words are
    // there (each step attends to all 1500 frames, so no more steps than needed).
    const std::string words = "john dashwood had then leisure to consider";
    std::vector<std::int32_t> prompt{50258, 50259, 50359, 50363}, tokens = prompt, decoded;
    for (std::size_t position = 0; position < prompt.size() + 16; ++position) {
        std::vector<std::int32_t> update(static_cast<std::size_t>(length), 0);
        update[position] = 1;
        MultiArray padding({1, length}, MultiArrayDataType::float16);
        for (std::int64_t i = static_cast<std::int64_t>(position) + 1; i < length; ++i)
            padding.dataAs<Float16>()[i] = static_cast<Float16>(-10000.0f);
        const auto out = decoder->predict({{"input_ids", ints({1}, {tokens[position]})},
                                           {"cache_length", ints({1}, {static_cast<std::int32_t>(position)})},
                                           {"key_cache", keys},
                                           {"value_cache", values},
                                           {"kv_cache_update_mask", ints({1, length}, update)},
                                           {"encoder_output_embeds", s.embeds},
                                           {"decoder_key_padding_mask", padding}});
        for (std::int64_t channel = 0; channel < width; ++channel) {
            const auto at = channel * length + static_cast<std::int64_t>(position);
            keys.dataAs<Float16>()[at] = out.at("key_cache_updates").dataAs<Float16>()[channel];
            values.dataAs<Float16>()[at] = out.at("value_cache_updates").dataAs<Float16>()[channel];
        }
        if (position + 1 < prompt.size())
            continue;
        const auto logits = out.at("logits").toFloatArray();
        tokens.push_back(
            static_cast<std::int32_t>(std::max_element(logits.begin(), logits.end()) - logits.begin()));
        decoded.push_back(tokens.back());
        if (tokens.back() == 50257 || textOf(decoded).find(words) != std::string::npos)
            break;
    }
    const std::string text = textOf(decoded);
    EXPECT_NE(text.find(words), std::string::npos) << text;
    std::printf("decoded: %s\n", text.c_str());
}

} // namespace
} // namespace velnote::platform::ml
