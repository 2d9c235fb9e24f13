#include "engine/diarization/clustering/VBxClustering.h"

#include "engine/diarization/DiarithError.h"
#include "engine/diarization/clustering/ClusterAlgorithms.h"
#include "engine/diarization/clustering/VariationalBayesHiddenMarkovModel.h"
#include "engine/diarization/math/InputChecks.h"
#include "engine/diarization/math/MathOps.h"
#include "engine/foundation/Logging.h"

#include <algorithm>
#include <cmath>

namespace diarith {
namespace {

using Matrix = MathOps::Matrix;
using Labels = std::vector<std::int64_t>;
using basalith::Logging;

struct TrainingSet {
    Matrix raw;
    Matrix plda;
    Matrix norm;
};

TrainingSet trainingSet(const std::vector<SpeakerEmbedding>& embeddings, float minRatio) {
    TrainingSet set;
    for (const auto& e : embeddings) {
        if (!(e.nonOverlappedFrameRatio > minRatio))
            continue;
        set.raw.push_back(e.embedding);
        set.plda.push_back(e.pldaEmbedding.value_or(std::vector<float>{}));
        float squares = 0.0f;
        for (float v : e.embedding)
            squares += v * v;
        std::vector<float> unit = e.embedding;
        if (squares != 0.0f) {
            const float length = std::sqrt(squares);
            for (float& v : unit)
                v /= length;
        }
        set.norm.push_back(std::move(unit));
    }
    return set;
}

std::int64_t rootOf(std::vector<std::int64_t>& parent, std::int64_t x) {
    while (parent[static_cast<std::size_t>(x)] != x)
        x = parent[static_cast<std::size_t>(x)];
    return x;
}

// Cuts the merge history at the first merge above the threshold; labels follow the first embedding
// of each cluster.
Labels assignFlatClusters(const Matrix& linkage, float threshold) {
    const std::size_t n = linkage.size() + 1;
    std::vector<std::int64_t> parent(2 * n - 1);
    for (std::size_t i = 0; i < parent.size(); ++i)
        parent[i] = static_cast<std::int64_t>(i);
    for (std::size_t i = 0; i < linkage.size(); ++i) {
        const auto& row = linkage[i];
        if (threshold < row[2])
            break;
        const std::int64_t a = rootOf(parent, static_cast<std::int64_t>(row[0]));
        const std::int64_t b = rootOf(parent, static_cast<std::int64_t>(row[1]));
        const auto merged = static_cast<std::int64_t>(n + i);
        parent[static_cast<std::size_t>(a)] = merged;
        parent[static_cast<std::size_t>(b)] = merged;
        parent[n + i] = merged;
    }
    Labels labels(n);
    std::vector<std::int64_t> labelOfRoot(parent.size(), -1);
    std::int64_t next = 0;
    for (std::size_t j = 0; j < n; ++j) {
        auto& label = labelOfRoot[static_cast<std::size_t>(rootOf(parent, static_cast<std::int64_t>(j)))];
        if (label < 0)
            label = next++;
        labels[j] = label;
    }
    return labels;
}

Matrix calculateCentroids(const Matrix& speakerWeights, const Matrix& embeddings) {
    if (speakerWeights.empty() || embeddings.empty() || embeddings.front().empty())
        return {};
    const std::size_t dim = embeddings.front().size();
    Matrix centroids;
    for (const auto& weights : speakerWeights) {
        std::vector<float> centroid(dim, 0.0f);
        float total = 0.0f;
        for (float w : weights)
            total += w;
        if (total > 0.0f) {
            for (std::size_t k = 0; k < std::min(weights.size(), embeddings.size()); ++k) {
                for (std::size_t d = 0; d < dim; ++d)
                    centroid[d] += weights[k] * embeddings[k][d];
            }
            for (float& v : centroid)
                v /= total;
        }
        centroids.push_back(std::move(centroid));
    }
    return centroids;
}

Matrix centroidsFromAssignments(const Labels& assignments, const Matrix& embeddings, std::int64_t k) {
    if (embeddings.empty() || embeddings.front().empty() || k <= 0)
        return {};
    const std::size_t dim = embeddings.front().size();
    Matrix sums(static_cast<std::size_t>(k), std::vector<float>(dim, 0.0f));
    std::vector<std::int64_t> counts(static_cast<std::size_t>(k), 0);
    for (std::size_t i = 0; i < std::min(assignments.size(), embeddings.size()); ++i) {
        if (assignments[i] < 0 || assignments[i] >= k)
            continue;
        const auto c = static_cast<std::size_t>(assignments[i]);
        ++counts[c];
        for (std::size_t d = 0; d < dim; ++d)
            sums[c][d] += embeddings[i][d];
    }
    for (std::size_t c = 0; c < sums.size(); ++c) {
        for (float& v : sums[c])
            v = counts[c] > 0 ? v / static_cast<float>(counts[c]) : 0.0f;
    }
    return sums;
}

Labels clusterReassignment(const Matrix& embeddings, const Matrix& centroids) {
    if (embeddings.empty() || centroids.empty())
        return {};
    Matrix similarity = MathOps::cosineDistanceMatrix(embeddings, centroids);
    for (auto& row : similarity) {
        for (float& v : row)
            v = 2.0f - v;
    }
    return MathOps::indexOfMaximum(similarity, 1);
}

// γ restricted to the speakers whose prior survives, as speaker × embedding.
Matrix survivingSpeakerWeights(const VariationalBayesHiddenMarkovModel::Result& vbx, float minPrior) {
    std::vector<std::size_t> keep;
    for (std::size_t s = 0; s < vbx.speakerPriorProbabilities.size(); ++s) {
        if (vbx.speakerPriorProbabilities[s] > minPrior)
            keep.push_back(s);
    }
    if (keep.empty())
        return MathOps::matrixTranspose(vbx.speakerAssignmentMatrix);
    Matrix kept;
    for (const auto& row : vbx.speakerAssignmentMatrix) {
        std::vector<float> columns;
        for (std::size_t s : keep)
            columns.push_back(row[s]);
        kept.push_back(std::move(columns));
    }
    return MathOps::matrixTranspose(kept);
}

Labels finalLabels(const Matrix& all, const Matrix& centroids, const Labels& labels, const Matrix& raw) {
    if (!centroids.empty()) {
        auto clusters = clusterReassignment(all, centroids);
        Logging::debug("[VBx] Cluster reassignment completed");
        return clusters;
    }
    const std::int64_t k = labels.empty() ? 0 : *std::max_element(labels.begin(), labels.end()) + 1;
    const Matrix fallback = k >= 1 ? centroidsFromAssignments(labels, raw, k) : Matrix{};
    if (!fallback.empty()) {
        auto clusters = clusterReassignment(all, fallback);
        Logging::debug("[VBx] Cluster reassignment from AHC fallback completed");
        return clusters;
    }
    Logging::debug("[VBx] No trainable embeddings; assigning all to cluster 0");
    return Labels(all.size(), 0);
}

// Stable. Sorts positions and moves each record once: sorting the records themselves trips a
// false maybe-uninitialized warning of GCC 12 on the optional PLDA vector at -O2.
void sortByWindowThenSpeaker(std::vector<SpeakerEmbedding>& embeddings) {
    std::vector<std::size_t> order(embeddings.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&embeddings](std::size_t a, std::size_t b) {
        const auto& x = embeddings[a];
        const auto& y = embeddings[b];
        return x.windowIndex != y.windowIndex ? x.windowIndex < y.windowIndex
                                              : x.speakerIndex < y.speakerIndex;
    });
    std::vector<SpeakerEmbedding> sorted;
    sorted.reserve(embeddings.size());
    for (std::size_t i : order)
        sorted.push_back(std::move(embeddings[i]));
    embeddings = std::move(sorted);
}

void requireTable(const std::vector<float>& table) {
    if (table.size() != VariationalBayesHiddenMarkovModel::kDimensions) {
        throw DiarithError::invalidConfiguration("VBxClustering: betweenClassCovarianceDiag holds " +
                                                 std::to_string(table.size()) + " values, expected 128");
    }
    requireEqualLengthFinite({table}, "VBxClustering: betweenClassCovarianceDiag");
}

} // namespace

