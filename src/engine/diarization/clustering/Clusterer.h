#pragma once

#include "engine/diarization/config/DiarizationOptions.h"
#include "engine/diarization/embedding/SpeakerEmbedding.h"

#include <cstdint>
#include <future>
#include <optional>
#include <vector>

namespace diarith {

// The settings of one clustering run.
struct VBxClusteringConfig {
    float clusterDistanceThreshold = 0.6f;        // cut distance of the agglomerative clustering
    float speakerRelevanceFactorA = 0.07f;        // VBx Fa
    float speakerRelevanceFactorB = 0.8f;         // VBx Fb
    float minSpeakerPrior = 1e-7f;                // a VBx speaker survives only with a prior above it
    float minNonOverlappedFrameRatio = 0.2f;      // an embedding trains only with a ratio above it
    std::int64_t maxIterations = 20;              // VBx iteration limit
    float initialSmoothingFactor = 7.0f;          // VBx initial smoothing
    std::optional<std::int64_t> numberOfSpeakers; // requested count; absent (or below 1) = found
};

struct ClusteringResult {
    std::vector<std::int64_t> clusters;              // one label per embedding, in sorted order
    std::vector<SpeakerEmbedding> speakerEmbeddings; // the sorted embeddings with clusterId set
};

struct ClusterAssignment {
    std::vector<std::int64_t> clusters;            // one label per given embedding
    std::vector<std::vector<float>> linkageMatrix; // the agglomerative merges of the training set
};

// Collects the embeddings of one diarization and assigns each a global speaker. The asynchronous
// operations run one at a time on the clusterer's own executor, in the order they were called.
class Clusterer {
  public:
    virtual ~Clusterer() = default;

    virtual std::future<void> add(std::vector<SpeakerEmbedding> speakerEmbeddings) = 0;
    virtual std::future<std::vector<SpeakerEmbedding>> speakerEmbeddings() = 0;
    // Sorts the collection by window, then speaker, and labels it.
    virtual std::future<ClusteringResult> update(VBxClusteringConfig config) = 0;
    virtual std::future<void> reset() = 0;
    virtual VBxClusteringConfig clusteringConfig(const PyannoteDiarizationOptions& options) const = 0;
    virtual ClusterAssignment cluster(const std::vector<SpeakerEmbedding>& embeddings,
                                      const VBxClusteringConfig& config) const = 0;

    // The same clusterer object.
    bool isEqual(const Clusterer& other) const { return this == &other; }
};

} // namespace diarith
