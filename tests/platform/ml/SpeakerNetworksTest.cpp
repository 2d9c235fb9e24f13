#include "platform/ml/Model.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/ModelGenerator.h"
#include "support/TempDir.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace velnote::platform::ml {
namespace {

using basalith::Float16;
using basalith::MultiArray;
using basalith::MultiArrayDataType;
using velnote::testing::TempDir;

// Three seconds: five one-second windows every half second, 50 frames of 320 samples each.
SpeakerSegmenterConfig smallSegmenter() {
    return {.chunkSamples = 48000,
            .windowCount = 5,
            .windowSamples = 16000,
            .frameCount = 50,
            .bandCount = 2,
            .hiddenWidth = 3,
            .blockCount = 1,
            .speakerCount = 3};
}

// A low tone for the first `split` samples, then a high one.
std::vector<float> twoTones(std::int64_t samples, std::int64_t split) {
    std::vector<float> out(static_cast<std::size_t>(samples));
    for (std::int64_t i = 0; i < samples; ++i) {
        const double hz = i < split ? 300.0 : 3000.0;
        out[static_cast<std::size_t>(i)] =
            static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * i / 16000.0));
    }
    return out;
}

MultiArray floats(std::vector<std::int64_t> shape, const std::vector<float>& values) {
    MultiArray array(std::move(shape), MultiArrayDataType::float32);
    std::copy(values.begin(), values.end(), array.dataAs<float>());
    return array;
}

TEST(SpeakerSegmenterNetwork, ToneWeightsMarkTheLowToneAsSpeakerZeroAndTheHighToneAsSpeakerOne) {
    TempDir dir;
    const auto config = smallSegmenter();
    writeModelFile(dir / "S.gguf", config, toneSegmenterWeights(config));
    const auto model = Model::load(dir / "S.gguf");
    const std::vector<float> audio = twoTones(48000, 24000);
    const FeatureMap out = model->predict({{"waveform", floats({48000}, audio)}});

    const auto ids = out.at("speaker_ids").toFloatArray();
    const auto activity = out.at("speaker_activity").toFloatArray();
    const auto overlapped = out.at("overlapped_speaker_activity").toFloatArray();
    const auto windows = out.at("sliding_window_waveform");
    ASSERT_EQ(windows.shape(), (std::vector<std::int64_t>{5, 1, 16000}));
    for (int w = 0; w < 5; ++w) {
        EXPECT_EQ(windows.toFloatArray()[static_cast<std::size_t>(w * 16000 + 7)],
                  audio[static_cast<std::size_t>(w * 8000 + 7)]);
        float counted[3] = {0, 0, 0};
        for (int f = 0; f < 50; ++f) {
            const std::int64_t start = w * 8000 + f * 320;
            for (int s = 0; s < 3; ++s)
                counted[s] += ids[static_cast<std::size_t>((w * 50 + f) * 3 + s)];
            if (start + 320 <= 24000 - 320 || start >= 24000 + 320) { // clear of the switch
                const bool low = start < 24000;
                EXPECT_EQ(ids[static_cast<std::size_t>((w * 50 + f) * 3 + 0)], low ? 1.0f : 0.0f)
                    << w << "," << f;
                EXPECT_EQ(ids[static_cast<std::size_t>((w * 50 + f) * 3 + 1)], low ? 0.0f : 1.0f)
                    << w << "," << f;
                EXPECT_EQ(overlapped[static_cast<std::size_t>(w * 50 + f)], 0.0f);
            }
            EXPECT_EQ(ids[static_cast<std::size_t>((w * 50 + f) * 3 + 2)], 0.0f);
        }
        for (int s = 0; s < 3; ++s)
            EXPECT_EQ(activity[static_cast<std::size_t>(w * 3 + s)], counted[s]);
    }
}