VBxClustering::VBxClustering(std::vector<float> betweenClassCovarianceDiag)
    : betweenClassCovarianceDiag_(std::move(betweenClassCovarianceDiag)) {
    requireTable(betweenClassCovarianceDiag_);
}

std::future<void> VBxClustering::add(std::vector<SpeakerEmbedding> speakerEmbeddings) {
    return executor_.submit([this, added = std::move(speakerEmbeddings)]() mutable {
        embeddings_.insert(embeddings_.end(), std::make_move_iterator(added.begin()),
                           std::make_move_iterator(added.end()));
    });
}

std::future<std::vector<SpeakerEmbedding>> VBxClustering::speakerEmbeddings() {
    return executor_.submit([this] { return embeddings_; });
}

std::future<void> VBxClustering::reset() {
    return executor_.submit([this] { embeddings_.clear(); });
}

std::future<ClusteringResult> VBxClustering::update(VBxClusteringConfig config) {
    return executor_.submit([this, config] {
        if (embeddings_.empty())
            return ClusteringResult{};
        sortByWindowThenSpeaker(embeddings_);
        auto assignment = cluster(embeddings_, config);
        for (std::size_t i = 0; i < assignment.clusters.size(); ++i)
            embeddings_[i].clusterId = assignment.clusters[i];
        return ClusteringResult{.clusters = std::move(assignment.clusters), .speakerEmbeddings = embeddings_};
    });
}

