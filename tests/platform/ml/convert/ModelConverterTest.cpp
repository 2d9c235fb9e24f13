#include "platform/ml/convert/ModelConverter.h"

#include "platform/ml/MelFilterBank.h"
#include "platform/ml/ModelFile.h"
#include "platform/ml/convert/ConversionError.h"
#include "support/CheckpointFixtures.h"
#include "support/TempDir.h"

#include <cstring>
#include <ggml.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace velnote::platform::ml {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::TinyWhisper;

constexpr const char* kModelFolders[] = {kMelSpectrogramFolder, kAudioEncoderFolder, kTextDecoderFolder,
                                         kTextDecoderContextPrefillFolder};

std::vector<float> storedValues(const ggml_tensor* t) {
    std::vector<float> values(static_cast<std::size_t>(ggml_nelements(t)));
    if (t->type == GGML_TYPE_F32)
        std::memcpy(values.data(), t->data, ggml_nbytes(t));
    else
        ggml_get_type_traits(t->type)->to_float(t->data, values.data(), ggml_nelements(t));
    return values;
}

float asFloat16(float value) {
    return static_cast<float>(static_cast<_Float16>(value));
}

// Matrices are stored in F16, everything else in F32; a packaged checkpoint was F16 to begin with.
void expectWeights(const ModelFile& model, const testing::FixtureTensors& weights, bool sourceFloat16) {
    for (const auto& spec : tensorSpecs(model.config())) {
        SCOPED_TRACE(spec.name);
        const auto& expected = weights.at(spec.name).values;
        const auto stored = storedValues(model.tensor(spec.name));
        ASSERT_EQ(stored.size(), expected.size());
        const bool half = sourceFloat16 || spec.storedType == StoredType::float16;
        // The loader may hold a matrix in BF16 where the processor multiplies those faster.
        const bool brain = model.tensor(spec.name)->type == GGML_TYPE_BF16;
        for (std::size_t i = 0; i < stored.size(); ++i) {
            float value = half ? asFloat16(expected[i]) : expected[i];
            if (brain)
                value = ggml_bf16_to_fp32(ggml_fp32_to_bf16(value));
            ASSERT_EQ(stored[i], value) << i;
        }
    }
}

// Everything in `folder` but the named entries: what a failed conversion may not leave behind.
std::vector<fs::path> leftovers(const fs::path& folder, const std::vector<std::string>& keep) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (std::find(keep.begin(), keep.end(), entry.path().filename()) == keep.end())
            found.push_back(entry.path());
    }
    return found;
}

TEST(ModelConverterTest, BothLayoutsBecomeALoadableVariantWithTheSameWeights) {
    const TinyWhisper sizes{.width = 8, .heads = 2, .audioLayers = 2, .textLayers = 2};
    const auto weights = testing::publishedWeights(sizes, 11);
    TempDir dir;
    testing::writePublishedCheckpoint(dir / "published", sizes, weights);
    testing::writePackagedCheckpoint(dir / "packaged", sizes, weights, 0.5f);

    for (const std::string layout : {"published", "packaged"}) {
        SCOPED_TRACE(layout);
        const fs::path variant = dir / "models" / (layout + "_whisper-tiny");
        convertModel(dir / layout, variant);
        for (const char* folder : kModelFolders)
            EXPECT_TRUE(fs::exists(variant / folder / "model.gguf")) << folder;

        const auto mel = ModelFile::load(variant / kMelSpectrogramFolder);
        const auto& melConfig = std::get<MelSpectrogramConfig>(mel->config());
        EXPECT_EQ(melConfig.melCount, 80);
        EXPECT_EQ(melConfig.windowSamples, 2 * 6 * 160);
        EXPECT_EQ(storedValues(mel->tensor("mel_filters")), slaneyMelFilterBank(80));

        const auto encoder = ModelFile::load(variant / kAudioEncoderFolder);
        const auto& encoderConfig = std::get<AudioEncoderConfig>(encoder->config());
        EXPECT_EQ(encoderConfig.width, 8);
        EXPECT_EQ(encoderConfig.headCount, 2);
        EXPECT_EQ(encoderConfig.contextLength, 6);
        expectWeights(*encoder, weights, layout == "packaged");

        const auto decoder = ModelFile::load(variant / kTextDecoderFolder);
        const auto& decoderConfig = std::get<TextDecoderConfig>(decoder->config());
        EXPECT_EQ(decoderConfig.vocabularySize, 40);
        EXPECT_EQ(decoderConfig.kvCacheLength, 10);
        EXPECT_EQ(decoderConfig.alignmentHeads, (std::vector<AlignmentHead>{{1, 0}, {1, 1}}));
        expectWeights(*decoder, weights, layout == "packaged");

        const auto prefill = ModelFile::load(variant / kTextDecoderContextPrefillFolder);
        const auto& prefillConfig = std::get<TextDecoderContextPrefillConfig>(prefill->config());
        EXPECT_TRUE(prefillConfig.multilingual);
        EXPECT_EQ(prefillConfig.startOfTranscriptToken, 35);
        EXPECT_EQ(prefillConfig.translateToken, 37);
        EXPECT_EQ(prefillConfig.transcribeToken, 38);
        expectWeights(*prefill, weights, layout == "packaged");

        EXPECT_EQ(testing::readBytes(variant / "tokenizer.json"),
                  testing::readBytes(dir / layout / "tokenizer.json"));
        const auto tokenizerConfig =
            nlohmann::json::parse(testing::readBytes(variant / "tokenizer_config.json"));
        EXPECT_EQ(tokenizerConfig["tokenizer_class"], "WhisperTokenizer");
        EXPECT_EQ(leftovers(dir / "models", {"published_whisper-tiny", "packaged_whisper-tiny"}),
                  std::vector<fs::path>{});
    }
}

