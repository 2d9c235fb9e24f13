#pragma once

#include "engine/foundation/ModelDescription.h"
#include "engine/foundation/MultiArray.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

// The hyper-parameters of the four speech networks, as a model file stores them, and what each
// network declares of itself: its inputs and outputs and the weight tensors it needs. The model
// writer (ModelWriter.h) writes these; the runtime (Model.h) reads them back and checks them.
// README.md beside this file lists every key and tensor.
namespace velnote::platform::ml {

// GGUF keys every model file carries.
namespace keys {
inline constexpr const char* kArchitecture = "general.architecture";  // string, see architectures
inline constexpr const char* kFormatVersion = "model.format_version"; // u32, kFormatVersion
inline constexpr const char* kInputs = "model.inputs";                // string array, in order
inline constexpr const char* kOutputs = "model.outputs";              // string array, in order
// "model.input.<name>.data_type" (string "float16" | "float32" | "int32") and
// "model.input.<name>.shape" (int64 array, outermost first); the same with "model.output.".
} // namespace keys

inline constexpr std::uint32_t kFormatVersion = 1;

namespace architectures {
inline constexpr const char* kMelSpectrogram = "mel_spectrogram";
inline constexpr const char* kAudioEncoder = "audio_encoder";
inline constexpr const char* kTextDecoder = "text_decoder";
inline constexpr const char* kTextDecoderContextPrefill = "text_decoder_context_prefill";
} // namespace architectures

// Log-mel spectrogram of one window of 16 kHz samples. Keys under "mel_spectrogram.".
struct MelSpectrogramConfig {
    std::int64_t windowSamples = 480000; // "window_samples": samples in, a multiple of hopLength
    int melCount = 80;                   // "mel_count": bands out (80 or 128 for the published models)
    int fftLength = 400;                 // "fft_length": n_fft, frame length in samples
    int hopLength = 160;                 // "hop_length": samples between frames
    std::int64_t frameCount() const { return windowSamples / hopLength; }
    int frequencyBins() const { return fftLength / 2 + 1; }
};

// Two convolutions and a stack of pre-norm transformer blocks. Keys under "audio_encoder.".
struct AudioEncoderConfig {
    int melCount = 80;          // "mel_count"
    int contextLength = 1500;   // "context_length": frames out; the input has twice as many
    int width = 512;            // "embedding_length": d
    int headCount = 8;          // "head_count"; width must be a multiple of it
    int layerCount = 6;         // "block_count"
    float layerNormEps = 1e-5f; // "layer_norm_epsilon"
};

// One encoder-decoder attention head whose weights feed word timing.
struct AlignmentHead {
    int layer = 0;
    int head = 0;
    friend bool operator==(const AlignmentHead&, const AlignmentHead&) = default;
};

// The one-token text decoder. Keys under "text_decoder.".
struct TextDecoderConfig {
    int vocabularySize = 51865;    // "vocab_size"
    int contextLength = 448;       // "context_length": positions of the position embedding
    int width = 512;               // "embedding_length": d
    int headCount = 8;             // "head_count"
    int layerCount = 6;            // "block_count"
    int audioContextLength = 1500; // "audio_context_length": W, encoder frames attended to
    int kvCacheLength = 224;       // "kv_cache_length": S, cache positions (at most contextLength)
    float layerNormEps = 1e-5f;    // "layer_norm_epsilon"
    // "alignment_heads": int32 array of (layer, head) pairs, flattened. When present the model
    // has the output "alignment_heads_weights".
    std::vector<AlignmentHead> alignmentHeads;
    // E: one cached key (or value) vector holds every layer's, layer after layer.
    std::int64_t kvCacheWidth() const { return static_cast<std::int64_t>(layerCount) * width; }
};

// The key/value cache of the first prompt tokens (start of transcript, then language and task on
// a multilingual model), computed from the decoder's own weights without audio: the cross-attention
// of every layer sees an all-zero encoder output. Keys under "text_decoder_context_prefill.": the
// decoder's keys plus the ones below.
struct TextDecoderContextPrefillConfig {
    TextDecoderConfig decoder;
    int startOfTranscriptToken = 50258; // "start_of_transcript_token"
    int transcribeToken = 50360;        // "transcribe_token": task input 0
    int translateToken = 50359;         // "translate_token": task input 1
    bool multilingual = true;           // "multilingual": 3 positions, else 1 (start of transcript)
    int prefillLength() const { return multilingual ? 3 : 1; }
};

using ModelConfig = std::variant<MelSpectrogramConfig, AudioEncoderConfig, TextDecoderConfig,
                                 TextDecoderContextPrefillConfig>;

// The GGUF architecture key of a configuration.
std::string architectureName(const ModelConfig& config);

// Throws std::invalid_argument naming the first value out of range (sizes must be positive and
// small enough that no buffer size overflows; the width a multiple of the head count; ...).
void validate(const ModelConfig& config);

// A feature of the model: its element type and fixed shape.
struct FeatureSpec {
    std::string name;
    basalith::MultiArrayDataType dataType = basalith::MultiArrayDataType::float16;
    std::vector<std::int64_t> shape;
};

struct FeatureSpecs {
    std::vector<FeatureSpec> inputs;
    std::vector<FeatureSpec> outputs;
};

// The inputs and outputs a model of this configuration declares.
FeatureSpecs featureSpecs(const ModelConfig& config);
basalith::ModelDescription toModelDescription(const FeatureSpecs& specs);

enum class StoredType { float32, float16 };

// A weight tensor the network needs: its name in the published checkpoint layout, its shape
// outermost first (as the checkpoint lists it) and how the model file stores it.
struct TensorSpec {
    std::string name;
    std::vector<std::int64_t> shape;
    StoredType storedType = StoredType::float16;
};

// Every tensor a model of this configuration needs, in file order.
std::vector<TensorSpec> tensorSpecs(const ModelConfig& config);

} // namespace velnote::platform::ml
