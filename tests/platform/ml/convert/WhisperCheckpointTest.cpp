#include "platform/ml/convert/WhisperCheckpoint.h"

#include "platform/ml/convert/ConversionError.h"
#include "support/CheckpointFixtures.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace velnote::platform::ml {
namespace {

using testing::TempDir;
using testing::TinyWhisper;
using testing::writeText;

std::vector<float> roundedToFloat16(const std::vector<float>& values) {
    std::vector<float> out;
    for (const float v : values)
        out.push_back(static_cast<float>(static_cast<_Float16>(v)));
    return out;
}

void expectSameWeights(const WhisperCheckpoint& checkpoint, const testing::FixtureTensors& weights,
                       bool float16) {
    ASSERT_EQ(checkpoint.tensors().size(), weights.size());
    for (const auto& [name, expected] : weights) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(checkpoint.tensors().contains(name));
        const auto& tensor = checkpoint.tensors().at(name);
        EXPECT_EQ(tensor.shape, expected.shape);
        EXPECT_EQ(tensor.toFloat(), float16 ? roundedToFloat16(expected.values) : expected.values);
    }
}

TEST(WhisperCheckpointTest, BothLayoutsGiveThePublishedTensorsAndSizes) {
    const TinyWhisper sizes{.width = 8, .heads = 2, .audioLayers = 2, .textLayers = 3};
    const auto weights = testing::publishedWeights(sizes, 7);
    TempDir dir;
    testing::writePublishedCheckpoint(dir / "published", sizes, weights);
    // A packaged key bias is a constant shift of every score of a query, so it is dropped.
    testing::writePackagedCheckpoint(dir / "packaged", sizes, weights, 0.75f);

    for (const char* layout : {"published", "packaged"}) {
        SCOPED_TRACE(layout);
        const auto checkpoint = WhisperCheckpoint::load(dir / layout);
        const auto& p = checkpoint.parameters();
        EXPECT_EQ(p.width, 8);
        EXPECT_EQ(p.melCount, 80);
        EXPECT_EQ(p.audioContextLength, 6);
        EXPECT_EQ(p.audioLayerCount, 2);
        EXPECT_EQ(p.audioHeadCount, 2);
        EXPECT_EQ(p.textContextLength, 10);
        EXPECT_EQ(p.textLayerCount, 3);
        EXPECT_EQ(p.textHeadCount, 2);
        EXPECT_EQ(p.vocabularySize, 40);
        expectSameWeights(checkpoint, weights, std::string(layout) == "packaged");
        EXPECT_EQ(checkpoint.alignmentHeads(), (std::vector<std::pair<int, int>>{{1, 0}, {1, 1}}));
        EXPECT_EQ(checkpoint.promptTokens().startOfTranscript, 35);
        EXPECT_EQ(checkpoint.promptTokens().translate, 37);
        EXPECT_EQ(checkpoint.promptTokens().transcribe, 38);
        EXPECT_TRUE(checkpoint.tokenizerFiles().contains("tokenizer.json"));
    }
    EXPECT_TRUE(
        WhisperCheckpoint::load(dir / "published").tokenizerFiles().contains("tokenizer_config.json"));
}

TEST(WhisperCheckpointTest, HalfAndBrainFloatCheckpointsAndBareNamesRead) {
    const TinyWhisper sizes;
    const auto weights = testing::publishedWeights(sizes, 3);
    TempDir dir;
    testing::writePublishedCheckpoint(dir.path(), sizes, weights, "BF16");
    EXPECT_EQ(WhisperCheckpoint::load(dir.path()).tensors().size(), weights.size());

    testing::FixtureTensors bare;
    for (auto [name, tensor] : weights) {
        tensor.dtype = "F16";
        bare[name.substr(std::string("model.").size())] = tensor;
    }
    writeText(dir / "model.safetensors", testing::safetensorsBytes(bare));
    expectSameWeights(WhisperCheckpoint::load(dir.path()), weights, true);
}

struct Damage {
    const char* what;
    std::function<void(const std::filesystem::path&)> apply;
    ConversionError::Code code;
};

