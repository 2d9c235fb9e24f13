#include "engine/diarization/clustering/VariationalBayesHiddenMarkovModel.h"
#include "engine/foundation/support/LogLines.h"
#include "support/PldaTable.h"
#include "support/Refusal.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace diarith {
namespace {

using testing::expectRefused;
using testing::pldaBetweenClassCovariance;
using Vbx = VariationalBayesHiddenMarkovModel;
using Rows = std::vector<std::vector<float>>;
using DRows = std::vector<std::vector<double>>;

Rows randomEmbeddings(std::size_t count, unsigned seed, float shift) {
    std::mt19937 random(seed);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    Rows rows(count, std::vector<float>(128));
    for (std::size_t t = 0; t < count; ++t) {
        for (std::size_t d = 0; d < 128; ++d)
            rows[t][d] = normal(random) + (d < 8 ? shift * (t % 2 == 0 ? 1.0f : -1.0f) : 0.0f);
    }
    return rows;
}

// The same model in doubles and plain loops, run for exactly `iterations` iterations.
std::pair<DRows, std::vector<double>> referenceVbx(const std::vector<std::int64_t>& labels, const Rows& x,
                                                   double fa, double fb, std::int64_t iterations,
                                                   double smoothing, const std::vector<float>& phi) {
    const std::size_t T = x.size(), D = 128;
    std::size_t S = 0;
    for (auto l : labels)
        S = std::max<std::size_t>(S, static_cast<std::size_t>(l) + 1);
    DRows gamma(T, std::vector<double>(S));
    for (std::size_t t = 0; t < T; ++t) {
        double sum = 0;
        for (std::size_t s = 0; s < S; ++s)
            sum += gamma[t][s] = std::exp(smoothing * (static_cast<std::size_t>(labels[t]) == s ? 1.0 : 0.0));
        for (auto& v : gamma[t])
            v /= sum;
    }
    std::vector<double> pi(S, 1.0 / static_cast<double>(S));
    for (std::int64_t i = 0; i < iterations; ++i) {
        DRows inv(S, std::vector<double>(D)), alpha(S, std::vector<double>(D));
        for (std::size_t s = 0; s < S; ++s) {
            double n = 0;
            for (std::size_t t = 0; t < T; ++t)
                n += gamma[t][s];
            for (std::size_t d = 0; d < D; ++d) {
                inv[s][d] = 1.0 / (phi[d] * fa / fb * n + 1.0);
                double evidence = 0;
                for (std::size_t t = 0; t < T; ++t)
                    evidence += gamma[t][s] * x[t][d] * std::sqrt(static_cast<double>(phi[d]));
                alpha[s][d] = fa / fb * inv[s][d] * evidence;
            }
        }
        DRows next(T, std::vector<double>(S));
        for (std::size_t t = 0; t < T; ++t) {
            double squares = 0;
            for (std::size_t d = 0; d < D; ++d)
                squares += static_cast<double>(x[t][d]) * x[t][d];
            const double g = -0.5 * (squares + D * std::log(2 * M_PI));
            double total = 0;
            for (std::size_t s = 0; s < S; ++s) {
                double cross = 0, penalty = 0;
                for (std::size_t d = 0; d < D; ++d) {
                    cross += x[t][d] * std::sqrt(static_cast<double>(phi[d])) * alpha[s][d];
                    penalty += (inv[s][d] + alpha[s][d] * alpha[s][d]) * phi[d];
                }
                next[t][s] = std::exp(fa * (cross - 0.5 * penalty + g) + std::log(pi[s] + 1e-8));
                total += next[t][s];
            }
            for (auto& v : next[t])
                v /= total;
        }
        gamma = next;
        double all = 0;
        for (std::size_t s = 0; s < S; ++s) {
            pi[s] = 0;
            for (std::size_t t = 0; t < T; ++t)
                pi[s] += gamma[t][s];
            all += pi[s];
        }
        for (auto& p : pi)
            p /= all;
    }
    return {gamma, pi};
}

TEST(VbxTest, OneSpeakerStopsAfterTwoIterations) {
    const auto result = Vbx::vbx({0, 0, 0}, randomEmbeddings(3, 1, 0.0f), 0.07f, 0.8f, 20, 7.0f, false,
                                 pldaBetweenClassCovariance());
    EXPECT_EQ(result.iterations, 2);
    EXPECT_EQ(result.speakerPriorProbabilities, std::vector<float>{1.0f});
    EXPECT_EQ(result.speakerAssignmentMatrix, (Rows{{1.0f}, {1.0f}, {1.0f}}));
}

TEST(VbxTest, StartingResponsibilities) {
    const auto x = randomEmbeddings(2, 2, 0.0f);
    const auto smoothed = Vbx::vbx({0, 2}, x, 0.07f, 0.8f, 0, 7.0f, false, pldaBetweenClassCovariance());
    const double e7 = std::exp(7.0);
    ASSERT_EQ(smoothed.speakerAssignmentMatrix.size(), 2u);
    for (const auto& row : smoothed.speakerAssignmentMatrix) {
        ASSERT_EQ(row.size(), 3u);
        EXPECT_NEAR(row[1], 1.0 / (e7 + 2.0), 1e-9);
    }
    EXPECT_NEAR(smoothed.speakerAssignmentMatrix[0][0], e7 / (e7 + 2.0), 1e-6);
    EXPECT_NEAR(smoothed.speakerAssignmentMatrix[1][2], e7 / (e7 + 2.0), 1e-6);
    EXPECT_EQ(smoothed.speakerPriorProbabilities, std::vector<float>(3, 1.0f / 3.0f));
    EXPECT_EQ(smoothed.iterations, 0);

    const auto hard = Vbx::vbx({0, 2}, x, 0.07f, 0.8f, 0, -1.0f, false, pldaBetweenClassCovariance());
    EXPECT_EQ(hard.speakerAssignmentMatrix, (Rows{{1, 0, 0}, {0, 0, 1}}));
}

TEST(VbxTest, UnsuitableInputGivesNothing) {
    const auto phi = pldaBetweenClassCovariance();
    Rows short127(2, std::vector<float>(127, 0.5f));
    struct Case {
        const char* name;
        std::vector<std::int64_t> labels;
        Rows x;
    };
    const Case cases[] = {
        {"no embeddings", {}, {}},
        {"127 values", {0, 1}, short127},
        {"one label too many", {0, 1, 1}, randomEmbeddings(2, 3, 0.0f)},
        {"no speaker label", {-1, -1}, randomEmbeddings(2, 3, 0.0f)},
    };
    for (const auto& c : cases) {
        const auto result = Vbx::vbx(c.labels, c.x, 0.07f, 0.8f, 20, 7.0f, false, phi);
        EXPECT_TRUE(result.speakerAssignmentMatrix.empty()) << c.name;
        EXPECT_TRUE(result.speakerPriorProbabilities.empty()) << c.name;
    }
}

TEST(VbxTest, AgreesWithDoubleReference) {
    const auto phi = pldaBetweenClassCovariance();
    const auto x = randomEmbeddings(12, 4, 1.5f);
    const std::vector<std::int64_t> labels{0, 1, 0, 1, 0, 1, 2, 2, 0, 1, 0, 1};
    const auto result = Vbx::vbx(labels, x, 0.07f, 0.8f, 20, 7.0f, false, phi);
    ASSERT_GE(result.iterations, 2);
    const auto [gamma, pi] = referenceVbx(labels, x, 0.07, 0.8, result.iterations, 7.0, phi);
    for (std::size_t t = 0; t < gamma.size(); ++t) {
        for (std::size_t s = 0; s < gamma[t].size(); ++s)
            EXPECT_NEAR(result.speakerAssignmentMatrix[t][s], gamma[t][s], 1e-3) << t << "," << s;
    }
    for (std::size_t s = 0; s < pi.size(); ++s)
        EXPECT_NEAR(result.speakerPriorProbabilities[s], pi[s], 1e-3) << s;
}

TEST(VbxTest, DecreaseIsLoggedOnlyWhenVerbose) {
    // With a larger Fa the objective of these random sets falls at some step; the run stops there
    // and says so only when verbose.
    const auto phi = pldaBetweenClassCovariance();
    const std::vector<std::int64_t> labels{0, 1, 2, 3, 4, 0, 1, 2, 3, 4};
    for (bool verbose : {false, true}) {
        basalith::testing::LogLines log;
        for (unsigned seed = 0; seed < 10; ++seed)
            Vbx::vbx(labels, randomEmbeddings(10, seed, 0.0f), 0.3f, 0.8f, 20, 7.0f, verbose, phi);
        const auto lines = log.lines();
        EXPECT_EQ(lines.empty(), !verbose);
        for (const auto& line : lines)
            EXPECT_EQ(line, "[VBx] Value of auxiliary function has decreased!");
    }
}

TEST(VbxTest, RaggedOrNonFiniteInputIsRefused) {
    const auto phi = pldaBetweenClassCovariance();
    auto ragged = randomEmbeddings(3, 6, 0.0f);
    ragged[2].resize(64);
    expectRefused(
        [&] {
            Vbx::vbx({0, 0, 1}, ragged, 0.07f, 0.8f, 20, 7.0f, false, phi);
        },
        "vbx: pldaEmbeddings");
    auto nan = randomEmbeddings(3, 6, 0.0f);
    nan[1][5] = std::numeric_limits<float>::quiet_NaN();
    expectRefused(
        [&] {
            Vbx::vbx({0, 0, 1}, nan, 0.07f, 0.8f, 20, 7.0f, false, phi);
        },
        "vbx: pldaEmbeddings");
    const std::vector<float> shortTable(127, 1.0f);
    expectRefused(
        [&] {
            Vbx::vbx({0, 1, 1}, randomEmbeddings(3, 6, 0.0f), 0.07f, 0.8f, 20, 7.0f, false, shortTable);
        },
        "vbx: betweenClassCovarianceDiag");
}

} // namespace
} // namespace diarith