VBxClusteringConfig VBxClustering::clusteringConfig(const PyannoteDiarizationOptions& options) const {
    VBxClusteringConfig config;
    config.clusterDistanceThreshold = options.clusterDistanceThreshold.value_or(0.6f);
    if (options.numberOfSpeakers && *options.numberOfSpeakers >= 1)
        config.numberOfSpeakers = options.numberOfSpeakers;
    return config;
}

ClusterAssignment VBxClustering::cluster(const std::vector<SpeakerEmbedding>& embeddings,
                                         const VBxClusteringConfig& config) const {
    Matrix all;
    for (const auto& e : embeddings)
        all.push_back(e.embedding);
    requireEqualLengthFinite(all, "VBxClustering: embeddings");
    const TrainingSet training = trainingSet(embeddings, config.minNonOverlappedFrameRatio);

    ClusterAssignment result{.clusters = {}, .linkageMatrix = ClusterAlgorithms::fastLinkage(training.norm)};
    const Labels ahc = assignFlatClusters(result.linkageMatrix, config.clusterDistanceThreshold);
    Logging::debug("[VBx] Calling vbx with", training.plda.size(), "embeddings");
    const auto vbx = VariationalBayesHiddenMarkovModel::vbx(
        ahc, training.plda, config.speakerRelevanceFactorA, config.speakerRelevanceFactorB,
        config.maxIterations, config.initialSmoothingFactor, false, betweenClassCovarianceDiag_);
    const Matrix weights = survivingSpeakerWeights(vbx, config.minSpeakerPrior);
    const Labels labels = weights.empty() ? ahc : MathOps::indexOfMaximum(weights, 0);
    Matrix centroids = calculateCentroids(weights, training.raw);
    Logging::debug("[VBx] VBx clustering completed with", centroids.size(), "speakers");

    const auto requested = config.numberOfSpeakers.value_or(0);
    if (requested >= 1 && requested != static_cast<std::int64_t>(centroids.size())) {
        Logging::debug("[VBx] K-Means correction: VBx gave", centroids.size(), "speakers, requested",
                       requested);
        const Labels km = ClusterAlgorithms::kMeans(training.norm, requested, 300, 3, 42);
        // Beyond the first cluster k-means leaves empty, every centroid is the zero vector and
        // loses every tie to it, so a huge request needs no more than one of them.
        const auto needed =
            std::min<std::int64_t>(requested, static_cast<std::int64_t>(training.raw.size()) + 1);
        centroids = centroidsFromAssignments(km, training.raw, needed);
    }
    result.clusters = finalLabels(all, centroids, labels, training.raw);
    return result;
}

} // namespace diarith
