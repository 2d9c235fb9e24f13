#include "platform/ml/GgufKeys.h"

#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace velnote::platform::ml::gguf_keys {
namespace {

using basalith::MultiArrayDataType;

class KeyWriter {
  public:
    KeyWriter(gguf_context* file, std::string prefix) : file_(file), prefix_(std::move(prefix)) {}
    void u32(const char* key, std::int64_t value) {
        gguf_set_val_u32(file_, name(key).c_str(), static_cast<std::uint32_t>(value));
    }
    void f32(const char* key, float value) { gguf_set_val_f32(file_, name(key).c_str(), value); }
    void flag(const char* key, bool value) { gguf_set_val_bool(file_, name(key).c_str(), value); }
    void i32s(const char* key, const std::vector<std::int32_t>& values) {
        gguf_set_arr_data(file_, name(key).c_str(), GGUF_TYPE_INT32, values.data(), values.size());
    }
    void f32s(const char* key, const std::vector<float>& values) {
        gguf_set_arr_data(file_, name(key).c_str(), GGUF_TYPE_FLOAT32, values.data(), values.size());
    }

  private:
    std::string name(const char* key) const { return prefix_ + "." + key; }
    gguf_context* file_;
    std::string prefix_;
};

class KeyReader {
  public:
    KeyReader(const gguf_context* file, std::string prefix) : file_(file), prefix_(std::move(prefix)) {}

    std::int64_t integer(const char* key) const {
        const std::string full = name(key);
        const std::int64_t id = find(full);
        switch (gguf_get_kv_type(file_, id)) {
        case GGUF_TYPE_UINT8:
            return gguf_get_val_u8(file_, id);
        case GGUF_TYPE_INT8:
            return gguf_get_val_i8(file_, id);
        case GGUF_TYPE_UINT16:
            return gguf_get_val_u16(file_, id);
        case GGUF_TYPE_INT16:
            return gguf_get_val_i16(file_, id);
        case GGUF_TYPE_UINT32:
            return gguf_get_val_u32(file_, id);
        case GGUF_TYPE_INT32:
            return gguf_get_val_i32(file_, id);
        case GGUF_TYPE_INT64:
            return gguf_get_val_i64(file_, id);
        case GGUF_TYPE_UINT64: {
            const std::uint64_t value = gguf_get_val_u64(file_, id);
            if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                throw std::invalid_argument("model key " + full + " is out of range");
            return static_cast<std::int64_t>(value);
        }
        default:
            throw std::invalid_argument("model key " + full + " is not an integer");
        }
    }

    // An integer that must fit an int; the configuration's own validation checks the range.
    int small(const char* key) const {
        const std::int64_t value = integer(key);
        if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
            throw std::invalid_argument("model key " + name(key) + " is out of range");
        return static_cast<int>(value);
    }

    float real(const char* key) const {
        const std::string full = name(key);
        const std::int64_t id = find(full);
        if (gguf_get_kv_type(file_, id) == GGUF_TYPE_FLOAT32)
            return gguf_get_val_f32(file_, id);
        if (gguf_get_kv_type(file_, id) == GGUF_TYPE_FLOAT64)
            return static_cast<float>(gguf_get_val_f64(file_, id));
        throw std::invalid_argument("model key " + full + " is not a number");
    }

    bool flag(const char* key) const {
        const std::string full = name(key);
        const std::int64_t id = find(full);
        if (gguf_get_kv_type(file_, id) != GGUF_TYPE_BOOL)
            throw std::invalid_argument("model key " + full + " is not a flag");
        return gguf_get_val_bool(file_, id);
    }

    bool has(const char* key) const { return gguf_find_key(file_, name(key).c_str()) >= 0; }

    std::vector<std::int64_t> integers(const std::string& full) const {
        const std::int64_t id = find(full);
        if (gguf_get_kv_type(file_, id) != GGUF_TYPE_ARRAY)
            throw std::invalid_argument("model key " + full + " is not a list");
        const std::size_t n = gguf_get_arr_n(file_, id);
        const void* data = gguf_get_arr_data(file_, id);
        switch (gguf_get_arr_type(file_, id)) {
        case GGUF_TYPE_INT32:
            return widen(static_cast<const std::int32_t*>(data), n);
        case GGUF_TYPE_UINT32:
            return widen(static_cast<const std::uint32_t*>(data), n);
        case GGUF_TYPE_INT64:
            return widen(static_cast<const std::int64_t*>(data), n);
        default:
            throw std::invalid_argument("model key " + full + " is not a list of integers");
        }
    }

