#pragma once

#include "engine/foundation/MultiArray.h"
#include "engine/speech/tokenizer/WhisperTokenizer.h"

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace vocalith {

// A filter on one decoder step's logits (float16, [1, 1, V]): it forbids tokens by setting their
// logits to negative infinity, in place, and never re-weights. `tokens` are the ids decoded so far
// in the window, prompt included. Filters hold no mutable state: one filter serves any number of
// steps and windows, while one logits array is filtered by one caller at a time. Ids outside the
// logits are ignored.
class LogitsFiltering {
  public:
    virtual ~LogitsFiltering() = default;
    virtual basalith::MultiArray& filterLogits(basalith::MultiArray& logits,
                                               const std::vector<std::int64_t>& tokens) const = 0;
};

// Forbids a fixed list of ids at every step.
class SuppressTokensFilter : public LogitsFiltering {
  public:
    explicit SuppressTokensFilter(std::vector<std::int64_t> suppressTokens);
    basalith::MultiArray& filterLogits(basalith::MultiArray& logits,
                                       const std::vector<std::int64_t>& tokens) const override;
    const std::vector<std::int64_t>& suppressTokens() const { return suppressTokens_; }

  private:
    std::vector<std::int64_t> suppressTokens_;
};

// Forbids a lone space and the end of text as the first sampled token (at `sampleBegin` tokens).
class SuppressBlankFilter : public LogitsFiltering {
  public:
    SuppressBlankFilter(SpecialTokens specialTokens, std::int64_t sampleBegin);
    basalith::MultiArray& filterLogits(basalith::MultiArray& logits,
                                       const std::vector<std::int64_t>& tokens) const override;

  private:
    SpecialTokens specialTokens_;
    std::int64_t sampleBegin_;
};

// Keeps timestamps well formed: they come in pairs (an opening one is followed by text, a closing
// one by another opening one or the end), never decrease, and are forced when their probabilities
// together outweigh every text token. On a multilingual model the rules start after the task token
// among the first three tokens, and not at all without one. `maxInitialTimestampIndex`, when set,
// limits the first sampled timestamp to that many 0.02 s steps.
class TimestampRulesFilter : public LogitsFiltering {
  public:
    TimestampRulesFilter(SpecialTokens specialTokens, std::int64_t sampleBegin,
                         std::optional<std::int64_t> maxInitialTimestampIndex, bool isModelMultilingual);
    basalith::MultiArray& filterLogits(basalith::MultiArray& logits,
                                       const std::vector<std::int64_t>& tokens) const override;
    std::optional<std::int64_t> maxInitialTimestampIndex() const { return maxInitialTimestampIndex_; }

    // Whether the timestamps' summed probability beats the best text token's, compared as
    // float16 log-probabilities (strictly).
    static bool sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(const basalith::MultiArray& logits,
                                                                   std::int64_t timeTokenBegin);

  private:
    std::optional<std::int64_t> sampleBegin(const std::vector<std::int64_t>& tokens) const;

    SpecialTokens specialTokens_;
    std::int64_t sampleBegin_;
    std::optional<std::int64_t> maxInitialTimestampIndex_;
    bool isModelMultilingual_;
};

// Leaves only the language tokens, for language detection.
class LanguageLogitsFilter : public LogitsFiltering {
  public:
    LanguageLogitsFilter(std::set<std::int64_t> allLanguageTokens, std::int64_t logitsDim,
                         std::int64_t sampleBegin);
    basalith::MultiArray& filterLogits(basalith::MultiArray& logits,
                                       const std::vector<std::int64_t>& tokens) const override;
    std::int64_t sampleBegin() const { return sampleBegin_; }

  private:
    std::set<std::int64_t> allLanguageTokens_;
    std::int64_t logitsDim_;
    std::int64_t sampleBegin_;
    std::vector<std::int64_t> nonLanguageTokens_; // every id below logitsDim that is no language token
};

} // namespace vocalith
