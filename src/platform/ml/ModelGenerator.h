#pragma once

#include "platform/ml/ModelConfig.h"
#include "platform/ml/ModelWriter.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace velnote::platform::ml {

// Seeded random weights for any configuration, for tests and benchmarks: matrices uniform in
// ±1/sqrt(fan-in), biases small, layer-norm gains near 1, position embeddings in ±0.5, and the
// real Slaney filter bank for a mel model. The same seed gives the same weights on every machine.
std::vector<WeightTensor> randomWeights(const ModelConfig& config, std::uint32_t seed);

// writeModel with randomWeights.
void writeRandomModel(const std::filesystem::path& folder, const ModelConfig& config, std::uint32_t seed);

// Weights for a decoder (or its context prefill) that predicts a scripted token at every
// position, whatever the token fed in and whatever the audio: the greedy choice at position p is
// tokensByPosition[p] (the last entry for every later position). Every attention and feed-forward
// block adds nothing; position p's embedding is +256 on channel p and -256 on channel
// (script length + p), and a token's embedding has a 1 on the channels of the positions where it
// is scripted, so after the final layer norm the scripted token's logit is about sqrt(width / 2)
// and leads every other one by more than half of that. Needs 2 × tokensByPosition.size() <= width
// and tokensByPosition.size() <= contextLength, every token below the vocabulary size; throws
// std::invalid_argument otherwise. The encoder and mel models of such a
// variant can be random.
std::vector<WeightTensor> scriptedDecoderWeights(const TextDecoderConfig& config,
                                                 const std::vector<int>& tokensByPosition);

// Hand-set speaker networks that tell two tones apart, for end-to-end tests of the diarization
// engine without trained weights.
struct ToneBand {
    double fromHz = 0;
    double toHz = 0;
};
struct ToneBands {
    ToneBand low{150.0, 700.0};
    ToneBand high{1800.0, 4200.0};
    // Natural log of a band's frame energy above which its speaker is active: far above silence
    // and the click where a tone starts, far below a tone of amplitude 0.1 or more.
    float threshold = 4.0f;
};

// Local speaker 0 is active in the frames with energy in the low band, speaker 1 in those with
// energy in the high band, any further speaker never. Needs 2 bands, 2 hidden channels and 2
// speakers; throws std::invalid_argument otherwise.
std::vector<WeightTensor> toneSegmenterWeights(const SpeakerSegmenterConfig& config,
                                               const ToneBands& bands = {});
// The embedding of a mask row is (low − high, high − low, 0, …) of the mean log-mel energy of the
// two bands over the row's frames: opposite directions for the two tones. Needs 2 projections, 2
// embedding values and featureLength = the preprocessor's mel count.
std::vector<WeightTensor> toneEmbedderWeights(const SpeakerEmbedderConfig& config,
                                              const SpeakerEmbedderPreprocessorConfig& preprocessor,
                                              const ToneBands& bands = {});
// Identity transform; the length-normalised embedding in the leading PLDA dimensions.
std::vector<WeightTensor> tonePldaWeights(const PldaProjectorConfig& config);

// A between-class covariance diagonal of `length` descending positive values, shaped like a
// trained projection's (for generated PLDA models).
std::vector<float> betweenClassCovariance(int length);

} // namespace velnote::platform::ml
