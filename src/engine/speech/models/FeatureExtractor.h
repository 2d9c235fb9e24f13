#pragma once

#include "engine/speech/audio/AudioProcessing.h"
#include "engine/speech/models/WhisperMLModel.h"

#include <cstdint>
#include <optional>
#include <stop_token>

namespace vocalith {

// What the feature extractor hands to the audio encoder: the log-mel spectrogram of one window,
// float16 [1, melCount, 1, frames], passed on without a copy.
using FeatureExtractorOutputType = basalith::MultiArray;

namespace features {
inline constexpr const char* kAudio = "audio";
inline constexpr const char* kMelspectrogramFeatures = "melspectrogram_features";
} // namespace features

// Turns one padded window of 16 kHz samples into its log-mel spectrogram. A configuration may bring
// its own; the engine's is FeatureExtractor.
class FeatureExtracting {
  public:
    virtual ~FeatureExtracting() = default;

    // Mel bands per frame; absent without a model.
    virtual std::optional<std::int64_t> melCount() const = 0;
    // Samples one call consumes; absent without a model (the engine then takes 480000).
    virtual std::optional<std::int64_t> windowSamples() const = 0;
    // Throws WhisperError::modelsUnavailable without a model, CancellationError when `stop` was
    // requested before the prediction starts, and the model's own errors.
    virtual std::optional<FeatureExtractorOutputType> logMelSpectrogram(const AudioProcessorOutputType& audio,
                                                                        const std::stop_token& stop = {}) = 0;
};

// The feature extractor over the compiled "MelSpectrogram" model ("audio" in,
// "melspectrogram_features" out). Holds no lock of its own: the model is read once per call, and
// several calls may run at once.
class FeatureExtractor : public FeatureExtracting, public WhisperMLModel {
  public:
    std::optional<std::int64_t> melCount() const override;
    std::optional<std::int64_t> windowSamples() const override;
    std::optional<FeatureExtractorOutputType> logMelSpectrogram(const AudioProcessorOutputType& audio,
                                                                const std::stop_token& stop = {}) override;
};

} // namespace vocalith
