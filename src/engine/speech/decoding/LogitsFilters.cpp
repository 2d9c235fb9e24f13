#include "engine/speech/decoding/LogitsFilters.h"

#include "engine/speech/decoding/TokenSampling.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace vocalith {

using basalith::Float16;
using basalith::MultiArray;

namespace {

// std::numeric_limits has no specialisation for the half-float type: it would answer 0.
const Float16 kForbidden = static_cast<Float16>(-std::numeric_limits<float>::infinity());

// The last dimension of a float16 logits array ([1, 1, V]) through its stride.
class LogitsView {
  public:
    explicit LogitsView(MultiArray& logits)
        : data_(logits.dataAs<Float16>()), size_(logits.shape().back()), stride_(logits.strides().back()) {
        if (logits.count() != size_)
            throw std::invalid_argument("logits must have the shape [1, 1, V]");
    }

    std::int64_t size() const { return size_; }
    float at(std::int64_t id) const { return static_cast<float>(data_[id * stride_]); }

    void forbid(std::int64_t id) {
        if (id >= 0 && id < size_)
            data_[id * stride_] = kForbidden;
    }
    // Ids [begin, end), cut to the vocabulary.
    void forbid(std::int64_t begin, std::int64_t end) {
        for (std::int64_t id = std::max<std::int64_t>(begin, 0), stop = std::min(end, size_); id < stop; ++id)
            data_[id * stride_] = kForbidden;
    }

  private:
    Float16* data_;
    std::int64_t size_;
    std::int64_t stride_;
};

// log Σ exp(x) over logits [begin, end); negative infinity for an empty or fully forbidden range.
float logSumExp(const float* begin, const float* end) {
    if (begin == end)
        return -std::numeric_limits<float>::infinity();
    const float maximum = *std::max_element(begin, end);
    if (!std::isfinite(maximum))
        return maximum;
    double sum = 0;
    for (const float* x = begin; x != end; ++x)
        sum += std::exp(static_cast<double>(*x - maximum));
    return maximum + static_cast<float>(std::log(sum));
}

} // namespace

SuppressTokensFilter::SuppressTokensFilter(std::vector<std::int64_t> suppressTokens)
    : suppressTokens_(std::move(suppressTokens)) {}

MultiArray& SuppressTokensFilter::filterLogits(MultiArray& logits, const std::vector<std::int64_t>&) const {
    LogitsView view(logits);
    for (const auto id : suppressTokens_)
        view.forbid(id);
    return logits;
}

SuppressBlankFilter::SuppressBlankFilter(SpecialTokens specialTokens, std::int64_t sampleBegin)
    : specialTokens_(specialTokens), sampleBegin_(sampleBegin) {}

MultiArray& SuppressBlankFilter::filterLogits(MultiArray& logits,
                                              const std::vector<std::int64_t>& tokens) const {
    if (static_cast<std::int64_t>(tokens.size()) == sampleBegin_) {
        LogitsView view(logits);
        view.forbid(specialTokens_.whitespaceToken);
        view.forbid(specialTokens_.endToken);
    }
    return logits;
}

LanguageLogitsFilter::LanguageLogitsFilter(std::set<std::int64_t> allLanguageTokens, std::int64_t logitsDim,
                                           std::int64_t sampleBegin)
    : allLanguageTokens_(std::move(allLanguageTokens)), logitsDim_(logitsDim), sampleBegin_(sampleBegin) {
    for (std::int64_t id = 0; id < logitsDim_; ++id) {
        if (!allLanguageTokens_.contains(id))
            nonLanguageTokens_.push_back(id);
    }
}

MultiArray& LanguageLogitsFilter::filterLogits(MultiArray& logits,
                                               const std::vector<std::int64_t>& tokens) const {
    if (static_cast<std::int64_t>(tokens.size()) >= sampleBegin_) {
        LogitsView view(logits);
        for (const auto id : nonLanguageTokens_)
            view.forbid(id);
    }
    return logits;
}

