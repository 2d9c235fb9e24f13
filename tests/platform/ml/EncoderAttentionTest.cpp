#include "platform/ml/EncoderAttention.h"

#include "platform/ml/Graph.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace velnote::platform::ml {
namespace {

constexpr std::int64_t kHeadWidth = 64;

// softmax(scale · q kᵀ) v per head in double precision; all arrays [frames][width].
std::vector<float> plainAttention(const std::vector<float>& q, const std::vector<float>& k,
                                  const std::vector<float>& v, std::int64_t frames, std::int64_t heads,
                                  float scale) {
    const std::int64_t width = heads * kHeadWidth;
    std::vector<float> out(q.size());
    std::vector<double> weights(static_cast<std::size_t>(frames));
    for (std::int64_t h = 0; h < heads; ++h) {
        for (std::int64_t i = 0; i < frames; ++i) {
            for (std::int64_t j = 0; j < frames; ++j) {
                double score = 0;
                for (std::int64_t c = 0; c < kHeadWidth; ++c)
                    score += double(q[i * width + h * kHeadWidth + c]) * k[j * width + h * kHeadWidth + c];
                weights[j] = score * scale;
            }
            const double top = *std::max_element(weights.begin(), weights.begin() + frames);
            double sum = 0;
            for (std::int64_t j = 0; j < frames; ++j)
                sum += weights[j] = std::exp(weights[j] - top);
            for (std::int64_t c = 0; c < kHeadWidth; ++c) {
                double value = 0;
                for (std::int64_t j = 0; j < frames; ++j)
                    value += weights[j] * v[j * width + h * kHeadWidth + c];
                out[i * width + h * kHeadWidth + c] = static_cast<float>(value / sum);
            }
        }
    }
    return out;
}

// Frame counts below, at and past the blocks of 8 queries and 32 keys, the last ones partly filled;
// two heads side by side, run on one and on several threads.
TEST(EncoderAttentionTest, MatchesPlainAttentionForEveryFrameCount) {
    if (!encoderAttentionRuns(kHeadWidth))
        GTEST_SKIP() << "this processor has no bfloat16 pair products; the encoder uses ggml's attention";
    const std::int64_t heads = 2, width = heads * kHeadWidth;
    const EncoderAttentionShape shape{heads, 0.125f};
    std::mt19937 generator(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    for (const std::int64_t frames : {1, 5, 8, 33, 300}) {
        for (const int threads : {1, 3}) {
            SCOPED_TRACE(::testing::Message() << frames << " frames, " << threads << " threads");
            std::vector<float> q(static_cast<std::size_t>(frames * width)), k(q.size()), v(q.size());
            for (auto* values : {&q, &k, &v})
                for (float& x : *values)
                    x = 2.0f * uniform(generator);
            Graph graph(16);
            ggml_tensor* qt = graph.input(GGML_TYPE_F32, {width, frames});
            ggml_tensor* kt = graph.input(GGML_TYPE_F32, {width, frames});
            ggml_tensor* vt = graph.input(GGML_TYPE_F32, {width, frames});
            ggml_tensor* out = encoderAttention(graph.context(), qt, kt, vt, shape);
            graph.output(out);
            graph.allocate();
            Graph::set(qt, q.data());
            Graph::set(kt, k.data());
            Graph::set(vt, v.data());
            graph.compute(threads);

            const std::vector<float> expected = plainAttention(q, k, v, frames, heads, shape.scale);
            const auto* got = static_cast<const float*>(out->data);
            float worst = 0;
            for (std::size_t i = 0; i < expected.size(); ++i)
                worst = std::max(worst, std::abs(got[i] - expected[i]));
            // Scores of up to about ±30 from bfloat16 factors, values of ±2.
            EXPECT_LT(worst, 0.05f);
        }
    }
}

} // namespace
} // namespace velnote::platform::ml
