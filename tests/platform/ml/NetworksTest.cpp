#include "platform/ml/Model.h"
#include "platform/ml/ModelError.h"
#include "platform/ml/ModelGenerator.h"
#include "support/Reference.h"
#include "support/TempDir.h"
#include "support/TinyModels.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <thread>
#include <tuple>

namespace velnote::platform::ml {
namespace {

namespace fs = std::filesystem;
using basalith::Float16;
using basalith::MultiArray;
using basalith::MultiArrayDataType;
using reference::Matrix;
using velnote::testing::TempDir;

std::vector<float> noise(std::size_t n, std::uint32_t seed, float amplitude) {
    std::vector<float> out(n);
    std::uint64_t state = seed;
    for (auto& v : out) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        v = amplitude * (static_cast<float>(state >> 40) / 8388608.0f - 1.0f);
    }
    return out;
}

MultiArray floats(std::vector<std::int64_t> shape, const std::vector<float>& values) {
    MultiArray array(std::move(shape), MultiArrayDataType::float32);
    std::copy(values.begin(), values.end(), array.dataAs<float>());
    return array;
}

MultiArray halves(std::vector<std::int64_t> shape, const std::vector<double>& values) {
    MultiArray array(std::move(shape), MultiArrayDataType::float16);
    std::transform(values.begin(), values.end(), array.dataAs<Float16>(),
                   [](double v) { return static_cast<Float16>(v); });
    return array;
}

MultiArray ints(std::vector<std::int64_t> shape, const std::vector<std::int32_t>& values) {
    MultiArray array(std::move(shape), MultiArrayDataType::int32);
    std::copy(values.begin(), values.end(), array.dataAs<std::int32_t>());
    return array;
}

double maxDifference(const std::vector<double>& a, const std::vector<double>& b) {
    EXPECT_EQ(a.size(), b.size());
    double worst = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::fabs(a[i] - b[i]));
    return worst;
}

std::vector<double> flatten(const Matrix& m) {
    std::vector<double> out;
    for (const auto& row : m)
        out.insert(out.end(), row.begin(), row.end());
    return out;
}

Matrix transpose(const Matrix& m) {
    Matrix out(m.front().size(), std::vector<double>(m.size()));
    for (std::size_t i = 0; i < m.size(); ++i)
        for (std::size_t j = 0; j < m[i].size(); ++j)
            out[j][i] = m[i][j];
    return out;
}

class NetworksTest : public ::testing::Test {
  protected:
    std::shared_ptr<Model> make(const ModelConfig& config, const std::string& name, std::uint32_t seed = 11) {
        writeRandomModel(dir_ / name, config, seed);
        return Model::load(dir_ / name);
    }
    std::shared_ptr<const ModelFile> file(const std::string& name) { return ModelFile::load(dir_ / name); }

    TempDir dir_;
};

TEST_F(NetworksTest, MelSpectrogramMatchesTheReference) {
    const auto model = make(testing::tinyMel(), "Mel.mlmodelc");
    // A tone and noise, loud enough that the floor at max - 8 cuts nothing, and quiet enough that it does.
    for (float amplitude : {0.5f, 1e-5f}) {
        std::vector<float> audio = noise(1600, 3, amplitude);
        for (std::size_t i = 0; i < audio.size(); ++i)
            audio[i] +=
                amplitude *
                static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i) / 16000));
        const auto out = model->predict({{"audio", floats({1600}, audio)}}).at("melspectrogram_features");
        ASSERT_EQ(out.shape(), (std::vector<std::int64_t>{1, 8, 1, 10}));
        EXPECT_LT(
            maxDifference(reference::values(out), flatten(reference::logMel(*file("Mel.mlmodelc"), audio))),
            4e-3)
            << "amplitude " << amplitude;
    }
}

TEST_F(NetworksTest, SilenceGivesTheConstantMelTheFormulaImplies) {
    // log10 of the 1e-10 floor is -10, which is also the maximum: (-10 + 4) / 4 everywhere.
    const auto model = make(MelSpectrogramConfig{}, "Mel.mlmodelc");
    const auto out = model->predict({{"audio", MultiArray({480000}, MultiArrayDataType::float32)}})
                         .at("melspectrogram_features");
    ASSERT_EQ(out.shape(), (std::vector<std::int64_t>{1, 80, 1, 3000}));
    const auto values = out.toFloatArray();
    EXPECT_TRUE(std::all_of(values.begin(), values.end(), [](float v) { return v == -1.5f; }));
}