TimestampRulesFilter::TimestampRulesFilter(SpecialTokens specialTokens, std::int64_t sampleBegin,
                                           std::optional<std::int64_t> maxInitialTimestampIndex,
                                           bool isModelMultilingual)
    : specialTokens_(specialTokens), sampleBegin_(sampleBegin),
      maxInitialTimestampIndex_(maxInitialTimestampIndex), isModelMultilingual_(isModelMultilingual) {}

std::optional<std::int64_t> TimestampRulesFilter::sampleBegin(const std::vector<std::int64_t>& tokens) const {
    if (!isModelMultilingual_)
        return sampleBegin_;
    for (std::size_t k = 0; k < std::min<std::size_t>(tokens.size(), 3); ++k) {
        if (tokens[k] == specialTokens_.transcribeToken || tokens[k] == specialTokens_.translateToken)
            return std::max(static_cast<std::int64_t>(k) + 1, sampleBegin_);
    }
    return std::nullopt;
}

MultiArray& TimestampRulesFilter::filterLogits(MultiArray& logits,
                                               const std::vector<std::int64_t>& tokens) const {
    const auto begin = sampleBegin(tokens);
    const auto n = static_cast<std::int64_t>(tokens.size());
    if (!begin || n < *begin)
        return logits;
    LogitsView view(logits);
    const std::int64_t timeBegin = specialTokens_.timeTokenBegin;
    view.forbid(specialTokens_.noTimestampsToken);

    if (n > *begin) {
        const auto sampledBegin = tokens.begin() + *begin;
        const bool lastWasTimestamp = tokens.back() >= timeBegin;
        const bool penultimateWasTimestamp =
            n - *begin < 2 || tokens[static_cast<std::size_t>(n - 2)] >= timeBegin;
        if (lastWasTimestamp) {
            if (penultimateWasTimestamp)
                view.forbid(timeBegin, view.size()); // a pair has just closed: text or the end next
            else
                view.forbid(0, specialTokens_.endToken); // an opening timestamp: no text yet
        }
        // Timestamps never go back; only the one closing a pair may repeat the opening one.
        const auto lastTimestamp =
            std::find_if(std::make_reverse_iterator(tokens.end()), std::make_reverse_iterator(sampledBegin),
                         [&](std::int64_t token) { return token >= timeBegin; });
        if (lastTimestamp != std::make_reverse_iterator(sampledBegin)) {
            const bool closing = lastWasTimestamp && !penultimateWasTimestamp;
            view.forbid(timeBegin, *lastTimestamp + (closing ? 0 : 1));
        }
    } else if (maxInitialTimestampIndex_) {
        const std::int64_t lastAllowed = timeBegin + std::max<std::int64_t>(*maxInitialTimestampIndex_, 0);
        view.forbid(lastAllowed + 1, view.size());
    }

    if (sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(logits, timeBegin))
        view.forbid(0, timeBegin);
    return logits;
}

bool TimestampRulesFilter::sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(const MultiArray& logits,
                                                                              std::int64_t timeTokenBegin) {
    // The view only reads here.
    const LogitsView view(const_cast<MultiArray&>(logits));
    const std::int64_t split = std::clamp<std::int64_t>(timeTokenBegin, 0, view.size());
    // Read once: every half-float read is a conversion, three passes of them cost more than the sums.
    const std::vector<float> values = logitValues(logits);
    const float* text = values.data();
    const float* time = text + split;
    const float* end = text + values.size();
    const float total = logSumExp(text, end);
    const float bestText =
        split > 0 ? *std::max_element(text, time) : -std::numeric_limits<float>::infinity();
    const auto timestampMass = static_cast<Float16>(logSumExp(time, end) - total);
    const auto bestTextLogProb = static_cast<Float16>(bestText - total);
    return timestampMass > bestTextLogProb;
}

} // namespace vocalith
