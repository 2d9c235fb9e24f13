#include "platform/ml/ModelConfig.h"

#include <algorithm>
#include <cmath>
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

// The speaker networks' buffers grow with their keys: W × L window samples, F × L / F frame
// samples, T × D spread mask values. One bound keeps each to a few hundred megabytes.
constexpr std::int64_t kMaxSpeakerBuffer = std::int64_t{1} << 26;
constexpr std::int64_t kMaxSpeakers = 64;
constexpr std::int64_t kMaxRows = 4096;

void requireProduct(const char* what, std::int64_t a, std::int64_t b) {
    if (a * b > kMaxSpeakerBuffer)
        throw std::invalid_argument(std::string(what) + " must not exceed " +
                                    std::to_string(kMaxSpeakerBuffer));
}

void validateOne(const SpeakerSegmenterConfig& c) {
    requireRange("chunk_samples", c.chunkSamples, 2, kMaxWindowSamples);
    requireRange("window_count", c.windowCount, 1, 1024);
    requireRange("window_samples", c.windowSamples, 2, c.chunkSamples);
    requireProduct("window_count × window_samples", c.windowCount, c.windowSamples);
    requireRange("frame_count", c.frameCount, 1, c.windowSamples / 2);
    requireRange("window_samples / frame_count", c.frameSamples(), 2, kMaxFftLength);
    requireRange("band_count", c.bandCount, 1, kMaxMelCount);
    requireRange("hidden_width", c.hiddenWidth, 1, kMaxWidth);
    requireRange("block_count", c.blockCount, 0, kMaxLayers);
    requireRange("local_speaker_count", c.speakerCount, 1, kMaxSpeakers);
}

void validateOne(const SpeakerEmbedderPreprocessorConfig& c) {
    requireRange("fft_length", c.fftLength, 2, kMaxFftLength);
    requireRange("hop_length", c.hopLength, (c.fftLength + kMaxOverlap - 1) / kMaxOverlap, c.fftLength);
    requireRange("mel_count", c.melCount, 1, kMaxMelCount);
    requireRange("waveform_samples", c.waveformSamples, c.hopLength, kMaxWindowSamples);
}

void validateOne(const SpeakerEmbedderConfig& c) {
    requireRange("mask_rows", c.maskRows, 1, kMaxRows);
    requireRange("mask_frames", c.maskFrames, 1, kMaxContext);
    requireRange("feature_frames", c.featureFrames, 1, kMaxSpeakerBuffer);
    requireRange("feature_length", c.featureLength, 1, kMaxWidth);
    requireProduct("feature_frames × feature_length", c.featureFrames, c.featureLength);
    requireProduct("feature_frames × mask_rows", c.featureFrames, c.maskRows);
    requireRange("projection_width", c.projectionWidth, 1, kMaxWidth);
    requireRange("embedding_length", c.embeddingLength, 1, kMaxWidth);
}

void validateOne(const PldaProjectorConfig& c) {
    requireRange("embedding_rows", c.rows, 1, kMaxRows);
    requireRange("embedding_length", c.embeddingLength, 1, kMaxWidth);
    requireRange("plda_length", c.pldaLength, 1, kMaxWidth);
    if (c.betweenClassCovariance.size() != static_cast<std::size_t>(c.pldaLength))
        throw std::invalid_argument("between_class_covariance must hold plda_length values");
    for (float v : c.betweenClassCovariance) {
        if (!std::isfinite(v))
            throw std::invalid_argument("between_class_covariance holds a value that is not finite");
    }
}

FeatureSpecs specsOf(const SpeakerSegmenterConfig& c) {
    const std::int64_t w = c.windowCount, f = c.frameCount, s = c.speakerCount;
    return {.inputs = {{"waveform", MultiArrayDataType::float32, {c.chunkSamples}}},
            .outputs = {{"sliding_window_waveform", MultiArrayDataType::float32, {w, 1, c.windowSamples}},
                        {"speaker_ids", MultiArrayDataType::float32, {w, f, s}},
                        {"speaker_activity", MultiArrayDataType::float32, {w, s}},
                        {"overlapped_speaker_activity", MultiArrayDataType::float32, {w, f}}}};
}

FeatureSpecs specsOf(const SpeakerEmbedderPreprocessorConfig& c) {
    return {
        .inputs = {{"waveforms", MultiArrayDataType::float32, {1, c.waveformSamples}}},
        .outputs = {{"preprocessor_output_1", MultiArrayDataType::float32, {1, c.frameCount(), c.melCount}}}};
}

