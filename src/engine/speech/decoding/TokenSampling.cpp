#include "engine/speech/decoding/TokenSampling.h"

#include "engine/foundation/Logging.h"
#include "engine/speech/WhisperError.h"
#include "platform/ml/VectorKernels.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>

namespace vocalith {

using basalith::Float16;
using basalith::MultiArray;

namespace {

float uniformRandom() {
    thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_real_distribution<float>(0.0f, 1.0f)(generator);
}

// The logits of the last dimension as floats, scaled by 1 / temperature when that is above 0.
std::vector<float> scaledLogits(const MultiArray& logits, float temperature) {
    std::vector<float> values = logitValues(logits);
    if (temperature > 0)
        for (float& value : values)
            value *= 1.0f / temperature;
    return values;
}

float logSumExp(const std::vector<float>& values) {
    const float maximum = *std::max_element(values.begin(), values.end());
    if (!std::isfinite(maximum))
        return maximum;
    double sum = 0;
    for (const float value : values)
        sum += std::exp(static_cast<double>(value - maximum));
    return maximum + static_cast<float>(std::log(sum));
}

} // namespace

std::vector<float> logitValues(const MultiArray& logits) {
    const auto* data = logits.dataAs<Float16>();
    const std::int64_t size = logits.shape().back();
    const std::int64_t stride = logits.strides().back();
    std::vector<float> values(static_cast<std::size_t>(size));
    // A contiguous row goes through the processor's conversion instructions: the samplers and
    // filters read every logit of every step.
    if (stride == 1)
        velnote::platform::ml::widen(values.data(), reinterpret_cast<const std::uint16_t*>(data),
                                     values.size());
    else
        for (std::int64_t i = 0; i < size; ++i)
            values[static_cast<std::size_t>(i)] = static_cast<float>(data[i * stride]);
    return values;
}

GreedyTokenSampler::GreedyTokenSampler(Float16 temperature, std::int64_t eotToken,
                                       DecodingOptions decodingOptions)
    : temperature_(temperature), eotToken_(eotToken), decodingOptions_(std::move(decodingOptions)) {}

GreedyTokenSampler::Choice GreedyTokenSampler::sample(const MultiArray& logits) const {
    const float temperature = static_cast<float>(temperature_);
    const std::vector<float> values = scaledLogits(logits, temperature);
    if (values.empty())
        throw WhisperError::decodingFailed("Sampling error: no logits");
    const float total = logSumExp(values);
    std::size_t chosen = 0;
    if (!(temperature > 0)) {
        chosen = static_cast<std::size_t>(std::max_element(values.begin(), values.end()) - values.begin());
    } else {
        const std::size_t k = std::clamp<std::size_t>(
            static_cast<std::size_t>(std::max(decodingOptions_.topK, 1)), 1, values.size());
        std::vector<std::size_t> order(values.size());
        std::iota(order.begin(), order.end(), 0);
        std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(k), order.end(),
                          [&](std::size_t a, std::size_t b) { return values[a] > values[b]; });
        std::vector<double> probabilities(k);
        double sum = 0;
        for (std::size_t i = 0; i < k; ++i)
            sum += probabilities[i] = std::exp(static_cast<double>(values[order[i]] - total));
        const double threshold = sum * uniformRandom();
        std::size_t pick = 0;
        double running = 0;
        for (std::size_t i = 0; i < k; ++i) {
            running += probabilities[i];
            if (running > threshold) {
                pick = i;
                break;
            }
        }
        chosen = order[pick];
    }
    return {static_cast<std::int64_t>(chosen), values[chosen] - total};
}

SamplingResult GreedyTokenSampler::update(const std::vector<std::int64_t>& tokens, const MultiArray& logits,
                                          const std::vector<float>& logProbs) {
    const Choice choice = sample(logits);
    SamplingResult result{tokens, logProbs, choice.token == eotToken_};
    result.tokens.push_back(choice.token);
    result.logProbs.push_back(choice.logProb);
    return result;
}

SamplingResult GreedyTokenSampler::finalize(const std::vector<std::int64_t>& tokens,
                                            const std::vector<float>& logProbs) {
    SamplingResult result{tokens, logProbs, true};
    if (tokens.empty() || tokens.back() != eotToken_) {
        result.tokens.push_back(eotToken_);
        result.logProbs.push_back(0);
    }
    return result;
}

BeamSearchTokenSampler::BeamSearchTokenSampler(int beamSize, std::int64_t eotToken, float patience)
    : beamSize_(beamSize), eotToken_(eotToken), patience_(patience), maxCandidates_(0) {
    const float candidates = static_cast<float>(beamSize) * patience;
    if (!(candidates >= 1.0f) || candidates > static_cast<float>(std::numeric_limits<int>::max()))
        throw WhisperError::initializationError("Invalid beam size " + std::to_string(beamSize) +
                                                " or patience " + basalith::Logging::toLogText(patience));
    maxCandidates_ = static_cast<int>(candidates);
}

SamplingResult BeamSearchTokenSampler::update(const std::vector<std::int64_t>&, const MultiArray&,
                                              const std::vector<float>&) {
    throw WhisperError::decodingFailed("Not implemented: update(tokens:logits:logProbs:)");
}

SamplingResult BeamSearchTokenSampler::finalize(const std::vector<std::int64_t>&, const std::vector<float>&) {
    throw WhisperError::decodingFailed("Not implemented: finalize(tokens:logProbs:)");
}

} // namespace vocalith