TEST_F(NetworksTest, AudioEncoderMatchesTheReference) {
    const auto model = make(testing::tinyEncoder(), "Encoder.mlmodelc");
    const auto mel = noise(8 * 10, 5, 1.0f);
    std::vector<double> rounded(mel.begin(), mel.end());
    for (double& v : rounded)
        v = static_cast<double>(static_cast<Float16>(v));
    Matrix melMatrix(8, std::vector<double>(10));
    for (std::size_t i = 0; i < rounded.size(); ++i)
        melMatrix[i / 10][i % 10] = rounded[i];

    const auto out = model->predict({{"melspectrogram_features", halves({1, 8, 1, 10}, rounded)}})
                         .at("encoder_output_embeds");
    ASSERT_EQ(out.shape(), (std::vector<std::int64_t>{1, 12, 1, 5}));
    const Matrix expected =
        transpose(reference::encode(*file("Encoder.mlmodelc"), melMatrix)); // [width][frame]
    EXPECT_LT(maxDifference(reference::values(out), flatten(expected)), 2e-2);
}

// Runs the decoder one token at a time with the cache protocol the speech engine follows.
struct StepResult {
    Matrix logits;
    std::vector<Matrix> keys; // [position][layer × width]
    std::vector<std::vector<double>> alignment;
};

StepResult decodeStepByStep(const Model& model, const TextDecoderConfig& c, const std::vector<int>& tokens,
                            const MultiArray& encoderOutput) {
    const std::int64_t e = c.kvCacheWidth(), s = c.kvCacheLength;
    MultiArray keyCache({1, e, 1, s}, MultiArrayDataType::float16);
    MultiArray valueCache({1, e, 1, s}, MultiArrayDataType::float16);
    StepResult result;
    for (std::size_t p = 0; p < tokens.size(); ++p) {
        std::vector<std::int32_t> update(static_cast<std::size_t>(s), 0);
        update[p] = 1;
        std::vector<double> padding(static_cast<std::size_t>(s), -10000.0);
        std::fill_n(padding.begin(), p + 1, 0.0);
        const auto out = model.predict({{"input_ids", ints({1}, {tokens[p]})},
                                        {"cache_length", ints({1}, {static_cast<std::int32_t>(p)})},
                                        {"key_cache", keyCache},
                                        {"value_cache", valueCache},
                                        {"kv_cache_update_mask", ints({1, s}, update)},
                                        {"encoder_output_embeds", encoderOutput},
                                        {"decoder_key_padding_mask", halves({1, s}, padding)}});
        result.logits.push_back(reference::values(out.at("logits")));
        result.keys.push_back({reference::values(out.at("key_cache_updates"))});
        if (out.contains("alignment_heads_weights"))
            result.alignment.push_back(reference::values(out.at("alignment_heads_weights")));
        const Float16* keys = out.at("key_cache_updates").dataAs<Float16>();
        const Float16* values = out.at("value_cache_updates").dataAs<Float16>();
        for (std::int64_t ch = 0; ch < e; ++ch) {
            keyCache.dataAs<Float16>()[ch * s + static_cast<std::int64_t>(p)] = keys[ch];
            valueCache.dataAs<Float16>()[ch * s + static_cast<std::int64_t>(p)] = values[ch];
        }
    }
    return result;
}

TEST_F(NetworksTest, CachedOneTokenDecodingEqualsTheFullSequencePass) {
    const TextDecoderConfig c = testing::tinyDecoder();
    const auto model = make(c, "Decoder.mlmodelc");
    const std::vector<double> encoder = [] {
        const auto v = noise(12 * 5, 9, 1.0f);
        std::vector<double> out(v.begin(), v.end());
        for (double& x : out)
            x = static_cast<double>(static_cast<Float16>(x));
        return out;
    }();
    Matrix encoderMatrix(5, std::vector<double>(12)); // [frame][width] from [1, width, 1, frames]
    for (std::size_t ch = 0; ch < 12; ++ch)
        for (std::size_t t = 0; t < 5; ++t)
            encoderMatrix[t][ch] = encoder[ch * 5 + t];

    const std::vector<int> tokens = {20, 3, 17, 0, 22, 9, 9};
    const auto steps = decodeStepByStep(*model, c, tokens, halves({1, 12, 1, 5}, encoder));
    const auto full = reference::decode(*file("Decoder.mlmodelc"), c, tokens, encoderMatrix);
    for (std::size_t p = 0; p < tokens.size(); ++p) {
        EXPECT_LT(maxDifference(steps.logits[p], full.logits[p]), 3e-2) << "position " << p;
        std::vector<double> keys;
        for (const auto& layer : full.keys)
            keys.insert(keys.end(), layer[p].begin(), layer[p].end());
        EXPECT_LT(maxDifference(steps.keys[p].front(), keys), 1e-2) << "position " << p;
        std::vector<double> alignment(5, 0.0);
        for (const auto& head : c.alignmentHeads)
            for (std::size_t t = 0; t < 5; ++t)
                alignment[t] += full.crossWeights[head.layer][p][head.head][t] / 2.0;
        EXPECT_LT(maxDifference(steps.alignment[p], alignment), 2e-3) << "position " << p;
    }
}