FeatureSpecs specsOf(const SpeakerEmbedderConfig& c) {
    return {
        .inputs = {{"speaker_masks", MultiArrayDataType::float16, {1, c.maskRows, c.maskFrames}},
                   {"preprocessor_output_1",
                    MultiArrayDataType::float32,
                    {1, c.featureFrames, c.featureLength}}},
        .outputs = {{"speaker_embeddings", MultiArrayDataType::float32, {1, c.maskRows, c.embeddingLength}}}};
}

FeatureSpecs specsOf(const PldaProjectorConfig& c) {
    return {.inputs = {{"embeddings", MultiArrayDataType::float32, {1, c.rows, c.embeddingLength}}},
            .outputs = {{"plda_embeddings", MultiArrayDataType::float32, {1, c.rows, c.pldaLength}}}};
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

// `productWeight`: the speech transformers' matrices, the bulk of a transcription's arithmetic; the
// small speaker networks keep theirs as stored.
void addLinear(std::vector<TensorSpec>& out, const std::string& name, std::int64_t outputs,
               std::int64_t inputs, bool bias = true, bool productWeight = false) {
    out.push_back({name + ".weight", {outputs, inputs}, StoredType::float16, productWeight});
    if (bias)
        out.push_back({name + ".bias", {outputs}, StoredType::float32});
}

void addNorm(std::vector<TensorSpec>& out, const std::string& name, std::int64_t width) {
    out.push_back({name + ".weight", {width}, StoredType::float32});
    out.push_back({name + ".bias", {width}, StoredType::float32});
}

// q, k (no bias), v and out projections, as the published checkpoints have them.
void addAttention(std::vector<TensorSpec>& out, const std::string& prefix, std::int64_t width) {
    addLinear(out, prefix + ".q_proj", width, width, true, true);
    addLinear(out, prefix + ".k_proj", width, width, false, true);
    addLinear(out, prefix + ".v_proj", width, width, true, true);
    addLinear(out, prefix + ".out_proj", width, width, true, true);
}

void addFeedForward(std::vector<TensorSpec>& out, const std::string& prefix, std::int64_t width) {
    addLinear(out, prefix + ".fc1", 4 * width, width, true, true);
    addLinear(out, prefix + ".fc2", width, 4 * width, true, true);
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
    out.push_back({"model.decoder.embed_tokens.weight", {c.vocabularySize, d}, StoredType::float16, true});
    out.push_back({"model.decoder.embed_positions.weight", {c.contextLength, d}, StoredType::float32});
    for (int layer = 0; layer < c.layerCount; ++layer) {
        const std::string prefix = "model.decoder.layers." + std::to_string(layer);
        addAttention(out, prefix + ".self_attn", d);
        addNorm(out, prefix + ".self_attn_layer_norm", d);
        if (crossAttention) {
            addAttention(out, prefix + ".encoder_attn", d);
        } else {
            addLinear(out, prefix + ".encoder_attn.v_proj", d, d, true, true);
            addLinear(out, prefix + ".encoder_attn.out_proj", d, d, true, true);
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

std::vector<TensorSpec> tensorsOf(const SpeakerSegmenterConfig& c) {
    std::vector<TensorSpec> out;
    out.push_back({"band_filters", {c.bandCount, c.frequencyBins()}, StoredType::float32});
    out.push_back({"conv.weight", {c.hiddenWidth, c.bandCount, 3}, StoredType::float16});
    out.push_back({"conv.bias", {c.hiddenWidth}, StoredType::float32});
    for (int block = 0; block < c.blockCount; ++block)
        addLinear(out, "blocks." + std::to_string(block), c.hiddenWidth, c.hiddenWidth);
    addLinear(out, "classifier", c.speakerCount, c.hiddenWidth);
    return out;
}

std::vector<TensorSpec> tensorsOf(const SpeakerEmbedderPreprocessorConfig& c) {
    return {{"mel_filters", {c.melCount, c.frequencyBins()}, StoredType::float32}};
}

std::vector<TensorSpec> tensorsOf(const SpeakerEmbedderConfig& c) {
    std::vector<TensorSpec> out;
    addLinear(out, "projection", c.projectionWidth, c.featureLength);
    addLinear(out, "output", c.embeddingLength, 2 * static_cast<std::int64_t>(c.projectionWidth));
    return out;
}

std::vector<TensorSpec> tensorsOf(const PldaProjectorConfig& c) {
    return {{"transform.weight", {c.embeddingLength, c.embeddingLength}, StoredType::float32},
            {"transform.bias", {c.embeddingLength}, StoredType::float32},
            {"projection.weight", {c.pldaLength, c.embeddingLength}, StoredType::float32},
            {"projection.bias", {c.pldaLength}, StoredType::float32}};
}

const char* nameOf(const SpeakerSegmenterConfig&) {
    return architectures::kSpeakerSegmenter;
}
const char* nameOf(const SpeakerEmbedderPreprocessorConfig&) {
    return architectures::kSpeakerEmbedderPreprocessor;
}
const char* nameOf(const SpeakerEmbedderConfig&) {
    return architectures::kSpeakerEmbedder;
}
const char* nameOf(const PldaProjectorConfig&) {
    return architectures::kPldaProjector;
}

std::string shapeText(const std::vector<std::int64_t>& shape) {
    std::string text = "[";
    for (std::size_t i = 0; i < shape.size(); ++i)
        text += (i ? ", " : "") + std::to_string(shape[i]);
    return text + "]";
}

// The element count of a declared shape; std::invalid_argument for no dimensions, a dimension
// below 1 or a count beyond any buffer.
std::int64_t declaredCount(const FeatureSpec& spec) {
    if (spec.shape.empty())
        throw std::invalid_argument("feature " + spec.name + " declares no shape");
    std::int64_t count = 1;
    for (std::int64_t d : spec.shape) {
        if (d < 1 || d > (std::int64_t{1} << 40) / count)
            throw std::invalid_argument("feature " + spec.name + " declares the shape " +
                                        shapeText(spec.shape));
        count *= d;
    }
    return count;
}

void checkFeature(const FeatureSpec& declared, const FeatureSpec& computed, bool allowDeclaredLayout) {
    if (declared.dataType != computed.dataType)
        throw std::invalid_argument("feature " + declared.name + " declares another element type");
    if (allowDeclaredLayout ? declaredCount(declared) != declaredCount(computed)
                            : declared.shape != computed.shape)
        throw std::invalid_argument("feature " + declared.name + " declares the shape " +
                                    shapeText(declared.shape) + ", its hyper-parameters give " +
                                    shapeText(computed.shape));
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

std::int64_t SpeakerSegmenterConfig::windowStart(int window) const {
    if (windowCount < 2)
        return 0;
    const double step = static_cast<double>(chunkSamples - windowSamples) / (windowCount - 1);
    return std::min(chunkSamples - windowSamples, static_cast<std::int64_t>(std::llround(window * step)));
}

bool allowsDeclaredLayout(const ModelConfig& config) {
    return !std::holds_alternative<MelSpectrogramConfig>(config) &&
           !std::holds_alternative<AudioEncoderConfig>(config) &&
           !std::holds_alternative<TextDecoderConfig>(config) &&
           !std::holds_alternative<TextDecoderContextPrefillConfig>(config);
}

void checkDeclaredFeatures(const FeatureSpecs& declared, const FeatureSpecs& computed,
                           bool allowDeclaredLayout) {
    if (declared.inputs.size() != computed.inputs.size())
        throw std::invalid_argument("the declared inputs do not match the hyper-parameters");
    for (std::size_t i = 0; i < declared.inputs.size(); ++i) {
        if (declared.inputs[i].name != computed.inputs[i].name)
            throw std::invalid_argument("the declared inputs do not match the hyper-parameters");
        checkFeature(declared.inputs[i], computed.inputs[i], allowDeclaredLayout);
    }
    if (!allowDeclaredLayout && declared.outputs.size() != computed.outputs.size())
        throw std::invalid_argument("the declared outputs do not match the hyper-parameters");
    std::size_t next = 0; // declared outputs keep the computed order, each at most once
    for (const auto& output : declared.outputs) {
        while (next < computed.outputs.size() && computed.outputs[next].name != output.name) {
            if (!allowDeclaredLayout)
                break;
            ++next;
        }
        if (next == computed.outputs.size() || computed.outputs[next].name != output.name)
            throw std::invalid_argument("the declared output " + output.name +
                                        " is not one the network computes");
        checkFeature(output, computed.outputs[next++], allowDeclaredLayout);
    }
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
