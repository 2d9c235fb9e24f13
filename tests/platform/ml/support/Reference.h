#pragma once

#include "engine/foundation/MultiArray.h"
#include "platform/ml/ModelConfig.h"
#include "platform/ml/ModelFile.h"

#include <string>
#include <vector>

// Plain double-precision loops for every network, written from the model definitions without
// ggml, to check the ggml graphs against. They read the weights as the model file stores them
// (after rounding to float16), so only the computation differs.
namespace velnote::platform::ml::reference {

using Matrix = std::vector<std::vector<double>>; // [row][column]

std::vector<double> weight(const ModelFile& file, const std::string& name);

// [mel][frame] before rounding to float16.
Matrix logMel(const ModelFile& file, const std::vector<float>& audio);

// mel: [mel][frame]; returns [frame][width].
Matrix encode(const ModelFile& file, const Matrix& mel);

struct DecoderPass {
    Matrix logits;                                 // [position][token]
    std::vector<Matrix> keys, values;              // [layer][position][channel]
    std::vector<std::vector<Matrix>> crossWeights; // [layer][position][head] -> frames
};

// The whole token sequence in one causal pass; encoderOutput is [frame][width].
DecoderPass decode(const ModelFile& file, const TextDecoderConfig& config, const std::vector<int>& tokens,
                   const Matrix& encoderOutput);

// Values of a multi-array in row-major order, widened to double.
std::vector<double> values(const basalith::MultiArray& array);

} // namespace velnote::platform::ml::reference
