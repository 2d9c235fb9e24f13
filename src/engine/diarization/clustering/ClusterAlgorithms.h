#pragma once

#include <cstdint>
#include <vector>

// The two clustering routines the speaker clusterer runs on embeddings. Both are deterministic
// (k-means through its seed) and compute in 32-bit floats.
//
// Both throw DiarithError::invalidConfiguration naming the input when the embeddings differ in
// length or hold a value that is not finite.
namespace diarith::ClusterAlgorithms {

// Agglomerative clustering with centroid linkage over Euclidean distances. One row per merge, in
// merge order: [smaller id, larger id, distance, size of the new cluster]. Ids 0…n−1 are the
// embeddings; merge k makes id n + k. Fewer than two embeddings give no rows. Merge distances
// need not grow from row to row (centroid linkage can invert).
std::vector<std::vector<float>> fastLinkage(const std::vector<std::vector<float>>& embeddings);

// Lloyd's k-means with k-means++ seeding; restart r draws from a generator seeded with
// randomSeed + r, and the restart with the smallest inertia wins. One label per embedding.
// clusterCount < 1 (or a single cluster) labels everything 0; clusterCount ≥ n gives every
// embedding its own label.
std::vector<std::int64_t> kMeans(const std::vector<std::vector<float>>& embeddings, std::int64_t clusterCount,
                                 std::int64_t maxIterations, std::int64_t numberOfRestarts,
                                 std::uint64_t randomSeed);

} // namespace diarith::ClusterAlgorithms