TEST_F(NetworksTest, ConcurrentWindowsEachGetTheirOwnSteps) {
    // One thread per prediction lets at most two batches compute at once, so eight windows
    // decoding side by side are computed in shared batches.
    const TextDecoderConfig c = testing::tinyDecoder();
    writeRandomModel(dir_ / "Decoder.mlmodelc", c, 11);
    const auto model = Model::load(dir_ / "Decoder.mlmodelc", basalith::ComputeUnits::all, {.threads = 1});
    struct Window {
        std::vector<int> tokens;
        MultiArray encoderOutput;
        StepResult alone;
        StepResult together;
    };
    std::vector<Window> windows;
    for (std::uint32_t w = 0; w < 8; ++w) {
        const auto encoder = noise(12 * 5, 100 + w, 1.0f);
        std::vector<int> tokens;
        for (std::uint32_t p = 0; p < 6; ++p)
            tokens.push_back(static_cast<int>((w * 7 + p * 5) % 23));
        windows.push_back({tokens, halves({1, 12, 1, 5}, {encoder.begin(), encoder.end()}), {}, {}});
        windows.back().alone = decodeStepByStep(*model, c, tokens, windows.back().encoderOutput);
    }
    {
        std::vector<std::jthread> threads;
        for (auto& window : windows)
            threads.emplace_back(
                [&] { window.together = decodeStepByStep(*model, c, window.tokens, window.encoderOutput); });
    }
    for (std::size_t w = 0; w < windows.size(); ++w) {
        for (std::size_t p = 0; p < windows[w].tokens.size(); ++p) {
            const auto& [alone, together] = std::tie(windows[w].alone, windows[w].together);
            EXPECT_LT(maxDifference(alone.logits[p], together.logits[p]), 1e-2)
                << "window " << w << " step " << p;
            EXPECT_LT(maxDifference(alone.keys[p].front(), together.keys[p].front()), 1e-2) << "window " << w;
            EXPECT_LT(maxDifference(alone.alignment[p], together.alignment[p]), 1e-3) << "window " << w;
        }
    }
}

TEST_F(NetworksTest, ClosedCacheSlotsWeighNothingWhateverTheyHold) {
    const TextDecoderConfig c = testing::tinyDecoder();
    const auto model = make(c, "Decoder.mlmodelc");
    const std::int64_t e = c.kvCacheWidth(), s = c.kvCacheLength;
    const auto encoder = noise(12 * 5, 3, 1.0f);
    // Slot 3 is this step's own; slot 2 is closed between open ones, slots 4 to 7 after them.
    const auto step = [&](std::uint32_t garbageSeed, const std::vector<double>& padding) {
        const auto cached = noise(static_cast<std::size_t>(e * s), 5, 1.0f);
        const auto garbage = noise(static_cast<std::size_t>(e * s), garbageSeed, 50.0f);
        std::vector<double> keys(cached.begin(), cached.end()), values = keys;
        for (std::int64_t ch = 0; ch < e; ++ch)
            for (std::int64_t slot = 0; slot < s; ++slot)
                if (padding[static_cast<std::size_t>(slot)] != 0) {
                    keys[static_cast<std::size_t>(ch * s + slot)] =
                        garbage[static_cast<std::size_t>(ch * s + slot)];
                    values[static_cast<std::size_t>(ch * s + slot)] =
                        -garbage[static_cast<std::size_t>(ch * s + slot)];
                }
        return reference::values(
            model
                ->predict({{"input_ids", ints({1}, {7})},
                           {"cache_length", ints({1}, {3})},
                           {"key_cache", halves({1, e, 1, s}, keys)},
                           {"value_cache", halves({1, e, 1, s}, values)},
                           {"kv_cache_update_mask", ints({1, s}, {0, 0, 0, 1, 0, 0, 0, 0})},
                           {"encoder_output_embeds", halves({1, 12, 1, 5}, {encoder.begin(), encoder.end()})},
                           {"decoder_key_padding_mask", halves({1, s}, padding)}})
                .at("logits"));
    };
    const std::vector<double> gap = {0, 0, -10000, 0, -10000, -10000, -10000, -10000};
    EXPECT_EQ(step(1, gap), step(2, gap));
    // Every slot closed: the step still answers.
    const std::vector<double> closed(static_cast<std::size_t>(s), -10000.0);
    for (const double logit : step(1, closed))
        EXPECT_TRUE(std::isfinite(logit));
}