    std::vector<float> reals(const char* key) const {
        const std::string full = name(key);
        const std::int64_t id = find(full);
        if (gguf_get_kv_type(file_, id) != GGUF_TYPE_ARRAY ||
            gguf_get_arr_type(file_, id) != GGUF_TYPE_FLOAT32)
            throw std::invalid_argument("model key " + full + " is not a list of numbers");
        const auto* data = static_cast<const float*>(gguf_get_arr_data(file_, id));
        return std::vector<float>(data, data + gguf_get_arr_n(file_, id));
    }

    std::vector<std::string> strings(const std::string& full) const {
        const std::int64_t id = find(full);
        if (gguf_get_kv_type(file_, id) != GGUF_TYPE_ARRAY ||
            gguf_get_arr_type(file_, id) != GGUF_TYPE_STRING)
            throw std::invalid_argument("model key " + full + " is not a list of texts");
        std::vector<std::string> out;
        for (std::size_t i = 0, n = gguf_get_arr_n(file_, id); i < n; ++i)
            out.emplace_back(gguf_get_arr_str(file_, id, i));
        return out;
    }

    std::string text(const std::string& full) const {
        const std::int64_t id = find(full);
        if (gguf_get_kv_type(file_, id) != GGUF_TYPE_STRING)
            throw std::invalid_argument("model key " + full + " is not a text");
        return gguf_get_val_str(file_, id);
    }

    std::string name(const char* key) const { return prefix_.empty() ? key : prefix_ + "." + key; }

  private:
    template <class T> static std::vector<std::int64_t> widen(const T* data, std::size_t n) {
        std::vector<std::int64_t> out;
        out.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            if constexpr (std::is_same_v<T, std::int64_t>) {
                out.push_back(data[i]);
            } else {
                out.push_back(static_cast<std::int64_t>(data[i]));
            }
        }
        return out;
    }

    std::int64_t find(const std::string& full) const {
        const std::int64_t id = gguf_find_key(file_, full.c_str());
        if (id < 0)
            throw std::invalid_argument("model key " + full + " is missing");
        return id;
    }

    const gguf_context* file_;
    std::string prefix_;
};

void writeDecoderKeys(KeyWriter& w, const TextDecoderConfig& c) {
    w.u32("vocab_size", c.vocabularySize);
    w.u32("context_length", c.contextLength);
    w.u32("embedding_length", c.width);
    w.u32("head_count", c.headCount);
    w.u32("block_count", c.layerCount);
    w.u32("audio_context_length", c.audioContextLength);
    w.u32("kv_cache_length", c.kvCacheLength);
    w.f32("layer_norm_epsilon", c.layerNormEps);
    if (!c.alignmentHeads.empty()) {
        std::vector<std::int32_t> pairs;
        for (const auto& head : c.alignmentHeads) {
            pairs.push_back(head.layer);
            pairs.push_back(head.head);
        }
        w.i32s("alignment_heads", pairs);
    }
}

TextDecoderConfig readDecoderKeys(const KeyReader& r) {
    TextDecoderConfig c;
    c.vocabularySize = r.small("vocab_size");
    c.contextLength = r.small("context_length");
    c.width = r.small("embedding_length");
    c.headCount = r.small("head_count");
    c.layerCount = r.small("block_count");
    c.audioContextLength = r.small("audio_context_length");
    c.kvCacheLength = r.small("kv_cache_length");
    c.layerNormEps = r.real("layer_norm_epsilon");
    if (r.has("alignment_heads")) {
        const auto pairs = r.integers(r.name("alignment_heads"));
        if (pairs.size() % 2 != 0)
            throw std::invalid_argument("model key " + r.name("alignment_heads") + " must hold pairs");
        for (std::size_t i = 0; i < pairs.size(); i += 2) {
            if (pairs[i] < 0 || pairs[i] > std::numeric_limits<int>::max() || pairs[i + 1] < 0 ||
                pairs[i + 1] > std::numeric_limits<int>::max())
                throw std::invalid_argument("model key " + r.name("alignment_heads") + " is out of range");
            c.alignmentHeads.push_back({static_cast<int>(pairs[i]), static_cast<int>(pairs[i + 1])});
        }
    }
    return c;
}

void writeKeys(gguf_context* file, const MelSpectrogramConfig& c) {
    KeyWriter w(file, architectures::kMelSpectrogram);
    w.u32("window_samples", c.windowSamples);
    w.u32("mel_count", c.melCount);
    w.u32("fft_length", c.fftLength);
    w.u32("hop_length", c.hopLength);
}

