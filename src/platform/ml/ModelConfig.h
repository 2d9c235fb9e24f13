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
inline constexpr const char* kSpeakerSegmenter = "speaker_segmenter";
inline constexpr const char* kSpeakerEmbedderPreprocessor = "speaker_embedder_preprocessor";
inline constexpr const char* kSpeakerEmbedder = "speaker_embedder";
inline constexpr const char* kPldaProjector = "plda_projector";
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

// Local speaker activity in the sliding windows of one chunk of 16 kHz samples: W windows of L
// samples, the first at 0, the last ending at the chunk's end; each window cut into F frames of
// L / F samples (the rest unused); per frame log band energies (a Hann-windowed power spectrum
// through the band filters), a convolution over frames (kernel 3), tanh blocks and a classifier
// whose positive logits mark the S local speakers active. Keys under "speaker_segmenter.".
struct SpeakerSegmenterConfig {
    std::int64_t chunkSamples = 480000;  // "chunk_samples": N
    int windowCount = 21;                // "window_count": W
    std::int64_t windowSamples = 160000; // "window_samples": L
    int frameCount = 589;                // "frame_count": F, frames per window
    int bandCount = 16;                  // "band_count": B
    int hiddenWidth = 64;                // "hidden_width": H
    int blockCount = 1;                  // "block_count": H → H tanh layers after the convolution
    int speakerCount = 3;                // "local_speaker_count": S
    std::int64_t frameSamples() const { return windowSamples / frameCount; }
    int frequencyBins() const { return static_cast<int>(frameSamples() / 2 + 1); }
    // Sample where window w starts: w × (N − L) / (W − 1), rounded; 0 for a single window.
    std::int64_t windowStart(int window) const;
};

// Log-mel features of one chunk: frames of fft_length samples every hop_length (zeros past the
// end), Hann-windowed power spectrum, mel filters, natural log of at least 1e-10. Keys under
// "speaker_embedder_preprocessor.".
struct SpeakerEmbedderPreprocessorConfig {
    std::int64_t waveformSamples = 480000; // "waveform_samples": N
    int melCount = 80;                     // "mel_count": M
    int fftLength = 400;                   // "fft_length"
    int hopLength = 160;                   // "hop_length"
    std::int64_t frameCount() const { return waveformSamples / hopLength; }
    int frequencyBins() const { return fftLength / 2 + 1; }
};

// One embedding per mask row: the features projected, their mean and standard deviation weighted
// by the row (mask frames spread evenly over the feature frames), then a linear layer. Keys under
// "speaker_embedder.".
struct SpeakerEmbedderConfig {
    int maskRows = 63;         // "mask_rows": D
    int maskFrames = 1767;     // "mask_frames": columns of a mask row
    int featureFrames = 3000;  // "feature_frames": T, the preprocessor's frames
    int featureLength = 80;    // "feature_length": M, values per feature frame
    int projectionWidth = 64;  // "projection_width"
    int embeddingLength = 192; // "embedding_length": E
};

// PLDA projection of embedder rows: affine, length normalisation (to length sqrt(E)), affine.
// Keys under "plda_projector.".
struct PldaProjectorConfig {
    int rows = 63;             // "embedding_rows": D, rows per prediction
    int embeddingLength = 192; // "embedding_length": E
    int pldaLength = 128;      // "plda_length": P
    // "between_class_covariance": Φ, the diagonal between-speaker covariance in PLDA space, P
    // finite values (f32 array); the clustering reads it.
    std::vector<float> betweenClassCovariance;
};

using ModelConfig =
    std::variant<MelSpectrogramConfig, AudioEncoderConfig, TextDecoderConfig, TextDecoderContextPrefillConfig,
                 SpeakerSegmenterConfig, SpeakerEmbedderPreprocessorConfig, SpeakerEmbedderConfig,
                 PldaProjectorConfig>;

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

// Whether a file of this architecture may declare its own layout: leave outputs out, and give a
// feature another shape with the same number of elements. The speaker networks allow it (their
// engine reads its geometry from what the file declares); the speech networks do not.
bool allowsDeclaredLayout(const ModelConfig& config);

// Throws std::invalid_argument unless `declared` is a layout `computed` allows: every input of
// `computed` in order, any subset of its outputs, each with its element type and, where
// allowDeclaredLayout, a shape of at least one positive dimension and the same element count;
// otherwise exactly the computed shape.
void checkDeclaredFeatures(const FeatureSpecs& declared, const FeatureSpecs& computed,
                           bool allowDeclaredLayout);
basalith::ModelDescription toModelDescription(const FeatureSpecs& specs);

enum class StoredType { float32, float16 };

// A weight tensor the network needs: its name in the published checkpoint layout, its shape
// outermost first (as the checkpoint lists it) and how the model file stores it. A product weight
// is only ever the weight of a matrix product or a table of rows, so the loader may hold it in
// another 16-bit type the processor multiplies faster.
struct TensorSpec {
    std::string name;
    std::vector<std::int64_t> shape;
    StoredType storedType = StoredType::float16;
    bool productWeight = false;
};

// Every tensor a model of this configuration needs, in file order.
std::vector<TensorSpec> tensorSpecs(const ModelConfig& config);

} // namespace velnote::platform::ml
