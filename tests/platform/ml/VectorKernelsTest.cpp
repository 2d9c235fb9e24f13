#include "platform/ml/VectorKernels.h"

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
        addScaled(y.data(), a.data(), 0.25f, n);
        EXPECT_EQ(y, expected) << n << ": the element past the end stays as it was";
    }
}

} // namespace
} // namespace velnote::platform::ml
