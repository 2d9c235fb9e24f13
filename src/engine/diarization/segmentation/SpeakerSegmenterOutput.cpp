#include "engine/diarization/segmentation/SpeakerSegmenterOutput.h"

#include "engine/diarization/segmentation/ModelGeometry.h"

namespace diarith {

SpeakerSegmenterOutput::SpeakerSegmenterOutput(velnote::platform::ml::FeatureMap features,
                                               std::int64_t chunkIndex, basalith::MultiArray audioChunk,
                                               std::int64_t chunkStride, float waveformLength,
                                               float modelSampleRate, float audioSampleRate)
    : chunkIndex(chunkIndex), audioChunk(std::move(audioChunk)), chunkStride(chunkStride),
      waveformLength(waveformLength), modelSampleRate(modelSampleRate), audioSampleRate(audioSampleRate),
      features_(std::move(features)) {}

std::vector<std::string> SpeakerSegmenterOutput::featureNames() const {
    std::vector<std::string> names;
    for (const auto& [name, value] : features_)
        names.push_back(name);
    return names;
}

const basalith::MultiArray* SpeakerSegmenterOutput::featureValue(const std::string& name) const {
    auto found = features_.find(name);
    return found == features_.end() ? nullptr : &found->second;
}

std::int64_t SpeakerSegmenterOutput::windowsCount() const {
    const auto* windows = featureValue("sliding_window_waveform");
    return windows && !windows->shape().empty() ? windows->shape()[0] : 0;
}

float SpeakerSegmenterOutput::secondsPerWindow() const {
    const auto* windows = featureValue("sliding_window_waveform");
    return windows && windows->shape().size() >= 3 ? static_cast<float>(windows->shape()[2]) / audioSampleRate
                                                   : 0.0f;
}

std::string SpeakerSegmenterOutput::debugDescription() const {
    std::string entries;
    for (const auto& [name, value] : features_)
        entries += (entries.empty() ? "" : ", ") + name + ": " + shapeText(value.shape());
    return "[SpeakerSegmenterOutput: chunkIndex=" + std::to_string(chunkIndex) + ", features=" + entries +
           "]";
}

} // namespace diarith