TEST_F(NetworksTest, ContextPrefillIsTheDecodersCacheOfThePromptStartWithoutAudio) {
    for (bool multilingual : {true, false}) {
        TextDecoderContextPrefillConfig c = testing::tinyPrefill();
        c.multilingual = multilingual;
        const std::string name = multilingual ? "Prefill.mlmodelc" : "PrefillEn.mlmodelc";
        writeModel(dir_ / name, c, randomWeights(c.decoder, 11));
        writeModel(dir_ / "Decoder.mlmodelc", c.decoder, randomWeights(c.decoder, 11));
        const auto model = Model::load(dir_ / name);

        const auto out = model->predict({{"task", ints({1}, {1})}, {"language", ints({1}, {4})}});
        const std::int64_t length = multilingual ? 3 : 1;
        ASSERT_EQ(out.at("key_cache_prefill").shape(), (std::vector<std::int64_t>{1, 24, 1, length}));
        const std::vector<int> prompt = multilingual
                                            ? std::vector<int>{c.startOfTranscriptToken, 4, c.translateToken}
                                            : std::vector<int>{c.startOfTranscriptToken};
        const Matrix silence(5, std::vector<double>(12, 0.0));
        const auto full = reference::decode(*file("Decoder.mlmodelc"), c.decoder, prompt, silence);
        for (const auto& [feature, expected] :
             {std::pair{"key_cache_prefill", &full.keys}, {"value_cache_prefill", &full.values}}) {
            std::vector<double> laidOut; // [layer × width][position]
            for (const auto& layer : *expected)
                for (std::size_t ch = 0; ch < 12; ++ch)
                    for (std::int64_t p = 0; p < length; ++p)
                        laidOut.push_back(layer[static_cast<std::size_t>(p)][ch]);
            EXPECT_LT(maxDifference(reference::values(out.at(feature)), laidOut), 1e-2) << feature;
        }
    }
}

TEST_F(NetworksTest, AOneLayerContextPrefillGivesItsCache) {
    TextDecoderContextPrefillConfig c = testing::tinyPrefill();
    c.decoder.layerCount = 1;
    c.decoder.alignmentHeads.clear();
    writeModel(dir_ / "Prefill1.mlmodelc", c, randomWeights(c.decoder, 5));
    const auto out = Model::load(dir_ / "Prefill1.mlmodelc")
                         ->predict({{"task", ints({1}, {1})}, {"language", ints({1}, {4})}});
    EXPECT_EQ(out.at("key_cache_prefill").shape(), (std::vector<std::int64_t>{1, 12, 1, 3}));
}

TEST_F(NetworksTest, ScriptedDecoderEmitsItsScriptWhateverItHears) {
    TextDecoderConfig c = testing::tinyDecoder();
    c.width = 24;
    c.alignmentHeads.clear();
    const std::vector<int> script = {20, 19, 5, 5, 7, 5, 22, 0, 1, 2, 0, 18};
    writeModel(dir_ / "Scripted.mlmodelc", c, scriptedDecoderWeights(c, script));
    const auto model = Model::load(dir_ / "Scripted.mlmodelc");
    for (std::uint32_t seed : {1u, 2u}) {
        const auto encoder = noise(24 * 5, seed, 2.0f);
        // Greedy decoding, feeding back each prediction, over every cache position.
        std::vector<int> fed = {20};
        for (int p = 0; p < c.kvCacheLength; ++p) {
            const auto result =
                decodeStepByStep(*model, c, fed, halves({1, 24, 1, 5}, {encoder.begin(), encoder.end()}));
            const auto& logits = result.logits.back();
            fed.push_back(static_cast<int>(std::max_element(logits.begin(), logits.end()) - logits.begin()));
        }
        const std::vector<int>& steps = fed;
        EXPECT_EQ(std::vector<int>(steps.begin() + 1, steps.end()),
                  (std::vector<int>{20, 19, 5, 5, 7, 5, 22, 0}))
            << "seed " << seed;
    }
}

