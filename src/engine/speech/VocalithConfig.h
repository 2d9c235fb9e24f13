#pragma once

#include "engine/foundation/ComputeUnits.h"
#include "engine/foundation/Logging.h"
#include "engine/speech/audio/AudioInputConfig.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vocalith {

// The engine's replaceable components, defined with the engine steps that use them.
class AudioProcessing;
class FeatureExtracting;
class AudioEncoding;
class TextDecoding;
class LogitsFiltering;
class SegmentSeeking;
class VoiceActivityDetector;

// On which processing units each of the engine's four models runs. Our runtime computes on the
// CPU whatever is chosen; the choice is kept so that it can be shown and passed on.
struct ModelComputeOptions {
    basalith::ComputeUnits melCompute = basalith::ComputeUnits::cpuAndGPU;
    // The system-version split of the original platform has no counterpart here: the newer
    // default is always taken.
    basalith::ComputeUnits audioEncoderCompute = basalith::ComputeUnits::cpuAndNeuralEngine;
    basalith::ComputeUnits textDecoderCompute = basalith::ComputeUnits::cpuAndNeuralEngine;
    basalith::ComputeUnits prefillCompute = basalith::ComputeUnits::cpuOnly;

    bool operator==(const ModelComputeOptions&) const = default;
};

// The settings one engine is built from. The engine reads it once, in its constructor; changing a
// configuration afterwards does not touch that engine. Component objects given here are shared
// with the engine, not copied.
struct VocalithConfig {
    // Model variant folder to fetch; absent: the device's default from the model-support table.
    std::optional<std::string> model{};
    // Base folder of downloaded repositories; absent: the hub client's default.
    std::optional<std::filesystem::path> downloadBase{};
    // Repository of the models; absent: "quorvaneinc/vocalith-coreml".
    std::optional<std::string> modelRepo{};
    std::optional<std::string> modelToken{}; // access token for the hub
    // Hub endpoint; absent: Constants::defaultRemoteEndpoint.
    std::optional<std::string> modelEndpoint{};
    // Local folder with the models; when set nothing is downloaded, and an absent `load` loads.
    std::optional<std::string> modelFolder{};
    // Base folder of the tokenizer files; absent: `downloadBase`.
    std::optional<std::filesystem::path> tokenizerFolder{};
    // Absent: the defaults of ModelComputeOptions.
    std::optional<ModelComputeOptions> computeOptions{};
    // Absent: all channels summed.
    std::optional<AudioInputConfig> audioInputConfig{};
    // Replacements for the engine's own components; absent: the engine makes its defaults.
    std::shared_ptr<AudioProcessing> audioProcessor{};
    std::shared_ptr<FeatureExtracting> featureExtractor{};
    std::shared_ptr<AudioEncoding> audioEncoder{};
    std::shared_ptr<TextDecoding> textDecoder{};
    // When present, becomes the text decoder's filter list.
    std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters{};
    std::shared_ptr<SegmentSeeking> segmentSeeker{};
    // Absent: an energy-based detector is made when chunking needs one.
    std::shared_ptr<VoiceActivityDetector> voiceActivityDetector{};
    // True: the shared logger takes `logLevel`; false: it is silenced.
    bool verbose = true;
    basalith::Logging::LogLevel logLevel = basalith::Logging::LogLevel::info;
    // Absent and false differ for these two: absent `load` loads only with a `modelFolder`.
    std::optional<bool> prewarm{};
    std::optional<bool> load{};
    bool download = true; // may fetch the models when no `modelFolder` is given
    bool useBackgroundDownloadSession = false;
};

} // namespace vocalith
