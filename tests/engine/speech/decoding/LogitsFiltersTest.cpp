#include "engine/speech/decoding/LogitsFilters.h"

#include <cmath>
#include <gtest/gtest.h>

namespace vocalith {
namespace {

using basalith::Float16;
using basalith::MultiArray;
using basalith::MultiArrayDataType;

// A small vocabulary: text 0-19, the end 20, specials 21-28, timestamps 29-39 (0.00 to 0.20 s).
constexpr std::int64_t kSize = 40;
constexpr std::int64_t kEnd = 20, kSot = 21, kEnglish = 22, kTranslate = 24, kTranscribe = 25,
                       kNoTimestamps = 28;
constexpr std::int64_t kTime = 29;

SpecialTokens specials() {
    return {.endToken = kEnd,
            .englishToken = kEnglish,
            .noSpeechToken = 27,
            .noTimestampsToken = kNoTimestamps,
            .specialTokenBegin = kEnd,
            .startOfPreviousToken = 26,
            .startOfTranscriptToken = kSot,
            .timeTokenBegin = kTime,
            .transcribeToken = kTranscribe,
            .translateToken = kTranslate,
            .whitespaceToken = 5};
}

std::int64_t ts(double seconds) {
    return kTime + static_cast<std::int64_t>(std::lround(seconds / 0.02));
}

// Logits where a text token and the end token are far ahead of the timestamps, so that no
// timestamp is forced.
MultiArray textLogits() {
    auto logits = MultiArray::create({1, 1, kSize}, MultiArrayDataType::float16, Float16(-5));
    logits.dataAs<Float16>()[3] = Float16(8);
    logits.dataAs<Float16>()[kEnd] = Float16(6);
    return logits;
}

// The ids set to negative infinity, as runs "a-b".
std::string forbidden(const MultiArray& logits) {
    std::string runs;
    const auto* data = logits.dataAs<Float16>();
    for (std::int64_t id = 0; id < kSize; ++id) {
        if (!std::isinf(static_cast<float>(data[id])))
            continue;
        std::int64_t last = id;
        while (last + 1 < kSize && std::isinf(static_cast<float>(data[last + 1])))
            ++last;
        runs +=
            (runs.empty() ? "" : ",") + std::to_string(id) + (last > id ? "-" + std::to_string(last) : "");
        id = last;
    }
    return runs;
}

std::string filtered(const LogitsFiltering& filter, const std::vector<std::int64_t>& tokens,
                     MultiArray logits = textLogits()) {
    filter.filterLogits(logits, tokens);
    return forbidden(logits);
}

TEST(LogitsFiltersTest, TimestampRulesOnSampledSequences) {
    // English-only model: sampling starts after [start of transcript, 0.00].
    const TimestampRulesFilter filter(specials(), 2, std::nullopt, false);
    const std::vector<std::int64_t> prompt = {kSot, ts(0)};
    const auto after = [&](std::vector<std::int64_t> sampled) {
        std::vector<std::int64_t> tokens = prompt;
        tokens.insert(tokens.end(), sampled.begin(), sampled.end());
        return filtered(filter, tokens);
    };
    const struct {
        const char* what;
        std::vector<std::int64_t> sampled;
        std::string forbidden;
    } cases[] = {
        {"first sampled position: only no-timestamps", {}, "28"},
        {"an opening timestamp: no text; an equal closing one allowed", {3, ts(0.04)}, "0-19,28-30"},
        {"a closed pair: no timestamp at all", {ts(0), 3, ts(0.04), ts(0.04)}, "28-39"},
        {"after text: strictly later than the last timestamp", {ts(0), 3}, "28-29"},
        {"a single sampled timestamp counts as a closed pair", {ts(0.06)}, "28-39"},
        {"timestamps never go back", {ts(0), 3, ts(0.1), 4}, "28-34"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(after(c.sampled), c.forbidden) << c.what;
    // Before the sample begin nothing changes.
    EXPECT_EQ(filtered(filter, {kSot}), "");
}

TEST(LogitsFiltersTest, MultilingualRulesStartAfterTheTaskToken) {
    const std::vector<std::int64_t> prompt = {kSot, kEnglish, kTranscribe};
    EXPECT_EQ(filtered(TimestampRulesFilter(specials(), 0, std::nullopt, true), prompt), "28");
    EXPECT_EQ(filtered(TimestampRulesFilter(specials(), 0, std::nullopt, true), {kSot, kEnglish}), "");
    EXPECT_EQ(filtered(TimestampRulesFilter(specials(), 4, std::nullopt, true), prompt), "");
    // No task token among the first three: the rules do not apply at all.
    EXPECT_EQ(
        filtered(TimestampRulesFilter(specials(), 0, std::nullopt, true), {26, 3, 4, kSot, kTranscribe, 5}),
        "");
}

TEST(LogitsFiltersTest, TimestampsAreForcedWhenTheyOutweighEveryTextToken) {
    const TimestampRulesFilter filter(specials(), 1, std::nullopt, false);
    // Eleven timestamps at 2 outweigh one text token at 4 (log 11 + 2 > 4).
    auto logits = MultiArray::create({1, 1, kSize}, MultiArrayDataType::float16, Float16(-INFINITY));
    auto* data = logits.dataAs<Float16>();
    data[3] = Float16(4);
    for (std::int64_t id = kTime; id < kSize; ++id)
        data[id] = Float16(2);
    EXPECT_EQ(filtered(filter, {kSot}, logits), "0-28");
    // Exactly equal: one timestamp and one text token at the same logit are not forced.
    auto equal = MultiArray::create({1, 1, kSize}, MultiArrayDataType::float16, Float16(-INFINITY));
    equal.dataAs<Float16>()[3] = Float16(1.5);
    equal.dataAs<Float16>()[kTime + 2] = Float16(1.5);
    EXPECT_FALSE(TimestampRulesFilter::sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(equal, kTime));
    equal.dataAs<Float16>()[kTime + 3] = Float16(-2);
    EXPECT_TRUE(TimestampRulesFilter::sumOfProbabilityOverTimestampsIsAboveAnyOtherToken(equal, kTime));
}

TEST(LogitsFiltersTest, TheFirstTimestampMayBeLimited) {
    // 0.05 s: up to two steps of 0.02 s.
    EXPECT_EQ(filtered(TimestampRulesFilter(specials(), 1, 2, false), {kSot}), "28,32-39");
    EXPECT_EQ(filtered(TimestampRulesFilter(specials(), 1, 0, false), {kSot}), "28,30-39");
    EXPECT_EQ(filtered(TimestampRulesFilter(specials(), 1, 2, false), {kSot, ts(0)}), "28-39");
}

TEST(LogitsFiltersTest, BlankSuppressionOnlyAtTheFirstSampledToken) {
    const SuppressBlankFilter filter(specials(), 3);
    EXPECT_EQ(filtered(filter, {kSot, kEnglish, kTranscribe}), "5,20");
    EXPECT_EQ(filtered(filter, {kSot, kEnglish}), "");
    EXPECT_EQ(filtered(filter, {kSot, kEnglish, kTranscribe, 3}), "");
}

TEST(LogitsFiltersTest, SuppressedTokensAndLanguages) {
    // Ids outside the logits are ignored.
    EXPECT_EQ(filtered(SuppressTokensFilter({1, 7, -4, 40, 1000}), {}), "1,7");
    EXPECT_EQ(filtered(LanguageLogitsFilter({22, 23}, kSize, 0), {kSot}), "0-21,24-39");
    EXPECT_EQ(filtered(LanguageLogitsFilter({}, 30, 0), {kSot}), "0-29");
    EXPECT_EQ(filtered(LanguageLogitsFilter({}, 1000, 0), {kSot}), "0-39");
    EXPECT_EQ(filtered(LanguageLogitsFilter({22}, kSize, 2), {kSot}), "");
}

TEST(LogitsFiltersTest, FiltersWriteThroughTheStrides) {
    // A view on every other element of a buffer twice the size.
    std::vector<Float16> buffer(2 * kSize, Float16(0));
    auto logits = MultiArray::view(buffer.data(), {1, 1, kSize}, MultiArrayDataType::float16,
                                   {2 * kSize, 2 * kSize, 2});
    SuppressTokensFilter({3}).filterLogits(logits, {});
    EXPECT_TRUE(std::isinf(static_cast<float>(buffer[6])));
    EXPECT_EQ(static_cast<float>(buffer[3]), 0.0f);
}

} // namespace
} // namespace vocalith
