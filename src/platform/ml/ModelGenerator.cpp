#include "platform/ml/ModelGenerator.h"

#include "platform/ml/MelFilterBank.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>

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

// Equal-width bands over 0 … 8 kHz: a usable front end for a random segmenter.
std::vector<float> equalBands(int bands, int bins) {
    std::vector<float> values(static_cast<std::size_t>(bands) * bins, 0.0f);
    for (int k = 0; k < bins; ++k)
        values[static_cast<std::size_t>(std::min(bands - 1, k * bands / bins)) * bins + k] = 1.0f;
    return values;
}

// Filter banks are the real thing in every generated model, random or not.
std::optional<WeightTensor> fixedTensor(const ModelConfig& config, const TensorSpec& spec) {
    if (const auto* mel = std::get_if<MelSpectrogramConfig>(&config); mel && spec.name == "mel_filters")
        return melFilterTensor(*mel);
    if (const auto* pre = std::get_if<SpeakerEmbedderPreprocessorConfig>(&config);
        pre && spec.name == "mel_filters")
        return WeightTensor::of(spec.name, spec.shape, slaneyMelFilterBank(pre->melCount, pre->fftLength));
    if (const auto* seg = std::get_if<SpeakerSegmenterConfig>(&config); seg && spec.name == "band_filters")
        return WeightTensor::of(spec.name, spec.shape, equalBands(seg->bandCount, seg->frequencyBins()));
    return std::nullopt;
}

std::size_t elementCount(const TensorSpec& spec) {
    std::size_t count = 1;
    for (auto d : spec.shape)
        count *= static_cast<std::size_t>(d);
    return count;
}

// Zero tensors of `config` with `set` filling in the few values a hand-set network needs.
std::vector<WeightTensor> handSet(const ModelConfig& config,
                                  const std::function<void(const std::string&, std::vector<float>&)>& set) {
    validate(config);
    std::vector<WeightTensor> tensors;
    for (const auto& spec : tensorSpecs(config)) {
        std::vector<float> values(elementCount(spec), 0.0f);
        set(spec.name, values);
        tensors.push_back(WeightTensor::of(spec.name, spec.shape, std::move(values)));
    }
    return tensors;
}

bool inBand(double hz, ToneBand band) {
    return hz >= band.fromHz && hz < band.toHz;
}

} // namespace

std::vector<float> betweenClassCovariance(int length) {
    // Descending like a trained projection's: 25 for the first dimension down to 0.6 for the last.
    std::vector<float> values;
    for (int i = 0; i < length; ++i)
        values.push_back(
            static_cast<float>(25.0 * std::pow(0.6 / 25.0, length > 1 ? double(i) / (length - 1) : 0.0)));
    return values;
}

std::vector<WeightTensor> toneSegmenterWeights(const SpeakerSegmenterConfig& config, const ToneBands& bands) {
    if (config.bandCount < 2 || config.hiddenWidth < 2 || config.speakerCount < 2)
        throw std::invalid_argument("a tone segmenter needs 2 bands, 2 hidden channels and 2 speakers");
    const int b = config.bandCount, h = config.hiddenWidth, bins = config.frequencyBins();
    const double binHz = 16000.0 / static_cast<double>(config.frameSamples());
    return handSet(config, [&](const std::string& name, std::vector<float>& v) {
        if (name == "band_filters") {
            for (int k = 0; k < bins; ++k) {
                v[static_cast<std::size_t>(k)] = inBand(k * binHz, bands.low) ? 1.0f : 0.0f;
                v[static_cast<std::size_t>(bins + k)] = inBand(k * binHz, bands.high) ? 1.0f : 0.0f;
            }
        } else if (name == "conv.weight") { // [H, B, 3]: centre tap of band s into channel s
            v[static_cast<std::size_t>((0 * b + 0) * 3 + 1)] = 1.0f;
            v[static_cast<std::size_t>((1 * b + 1) * 3 + 1)] = 1.0f;
        } else if (name == "conv.bias") {
            v[0] = v[1] = -bands.threshold;
        } else if (name.starts_with("blocks.") && name.ends_with(".weight")) {
            for (int i = 0; i < h; ++i)
                v[static_cast<std::size_t>(i * h + i)] = 1.0f;
        } else if (name == "classifier.weight") { // [S, H]
            v[0] = 1.0f;
            v[static_cast<std::size_t>(h + 1)] = 1.0f;
        } else if (name == "classifier.bias") {
            std::fill(v.begin() + 2, v.end(), -1.0f); // speakers beyond the two tones stay silent
        }
    });
}

