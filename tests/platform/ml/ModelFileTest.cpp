#include "platform/ml/ModelFile.h"

#include "platform/ml/ModelError.h"
#include "platform/ml/ModelGenerator.h"
#include "platform/ml/ModelWriter.h"
#include "support/TempDir.h"
#include "support/TinyModels.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <ggml-cpp.h>
#include <ggml-cpu.h>
#include <ggml.h>
#include <gguf.h>
#include <gtest/gtest.h>
#include <iterator>

namespace velnote::platform::ml {
namespace {

namespace fs = std::filesystem;
using velnote::testing::TempDir;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

ModelError::Code loadError(const fs::path& location, std::string* message = nullptr) {
    try {
        ModelFile::load(location);
    } catch (const ModelError& error) {
        if (message)
            *message = error.what();
        return error.code();
    }
    ADD_FAILURE() << "loaded " << location;
    return ModelError::Code::predictionFailed;
}

TEST(ModelFileTest, EveryArchitectureRoundTripsItsConfigurationDescriptionAndWeights) {
    TempDir dir;
    const std::vector<ModelConfig> configs = {testing::tinyMel(), testing::tinyEncoder(),
                                              testing::tinyDecoder(), testing::tinyPrefill()};
    for (const auto& config : configs) {
        const fs::path folder = dir / (architectureName(config) + ".mlmodelc");
        const auto weights = randomWeights(config, 7);
        writeModel(folder, config, weights);
        ASSERT_TRUE(fs::exists(folder / "model.gguf"));
        EXPECT_FALSE(fs::exists(folder / "model.gguf.partial"));

        const auto file = ModelFile::load(folder);
        EXPECT_EQ(architectureName(file->config()), architectureName(config));
        EXPECT_EQ(file->features().inputs.size(), featureSpecs(config).inputs.size());
        for (const auto& weight : weights) {
            const ggml_tensor* t = file->tensor(weight.name);
            const auto values = weight.values();
            ASSERT_EQ(ggml_nelements(t), static_cast<std::int64_t>(values.size())) << weight.name;
            // Matrices may be held in BF16 (8 mantissa bits) where the processor multiplies those faster.
            const double precision = t->type == GGML_TYPE_BF16 ? 4e-3 : 1e-3;
            std::vector<float> stored(values.size());
            if (t->type == GGML_TYPE_F32)
                std::memcpy(stored.data(), t->data, ggml_nbytes(t));
            else
                ggml_get_type_traits(t->type)->to_float(t->data, stored.data(), ggml_nelements(t));
            for (std::size_t i = 0; i < values.size(); i += 7)
                ASSERT_NEAR(stored[i], values[i], precision * (1 + std::fabs(values[i])))
                    << weight.name << " " << i;
        }
    }
    const auto encoder = ModelFile::load(dir / "audio_encoder.mlmodelc");
    EXPECT_EQ(encoder->tensor("model.encoder.layers.0.fc1.weight")->type,
              ggml_cpu_has_avx512_bf16() ? GGML_TYPE_BF16 : GGML_TYPE_F16);
    EXPECT_EQ(encoder->tensor("model.encoder.conv1.weight")->type, GGML_TYPE_F16) << "a convolution kernel";
    const auto decoder = ModelFile::load(dir / "text_decoder.mlmodelc");
    EXPECT_EQ(std::get<TextDecoderConfig>(decoder->config()).alignmentHeads,
              testing::tinyDecoder().alignmentHeads);
    EXPECT_EQ(decoder->features().outputs.back().name, "alignment_heads_weights");
    // A plain GGUF file is a model location too.
    EXPECT_NO_THROW(ModelFile::load(dir / "mel_spectrogram.mlmodelc/model.gguf"));
}

TEST(ModelFileTest, WriterRejectsIncompleteOrMisshapenWeightsAndLeavesNoFile) {
    TempDir dir;
    const ModelConfig config = testing::tinyEncoder();
    struct Case {
        const char* what;
        std::function<void(std::vector<WeightTensor>&)> spoil;
    };
    const std::vector<Case> cases = {
        {"missing", [](auto& w) { w.erase(w.begin() + 3); }},
        {"shape",
         [](auto& w) {
             w[0].shape = {12, 3, 8};
         }},
        {"count", [](auto& w) { w[1] = WeightTensor::of(w[1].name, w[1].shape, {1.0f}); }},
        {"nan", [](auto& w) { w[1] = WeightTensor::of(w[1].name, w[1].shape, std::vector<float>(12, NAN)); }},
        {"half overflow",
         [](auto& w) {
             w[0] = WeightTensor::of(w[0].name, w[0].shape, std::vector<float>(12 * 8 * 3, 1e6f));
         }},
    };
    for (const auto& c : cases) {
        auto weights = randomWeights(config, 1);
        c.spoil(weights);
        EXPECT_THROW(writeModel(dir / c.what, config, weights), std::invalid_argument) << c.what;
        EXPECT_FALSE(fs::exists(dir / c.what / "model.gguf")) << c.what;
        EXPECT_FALSE(fs::exists(dir / c.what / "model.gguf.partial")) << c.what;
    }
    AudioEncoderConfig bad = testing::tinyEncoder();
    bad.headCount = 5;
    EXPECT_THROW(writeModel(dir / "bad", bad, randomWeights(testing::tinyEncoder(), 1)),
                 std::invalid_argument);
    TextDecoderConfig twice = testing::tinyDecoder();
    twice.alignmentHeads.push_back(twice.alignmentHeads.front());
    EXPECT_THROW(validate(twice), std::invalid_argument);
    // A mel model's buffers grow with its keys alone: frames overlapping more than 8 times are refused.
    MelSpectrogramConfig dense = testing::tinyMel();
    dense.hopLength = 40;
    EXPECT_THROW(validate(dense), std::invalid_argument);
}

TEST(ModelFileTest, WriterSkipsTensorsTheArchitectureDoesNotUseWithoutReadingThem) {
    TempDir dir;
    // The prefill needs no cross-attention queries or keys: a whole decoder checkpoint is fine.
    auto weights = randomWeights(testing::tinyDecoder(), 3);
    weights.push_back({"model.encoder.conv1.weight", {1}, [] {
                           ADD_FAILURE() << "read a tensor the model does not use";
                           return std::vector<float>{0};
                       }});
    writeModel(dir / "p", testing::tinyPrefill(), weights);
    EXPECT_THROW(ModelFile::load(dir / "p")->tensor("model.decoder.layers.0.encoder_attn.q_proj.weight"),
                 std::out_of_range);
}

TEST(ModelFileTest, LocationsWithoutExactlyOneModelFileAreNotFound) {
    TempDir dir;
    fs::create_directories(dir / "empty.mlmodelc");
    EXPECT_EQ(loadError(dir / "empty.mlmodelc"), ModelError::Code::notFound);
    EXPECT_EQ(loadError(dir / "missing.mlmodelc"), ModelError::Code::notFound);
    writeRandomModel(dir / "two.mlmodelc", testing::tinyMel(), 1);
    fs::copy_file(dir / "two.mlmodelc/model.gguf", dir / "two.mlmodelc/other.gguf");
    EXPECT_EQ(loadError(dir / "two.mlmodelc"), ModelError::Code::notFound);
}

TEST(ModelFileTest, DamagedFilesAreInvalidModelsNeverACrash) {
    TempDir dir;
    writeRandomModel(dir / "good", testing::tinyDecoder(), 1);
    const std::string bytes = slurp(dir / "good/model.gguf");
    fs::create_directories(dir / "bad");
    const fs::path bad = dir / "bad/model.gguf";
    // Cut anywhere: inside the header, the keys, the tensor table and the data.
    for (std::size_t cut :
         {std::size_t{0}, std::size_t{3}, std::size_t{10}, std::size_t{40}, std::size_t{200},
          std::size_t{1000}, std::size_t{3000}, bytes.size() / 2, bytes.size() - 33}) {
        spit(bad, bytes.substr(0, cut));
        EXPECT_EQ(loadError(dir / "bad"), ModelError::Code::invalidModel) << "cut at " << cut;
    }
    spit(bad, std::string(4096, '\xff'));
    EXPECT_EQ(loadError(dir / "bad"), ModelError::Code::invalidModel);

    // Bytes changed anywhere in the header, keys and tensor table: either still a model (a changed
    // value) or an invalid one, never anything else.
    std::uint64_t state = 42;
    for (int round = 0; round < 300; ++round) {
        std::string damaged = bytes;
        for (int flips = 0; flips < 3; ++flips) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const std::size_t at = (state >> 33) % 2500;
            damaged[at] = static_cast<char>(damaged[at] ^ static_cast<char>(1 + (state >> 20) % 255));
        }
        spit(bad, damaged);
        try {
            ModelFile::load(dir / "bad");
        } catch (const ModelError& error) {
            EXPECT_EQ(error.code(), ModelError::Code::invalidModel) << error.what();
        }
    }
}

// Rewrites a good file with its keys or tensor table changed through the GGUF library itself, and
// the original tensor data behind them.
void rewrite(const fs::path& from, const fs::path& to, const std::function<void(gguf_context*)>& change) {
    gguf_context_ptr file(gguf_init_from_file(from.c_str(), {true, nullptr}));
    const std::string data = slurp(from).substr(gguf_get_data_offset(file.get()));
    change(file.get());
    fs::create_directories(to.parent_path());
    ASSERT_TRUE(gguf_write_to_file(file.get(), to.c_str(), true));
    std::ofstream(to, std::ios::binary | std::ios::app) << data;
}

TEST(ModelFileTest, InconsistentFilesNameTheirFault) {
    TempDir dir;
    writeRandomModel(dir / "good", testing::tinyDecoder(), 1);
    const fs::path good = dir / "good/model.gguf";
    struct Case {
        const char* what;
        std::function<void(gguf_context*)> change;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"architecture", [](auto* g) { gguf_set_val_str(g, "general.architecture", "teleporter"); },
         "unknown model architecture"},
        {"version", [](auto* g) { gguf_set_val_u32(g, "model.format_version", 99); }, "format version 99"},
        {"huge width", [](auto* g) { gguf_set_val_u32(g, "text_decoder.embedding_length", 4000000000u); },
         "embedding_length"},
        {"zero heads", [](auto* g) { gguf_set_val_u32(g, "text_decoder.head_count", 0); }, "head_count"},
        {"typed key", [](auto* g) { gguf_set_val_str(g, "text_decoder.vocab_size", "many"); },
         "not an integer"},
        {"missing key", [](auto* g) { gguf_remove_key(g, "text_decoder.kv_cache_length"); }, "is missing"},
        {"shape",
         [](auto* g) {
             const std::int64_t shape[] = {1, 24, 1, 9};
             gguf_set_arr_data(g, "model.input.key_cache.shape", GGUF_TYPE_INT64, shape, 4);
         },
         "do not match"},
        {"tensor type",
         [](auto* g) { gguf_set_tensor_type(g, "model.decoder.layer_norm.bias", GGML_TYPE_F16); },
         "another element type"},
    };
    for (const auto& c : cases) {
        const fs::path folder = dir / c.what;
        rewrite(good, folder / "model.gguf", c.change);
        std::string message;
        EXPECT_EQ(loadError(folder, &message), ModelError::Code::invalidModel) << c.what;
        EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
    }
}

} // namespace
} // namespace velnote::platform::ml
