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

} // namespace velnote::platform::ml