TEST(WhisperCheckpointTest, IncompleteOrInconsistentCheckpointsAreRefused) {
    using Code = ConversionError::Code;
    using nlohmann::json;
    const auto rewriteConfig = [](const char* key, json value) {
        return [key, value](const std::filesystem::path& folder) {
            json config = json::parse(std::ifstream(folder / "config.json"));
            config[key] = value;
            writeText(folder / "config.json", config.dump());
        };
    };
    const std::vector<Damage> published{
        {"no tokenizer", [](const auto& f) { std::filesystem::remove(f / "tokenizer.json"); },
         Code::unreadableSource},
        {"no config", [](const auto& f) { std::filesystem::remove(f / "config.json"); },
         Code::unreadableSource},
        {"no weights", [](const auto& f) { std::filesystem::remove(f / "model.safetensors"); },
         Code::unreadableSource},
        {"config not JSON", [](const auto& f) { writeText(f / "config.json", "{\"d_model\": 8,"); },
         Code::malformedFile},
        {"config deep",
         [](const auto& f) { writeText(f / "config.json", std::string(5000, '[') + std::string(5000, ']')); },
         Code::malformedFile},
        {"width zero", rewriteConfig("d_model", 0), Code::malformedFile},
        {"width 1e999 text", [](const auto& f) { writeText(f / "config.json", R"({"d_model": 1e999})"); },
         Code::malformedFile},
        {"layers a string", rewriteConfig("encoder_layers", "two"), Code::malformedFile},
        {"layers huge", rewriteConfig("decoder_layers", 1000000000), Code::malformedFile},
        {"alignment head not a pair",
         [](const auto& f) { writeText(f / "generation_config.json", R"({"alignment_heads":[[1]]})"); },
         Code::malformedFile},
        {"tokenizer without the start token",
         [](const auto& f) {
             writeText(f / "tokenizer.json", R"({"model":{"vocab":{}},"added_tokens":[]})");
         },
         Code::malformedFile},
        {"tokenizer not an object", [](const auto& f) { writeText(f / "tokenizer.json", "[]"); },
         Code::malformedFile},
    };
    const TinyWhisper sizes;
    const auto weights = testing::publishedWeights(sizes, 5);
    for (const auto& damage : published) {
        SCOPED_TRACE(damage.what);
        TempDir dir;
        testing::writePublishedCheckpoint(dir.path(), sizes, weights);
        damage.apply(dir.path());
        try {
            WhisperCheckpoint::load(dir.path());
            ADD_FAILURE() << "accepted";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.code(), damage.code) << e.what();
        }
    }
}

TEST(WhisperCheckpointTest, DamagedPackagedCheckpointsAreRefused) {
    using Code = ConversionError::Code;
    const TinyWhisper sizes;
    const auto weights = testing::publishedWeights(sizes, 5);
    TempDir good;
    testing::writePackagedCheckpoint(good.path(), sizes, weights);
    const std::string bytes = testing::readBytes(good / "model.bin");
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string out = bytes;
        const auto at = out.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        out.replace(at, from.size(), to);
        return out;
    };
    struct Case {
        const char* what;
        std::string bytes;
        Code code;
    };
    const std::vector<Case> cases{
        {"truncated", bytes.substr(0, bytes.size() / 2), Code::malformedFile},
        // Same length, so the file stays well-formed and only the name is missing.
        {"head count missing", replaced("encoder/num_heads", "encoder/num_head_"), Code::incompleteWeights},
        {"cross-attention key and value missing",
         replaced("decoder/layer_0/attention/linear_1/weight", "decoder/layer_0/attention/linear_1/weighX"),
         Code::incompleteWeights},
        {"another network",
         replaced(std::string("decoder/pre_norm\0\0\1\1\0\0\0\1", 24),
                  std::string("decoder/pre_norm\0\0\1\1\0\0\0\0", 24)),
         Code::unsupported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        testing::writePackagedCheckpoint(dir.path(), sizes, weights);
        writeText(dir / "model.bin", c.bytes);
        try {
            WhisperCheckpoint::load(dir.path());
            ADD_FAILURE() << "accepted";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.code(), c.code) << e.what();
        }
    }
}

} // namespace
} // namespace velnote::platform::ml