TEST(SpeakerSegmenterNetwork, SilenceActivatesNobodyAndNonFiniteAudioIsRefused) {
    TempDir dir;
    const auto config = smallSegmenter();
    writeModelFile(dir / "S.gguf", config, toneSegmenterWeights(config));
    const auto model = Model::load(dir / "S.gguf");
    const FeatureMap out = model->predict({{"waveform", floats({48000}, std::vector<float>(48000, 0.0f))}});
    for (float v : out.at("speaker_activity").toFloatArray())
        EXPECT_EQ(v, 0.0f);
    std::vector<float> bad(48000, 0.0f);
    bad[100] = NAN;
    try {
        model->predict({{"waveform", floats({48000}, bad)}});
        FAIL();
    } catch (const ModelError& error) {
        EXPECT_EQ(error.code(), ModelError::Code::invalidInput);
    }
}

// Embedding of each mask row: mean and deviation of the projected features weighted by the row.
TEST(SpeakerEmbedderNetwork, EachRowIsTheWeightedMeanAndDeviationOfTheProjectedFeatures) {
    TempDir dir;
    const SpeakerEmbedderConfig config{.maskRows = 3,
                                       .maskFrames = 4,
                                       .featureFrames = 8,
                                       .featureLength = 2,
                                       .projectionWidth = 1,
                                       .embeddingLength = 2};
    // projection: feature 0 minus feature 1, plus 1; output: (mean, deviation).
    const std::vector<WeightTensor> weights{
        WeightTensor::of("projection.weight", {1, 2}, {1.0f, -1.0f}),
        WeightTensor::of("projection.bias", {1}, {1.0f}),
        WeightTensor::of("output.weight", {2, 2}, {1.0f, 0.0f, 0.0f, 1.0f}),
        WeightTensor::of("output.bias", {2}, {0.0f, 0.0f})};
    writeModelFile(dir / "E.gguf", config, weights);
    const auto model = Model::load(dir / "E.gguf");

    std::vector<float> features; // projected value of frame t: t + 1
    for (int t = 0; t < 8; ++t) {
        features.push_back(static_cast<float>(t) + 0.5f);
        features.push_back(0.5f);
    }
    MultiArray masks({1, 3, 4}, MultiArrayDataType::float16);
    Float16* m = masks.dataAs<Float16>();
    m[0] = 1; // row 0: mask column 0 = feature frames 0 and 1 → values 1, 2
    m[4 + 1] = 1;
    m[4 + 2] = 0.5; // row 1: frames 2, 3 weight 1 and 4, 5 weight 0.5 → values 3, 4, 5, 6
    const auto out =
        model->predict({{"speaker_masks", masks}, {"preprocessor_output_1", floats({1, 8, 2}, features)}})
            .at("speaker_embeddings")
            .toFloatArray();
    EXPECT_NEAR(out[0], 1.5, 1e-2); // the projection is float16
    EXPECT_NEAR(out[1], 0.5, 1e-2);
    const double mean = (3 + 4 + 0.5 * 5 + 0.5 * 6) / 3.0;
    const double variance = (9 + 16 + 0.5 * 25 + 0.5 * 36) / 3.0 - mean * mean;
    EXPECT_NEAR(out[2], mean, 1e-2);
    EXPECT_NEAR(out[3], std::sqrt(variance), 1e-2);
    EXPECT_TRUE(std::isfinite(out[4]) && std::isfinite(out[5])); // an empty row
}

TEST(PldaProjectorNetwork, LengthNormalisesBetweenTheTwoAffineStepsAndKeepsItsCovarianceInTheFile) {
    TempDir dir;
    PldaProjectorConfig config{.rows = 2,
                               .embeddingLength = 3,
                               .pldaLength = 128,
                               .betweenClassCovariance = betweenClassCovariance(128)};
    writeModelFile(dir / "P.gguf", config, tonePldaWeights(config));
    const auto model = Model::load(dir / "P.gguf");
    EXPECT_EQ(std::get<PldaProjectorConfig>(model->config()).betweenClassCovariance,
              config.betweenClassCovariance);
    const auto out = model->predict({{"embeddings", floats({1, 2, 3}, {3, 0, 4, 30, 0, 40})}})
                         .at("plda_embeddings")
                         .toFloatArray();
    const double scale = 4 * std::sqrt(3.0) / 5.0; // tone projections spread by 4
    for (int row = 0; row < 2; ++row) {
        EXPECT_NEAR(out[static_cast<std::size_t>(row * 128 + 0)], 3 * scale, 1e-4);
        EXPECT_NEAR(out[static_cast<std::size_t>(row * 128 + 2)], 4 * scale, 1e-4);
        EXPECT_EQ(out[static_cast<std::size_t>(row * 128 + 3)], 0.0f);
    }
}