void writeKeys(gguf_context* file, const AudioEncoderConfig& c) {
    KeyWriter w(file, architectures::kAudioEncoder);
    w.u32("mel_count", c.melCount);
    w.u32("context_length", c.contextLength);
    w.u32("embedding_length", c.width);
    w.u32("head_count", c.headCount);
    w.u32("block_count", c.layerCount);
    w.f32("layer_norm_epsilon", c.layerNormEps);
}

void writeKeys(gguf_context* file, const TextDecoderConfig& c) {
    KeyWriter w(file, architectures::kTextDecoder);
    writeDecoderKeys(w, c);
}

void writeKeys(gguf_context* file, const TextDecoderContextPrefillConfig& c) {
    KeyWriter w(file, architectures::kTextDecoderContextPrefill);
    writeDecoderKeys(w, c.decoder);
    w.u32("start_of_transcript_token", c.startOfTranscriptToken);
    w.u32("transcribe_token", c.transcribeToken);
    w.u32("translate_token", c.translateToken);
    w.flag("multilingual", c.multilingual);
}

void writeKeys(gguf_context* file, const SpeakerSegmenterConfig& c) {
    KeyWriter w(file, architectures::kSpeakerSegmenter);
    w.u32("chunk_samples", c.chunkSamples);
    w.u32("window_count", c.windowCount);
    w.u32("window_samples", c.windowSamples);
    w.u32("frame_count", c.frameCount);
    w.u32("band_count", c.bandCount);
    w.u32("hidden_width", c.hiddenWidth);
    w.u32("block_count", c.blockCount);
    w.u32("local_speaker_count", c.speakerCount);
}

void writeKeys(gguf_context* file, const SpeakerEmbedderPreprocessorConfig& c) {
    KeyWriter w(file, architectures::kSpeakerEmbedderPreprocessor);
    w.u32("waveform_samples", c.waveformSamples);
    w.u32("mel_count", c.melCount);
    w.u32("fft_length", c.fftLength);
    w.u32("hop_length", c.hopLength);
}

void writeKeys(gguf_context* file, const SpeakerEmbedderConfig& c) {
    KeyWriter w(file, architectures::kSpeakerEmbedder);
    w.u32("mask_rows", c.maskRows);
    w.u32("mask_frames", c.maskFrames);
    w.u32("feature_frames", c.featureFrames);
    w.u32("feature_length", c.featureLength);
    w.u32("projection_width", c.projectionWidth);
    w.u32("embedding_length", c.embeddingLength);
}

void writeKeys(gguf_context* file, const PldaProjectorConfig& c) {
    KeyWriter w(file, architectures::kPldaProjector);
    w.u32("embedding_rows", c.rows);
    w.u32("embedding_length", c.embeddingLength);
    w.u32("plda_length", c.pldaLength);
    w.f32s("between_class_covariance", c.betweenClassCovariance);
}

std::optional<ModelConfig> readSpeakerKeys(const KeyReader& r, const std::string& architecture) {
    if (architecture == architectures::kSpeakerSegmenter) {
        return SpeakerSegmenterConfig{.chunkSamples = r.integer("chunk_samples"),
                                      .windowCount = r.small("window_count"),
                                      .windowSamples = r.integer("window_samples"),
                                      .frameCount = r.small("frame_count"),
                                      .bandCount = r.small("band_count"),
                                      .hiddenWidth = r.small("hidden_width"),
                                      .blockCount = r.small("block_count"),
                                      .speakerCount = r.small("local_speaker_count")};
    }
    if (architecture == architectures::kSpeakerEmbedderPreprocessor) {
        return SpeakerEmbedderPreprocessorConfig{.waveformSamples = r.integer("waveform_samples"),
                                                 .melCount = r.small("mel_count"),
                                                 .fftLength = r.small("fft_length"),
                                                 .hopLength = r.small("hop_length")};
    }
    if (architecture == architectures::kSpeakerEmbedder) {
        return SpeakerEmbedderConfig{.maskRows = r.small("mask_rows"),
                                     .maskFrames = r.small("mask_frames"),
                                     .featureFrames = r.small("feature_frames"),
                                     .featureLength = r.small("feature_length"),
                                     .projectionWidth = r.small("projection_width"),
                                     .embeddingLength = r.small("embedding_length")};
    }
    if (architecture == architectures::kPldaProjector) {
        return PldaProjectorConfig{.rows = r.small("embedding_rows"),
                                   .embeddingLength = r.small("embedding_length"),
                                   .pldaLength = r.small("plda_length"),
                                   .betweenClassCovariance = r.reals("between_class_covariance")};
    }
    return std::nullopt;
}