std::vector<WeightTensor> toneEmbedderWeights(const SpeakerEmbedderConfig& config,
                                              const SpeakerEmbedderPreprocessorConfig& preprocessor,
                                              const ToneBands& bands) {
    if (config.projectionWidth < 2 || config.embeddingLength < 2 ||
        config.featureLength != preprocessor.melCount)
        throw std::invalid_argument(
            "a tone embedder needs 2 projections, 2 embedding values and the mel count");
    // Each mel band belongs to the tone band its filter peaks in.
    const int mels = preprocessor.melCount, bins = preprocessor.frequencyBins();
    const std::vector<float> bank = slaneyMelFilterBank(mels, preprocessor.fftLength);
    std::vector<int> group(static_cast<std::size_t>(mels), -1);
    int counts[2] = {0, 0};
    for (int m = 0; m < mels; ++m) {
        const auto row = bank.begin() + static_cast<std::ptrdiff_t>(m) * bins;
        const double hz =
            static_cast<double>(std::max_element(row, row + bins) - row) * 16000.0 / preprocessor.fftLength;
        const int g = inBand(hz, bands.low) ? 0 : inBand(hz, bands.high) ? 1 : -1;
        group[static_cast<std::size_t>(m)] = g;
        if (g >= 0)
            ++counts[g];
    }
    if (counts[0] == 0 || counts[1] == 0)
        throw std::invalid_argument("a tone band holds no mel band");
    const int p = config.projectionWidth;
    return handSet(config, [&](const std::string& name, std::vector<float>& v) {
        if (name == "projection.weight") { // [P, M]: mean log energy of each tone band's mels
            for (int m = 0; m < mels; ++m) {
                if (const int g = group[static_cast<std::size_t>(m)]; g >= 0)
                    v[static_cast<std::size_t>(g * mels + m)] = 1.0f / static_cast<float>(counts[g]);
            }
        } else if (name == "output.weight") { // [E, 2P]: low minus high, high minus low (means only)
            v[0] = 1.0f;
            v[1] = -1.0f;
            v[static_cast<std::size_t>(2 * p)] = -1.0f;
            v[static_cast<std::size_t>(2 * p + 1)] = 1.0f;
        }
    });
}

// Trained projections spread speakers over several units in their leading dimensions; the
// clustering's priors expect that.
constexpr float kToneSpread = 4.0f;

std::vector<WeightTensor> tonePldaWeights(const PldaProjectorConfig& config) {
    const int e = config.embeddingLength;
    return handSet(config, [&](const std::string& name, std::vector<float>& v) {
        if (name == "transform.weight") {
            for (int i = 0; i < e; ++i)
                v[static_cast<std::size_t>(i * e + i)] = 1.0f;
        } else if (name == "projection.weight") { // [P, E]: the embedding in the leading dimensions
            for (int i = 0; i < std::min(e, config.pldaLength); ++i)
                v[static_cast<std::size_t>(i * e + i)] = kToneSpread;
        }
    });
}

std::vector<WeightTensor> randomWeights(const ModelConfig& config, std::uint32_t seed) {
    std::vector<WeightTensor> tensors;
    for (const auto& spec : tensorSpecs(config)) {
        if (auto fixed = fixedTensor(config, spec)) {
            tensors.push_back(std::move(*fixed));
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
