#include "engine/diarization/clustering/ClusterAlgorithms.h"

#include "engine/diarization/clustering/SplitMix64.h"
#include "support/Refusal.h"

#include <cmath>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace diarith {
namespace {

using ::testing::ElementsAre;
using testing::expectRefused;
using Rows = std::vector<std::vector<float>>;

TEST(SplitMix64Test, MatchesThePublishedSequence) {
    SplitMix64 generator(0);
    EXPECT_EQ(generator.next(), 0xE220A8397B1DCDAFull);
    EXPECT_EQ(generator.next(), 0x6E789E6AA1B965F4ull);
    EXPECT_EQ(generator.next(), 0x06C45D188009454Full);
    EXPECT_EQ(generator.next(), 0xF88BB8A8724C81ECull);
    EXPECT_EQ(generator.next(), 0x1B39896A51A8749Bull);
}

TEST(SplitMix64Test, BoundedAndFloatDrawsAreExact) {
    // Worked out with an independent implementation of the same draws.
    SplitMix64 tens(42);
    std::vector<std::uint64_t> draws;
    for (int i = 0; i < 8; ++i)
        draws.push_back(tens.nextBelow(10));
    EXPECT_THAT(draws, ElementsAre(7, 1, 2, 3, 0, 8, 2, 8));

    SplitMix64 floats(42);
    floats.next();
    // Low 24 bits of the second output of seed 42: 6746371.
    EXPECT_EQ(floats.nextFloat(0.0f, 182.0f), 182.0f * (6746371.0f / 16777216.0f));
    SplitMix64 unit(42);
    EXPECT_EQ(unit.nextFloat(0.0f, 10.0f), 10.0f * (15429269.0f / 16777216.0f));

    SplitMix64 one(5);
    EXPECT_EQ(one.nextBelow(1), 0u);
}

TEST(FastLinkageTest, HandWorkedPointSets) {
    EXPECT_TRUE(ClusterAlgorithms::fastLinkage({}).empty());
    EXPECT_TRUE(ClusterAlgorithms::fastLinkage({{1, 2}}).empty());
    EXPECT_EQ(ClusterAlgorithms::fastLinkage({{0, 0}, {3, 4}}), (Rows{{0, 1, 5, 2}}));
    EXPECT_EQ(ClusterAlgorithms::fastLinkage({{0}, {1}, {3}}), (Rows{{0, 1, 1, 2}, {2, 3, 2.5f, 3}}));
    // Three corners at equal distance: the lowest pair merges first.
    const auto triangle = ClusterAlgorithms::fastLinkage({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
    ASSERT_EQ(triangle.size(), 2u);
    EXPECT_EQ(triangle[0][0], 0.0f);
    EXPECT_EQ(triangle[0][1], 1.0f);
    EXPECT_EQ(triangle[1][1], 3.0f);
}

// Centroid linkage the slow way, in doubles: merge the two closest live centroids each step.
Rows naiveCentroidLinkage(const Rows& points) {
    struct Cluster {
        std::vector<double> centroid;
        int id;
        int size;
    };
    std::vector<Cluster> live;
    for (std::size_t i = 0; i < points.size(); ++i)
        live.push_back({std::vector<double>(points[i].begin(), points[i].end()), static_cast<int>(i), 1});
    Rows rows;
    for (int next = static_cast<int>(points.size()); live.size() > 1; ++next) {
        double best = INFINITY;
        std::size_t a = 0, b = 0;
        for (std::size_t i = 0; i < live.size(); ++i) {
            for (std::size_t j = i + 1; j < live.size(); ++j) {
                double sum = 0;
                for (std::size_t d = 0; d < live[i].centroid.size(); ++d)
                    sum += std::pow(live[i].centroid[d] - live[j].centroid[d], 2);
                if (std::sqrt(sum) < best) {
                    best = std::sqrt(sum);
                    a = i;
                    b = j;
                }
            }
        }
        Cluster merged{std::vector<double>(live[a].centroid.size()), next, live[a].size + live[b].size};
        for (std::size_t d = 0; d < merged.centroid.size(); ++d) {
            merged.centroid[d] =
                (live[a].centroid[d] * live[a].size + live[b].centroid[d] * live[b].size) / merged.size;
        }
        rows.push_back({static_cast<float>(std::min(live[a].id, live[b].id)),
                        static_cast<float>(std::max(live[a].id, live[b].id)), static_cast<float>(best),
                        static_cast<float>(merged.size)});
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(b));
        live[a] = merged;
    }
    return rows;
}

TEST(FastLinkageTest, AgreesWithTheNaiveAlgorithmOnRandomPoints) {
    std::mt19937 random(7);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    for (int trial = 0; trial < 5; ++trial) {
        Rows points(25, std::vector<float>(4));
        for (auto& p : points) {
            for (float& v : p)
                v = normal(random);
        }
        const Rows fast = ClusterAlgorithms::fastLinkage(points);
        const Rows naive = naiveCentroidLinkage(points);
        ASSERT_EQ(fast.size(), naive.size());
        for (std::size_t k = 0; k < fast.size(); ++k) {
            EXPECT_EQ(fast[k][0], naive[k][0]) << "trial " << trial << " row " << k;
            EXPECT_EQ(fast[k][1], naive[k][1]) << "trial " << trial << " row " << k;
            EXPECT_NEAR(fast[k][2], naive[k][2], 1e-4f * (1 + naive[k][2]));
            EXPECT_EQ(fast[k][3], naive[k][3]);
        }
    }
}

TEST(KMeansTest, EdgeCountsAndDegenerateInput) {
    const Rows points{{0}, {1}, {10}, {11}};
    EXPECT_THAT(ClusterAlgorithms::kMeans(points, 0, 300, 3, 42), ElementsAre(0, 0, 0, 0));
    EXPECT_THAT(ClusterAlgorithms::kMeans(points, 1, 300, 3, 42), ElementsAre(0, 0, 0, 0));
    EXPECT_THAT(ClusterAlgorithms::kMeans(points, 4, 300, 3, 42), ElementsAre(0, 1, 2, 3));
    EXPECT_THAT(ClusterAlgorithms::kMeans(points, 9, 300, 3, 42), ElementsAre(0, 1, 2, 3));
    EXPECT_THAT(ClusterAlgorithms::kMeans(points, 2, 300, 0, 42), ElementsAre(0, 0, 0, 0));
    EXPECT_TRUE(ClusterAlgorithms::kMeans({}, 2, 300, 3, 42).empty());
    EXPECT_TRUE(ClusterAlgorithms::kMeans({{}, {}}, 2, 300, 3, 42).empty());
    // All points equal: the seeding total is 0, the second centroid is point 1, everything is 0.
    EXPECT_THAT(ClusterAlgorithms::kMeans({{2, 2}, {2, 2}, {2, 2}}, 2, 300, 3, 42), ElementsAre(0, 0, 0));
}

TEST(KMeansTest, OneSeedOneLabelling) {
    const Rows points{{0}, {1}, {10}, {11}};
    // Seed 42 first picks point 2, so the right-hand pair is cluster 0; seed 40 first picks point 0.
    EXPECT_THAT(ClusterAlgorithms::kMeans(points, 2, 300, 3, 42), ElementsAre(1, 1, 0, 0));
    EXPECT_THAT(ClusterAlgorithms::kMeans(points, 2, 300, 3, 40), ElementsAre(0, 0, 1, 1));

    std::mt19937 random(3);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    Rows cloud(40, std::vector<float>(8));
    for (auto& p : cloud) {
        for (float& v : p)
            v = uniform(random);
    }
    const auto first = ClusterAlgorithms::kMeans(cloud, 4, 300, 3, 42);
    EXPECT_EQ(ClusterAlgorithms::kMeans(cloud, 4, 300, 3, 42), first);
    for (auto label : first)
        EXPECT_TRUE(label >= 0 && label < 4);
}

TEST(ClusterAlgorithmsTest, RaggedNonFiniteAndOverflowingEmbeddingsAreRefused) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    expectRefused([] { ClusterAlgorithms::fastLinkage({{1, 2}, {3}}); }, "fastLinkage: embeddings");
    expectRefused([&] { ClusterAlgorithms::fastLinkage({{1, 2}, {3, nan}}); }, "fastLinkage: embeddings");
    expectRefused(
        [] {
            ClusterAlgorithms::kMeans({{1, 2}, {3}, {4, 5}}, 2, 300, 3, 42);
        },
        "kMeans: embeddings");
    expectRefused([&] { ClusterAlgorithms::kMeans({{1}, {inf}, {4}}, 2, 300, 3, 42); }, "kMeans: embeddings");
    // Finite values whose distances overflow: a clear refusal, not a merge with a missing slot.
    expectRefused([] { ClusterAlgorithms::fastLinkage({{-3e38f}, {3e38f}}); }, "fastLinkage: embeddings");
    // The k-means seeding total overflows: no endless draw, and every label stays in range.
    const auto labels = ClusterAlgorithms::kMeans({{-3e38f}, {3e38f}, {0}}, 2, 300, 3, 42);
    ASSERT_EQ(labels.size(), 3u);
    for (auto label : labels)
        EXPECT_TRUE(label == 0 || label == 1);
}

} // namespace
} // namespace diarith
