#pragma once

#include "engine/speech/decoding/TextDecoderIO.h"
#include "engine/speech/models/FeatureExtractor.h"
#include "engine/speech/models/WhisperMLModel.h"

#include <cstdint>
#include <optional>
#include <stop_token>

namespace vocalith {

// What the audio encoder hands to the text decoder: float16 [1, embedSize, 1, sequenceLength].
using AudioEncoderOutputType = basalith::MultiArray;

// Turns a window's log-mel spectrogram into the embeddings the text decoder attends to. A
// configuration may bring its own; the engine's is AudioEncoder.
class AudioEncoding {
  public:
    virtual ~AudioEncoding() = default;

    // Width of one embedding; absent without a model.
    virtual std::optional<std::int64_t> embedSize() const = 0;
    // Throws WhisperError::modelsUnavailable without a model, CancellationError when `stop` was
    // requested before the prediction starts, and the model's own errors.
    virtual std::optional<AudioEncoderOutputType> encodeFeatures(const FeatureExtractorOutputType& features,
                                                                 const std::stop_token& stop = {}) = 0;
};

// The audio encoder over the compiled "AudioEncoder" model ("melspectrogram_features" in,
// "encoder_output_embeds" out). Holds no lock of its own: the model is read once per call, and
// several calls may run at once.
class AudioEncoder : public AudioEncoding, public WhisperMLModel {
  public:
    std::optional<std::int64_t> embedSize() const override;
    // Frames of the embeddings; absent without a model.
    std::optional<std::int64_t> sequenceLength() const;
    std::optional<AudioEncoderOutputType> encodeFeatures(const FeatureExtractorOutputType& features,
                                                         const std::stop_token& stop = {}) override;
};

} // namespace vocalith
