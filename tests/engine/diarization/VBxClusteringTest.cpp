#include "engine/diarization/clustering/VBxClustering.h"

#include "engine/foundation/support/LogLines.h"
#include "support/PldaTable.h"
#include "support/Refusal.h"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <thread>

namespace diarith {
namespace {

using basalith::testing::LogLines;
using ::testing::Contains;
using ::testing::ElementsAre;
using testing::expectRefused;
using ::testing::Not;
using testing::pldaBetweenClassCovariance;

SpeakerEmbedding embedding(std::int64_t window, std::int64_t speaker, std::vector<float> raw,
                           float ratio = 0.9f, std::optional<std::vector<float>> plda = std::nullopt) {
    return SpeakerEmbedding{.embedding = std::move(raw),
                            .pldaEmbedding = std::move(plda),
                            .activeFrames = {},
                            .windowIndex = window,
                            .speakerIndex = speaker,
                            .clusterId = -1,
                            .nonOverlappedFrameRatio = ratio};
}

// Collected out of order: (2, 0), (0, 1), (0, 0). Without PLDA vectors.
std::vector<SpeakerEmbedding> threeWithoutPlda() {
    return {embedding(2, 0, {1.0f, 0.1f}), embedding(0, 1, {0.0f, 1.0f}), embedding(0, 0, {1.0f, 0.0f})};
}

// Two speakers, three windows each, alternating in time, each with a PLDA vector.
std::vector<SpeakerEmbedding> twoSpeakersWithPlda() {
    std::mt19937 random(11);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    std::vector<SpeakerEmbedding> embeddings;
    for (std::int64_t window = 0; window < 6; ++window) {
        const float sign = window % 2 == 0 ? 1.0f : -1.0f;
        std::vector<float> raw{sign > 0 ? 1.0f : 0.1f, sign > 0 ? 0.1f : 1.0f, noise(random) * 0.1f};
        std::vector<float> plda(128);
        for (std::size_t d = 0; d < plda.size(); ++d)
            plda[d] = (d < 16 ? 2.0f * sign : 0.0f) + noise(random);
        embeddings.push_back(embedding(window, 0, raw, 0.9f, plda));
    }
    return embeddings;
}

ClusteringResult update(std::vector<SpeakerEmbedding> embeddings, VBxClusteringConfig config = {}) {
    VBxClustering clustering(pldaBetweenClassCovariance());
    clustering.add(std::move(embeddings)).get();
    return clustering.update(config).get();
}

TEST(VBxClusteringTest, SortsByWindowThenSpeakerAndFallsBackToAgglomerativeLabels) {
    LogLines log;
    const auto result = update(threeWithoutPlda());
    EXPECT_THAT(result.clusters, ElementsAre(0, 1, 0));
    ASSERT_EQ(result.speakerEmbeddings.size(), 3u);
    std::vector<std::pair<std::int64_t, std::int64_t>> order;
    for (const auto& e : result.speakerEmbeddings) {
        order.emplace_back(e.windowIndex, e.speakerIndex);
        EXPECT_EQ(e.clusterId, result.clusters[order.size() - 1]);
    }
    EXPECT_THAT(order, ElementsAre(std::pair{0, 0}, std::pair{0, 1}, std::pair{2, 0}));
    EXPECT_THAT(log.lines(), ElementsAre("[VBx] Calling vbx with 3 embeddings",
                                         "[VBx] VBx clustering completed with 0 speakers",
                                         "[VBx] Cluster reassignment from AHC fallback completed"));
}

TEST(VBxClusteringTest, NothingTrainableLabelsEverythingZero) {
    LogLines log;
    auto embeddings = threeWithoutPlda();
    embeddings[0].nonOverlappedFrameRatio = 0.2f;
    embeddings[1].nonOverlappedFrameRatio = 0.1f;
    embeddings[2].nonOverlappedFrameRatio = 0.0f;
    EXPECT_THAT(update(embeddings).clusters, ElementsAre(0, 0, 0));
    EXPECT_TRUE(log.contains("[VBx] No trainable embeddings; assigning all to cluster 0"));
}

TEST(VBxClusteringTest, OneTrainingEmbeddingGivesOneSpeaker) {
    for (bool withPlda : {false, true}) {
        auto embeddings = twoSpeakersWithPlda();
        for (std::size_t i = 0; i < embeddings.size(); ++i) {
            embeddings[i].nonOverlappedFrameRatio = i == 1 ? 0.5f : 0.2f;
            if (!withPlda)
                embeddings[i].pldaEmbedding.reset();
        }
        EXPECT_THAT(update(embeddings).clusters, ElementsAre(0, 0, 0, 0, 0, 0)) << withPlda;
    }
}

TEST(VBxClusteringTest, EmptyCollectionGivesEmptyListsSilently) {
    LogLines log;
    const auto result = update({});
    EXPECT_TRUE(result.clusters.empty());
    EXPECT_TRUE(result.speakerEmbeddings.empty());
    EXPECT_TRUE(log.lines().empty());
}

TEST(VBxClusteringTest, VbxFindsTwoSpeakers) {
    LogLines log;
    EXPECT_THAT(update(twoSpeakersWithPlda()).clusters, ElementsAre(0, 1, 0, 1, 0, 1));
    EXPECT_TRUE(log.contains("[VBx] VBx clustering completed with 2 speakers"));
    EXPECT_TRUE(log.contains("[VBx] Cluster reassignment completed"));
    EXPECT_THAT(log.lines(), Not(Contains(::testing::HasSubstr("K-Means"))));
}

TEST(VBxClusteringTest, RequestedSpeakerCount) {
    struct Case {
        const char* name;
        std::optional<std::int64_t> requested;
        std::vector<std::int64_t> expected;
        bool kMeans;
    };
    const Case cases[] = {
        {"absent", std::nullopt, {0, 1, 0}, false},
        {"zero reads as absent", 0, {0, 1, 0}, false},
        {"negative reads as absent", -2, {0, 1, 0}, false},
        {"one per embedding", 3, {0, 1, 2}, true},
        {"more than embeddings", 5, {0, 1, 2}, true},
        {"absurdly many", std::numeric_limits<std::int64_t>::max(), {0, 1, 2}, true},
    };
    for (const auto& c : cases) {
        LogLines log;
        VBxClusteringConfig config;
        config.numberOfSpeakers = c.requested;
        EXPECT_EQ(update(threeWithoutPlda(), config).clusters, c.expected) << c.name;
        const auto lines = log.lines();
        const bool corrected = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.starts_with("[VBx] K-Means correction");
        });
        EXPECT_EQ(corrected, c.kMeans) << c.name;
    }
}