TEST(SpeakerModelFiles, MayDeclareFewerOutputsOrAnotherShapeOfTheSameSize) {
    TempDir dir;
    const auto config = smallSegmenter();
    FeatureSpecs declared = featureSpecs(config);
    declared.outputs.erase(declared.outputs.begin() + 2); // no speaker_activity
    declared.outputs[1].shape = {5, 150};                 // speaker_ids of rank 2
    writeModelFile(dir / "S.gguf", config, toneSegmenterWeights(config), declared);
    const auto model = Model::load(dir / "S.gguf");
    EXPECT_FALSE(model->description().outputs.contains("speaker_activity"));
    const FeatureMap out = model->predict({{"waveform", floats({48000}, twoTones(48000, 24000))}});
    EXPECT_FALSE(out.contains("speaker_activity"));
    EXPECT_EQ(out.at("speaker_ids").shape(), (std::vector<std::int64_t>{5, 150}));

    struct Case {
        const char* what;
        std::function<void(FeatureSpecs&)> change;
    };
    const std::vector<Case> refused{{"another element count",
                                     [](FeatureSpecs& s) {
                                         s.outputs[0].shape = {5, 1, 15999};
                                     }},
                                    {"a dimension of 0",
                                     [](FeatureSpecs& s) {
                                         s.outputs[0].shape = {0, 5, 16000};
                                     }},
                                    {"no shape", [](FeatureSpecs& s) { s.inputs[0].shape = {}; }},
                                    {"an output nobody computes",
                                     [](FeatureSpecs& s) {
                                         s.outputs.push_back({"extra", MultiArrayDataType::float32, {1}});
                                     }},
                                    {"an input left out", [](FeatureSpecs& s) { s.inputs.clear(); }},
                                    {"another element type", [](FeatureSpecs& s) {
                                         s.outputs[1].dataType = MultiArrayDataType::float16;
                                     }}};
    for (const auto& c : refused) {
        FeatureSpecs specs = featureSpecs(config);
        c.change(specs);
        writeModelFile(dir / "bad.gguf", config, toneSegmenterWeights(config), specs);
        try {
            Model::load(dir / "bad.gguf");
            ADD_FAILURE() << c.what;
        } catch (const ModelError& error) {
            EXPECT_EQ(error.code(), ModelError::Code::invalidModel) << c.what;
        }
    }
}

TEST(SpeakerModelFiles, SpeechModelsKeepTheirComputedLayout) {
    TempDir dir;
    const MelSpectrogramConfig mel{.windowSamples = 1600, .melCount = 8, .fftLength = 400, .hopLength = 160};
    FeatureSpecs declared = featureSpecs(mel);
    declared.outputs[0].shape = {8, 10};
    writeModelFile(dir / "M.gguf", mel, randomWeights(mel, 1), declared);
    EXPECT_THROW(Model::load(dir / "M.gguf"), ModelError);
}

TEST(SpeakerModelFiles, HyperParametersThatWouldNeedHugeBuffersAreRefused) {
    SpeakerSegmenterConfig huge = smallSegmenter();
    huge.chunkSamples = 9600000;
    huge.windowSamples = 9600000;
    huge.windowCount = 1000;
    EXPECT_THROW(validate(huge), std::invalid_argument);
    PldaProjectorConfig plda{
        .rows = 1, .embeddingLength = 2, .pldaLength = 3, .betweenClassCovariance = {1, 2}};
    EXPECT_THROW(validate(plda), std::invalid_argument);
    plda.betweenClassCovariance = {1, 2, INFINITY};
    EXPECT_THROW(validate(plda), std::invalid_argument);
}

} // namespace
} // namespace velnote::platform::ml