ModelConfig readKeys(const gguf_context* file, const std::string& architecture) {
    const KeyReader r(file, architecture);
    if (architecture == architectures::kMelSpectrogram) {
        return MelSpectrogramConfig{.windowSamples = r.integer("window_samples"),
                                    .melCount = r.small("mel_count"),
                                    .fftLength = r.small("fft_length"),
                                    .hopLength = r.small("hop_length")};
    }
    if (architecture == architectures::kAudioEncoder) {
        return AudioEncoderConfig{.melCount = r.small("mel_count"),
                                  .contextLength = r.small("context_length"),
                                  .width = r.small("embedding_length"),
                                  .headCount = r.small("head_count"),
                                  .layerCount = r.small("block_count"),
                                  .layerNormEps = r.real("layer_norm_epsilon")};
    }
    if (architecture == architectures::kTextDecoder)
        return readDecoderKeys(r);
    if (architecture == architectures::kTextDecoderContextPrefill) {
        return TextDecoderContextPrefillConfig{.decoder = readDecoderKeys(r),
                                               .startOfTranscriptToken = r.small("start_of_transcript_token"),
                                               .transcribeToken = r.small("transcribe_token"),
                                               .translateToken = r.small("translate_token"),
                                               .multilingual = r.flag("multilingual")};
    }
    if (auto speaker = readSpeakerKeys(r, architecture))
        return *speaker;
    throw std::invalid_argument("unknown model architecture \"" + architecture + "\"");
}

void writeFeatureList(gguf_context* file, const char* listKey, const char* prefix,
                      const std::vector<FeatureSpec>& features) {
    std::vector<const char*> names;
    for (const auto& feature : features) {
        names.push_back(feature.name.c_str());
        const std::string base = std::string(prefix) + feature.name;
        gguf_set_val_str(file, (base + ".data_type").c_str(), dataTypeName(feature.dataType));
        gguf_set_arr_data(file, (base + ".shape").c_str(), GGUF_TYPE_INT64, feature.shape.data(),
                          feature.shape.size());
    }
    gguf_set_arr_str(file, listKey, names.data(), names.size());
}

std::vector<FeatureSpec> readFeatureList(const gguf_context* file, const char* listKey, const char* prefix) {
    const KeyReader r(file, "");
    std::vector<FeatureSpec> features;
    for (const auto& name : r.strings(listKey)) {
        const std::string base = std::string(prefix) + name;
        features.push_back({.name = name,
                            .dataType = dataTypeFromName(r.text(base + ".data_type")),
                            .shape = r.integers(base + ".shape")});
    }
    return features;
}

} // namespace

void writeConfig(gguf_context* file, const ModelConfig& config) {
    gguf_set_val_str(file, keys::kArchitecture, architectureName(config).c_str());
    gguf_set_val_u32(file, keys::kFormatVersion, kFormatVersion);
    std::visit([file](const auto& c) { writeKeys(file, c); }, config);
}

void writeFeatures(gguf_context* file, const FeatureSpecs& features) {
    writeFeatureList(file, keys::kInputs, "model.input.", features.inputs);
    writeFeatureList(file, keys::kOutputs, "model.output.", features.outputs);
}

ModelConfig readConfig(const gguf_context* file) {
    const KeyReader r(file, "");
    const std::int64_t version = r.integer(keys::kFormatVersion);
    if (version != kFormatVersion)
        throw std::invalid_argument("model format version " + std::to_string(version) + " is not supported");
    ModelConfig config = readKeys(file, r.text(keys::kArchitecture));
    validate(config);
    return config;
}

FeatureSpecs readFeatures(const gguf_context* file) {
    return {.inputs = readFeatureList(file, keys::kInputs, "model.input."),
            .outputs = readFeatureList(file, keys::kOutputs, "model.output.")};
}

const char* dataTypeName(basalith::MultiArrayDataType type) {
    switch (type) {
    case MultiArrayDataType::float16:
        return "float16";
    case MultiArrayDataType::float32:
        return "float32";
    case MultiArrayDataType::int32:
        return "int32";
    }
    throw std::invalid_argument("unknown element type");
}

basalith::MultiArrayDataType dataTypeFromName(const std::string& name) {
    for (auto type : {MultiArrayDataType::float16, MultiArrayDataType::float32, MultiArrayDataType::int32}) {
        if (name == dataTypeName(type))
            return type;
    }
    throw std::invalid_argument("unknown element type \"" + name + "\"");
}

} // namespace velnote::platform::ml::gguf_keys
