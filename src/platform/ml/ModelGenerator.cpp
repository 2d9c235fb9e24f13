#include "platform/ml/ModelGenerator.h"

#include <cmath>
#include <cstdint>
#include <functional>
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

void writeRandomModel(const std::filesystem::path& folder, const ModelConfig& config, std::uint32_t seed) {
    writeModel(folder, config, randomWeights(config, seed));
}

} // namespace velnote::platform::ml
