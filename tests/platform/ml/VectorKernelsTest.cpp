#include "platform/ml/VectorKernels.h"

#include <cmath>
#include <cstdint>
#include <ggml.h>
#include <gtest/gtest.h>
#include <vector>

namespace velnote::platform::ml {
namespace {

// Lengths on both sides of the vector widths, where the main loops hand over to the tails.
TEST(VectorKernelsTest, MatchPlainLoopsAtEveryLength) {
    for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 48u, 64u, 1500u}) {
        std::vector<float> a(n + 1), b(n + 1), y(n + 1);
        for (std::size_t i = 0; i <= n; ++i) {
            a[i] = static_cast<float>(i % 7) - 3.0f;
            b[i] = 0.5f * static_cast<float>(i % 5) - 1.0f;
            y[i] = static_cast<float>(i % 3);
        }
        double dot = 0;
        std::vector<float> expected = y;
        for (std::size_t i = 0; i < n; ++i) {
            dot += static_cast<double>(a[i]) * b[i];
            expected[i] += 0.25f * a[i];
        }
        EXPECT_NEAR(dotProduct(a.data(), b.data(), n), dot, 1e-3) << n;
        // The same values as half floats (all exact in them) through the converting kernels.
        std::vector<std::uint16_t> half(n + 1);
        for (std::size_t i = 0; i <= n; ++i)
            half[i] = ggml_fp32_to_fp16(a[i]);
        EXPECT_NEAR(dotProduct(half.data(), b.data(), n), dot, 1e-3) << n;
        std::vector<float> fromHalf = y;
        addScaled(fromHalf.data(), half.data(), 0.25f, n);
        EXPECT_EQ(fromHalf, expected) << n;
        addScaled(y.data(), a.data(), 0.25f, n);
        EXPECT_EQ(y, expected) << n << ": the element past the end stays as it was";
    }
}

// Every length's tail goes through the same arithmetic as the full vectors; the far ends saturate.
TEST(VectorKernelsTest, GeluFollowsTheExactErfAtEveryLength) {
    for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 33u, 4001u}) {
        std::vector<float> x(n + 1), y(n + 1, 7.0f);
        for (std::size_t i = 0; i < n; ++i)
            x[i] = -9.0f + 18.0f * static_cast<float>(i) / static_cast<float>(n);
        geluErf(y.data(), x.data(), n);
        for (std::size_t i = 0; i < n; ++i) {
            const double exact = 0.5 * x[i] * (1.0 + std::erf(x[i] / std::sqrt(2.0)));
            ASSERT_NEAR(y[i], exact, 1e-6 * (1.0 + std::fabs(x[i]))) << n << " at " << x[i];
        }
        EXPECT_EQ(y[n], 7.0f) << n << ": the element past the end stays as it was";
    }
    std::vector<float> inPlace = {-1.0f, 0.0f, 1.0f, 40.0f, -40.0f};
    geluErf(inPlace.data(), inPlace.data(), inPlace.size());
    EXPECT_NEAR(inPlace[0], -0.158655f, 1e-6);
    EXPECT_EQ(inPlace[1], 0.0f);
    EXPECT_NEAR(inPlace[2], 0.841345f, 1e-6);
    EXPECT_EQ(inPlace[3], 40.0f);
    EXPECT_EQ(inPlace[4], -0.0f);
}

} // namespace
} // namespace velnote::platform::ml
