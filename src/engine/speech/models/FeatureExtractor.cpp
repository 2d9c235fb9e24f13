#include "engine/speech/models/FeatureExtractor.h"

#include "engine/foundation/ModelUtilities.h"
#include "engine/speech/WhisperError.h"
#include "platform/concurrency/CancellationError.h"

namespace vocalith {

std::optional<std::int64_t> FeatureExtractor::melCount() const {
    const auto current = model();
    return basalith::ModelUtilities::getModelOutputDimension(current ? &current->description() : nullptr,
                                                             features::kMelspectrogramFeatures, 1);
}

std::optional<std::int64_t> FeatureExtractor::windowSamples() const {
    const auto current = model();
    return basalith::ModelUtilities::getModelInputDimension(current ? &current->description() : nullptr,
                                                            features::kAudio, 0);
}

std::optional<FeatureExtractorOutputType>
FeatureExtractor::logMelSpectrogram(const AudioProcessorOutputType& audio, const std::stop_token& stop) {
    const auto current = model();
    if (!current)
        throw WhisperError::modelsUnavailable();
    velnote::platform::throwIfCancelled(stop);
    const auto outputs = current->predict({{features::kAudio, audio}});
    const auto found = outputs.find(features::kMelspectrogramFeatures);
    if (found == outputs.end())
        return std::nullopt;
    return found->second;
}

} // namespace vocalith
