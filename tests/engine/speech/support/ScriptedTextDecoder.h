#pragma once

#include "engine/speech/decoding/TextDecoder.h"
#include "support/TestTokenizer.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace vocalith::testing {

// A text decoder without a model file: the step at cache position p gives logits of 0 everywhere
// but 10 for script[p] (the last entry for later positions), key and value updates holding p, and
// alignment weights holding p when asked to. `adjust` may change a step's logits before they are
// returned. Sizes: E = 4, S = 224 (unless set), W = 3, V = the test vocabulary.
class ScriptedTextDecoder : public TextDecoder {
  public:
    static constexpr std::int64_t kEmbedDim = 4;
    static constexpr std::int64_t kFrames = 3;

    explicit ScriptedTextDecoder(std::vector<std::int64_t> script, std::int64_t positions = 224);

    std::optional<std::int64_t> logitsSize() const override { return TestVocabulary::size; }
    std::optional<std::int64_t> kvCacheEmbedDim() const override { return kEmbedDim; }
    std::optional<std::int64_t> kvCacheMaxSequenceLength() const override { return positions_; }
    std::optional<std::int64_t> windowSize() const override { return kFrames; }
    std::optional<std::int64_t> embedSize() const override { return 2; }
    bool supportsWordTimestamps() const override { return withAlignment; }

    std::optional<TextDecoderMLMultiArrayOutputType>
    predictLogits(const TextDecoderMLMultiArrayInputType& input, const std::stop_token& stop) override;

    // The tokens fed in, by step.
    std::vector<std::int64_t> fed() const;

    std::function<void(std::int64_t position, basalith::MultiArray& logits)> adjust;
    bool withAlignment = false;

  private:
    std::vector<std::int64_t> script_;
    std::int64_t positions_;
    mutable std::mutex mutex_;
    std::vector<std::int64_t> fed_;
};

// An encoder output of the fake's size.
basalith::MultiArray fakeEncoderOutput();

} // namespace vocalith::testing
