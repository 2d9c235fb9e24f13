#pragma once

#include "platform/ml/ModelConfig.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velnote::platform::ml {

// One weight tensor handed to the writer: its name in the published checkpoint layout, its shape
// outermost first (the checkpoint's own order) and its values in row-major order of that shape.
struct WeightTensor {
    std::string name;
    std::vector<std::int64_t> shape;
    // Called at most once, while the file is written, so a converter can read one tensor at a time.
    // Must give exactly the product of `shape` values.
    std::function<std::vector<float>()> values;

    static WeightTensor of(std::string name, std::vector<std::int64_t> shape, std::vector<float> values);
};

// The file name the writer gives the GGUF file inside a model folder.
inline constexpr const char* kModelFileName = "model.gguf";

// Writes one model folder, e.g. ".../TextDecoder.mlmodelc": creates the folder and writes
// <folder>/model.gguf with the architecture key, the format version, the hyper-parameters, the
// declared inputs and outputs and the tensors `config` needs (tensorSpecs), converted to their
// stored type. Tensors the configuration does not need are skipped without being read, so a
// converter can pass a whole checkpoint to each of the four calls.
//
// Throws std::invalid_argument for an invalid configuration, a missing tensor, a tensor of another
// shape, a wrong number of values or a value the stored type cannot hold (not finite, or beyond
// the float16 range); std::system_error when the file cannot be written. The file appears whole
// or not at all: it is written beside its final name and renamed into place.
void writeModel(const std::filesystem::path& folder, const ModelConfig& config,
                const std::vector<WeightTensor>& tensors);

// writeModel to one file at `target` (its folder is created). `declaredFeatures`, when given,
// is written as the file's description instead of the one the configuration gives: how tests
// make files that declare a layout of their own (see allowsDeclaredLayout).
void writeModelFile(const std::filesystem::path& target, const ModelConfig& config,
                    const std::vector<WeightTensor>& tensors,
                    const std::optional<FeatureSpecs>& declaredFeatures = std::nullopt);

// The "mel_filters" tensor of a mel-spectrogram model: slaneyMelFilterBank over 0–8 kHz at 16 kHz.
WeightTensor melFilterTensor(const MelSpectrogramConfig& config);

} // namespace velnote::platform::ml
