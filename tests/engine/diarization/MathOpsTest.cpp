#include "engine/diarization/math/MathOps.h"

#include "support/Refusal.h"

#include <cmath>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>

namespace diarith {
namespace {

using MathOps::Matrix;
using ::testing::ElementsAre;

using testing::expectRefused;

TEST(MathOpsTest, SoftmaxAndLogSumExpStayFiniteAndHandleEmptyInput) {
    EXPECT_EQ(MathOps::softmax({{0, 0}}), (Matrix{{0.5f, 0.5f}}));
    EXPECT_EQ(MathOps::softmax({{1000, 1000}}), (Matrix{{0.5f, 0.5f}}));
    EXPECT_EQ(MathOps::softmax({{}}), (Matrix{{}}));
    EXPECT_TRUE(MathOps::softmax({}).empty());
    EXPECT_FLOAT_EQ(MathOps::logSumExp({0, 0}), std::log(2.0f));
    EXPECT_FLOAT_EQ(MathOps::logSumExp({1000, 1000}), 1000.0f + std::log(2.0f));
    EXPECT_EQ(MathOps::logSumExp({}), -std::numeric_limits<float>::infinity());
}

TEST(MathOpsTest, SoftmaxMatchesDoubleReference) {
    const Matrix input{{-3.5f, 0.25f, 7.0f, 2.0f}, {88.0f, -88.0f, 0.0f, 1e-3f}};
    const Matrix output = MathOps::softmax(input);
    for (std::size_t r = 0; r < input.size(); ++r) {
        double sum = 0;
        for (float v : input[r])
            sum += std::exp(static_cast<double>(v));
        for (std::size_t c = 0; c < input[r].size(); ++c)
            EXPECT_NEAR(output[r][c], std::exp(static_cast<double>(input[r][c])) / sum, 1e-6);
    }
}

TEST(MathOpsTest, TransposeFlattenAndUnflatten) {
    EXPECT_EQ(MathOps::matrixTranspose({{1, 2, 3}, {4, 5, 6}}), (Matrix{{1, 4}, {2, 5}, {3, 6}}));
    EXPECT_TRUE(MathOps::matrixTranspose({{}}).empty());
    EXPECT_TRUE(MathOps::matrixTranspose({}).empty());

    const auto flat = MathOps::flatten({{1, 2, 3}, {4, 5, 6}});
    EXPECT_THAT(flat.flatMatrix, ElementsAre(1, 2, 3, 4, 5, 6));
    EXPECT_EQ(flat.rows, 2u);
    EXPECT_EQ(flat.cols, 3u);
    const auto none = MathOps::flatten({});
    EXPECT_EQ(none.rows, 0u);
    EXPECT_EQ(none.cols, 0u);

    const std::vector<float> values{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(MathOps::unflatten(values, 2, 3), (Matrix{{1, 2, 3}, {4, 5, 6}}));
    EXPECT_EQ(MathOps::unflatten(values, 1, 3), (Matrix{{1, 2, 3}}));
    EXPECT_EQ(MathOps::unflatten(values, 2, 0), (Matrix{{}, {}}));
    EXPECT_TRUE(MathOps::unflatten(values, 0, 3).empty());
}

TEST(MathOpsTest, MatrixMultiplyShapesAndValues) {
    const Matrix a{{1, 2, 3}, {4, 5, 6}};
    const auto mismatch = MathOps::matrixMultiply(a, a);
    EXPECT_TRUE(mismatch.flatMatrix.empty());
    EXPECT_EQ(mismatch.rows, 0u);
    EXPECT_EQ(mismatch.cols, 0u);

    const Matrix b{{1, 0, -1, 2}, {0.5f, 1, 0, -2}, {3, -1, 1, 0.25f}};
    const auto product = MathOps::matrixMultiply(a, b);
    ASSERT_EQ(product.flatMatrix.size(), 8u);
    EXPECT_EQ(product.rows, 2u);
    EXPECT_EQ(product.cols, 4u);
    for (std::size_t i = 0; i < 2; ++i) {
        for (std::size_t j = 0; j < 4; ++j) {
            double expected = 0;
            for (std::size_t k = 0; k < 3; ++k)
                expected += static_cast<double>(a[i][k]) * b[k][j];
            EXPECT_NEAR(product.flatMatrix[i * 4 + j], expected, 1e-5) << i << "," << j;
        }
    }
}

TEST(MathOpsTest, CosineDistances) {
    const Matrix embeddings{{1, 2, 3}, {0, 0, 0}, {1, 2}, {-1, -2, -3}, {}};
    const Matrix centroids{{1, 2, 3}, {2, -1, 0}};
    const Matrix d = MathOps::cosineDistanceMatrix(embeddings, centroids);
    ASSERT_EQ(d.size(), 5u);
    EXPECT_NEAR(d[0][0], 0.0f, 1e-6); // identical
    EXPECT_GE(d[0][0], 0.0f);
    EXPECT_FLOAT_EQ(d[0][1], 1.0f); // orthogonal
    EXPECT_FLOAT_EQ(d[1][0], 1.0f); // zero vector
    EXPECT_FLOAT_EQ(d[2][0], 1.0f); // different length
    EXPECT_FLOAT_EQ(d[3][0], 2.0f); // opposite
    EXPECT_FLOAT_EQ(d[4][1], 1.0f); // empty
    EXPECT_TRUE(MathOps::cosineDistanceMatrix({}, centroids).empty());
    EXPECT_TRUE(MathOps::cosineDistanceMatrix(embeddings, {}).empty());
}

TEST(MathOpsTest, IndexOfMaximumFirstMaximumWins) {
    EXPECT_THAT(MathOps::indexOfMaximum({{1, 3, 3}}, 1), ElementsAre(1));
    EXPECT_THAT(MathOps::indexOfMaximum({{1, 5}, {4, 2}}, 0), ElementsAre(1, 0));
    EXPECT_THAT(MathOps::indexOfMaximum({{1, 5}, {4, 2}}, 1), ElementsAre(1, 0));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_THAT(MathOps::indexOfMaximum({{1, nan, 0}, {nan, 2, 3}}, 1), ElementsAre(0, 0));
    EXPECT_TRUE(MathOps::indexOfMaximum({{}}, 0).empty());
    EXPECT_TRUE(MathOps::indexOfMaximum({}, 1).empty());
}

TEST(MathOpsTest, RaggedMatricesAndImpossibleShapesAreRefused) {
    const Matrix ragged{{1, 2, 3}, {4, 5}};
    expectRefused([&] { MathOps::matrixTranspose(ragged); }, "matrixTranspose: the matrix");
    expectRefused([&] { MathOps::flatten(ragged); }, "flatten: the matrix");
    expectRefused([&] { MathOps::matrixMultiply(ragged, {{1}, {2}, {3}}); }, "matrixMultiply: matrix A");
    expectRefused([&] { MathOps::matrixMultiply({{1, 2}}, {{1}, {2, 3}}); }, "matrixMultiply: matrix B");
    expectRefused([&] { MathOps::indexOfMaximum({{1, 2}, {3}}, 0); }, "indexOfMaximum");
    expectRefused([&] { MathOps::indexOfMaximum({{1, 2}, {}}, 1); }, "indexOfMaximum");
    expectRefused([&] { MathOps::unflatten({1, 2, 3}, 2, 2); }, "unflatten");
    expectRefused([&] { MathOps::unflatten({1, 2, 3}, -1, 2); }, "unflatten");
    expectRefused([&] { MathOps::unflatten({1, 2, 3}, 2, -1); }, "unflatten");
    expectRefused([&] { MathOps::unflatten({1}, INT64_MAX, INT64_MAX); }, "unflatten");
}

} // namespace
} // namespace diarith
