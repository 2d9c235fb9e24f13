#include "engine/foundation/ModelUtilities.h"
#include "platform/ml/Model.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/ModelGenerator.h"
#include "support/TempDir.h"
#include "support/TinyModels.h"

#include <cmath>
#include <gtest/gtest.h>
#include <thread>

namespace velnote::platform::ml {
namespace {

using basalith::Float16;
using basalith::ModelUtilities;
using basalith::MultiArray;
using basalith::MultiArrayDataType;
using velnote::testing::TempDir;

MultiArray ints(std::vector<std::int64_t> shape, std::vector<std::int32_t> values) {
    MultiArray array(std::move(shape), MultiArrayDataType::int32);
    std::copy(values.begin(), values.end(), array.dataAs<std::int32_t>());
    return array;
}

MultiArray halves(std::vector<std::int64_t> shape, std::uint32_t seed) {
    MultiArray array(std::move(shape), MultiArrayDataType::float16);
    Float16* values = array.dataAs<Float16>();
    for (std::int64_t i = 0; i < array.count(); ++i)
        values[i] = static_cast<Float16>(std::sin(static_cast<double>(i * (seed + 1)) * 0.37));
    return array;
}

TEST(ModelRuntimeTest, DescriptionGivesTheSizesTheEngineReads) {
    TempDir dir;
    writeRandomModel(dir / "TextDecoder.mlmodelc", testing::tinyDecoder(), 1);
    writeRandomModel(dir / "MelSpectrogram.mlmodelc", MelSpectrogramConfig{.melCount = 128}, 1);
    const auto decoder =
        Model::load(dir / "TextDecoder.mlmodelc", basalith::ComputeUnits::cpuAndNeuralEngine);
    const auto& d = decoder->description();
    EXPECT_EQ(ModelUtilities::getModelOutputDimension(&d, "logits", 2), 23);   // vocabulary
    EXPECT_EQ(ModelUtilities::getModelInputDimension(&d, "key_cache", 1), 24); // layers × width
    EXPECT_EQ(ModelUtilities::getModelInputDimension(&d, "key_cache", 3), 8);  // cache positions
    EXPECT_EQ(ModelUtilities::getModelInputDimension(&d, "encoder_output_embeds", 3), 5);
    EXPECT_EQ(ModelUtilities::getModelOutputDimension(&d, "alignment_heads_weights", 0), 1);
    EXPECT_EQ(decoder->computeUnits(), basalith::ComputeUnits::cpuAndNeuralEngine);
    const auto mel = Model::load(dir / "MelSpectrogram.mlmodelc");
    EXPECT_EQ(ModelUtilities::getModelInputDimension(&mel->description(), "audio", 0), 480000);
    EXPECT_EQ(ModelUtilities::getModelOutputDimension(&mel->description(), "melspectrogram_features", 1),
              128);
}

TEST(ModelRuntimeTest, UnloadedModelsRefusePredictionsAndPrewarmOnlyChecksTheFile) {
    TempDir dir;
    writeRandomModel(dir / "Prefill.mlmodelc", testing::tinyPrefill(), 1);
    EXPECT_NO_THROW(Model::prewarm(dir / "Prefill.mlmodelc"));
    EXPECT_THROW(Model::prewarm(dir / "Missing.mlmodelc"), ModelError);

    const auto model = Model::load(dir / "Prefill.mlmodelc");
    const FeatureMap inputs{{"task", ints({1}, {0})}, {"language", ints({1}, {3})}};
    EXPECT_TRUE(model->isLoaded());
    ASSERT_NO_THROW(model->predict(inputs));
    model->unload();
    EXPECT_FALSE(model->isLoaded());
    try {
        model->predict(inputs);
        ADD_FAILURE() << "an unloaded model predicted";
    } catch (const ModelError& error) {
        EXPECT_EQ(error.code(), ModelError::Code::notLoaded);
    }
}

TEST(ModelRuntimeTest, ConcurrentPredictionsOnOneModelEqualSerialOnes) {
    TempDir dir;
    const TextDecoderConfig c = testing::tinyDecoder();
    writeRandomModel(dir / "TextDecoder.mlmodelc", c, 5);
    writeRandomModel(dir / "AudioEncoder.mlmodelc", testing::tinyEncoder(), 5);
    const auto decoder = Model::load(dir / "TextDecoder.mlmodelc");
    const auto encoder = Model::load(dir / "AudioEncoder.mlmodelc");

    // More distinct encoder outputs than the decoder keeps cross-attention for, so threads also
    // race on filling and evicting that cache.
    constexpr int kJobs = 24;
    auto decoderInputs = [&](int job) {
        std::vector<std::int32_t> update(8, 0);
        update[static_cast<std::size_t>(job % 8)] = 1;
        return FeatureMap{
            {"input_ids", ints({1}, {job % 23})},
            {"cache_length", ints({1}, {job % 8})},
            {"key_cache", halves({1, 24, 1, 8}, static_cast<std::uint32_t>(job))},
            {"value_cache", halves({1, 24, 1, 8}, static_cast<std::uint32_t>(job + 1))},
            {"kv_cache_update_mask", ints({1, 8}, update)},
            {"encoder_output_embeds", halves({1, 12, 1, 5}, static_cast<std::uint32_t>(job % 6))},
            {"decoder_key_padding_mask", MultiArray({1, 8}, MultiArrayDataType::float16)}};
    };
    auto run = [&](int job) {
        auto out = decoder->predict(decoderInputs(job));
        std::vector<float> all = out.at("logits").toFloatArray();
        for (const char* name : {"key_cache_updates", "value_cache_updates", "alignment_heads_weights"}) {
            const auto more = out.at(name).toFloatArray();
            all.insert(all.end(), more.begin(), more.end());
        }
        const auto embeds = encoder
                                ->predict({{"melspectrogram_features",
                                            halves({1, 8, 1, 10}, static_cast<std::uint32_t>(job))}})
                                .at("encoder_output_embeds")
                                .toFloatArray();
        all.insert(all.end(), embeds.begin(), embeds.end());
        return all;
    };
    std::vector<std::vector<float>> serial, concurrent(kJobs);
    for (int job = 0; job < kJobs; ++job)
        serial.push_back(run(job));
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int job = t; job < kJobs; job += 6)
                concurrent[static_cast<std::size_t>(job)] = run(job);
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int job = 0; job < kJobs; ++job)
        EXPECT_EQ(concurrent[static_cast<std::size_t>(job)], serial[static_cast<std::size_t>(job)])
            << "job " << job;
}

} // namespace
} // namespace velnote::platform::ml
