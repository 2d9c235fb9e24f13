#include "platform/ml/ModelGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace velnote::platform::ml {
namespace {

// A small counter-based generator (SplitMix64): the values do not depend on the standard
// library's distributions, which differ between implementations.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    // Uniform in [-1, 1).
    float next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<float>(static_cast<double>(z >> 11) / 4503599627370496.0 - 1.0);
    }

  private:
    std::uint64_t state_;
};

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Offset and spread of one tensor's values.
std::pair<float, float> distribution(const TensorSpec& spec) {
    if (endsWith(spec.name, "layer_norm.weight"))
        return {1.0f, 0.1f};
    if (endsWith(spec.name, ".bias") || endsWith(spec.name, "layer_norm.bias"))
        return {0.0f, 0.05f};
    if (spec.name.find("embed_positions") != std::string::npos)
        return {0.0f, 0.5f};
    if (spec.name.find("embed_tokens") != std::string::npos)
        return {0.0f, 0.5f};
    std::int64_t fanIn = 1;
    for (std::size_t i = 1; i < spec.shape.size(); ++i)
        fanIn *= spec.shape[i];
    return {0.0f, static_cast<float>(1.0 / std::sqrt(static_cast<double>(fanIn)))};
}

std::uint64_t nameHash(const std::string& name) {
    std::uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (unsigned char c : name)
        hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

} // namespace

std::vector<WeightTensor> randomWeights(const ModelConfig& config, std::uint32_t seed) {
    std::vector<WeightTensor> tensors;
    for (const auto& spec : tensorSpecs(config)) {
        if (spec.name == "mel_filters") {
            tensors.push_back(melFilterTensor(std::get<MelSpectrogramConfig>(config)));
            continue;
        }
        std::int64_t count = 1;
        for (auto d : spec.shape)
            count *= d;
        const auto [offset, spread] = distribution(spec);
        const std::uint64_t tensorSeed = nameHash(spec.name) ^ (std::uint64_t{seed} << 32);
        tensors.push_back({spec.name, spec.shape, [count, offset, spread, tensorSeed] {
                               Random random(tensorSeed);
                               std::vector<float> values(static_cast<std::size_t>(count));
                               for (auto& v : values)
                                   v = offset + spread * random.next();
                               return values;
                           }});
    }
    return tensors;
}

std::vector<WeightTensor> scriptedDecoderWeights(const TextDecoderConfig& config,
                                                 const std::vector<int>& tokensByPosition) {
    validate(config);
    const std::size_t positions = tokensByPosition.size();
    if (positions == 0 || 2 * positions > static_cast<std::size_t>(config.width) ||
        positions > static_cast<std::size_t>(config.contextLength))
        throw std::invalid_argument("a script needs 1 to min(width / 2, context length) tokens");
    for (int token : tokensByPosition) {
        if (token < 0 || token >= config.vocabularySize)
            throw std::invalid_argument("scripted token " + std::to_string(token) +
                                        " is outside the vocabulary");
    }
    const auto width = static_cast<std::size_t>(config.width);
    // Large against the token embeddings' 0 and 1; the opposite spike keeps the mean at zero, so
    // the layer norm does not tax tokens scripted at many positions.
    constexpr float kSpike = 256.0f;
    std::vector<WeightTensor> tensors;
    for (const auto& spec : tensorSpecs(config)) {
        std::size_t count = 1;
        for (auto d : spec.shape)
            count *= static_cast<std::size_t>(d);
        std::vector<float> values(count, 0.0f);
        if (spec.name == "model.decoder.embed_tokens.weight") {
            for (std::size_t p = 0; p < positions; ++p)
                values[static_cast<std::size_t>(tokensByPosition[p]) * width + p] = 1.0f;
        } else if (spec.name == "model.decoder.embed_positions.weight") {
            for (std::size_t p = 0; p < static_cast<std::size_t>(config.contextLength); ++p) {
                values[p * width + std::min(p, positions - 1)] = kSpike;
                values[p * width + positions + std::min(p, positions - 1)] = -kSpike;
            }
        } else if (endsWith(spec.name, "layer_norm.weight")) {
            std::fill(values.begin(), values.end(), 1.0f);
        }
        tensors.push_back(WeightTensor::of(spec.name, spec.shape, std::move(values)));
    }
    return tensors;
}

void writeRandomModel(const std::filesystem::path& folder, const ModelConfig& config, std::uint32_t seed) {
    writeModel(folder, config, randomWeights(config, seed));
}

} // namespace velnote::platform::ml
