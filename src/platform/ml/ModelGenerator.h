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

} // namespace velnote::platform::ml
