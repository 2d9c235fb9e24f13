#include "engine/speech/decoding/TokenSampling.h"

#include "engine/speech/WhisperError.h"
#include "engine/speech/decoding/TextUtilities.h"
#include "platform/compression/Deflate.h"

#include <cmath>
#include <gtest/gtest.h>

namespace vocalith {
namespace {

using basalith::Float16;
using basalith::MultiArray;
using basalith::MultiArrayDataType;

constexpr std::int64_t kEnd = 7;

MultiArray logitsOf(const std::vector<float>& values) {
    MultiArray logits({1, 1, static_cast<std::int64_t>(values.size())}, MultiArrayDataType::float16);
    for (std::size_t i = 0; i < values.size(); ++i)
        logits.dataAs<Float16>()[i] = Float16(values[i]);
    return logits;
}

// log softmax(values / temperature) at `index`, in double precision.
double logSoftmax(const std::vector<float>& values, std::size_t index, double temperature) {
    double sum = 0;
    for (const float v : values)
        sum += std::exp(v / temperature);
    return values[index] / temperature - std::log(sum);
}

DecodingOptions withTopK(int topK) {
    DecodingOptions options;
    options.topK = topK;
    return options;
}

TEST(TokenSamplingTest, TemperatureZeroTakesTheMostLikelyToken) {
    const std::vector<float> values = {0.5f, 3.0f, -1.0f, 3.0f, 2.0f, 0, 0, 1.0f};
    for (int topK : {1, 5, 100}) {
        GreedyTokenSampler sampler(Float16(0), kEnd, withTopK(topK));
        const auto result = sampler.update({1, 2}, logitsOf(values), {0, 0});
        EXPECT_EQ(result.tokens, (std::vector<std::int64_t>{1, 2, 1})) << "first of equals";
        ASSERT_EQ(result.logProbs.size(), 3u);
        EXPECT_NEAR(result.logProbs[2], logSoftmax(values, 1, 1), 1e-4);
        EXPECT_FALSE(result.completed);
    }
    GreedyTokenSampler sampler(Float16(0), kEnd, {});
    EXPECT_TRUE(sampler.update({}, logitsOf({0, 0, 0, 0, 0, 0, 0, 9}), {}).completed);
}

TEST(TokenSamplingTest, APositiveTemperatureDrawsAmongTheTopK) {
    const std::vector<float> values = {0, 4, 0, 3.5f, 0, 0, 0, 0};
    GreedyTokenSampler best(Float16(0.7f), kEnd, withTopK(1));
    for (int i = 0; i < 20; ++i) {
        const auto result = best.update({}, logitsOf(values), {});
        EXPECT_EQ(result.tokens.back(), 1);
        // Over the whole vocabulary at that temperature, not renormalised over the top 1.
        EXPECT_NEAR(result.logProbs.back(), logSoftmax(values, 1, static_cast<float>(Float16(0.7f))), 1e-4);
    }
    GreedyTokenSampler two(Float16(1), kEnd, withTopK(2));
    std::set<std::int64_t> seen;
    for (int i = 0; i < 200; ++i)
        seen.insert(two.update({}, logitsOf(values), {}).tokens.back());
    EXPECT_EQ(seen, (std::set<std::int64_t>{1, 3}));
}

TEST(TokenSamplingTest, FinalizeClosesTheSequenceOnce) {
    GreedyTokenSampler sampler(Float16(0), kEnd, {});
    const auto open = sampler.finalize({1, 2}, {-0.5f, -0.25f});
    EXPECT_EQ(open.tokens, (std::vector<std::int64_t>{1, 2, kEnd}));
    EXPECT_EQ(open.logProbs, (std::vector<float>{-0.5f, -0.25f, 0}));
    EXPECT_TRUE(open.completed);
    EXPECT_EQ(sampler.finalize({1, kEnd}, {0, -1}).tokens, (std::vector<std::int64_t>{1, kEnd}));
    EXPECT_EQ(sampler.finalize({}, {}).tokens, (std::vector<std::int64_t>{kEnd}));
}

TEST(TokenSamplingTest, BeamSearchIsDeclaredButRefused) {
    EXPECT_EQ(BeamSearchTokenSampler(5, kEnd, 1).maxCandidates(), 5);
    EXPECT_THROW(BeamSearchTokenSampler(5, kEnd, 0.1f), WhisperError);
    BeamSearchTokenSampler sampler(5, kEnd, 1);
    try {
        sampler.update({}, logitsOf({0, 1}), {});
        ADD_FAILURE();
    } catch (const WhisperError& error) {
        EXPECT_EQ(error.message(), "Not implemented: update(tokens:logits:logProbs:)");
    }
    EXPECT_THROW(sampler.finalize({}, {}), WhisperError);
}

TEST(TokenSamplingTest, CompressionRatioOfTokensAndTexts) {
    // [1, 2, 3]: 12 bytes, little-endian 32-bit integers.
    const std::vector<std::byte> bytes = {std::byte{1}, {}, {},           {}, std::byte{2}, {},
                                          {},           {}, std::byte{3}, {}, {},           {}};
    EXPECT_FLOAT_EQ(TextUtilities::compressionRatio({1, 2, 3}),
                    12.0f / static_cast<float>(velnote::platform::rawDeflate(bytes).size()));
    // A decoder stuck in a loop compresses well; varied tokens do not.
    std::vector<std::int64_t> loop, varied;
    for (int i = 0; i < 60; ++i) {
        loop.push_back(1000 + i % 3);
        varied.push_back((i * 7919) % 50000);
    }
    EXPECT_GT(compressionRatio(loop), 2.4f);
    EXPECT_LT(compressionRatio(varied), 2.4f);
    EXPECT_TRUE(std::isinf(compressionRatio(std::string_view(""))));
    EXPECT_GT(compressionRatio(std::string_view("la la la la la la la la la la la la la la la la")), 2.4f);
}

} // namespace
} // namespace vocalith