TEST(VBxClusteringTest, RequestAboveTheSpeakersFoundUsesKMeans) {
    LogLines log;
    VBxClusteringConfig config;
    config.numberOfSpeakers = 3;
    const auto clusters = update(twoSpeakersWithPlda(), config).clusters;
    EXPECT_TRUE(log.contains("[VBx] K-Means correction: VBx gave 2 speakers, requested 3"));
    for (auto label : clusters)
        EXPECT_TRUE(label >= 0 && label <= 2) << label;
    EXPECT_EQ(*std::max_element(clusters.begin(), clusters.end()), 2);
}

TEST(VBxClusteringTest, ConfigurationFromOptions) {
    VBxClustering clustering(pldaBetweenClassCovariance());
    const auto defaults = clustering.clusteringConfig(PyannoteDiarizationOptions{});
    EXPECT_FLOAT_EQ(defaults.clusterDistanceThreshold, 0.6f);
    EXPECT_FLOAT_EQ(defaults.speakerRelevanceFactorA, 0.07f);
    EXPECT_FLOAT_EQ(defaults.speakerRelevanceFactorB, 0.8f);
    EXPECT_FLOAT_EQ(defaults.minSpeakerPrior, 1e-7f);
    EXPECT_FLOAT_EQ(defaults.minNonOverlappedFrameRatio, 0.2f);
    EXPECT_EQ(defaults.maxIterations, 20);
    EXPECT_FLOAT_EQ(defaults.initialSmoothingFactor, 7.0f);
    EXPECT_FALSE(defaults.numberOfSpeakers);

    PyannoteDiarizationOptions options;
    options.clusterDistanceThreshold = 0.45f;
    options.numberOfSpeakers = 3;
    const auto given = clustering.clusteringConfig(options);
    EXPECT_FLOAT_EQ(given.clusterDistanceThreshold, 0.45f);
    EXPECT_EQ(given.numberOfSpeakers, 3);
    options.numberOfSpeakers = 0;
    EXPECT_FALSE(clustering.clusteringConfig(options).numberOfSpeakers);
}

TEST(VBxClusteringTest, CollectsFromManyThreadsAndResets) {
    VBxClustering clustering(pldaBetweenClassCovariance());
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&clustering, w] {
            for (int s = 0; s < 5; ++s)
                clustering.add({embedding(w, s, {1.0f, static_cast<float>(s)})}).get();
        });
    }
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(clustering.speakerEmbeddings().get().size(), 20u);
    EXPECT_TRUE(clustering.isEqual(clustering));
    EXPECT_FALSE(clustering.isEqual(VBxClustering(pldaBetweenClassCovariance())));
    clustering.reset().get();
    EXPECT_TRUE(clustering.speakerEmbeddings().get().empty());
}

TEST(VBxClusteringTest, RaggedOrNonFiniteEmbeddingsAndBadTablesAreRefused) {
    auto ragged = threeWithoutPlda();
    ragged[1].embedding.push_back(0.5f);
    expectRefused([&] { update(ragged); }, "VBxClustering: embeddings");
    auto infinite = threeWithoutPlda();
    infinite[0].embedding[0] = std::numeric_limits<float>::infinity();
    expectRefused([&] { update(infinite); }, "VBxClustering: embeddings");
    auto raggedPlda = twoSpeakersWithPlda();
    raggedPlda[3].pldaEmbedding.reset();
    expectRefused([&] { update(raggedPlda); }, "vbx: pldaEmbeddings");
    expectRefused([] { VBxClustering(std::vector<float>(127, 1.0f)); }, "betweenClassCovarianceDiag");
    auto table = pldaBetweenClassCovariance();
    table[7] = std::numeric_limits<float>::quiet_NaN();
    expectRefused([&] { VBxClustering{table}; }, "betweenClassCovarianceDiag");
}

} // namespace
} // namespace diarith