TEST_F(NetworksTest, MissingOrMisshapenInputsAreClearErrors) {
    const auto decoder = make(testing::tinyDecoder(), "Decoder.mlmodelc");
    const auto good = [] {
        return FeatureMap{{"input_ids", ints({1}, {3})},
                          {"cache_length", ints({1}, {0})},
                          {"key_cache", MultiArray({1, 24, 1, 8}, MultiArrayDataType::float16)},
                          {"value_cache", MultiArray({1, 24, 1, 8}, MultiArrayDataType::float16)},
                          {"kv_cache_update_mask", ints({1, 8}, {1, 0, 0, 0, 0, 0, 0, 0})},
                          {"encoder_output_embeds", MultiArray({1, 12, 1, 5}, MultiArrayDataType::float16)},
                          {"decoder_key_padding_mask", MultiArray({1, 8}, MultiArrayDataType::float16)}};
    };
    ASSERT_NO_THROW(decoder->predict(good()));
    struct Case {
        const char* what;
        std::function<void(FeatureMap&)> spoil;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"missing", [](auto& in) { in.erase("key_cache"); }, "Missing input \"key_cache\""},
        {"shape",
         [](auto& in) {
             in.insert_or_assign("value_cache", MultiArray({1, 24, 1, 9}, MultiArrayDataType::float16));
         },
         "Input \"value_cache\" has shape [1, 24, 1, 9], expected [1, 24, 1, 8]"},
        {"rank",
         [](auto& in) {
             in.insert_or_assign("input_ids", ints({1, 1}, {3}));
         },
         "has shape [1, 1]"},
        {"token", [](auto& in) { in.insert_or_assign("input_ids", ints({1}, {23})); },
         "outside the vocabulary of 23"},
        {"negative token", [](auto& in) { in.insert_or_assign("input_ids", ints({1}, {-1})); },
         "outside the vocabulary"},
        {"position", [](auto& in) { in.insert_or_assign("cache_length", ints({1}, {8})); },
         "outside the cache of 8"},
    };
    for (const auto& c : cases) {
        FeatureMap inputs = good();
        c.spoil(inputs);
        try {
            decoder->predict(inputs);
            ADD_FAILURE() << c.what << " was accepted";
        } catch (const ModelError& error) {
            EXPECT_EQ(error.code(), ModelError::Code::invalidInput) << c.what;
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
                << c.what << ": " << error.what();
        }
    }

    const auto mel = make(testing::tinyMel(), "Mel.mlmodelc");
    std::vector<float> audio(1600, 0.0f);
    audio[7] = std::numeric_limits<float>::infinity();
    EXPECT_THROW(mel->predict({{"audio", floats({1600}, audio)}}), ModelError);
    const auto prefill = make(testing::tinyPrefill(), "Prefill.mlmodelc");
    EXPECT_THROW(prefill->predict({{"task", ints({1}, {2})}, {"language", ints({1}, {4})}}), ModelError);
    EXPECT_THROW(prefill->predict({{"task", ints({1}, {0})}, {"language", ints({1}, {99})}}), ModelError);
}

TEST_F(NetworksTest, InputsOfAnotherTypeOrLayoutGiveTheSameResult) {
    const auto model = make(testing::tinyEncoder(), "Encoder.mlmodelc");
    const auto mel = noise(80, 4, 1.0f);
    const std::vector<double> rounded = [&] {
        std::vector<double> out;
        for (float v : mel)
            out.push_back(static_cast<double>(static_cast<Float16>(v)));
        return out;
    }();
    const auto expected =
        reference::values(model->predict({{"melspectrogram_features", halves({1, 8, 1, 10}, rounded)}})
                              .at("encoder_output_embeds"));
    // float32 values, and a view with every element two apart.
    std::vector<float> asFloats(rounded.begin(), rounded.end());
    EXPECT_EQ(reference::values(model->predict({{"melspectrogram_features", floats({1, 8, 1, 10}, asFloats)}})
                                    .at("encoder_output_embeds")),
              expected);
    std::vector<Float16> spaced(160);
    for (std::size_t i = 0; i < 80; ++i)
        spaced[2 * i] = static_cast<Float16>(rounded[i]);
    const auto view =
        MultiArray::view(spaced.data(), {1, 8, 1, 10}, MultiArrayDataType::float16, {160, 20, 20, 2});
    EXPECT_EQ(
        reference::values(model->predict({{"melspectrogram_features", view}}).at("encoder_output_embeds")),
        expected);
}

} // namespace
} // namespace velnote::platform::ml
