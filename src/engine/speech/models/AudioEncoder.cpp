#include "engine/speech/models/AudioEncoder.h"

#include "engine/foundation/ModelUtilities.h"
#include "engine/speech/WhisperError.h"
#include "platform/concurrency/CancellationError.h"

namespace vocalith {

std::optional<std::int64_t> AudioEncoder::embedSize() const {
    const auto current = model();
    return basalith::ModelUtilities::getModelOutputDimension(current ? &current->description() : nullptr,
                                                             features::kEncoderOutputEmbeds, 1);
}

std::optional<std::int64_t> AudioEncoder::sequenceLength() const {
    const auto current = model();
    return basalith::ModelUtilities::getModelOutputDimension(current ? &current->description() : nullptr,
                                                             features::kEncoderOutputEmbeds, 3);
}

std::optional<AudioEncoderOutputType>
AudioEncoder::encodeFeatures(const FeatureExtractorOutputType& melFeatures, const std::stop_token& stop) {
    const auto current = model();
    if (!current)
        throw WhisperError::modelsUnavailable();
    velnote::platform::throwIfCancelled(stop);
    const auto outputs = current->predict({{features::kMelspectrogramFeatures, melFeatures}});
    const auto found = outputs.find(features::kEncoderOutputEmbeds);
    if (found == outputs.end())
        return std::nullopt;
    return found->second;
}

} // namespace vocalith
