#pragma once

#include "engine/foundation/MultiArray.h"
#include "engine/speech/DecodingOptions.h"

#include <cstdint>
#include <vector>

namespace vocalith {

// The last dimension of a float16 logits array as floats.
std::vector<float> logitValues(const basalith::MultiArray& logits);

// The tokens of a run with the new one appended, their log-probabilities, and whether the
// sequence has ended.
struct SamplingResult {
    std::vector<std::int64_t> tokens{};
    std::vector<float> logProbs{};
    bool completed = false;
};

// Picks the next token from a step's filtered logits (float16, [1, 1, V]) and closes the sequence
// at the end of a window. One sampler serves one run at a time.
class TokenSampling {
  public:
    virtual ~TokenSampling() = default;
    virtual SamplingResult update(const std::vector<std::int64_t>& tokens, const basalith::MultiArray& logits,
                                  const std::vector<float>& logProbs) = 0;
    virtual SamplingResult finalize(const std::vector<std::int64_t>& tokens,
                                    const std::vector<float>& logProbs) = 0;
};

// At temperature 0 the most likely token (the first of equals); above 0 a random draw among the
// `topK` most likely tokens in proportion to their probabilities at that temperature. The
// log-probability reported is the chosen token's over the whole vocabulary at that temperature
// (unscaled at 0), never renormalised over the top k. The random source is the system's.
class GreedyTokenSampler : public TokenSampling {
  public:
    GreedyTokenSampler(basalith::Float16 temperature, std::int64_t eotToken, DecodingOptions decodingOptions);

    SamplingResult update(const std::vector<std::int64_t>& tokens, const basalith::MultiArray& logits,
                          const std::vector<float>& logProbs) override;
    // Appends the end token (with log-probability 0) unless the tokens already end with it.
    SamplingResult finalize(const std::vector<std::int64_t>& tokens,
                            const std::vector<float>& logProbs) override;

    basalith::Float16 temperature() const { return temperature_; }
    std::int64_t eotToken() const { return eotToken_; }
    const DecodingOptions& decodingOptions() const { return decodingOptions_; }

  private:
    struct Choice {
        std::int64_t token = 0;
        float logProb = 0;
    };
    Choice sample(const basalith::MultiArray& logits) const;

    basalith::Float16 temperature_;
    std::int64_t eotToken_;
    DecodingOptions decodingOptions_; // only topK is read
};

// A declared alternative that is not implemented: it must not be handed to the decoder. Its
// construction refuses a beam size × patience below 1, and update and finalize always throw
// WhisperError.
class BeamSearchTokenSampler : public TokenSampling {
  public:
    BeamSearchTokenSampler(int beamSize, std::int64_t eotToken, float patience = 1);

    SamplingResult update(const std::vector<std::int64_t>& tokens, const basalith::MultiArray& logits,
                          const std::vector<float>& logProbs) override;
    SamplingResult finalize(const std::vector<std::int64_t>& tokens,
                            const std::vector<float>& logProbs) override;
    void reset() { finishedSequences_.clear(); }

    int beamSize() const { return beamSize_; }
    int maxCandidates() const { return maxCandidates_; }

  private:
    int beamSize_;
    std::int64_t eotToken_;
    float patience_;
    int maxCandidates_;
    std::vector<float> finishedSequences_;
};

} // namespace vocalith
