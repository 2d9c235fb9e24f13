#pragma once

#include "engine/diarization/clustering/Clusterer.h"
#include "platform/concurrency/SerialExecutor.h"

#include <vector>

namespace diarith {

// The engine's clusterer: agglomerative clustering of the trustworthy embeddings, VBx refinement
// in PLDA space, an optional k-means correction to a requested speaker count, and a final
// nearest-centroid assignment of every embedding.
//
// One per diarization. Embedder workers add from any thread; the collection is touched only by
// jobs on the clusterer's serial executor. cluster() uses only its arguments and the table.
class VBxClustering final : public Clusterer {
  public:
    // betweenClassCovarianceDiag: Φ of the PLDA projection in use, 128 finite values; throws
    // DiarithError::invalidConfiguration otherwise.
    explicit VBxClustering(std::vector<float> betweenClassCovarianceDiag);

    std::future<void> add(std::vector<SpeakerEmbedding> speakerEmbeddings) override;
    std::future<std::vector<SpeakerEmbedding>> speakerEmbeddings() override;
    // An empty collection gives two empty lists. Throws (through the future)
    // DiarithError::invalidConfiguration for embeddings that differ in length or are not finite.
    std::future<ClusteringResult> update(VBxClusteringConfig config) override;
    std::future<void> reset() override;
    // The options' threshold (else 0.6) and speaker count (a count below 1 counts as absent).
    VBxClusteringConfig clusteringConfig(const PyannoteDiarizationOptions& options) const override;
    ClusterAssignment cluster(const std::vector<SpeakerEmbedding>& embeddings,
                              const VBxClusteringConfig& config) const override;

  private:
    const std::vector<float> betweenClassCovarianceDiag_;
    // Only on executor_: the collected embeddings, sorted after update().
    std::vector<SpeakerEmbedding> embeddings_;
    // Declared last: drains before the members above go.
    velnote::platform::SerialExecutor executor_;
};

} // namespace diarith
