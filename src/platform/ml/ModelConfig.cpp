#include "platform/ml/ModelConfig.h"

#include <algorithm>
#include <stdexcept>

namespace velnote::platform::ml {
namespace {

using basalith::MultiArrayDataType;

// Limits well above every published model and well below any size overflow: the largest buffer
// they allow (vocabulary × width, window samples) stays far inside 64 bits.
constexpr std::int64_t kMaxWidth = 16384;
constexpr std::int64_t kMaxLayers = 256;
constexpr std::int64_t kMaxVocabulary = 1 << 20;
constexpr std::int64_t kMaxContext = 1 << 16;
constexpr std::int64_t kMaxMelCount = 1024;
// The mel model's buffers grow with its keys alone (no tensor of that size has to be in the file):
// frames of fft_length samples every hop_length, and a DFT basis of fft_length squared. These
// bounds keep both to a few hundred megabytes for a hostile file.
constexpr std::int64_t kMaxFftLength = 4096;
constexpr std::int64_t kMaxOverlap = 8; // fft_length / hop_length
constexpr std::int64_t kMaxWindowSamples = std::int64_t{16000} * 600;

void requireRange(const char* what, std::int64_t value, std::int64_t low, std::int64_t high) {
    if (value < low || value > high)
        throw std::invalid_argument(std::string(what) + " must lie in " + std::to_string(low) + "..." +
                                    std::to_string(high) + ", not " + std::to_string(value));
}

void validateAttention(int width, int headCount, int layerCount) {
    requireRange("embedding_length", width, 1, kMaxWidth);
    requireRange("head_count", headCount, 1, width);
    requireRange("block_count", layerCount, 1, kMaxLayers);
    if (width % headCount != 0)
        throw std::invalid_argument("embedding_length " + std::to_string(width) +
                                    " is not a multiple of head_count " + std::to_string(headCount));
}

void requireEpsilon(float eps) {
    if (!(eps > 0.0f && eps < 1.0f))
        throw std::invalid_argument("layer_norm_epsilon must lie between 0 and 1");
}

void validateOne(const MelSpectrogramConfig& c) {
    requireRange("fft_length", c.fftLength, 2, kMaxFftLength);
    requireRange("hop_length", c.hopLength, (c.fftLength + kMaxOverlap - 1) / kMaxOverlap, c.fftLength);
    requireRange("mel_count", c.melCount, 1, kMaxMelCount);
    requireRange("window_samples", c.windowSamples, c.hopLength, kMaxWindowSamples);
    if (c.windowSamples % c.hopLength != 0)
        throw std::invalid_argument("window_samples must be a multiple of hop_length");
    // The frames are centred with reflected edges, which needs fftLength / 2 samples on each side.
    if (c.windowSamples <= c.fftLength / 2)
        throw std::invalid_argument("window_samples must exceed half of fft_length");
}

void validateOne(const AudioEncoderConfig& c) {
    requireRange("mel_count", c.melCount, 1, kMaxMelCount);
    requireRange("context_length", c.contextLength, 1, kMaxContext);
    validateAttention(c.width, c.headCount, c.layerCount);
    requireEpsilon(c.layerNormEps);
}

void validateOne(const TextDecoderConfig& c) {
    requireRange("vocab_size", c.vocabularySize, 1, kMaxVocabulary);
    requireRange("context_length", c.contextLength, 1, kMaxContext);
    validateAttention(c.width, c.headCount, c.layerCount);
    requireRange("audio_context_length", c.audioContextLength, 1, kMaxContext);
    requireRange("kv_cache_length", c.kvCacheLength, 1, c.contextLength);
    requireEpsilon(c.layerNormEps);
    for (std::size_t i = 0; i < c.alignmentHeads.size(); ++i) {
        const auto& head = c.alignmentHeads[i];
        requireRange("alignment head layer", head.layer, 0, c.layerCount - 1);
        requireRange("alignment head", head.head, 0, c.headCount - 1);
        if (std::find(c.alignmentHeads.begin(), c.alignmentHeads.begin() + static_cast<std::ptrdiff_t>(i),
                      head) != c.alignmentHeads.begin() + static_cast<std::ptrdiff_t>(i))
            throw std::invalid_argument("alignment head " + std::to_string(head.layer) + "," +
                                        std::to_string(head.head) + " is named twice");
    }
}

void validateOne(const TextDecoderContextPrefillConfig& c) {
    validateOne(c.decoder);
    requireRange("start_of_transcript_token", c.startOfTranscriptToken, 0, c.decoder.vocabularySize - 1);
    requireRange("transcribe_token", c.transcribeToken, 0, c.decoder.vocabularySize - 1);
    requireRange("translate_token", c.translateToken, 0, c.decoder.vocabularySize - 1);
    requireRange("kv_cache_length", c.decoder.kvCacheLength, c.prefillLength() + 1, kMaxContext);
}

FeatureSpecs specsOf(const MelSpectrogramConfig& c) {
    return {
        .inputs = {{"audio", MultiArrayDataType::float32, {c.windowSamples}}},
        .outputs = {
            {"melspectrogram_features", MultiArrayDataType::float16, {1, c.melCount, 1, c.frameCount()}}}};
}

FeatureSpecs specsOf(const AudioEncoderConfig& c) {
    return {.inputs = {{"melspectrogram_features",
                        MultiArrayDataType::float16,
                        {1, c.melCount, 1, 2 * static_cast<std::int64_t>(c.contextLength)}}},
            .outputs = {
                {"encoder_output_embeds", MultiArrayDataType::float16, {1, c.width, 1, c.contextLength}}}};
}

FeatureSpecs specsOf(const TextDecoderConfig& c) {
    const std::int64_t e = c.kvCacheWidth();
    const std::int64_t s = c.kvCacheLength;
    FeatureSpecs specs{.inputs = {{"input_ids", MultiArrayDataType::int32, {1}},
                                  {"cache_length", MultiArrayDataType::int32, {1}},
                                  {"key_cache", MultiArrayDataType::float16, {1, e, 1, s}},
                                  {"value_cache", MultiArrayDataType::float16, {1, e, 1, s}},
                                  {"kv_cache_update_mask", MultiArrayDataType::int32, {1, s}},
                                  {"encoder_output_embeds",
                                   MultiArrayDataType::float16,
                                   {1, c.width, 1, c.audioContextLength}},
                                  {"decoder_key_padding_mask", MultiArrayDataType::float16, {1, s}}},
                       .outputs = {{"logits", MultiArrayDataType::float16, {1, 1, c.vocabularySize}},
                                   {"key_cache_updates", MultiArrayDataType::float16, {1, e, 1, 1}},
                                   {"value_cache_updates", MultiArrayDataType::float16, {1, e, 1, 1}}}};
    if (!c.alignmentHeads.empty())
        specs.outputs.push_back(
            {"alignment_heads_weights", MultiArrayDataType::float16, {1, c.audioContextLength}});
    return specs;
}

FeatureSpecs specsOf(const TextDecoderContextPrefillConfig& c) {
    const std::int64_t e = c.decoder.kvCacheWidth();
    return {
        .inputs = {{"task", MultiArrayDataType::int32, {1}}, {"language", MultiArrayDataType::int32, {1}}},
        .outputs = {{"key_cache_prefill", MultiArrayDataType::float16, {1, e, 1, c.prefillLength()}},
                    {"value_cache_prefill", MultiArrayDataType::float16, {1, e, 1, c.prefillLength()}}}};
}

void addLinear(std::vector<TensorSpec>& out, const std::string& name, std::int64_t outputs,
               std::int64_t inputs, bool bias = true) {
    out.push_back({name + ".weight", {outputs, inputs}, StoredType::float16});
    if (bias)
        out.push_back({name + ".bias", {outputs}, StoredType::float32});
}

void addNorm(std::vector<TensorSpec>& out, const std::string& name, std::int64_t width) {
    out.push_back({name + ".weight", {width}, StoredType::float32});
    out.push_back({name + ".bias", {width}, StoredType::float32});
}

// q, k (no bias), v and out projections, as the published checkpoints have them.
void addAttention(std::vector<TensorSpec>& out, const std::string& prefix, std::int64_t width) {
    addLinear(out, prefix + ".q_proj", width, width);
    addLinear(out, prefix + ".k_proj", width, width, false);
    addLinear(out, prefix + ".v_proj", width, width);
    addLinear(out, prefix + ".out_proj", width, width);
}

void addFeedForward(std::vector<TensorSpec>& out, const std::string& prefix, std::int64_t width) {
    addLinear(out, prefix + ".fc1", 4 * width, width);
    addLinear(out, prefix + ".fc2", width, 4 * width);
    addNorm(out, prefix + ".final_layer_norm", width);
}

std::vector<TensorSpec> tensorsOf(const MelSpectrogramConfig& c) {
    return {{"mel_filters", {c.melCount, c.frequencyBins()}, StoredType::float32}};
}

std::vector<TensorSpec> tensorsOf(const AudioEncoderConfig& c) {
    const std::int64_t d = c.width;
    std::vector<TensorSpec> out;
    out.push_back({"model.encoder.conv1.weight", {d, c.melCount, 3}, StoredType::float16});
    out.push_back({"model.encoder.conv1.bias", {d}, StoredType::float32});
    out.push_back({"model.encoder.conv2.weight", {d, d, 3}, StoredType::float16});
    out.push_back({"model.encoder.conv2.bias", {d}, StoredType::float32});
    out.push_back({"model.encoder.embed_positions.weight", {c.contextLength, d}, StoredType::float32});
    for (int layer = 0; layer < c.layerCount; ++layer) {
        const std::string prefix = "model.encoder.layers." + std::to_string(layer);
        addAttention(out, prefix + ".self_attn", d);
        addNorm(out, prefix + ".self_attn_layer_norm", d);
        addFeedForward(out, prefix, d);
    }
    addNorm(out, "model.encoder.layer_norm", d);
    return out;
}

// `crossAttention` false leaves out the cross-attention's query and key projections, which the
// context prefill (all-zero audio) never needs.
std::vector<TensorSpec> decoderTensors(const TextDecoderConfig& c, bool crossAttention) {
    const std::int64_t d = c.width;
    std::vector<TensorSpec> out;
    out.push_back({"model.decoder.embed_tokens.weight", {c.vocabularySize, d}, StoredType::float16});
    out.push_back({"model.decoder.embed_positions.weight", {c.contextLength, d}, StoredType::float32});
    for (int layer = 0; layer < c.layerCount; ++layer) {
        const std::string prefix = "model.decoder.layers." + std::to_string(layer);
        addAttention(out, prefix + ".self_attn", d);
        addNorm(out, prefix + ".self_attn_layer_norm", d);
        if (crossAttention) {
            addAttention(out, prefix + ".encoder_attn", d);
        } else {
            addLinear(out, prefix + ".encoder_attn.v_proj", d, d);
            addLinear(out, prefix + ".encoder_attn.out_proj", d, d);
        }
        addNorm(out, prefix + ".encoder_attn_layer_norm", d);
        addFeedForward(out, prefix, d);
    }
    addNorm(out, "model.decoder.layer_norm", d);
    return out;
}

std::vector<TensorSpec> tensorsOf(const TextDecoderConfig& c) {
    return decoderTensors(c, true);
}
std::vector<TensorSpec> tensorsOf(const TextDecoderContextPrefillConfig& c) {
    return decoderTensors(c.decoder, false);
}

const char* nameOf(const MelSpectrogramConfig&) {
    return architectures::kMelSpectrogram;
}
const char* nameOf(const AudioEncoderConfig&) {
    return architectures::kAudioEncoder;
}
const char* nameOf(const TextDecoderConfig&) {
    return architectures::kTextDecoder;
}
const char* nameOf(const TextDecoderContextPrefillConfig&) {
    return architectures::kTextDecoderContextPrefill;
}

} // namespace

std::string architectureName(const ModelConfig& config) {
    return std::visit([](const auto& c) { return std::string(nameOf(c)); }, config);
}

void validate(const ModelConfig& config) {
    std::visit([](const auto& c) { validateOne(c); }, config);
}

FeatureSpecs featureSpecs(const ModelConfig& config) {
    return std::visit([](const auto& c) { return specsOf(c); }, config);
}

basalith::ModelDescription toModelDescription(const FeatureSpecs& specs) {
    basalith::ModelDescription description;
    for (const auto& input : specs.inputs)
        description.inputs[input.name] = {.type = basalith::FeatureDescription::Type::multiArray,
                                          .shape = input.shape};
    for (const auto& output : specs.outputs)
        description.outputs[output.name] = {.type = basalith::FeatureDescription::Type::multiArray,
                                            .shape = output.shape};
    return description;
}

std::vector<TensorSpec> tensorSpecs(const ModelConfig& config) {
    return std::visit([](const auto& c) { return tensorsOf(c); }, config);
}

} // namespace velnote::platform::ml