TEST(ModelConverterTest, EnglishOnlyVocabularyPrefillsTheStartTokenAlone) {
    const TinyWhisper sizes{.vocabulary = kEnglishOnlyVocabularySize};
    TempDir dir;
    testing::writePublishedCheckpoint(dir / "source", sizes, testing::publishedWeights(sizes, 2), "F16");
    convertModel(dir / "source", dir / "variant");
    const auto prefill = ModelFile::load(dir / "variant" / kTextDecoderContextPrefillFolder);
    const auto& config = std::get<TextDecoderContextPrefillConfig>(prefill->config());
    EXPECT_FALSE(config.multilingual);
    EXPECT_EQ(config.prefillLength(), 1);
}

TEST(ModelConverterTest, FailuresLeaveNoVariantAndNoPartialFolder) {
    using Code = ConversionError::Code;
    const TinyWhisper sizes;
    auto weights = testing::publishedWeights(sizes, 4);
    struct Case {
        const char* what;
        std::function<void(testing::FixtureTensors&, const fs::path& source)> spoil;
        Code code;
    };
    const std::vector<Case> cases{
        {"a weight missing", [](auto& w, const auto&) { w.erase("model.decoder.layers.1.fc2.bias"); },
         Code::incompleteWeights},
        {"a weight of another shape",
         [](auto& w, const auto&) {
             w["model.encoder.conv2.bias"].shape = {4, 2};
         },
         Code::incompleteWeights},
        {"a feed-forward of another width",
         [](auto& w, const auto&) {
             auto& fc1 = w["model.encoder.layers.0.fc1.weight"];
             fc1.shape = {16, 8};
             fc1.values.resize(16 * 8);
         },
         Code::incompleteWeights},
        {"a value beyond float16",
         [](auto& w, const auto&) { w["model.encoder.conv1.weight"].values[5] = 1e6f; },
         Code::incompleteWeights},
        {"heads that do not divide the width",
         [](auto&, const auto& source) {
             auto config = nlohmann::json::parse(testing::readBytes(source / "config.json"));
             config["encoder_attention_heads"] = 3;
             testing::writeText(source / "config.json", config.dump());
         },
         Code::malformedFile},
        {"an alignment head past the last layer",
         [](auto&, const auto& source) {
             testing::writeText(source / "generation_config.json", R"({"alignment_heads":[[2,0]]})");
         },
         Code::malformedFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        auto spoiled = weights;
        testing::writePublishedCheckpoint(dir / "source", sizes, spoiled);
        c.spoil(spoiled, dir / "source");
        testing::writeText(dir / "source" / "model.safetensors", testing::safetensorsBytes(spoiled));
        try {
            convertModel(dir / "source", dir / "out" / "variant");
            ADD_FAILURE() << "converted";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.code(), c.code) << e.what();
        }
        EXPECT_FALSE(fs::exists(dir / "out" / "variant"));
        if (fs::exists(dir / "out")) {
            EXPECT_EQ(leftovers(dir / "out", {}), std::vector<fs::path>{});
        }
    }
}

TEST(ModelConverterTest, AnExistingDestinationIsLeftAloneUnlessEmpty) {
    const TinyWhisper sizes;
    TempDir dir;
    testing::writePublishedCheckpoint(dir / "source", sizes, testing::publishedWeights(sizes, 9));
    fs::create_directories(dir / "taken");
    testing::writeText(dir / "taken" / "notes.txt", "mine");
    testing::writeText(dir / "file", "mine");
    for (const char* taken : {"taken", "file"}) {
        try {
            convertModel(dir / "source", dir / taken);
            ADD_FAILURE() << "converted over " << taken;
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.code(), ConversionError::Code::writeFailed);
        }
    }
    EXPECT_EQ(testing::readBytes(dir / "taken" / "notes.txt"), "mine");
    EXPECT_EQ(testing::readBytes(dir / "file"), "mine");

    fs::create_directories(dir / "empty");
    convertModel(dir / "source", dir / "empty");
    EXPECT_TRUE(fs::exists(dir / "empty" / kAudioEncoderFolder / "model.gguf"));
}

TEST(ModelConverterTest, CommandReportsUsageErrorsAndSuccess) {
    const TinyWhisper sizes;
    TempDir dir;
    testing::writePublishedCheckpoint(dir / "source", sizes, testing::publishedWeights(sizes, 9));
    const std::string source = (dir / "source").string(), missing = (dir / "missing").string(),
                      destination = (dir / "variant").string();
    struct Case {
        std::vector<const char*> arguments;
        int status;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases{
        {{"velnote-convert-model"}, 2, "", "usage: velnote-convert-model SOURCE DEST"},
        {{"velnote-convert-model", source.c_str()}, 2, "", "usage:"},
        {{"velnote-convert-model", missing.c_str(), destination.c_str()},
         1,
         "",
         missing + ": is not a folder"},
        {{"velnote-convert-model", source.c_str(), destination.c_str()}, 0, "Wrote " + destination, ""},
        {{"velnote-convert-model", source.c_str(), destination.c_str()}, 1, "", "already exists"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.size());
        std::ostringstream out, err;
        EXPECT_EQ(runConvertModelCommand(c.arguments, out, err), c.status);
        EXPECT_NE(out.str().find(c.out), std::string::npos) << out.str();
        EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
        if (c.out.empty()) {
            EXPECT_EQ(out.str(), "");
        }
    }
}

} // namespace
} // namespace velnote::platform::ml
