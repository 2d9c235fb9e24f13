#include "engine/diarization/clustering/ClusterAlgorithms.h"

#include "engine/diarization/DiarithError.h"
#include "engine/diarization/clustering/SplitMix64.h"
#include "engine/diarization/math/InputChecks.h"

#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

namespace diarith::ClusterAlgorithms {
namespace {

using Vectors = std::vector<std::vector<float>>;
constexpr float kInfinity = std::numeric_limits<float>::infinity();

float distanceSquared(const std::vector<float>& a, const std::vector<float>& b) {
    float sum = 0.0f;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const float d = a[i] - b[i];
        sum += d * d;
    }
    return sum;
}

// Pairwise distances between the clusters held in n slots, upper triangle only.
class CondensedDistanceMatrix {
  public:
    explicit CondensedDistanceMatrix(const Vectors& embeddings) : n_(embeddings.size()) {
        values_.resize(n_ * (n_ - 1) / 2);
        for (std::size_t i = 0; i + 1 < n_; ++i) {
            for (std::size_t j = i + 1; j < n_; ++j)
                at(i, j) = std::sqrt(distanceSquared(embeddings[i], embeddings[j]));
        }
    }

    float& at(std::size_t i, std::size_t j) {
        const std::size_t a = std::min(i, j);
        const std::size_t b = std::max(i, j);
        return values_[n_ * a - a * (a + 1) / 2 + (b - a - 1)];
    }

    // The nearest live slot above x and its distance; (−1, +∞) when there is none.
    std::pair<std::int64_t, float> findMinDist(std::size_t x, const std::vector<std::int64_t>& sizes) {
        std::pair<std::int64_t, float> best{-1, kInfinity};
        for (std::size_t y = x + 1; y < n_; ++y) {
            if (sizes[y] != 0 && at(x, y) < best.second)
                best = {static_cast<std::int64_t>(y), at(x, y)};
        }
        return best;
    }

  private:
    std::size_t n_;
    std::vector<float> values_;
};

// Indexed min-heap over keys 0…m−1; ties keep the parent, and the left child beats the right.
class MinHeap {
  public:
    explicit MinHeap(const std::vector<float>& values) : positions_(values.size()) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            entries_.emplace_back(i, values[i]);
            positions_[i] = i;
        }
        for (std::size_t p = values.size() / 2; p-- > 0;)
            heapify(p);
    }

    std::pair<std::size_t, float> top() const { return entries_.front(); }

    void removeMin() {
        const auto last = entries_.back();
        entries_.pop_back();
        if (entries_.empty())
            return;
        entries_[0] = last;
        positions_[last.first] = 0;
        heapify(0);
    }

    void changeValue(std::size_t key, float value) {
        std::size_t p = positions_[key];
        const float old = entries_[p].second;
        entries_[p].second = value;
        if (!(value < old)) {
            heapify(p);
            return;
        }
        while (p > 0 && entries_[p].second < entries_[(p - 1) / 2].second) {
            swapEntries(p, (p - 1) / 2);
            p = (p - 1) / 2;
        }
    }

  private:
    void heapify(std::size_t p) {
        for (;;) {
            std::size_t smallest = p;
            const std::size_t left = 2 * p + 1;
            const std::size_t right = 2 * p + 2;
            if (left < entries_.size() && entries_[left].second < entries_[smallest].second)
                smallest = left;
            if (right < entries_.size() && entries_[right].second < entries_[smallest].second)
                smallest = right;
            if (smallest == p)
                return;
            swapEntries(p, smallest);
            p = smallest;
        }
    }

    void swapEntries(std::size_t a, std::size_t b) {
        std::swap(entries_[a], entries_[b]);
        positions_[entries_[a].first] = a;
        positions_[entries_[b].first] = b;
    }

    std::vector<std::pair<std::size_t, float>> entries_;
    std::vector<std::size_t> positions_;
};

// Which cluster each slot holds; a merged cluster lives on in the right slot.
struct LinkageContext {
    std::size_t observationCount;
    std::vector<std::int64_t> clusterSizes; // 0 marks a slot merged away
    std::vector<std::int64_t> clusterIds;   // linkage id of the cluster in each slot

    explicit LinkageContext(std::size_t n) : observationCount(n), clusterSizes(n, 1), clusterIds(n) {
        for (std::size_t i = 0; i < n; ++i)
            clusterIds[i] = static_cast<std::int64_t>(i);
    }

    struct Merge {
        std::int64_t leftClusterId, rightClusterId, leftClusterSize, rightClusterSize;
    };

    Merge mergeClusters(std::size_t x, std::size_t y, std::size_t iteration) {
        const Merge merge{std::min(clusterIds[x], clusterIds[y]), std::max(clusterIds[x], clusterIds[y]),
                          clusterSizes[x], clusterSizes[y]};
        clusterSizes[x] = 0;
        clusterSizes[y] = merge.leftClusterSize + merge.rightClusterSize;
        clusterIds[y] = static_cast<std::int64_t>(observationCount + iteration);
        return merge;
    }
};

float centroidDistance(float a, float b, float c, float nx, float ny) {
    const float squared = (a * (a * nx) + b * (b * ny) - (nx * ny) * (c * c) / (nx + ny)) / (nx + ny);
    // Rounding can take the square a hair below zero when z sits on the new centroid.
    return std::sqrt(squared < 0.0f ? 0.0f : squared);
}

[[noreturn]] void throwOverflow() {
    throw DiarithError::invalidConfiguration(
        "fastLinkage: embeddings: distances between them exceed the range of 32-bit floats");
}

} // namespace

std::vector<std::vector<float>> fastLinkage(const std::vector<std::vector<float>>& embeddings) {
    requireEqualLengthFinite(embeddings, "fastLinkage: embeddings");
    const std::size_t n = embeddings.size();
    if (n < 2)
        return {};
    CondensedDistanceMatrix distance(embeddings);
    LinkageContext context(n);
    std::vector<std::int64_t> neighbor(n - 1, 0);
    std::vector<float> minDist(n - 1, kInfinity);
    for (std::size_t x = 0; x + 1 < n; ++x)
        std::tie(neighbor[x], minDist[x]) = distance.findMinDist(x, context.clusterSizes);
    MinHeap heap(minDist);
    std::vector<std::vector<float>> rows(n - 1, std::vector<float>(4, 0.0f));

    for (std::size_t k = 0; k + 1 < n; ++k) {
        std::size_t x = 0;
        std::int64_t y = -1;
        float dist = kInfinity;
        for (std::size_t attempt = 0; attempt < n - k; ++attempt) {
            std::tie(x, dist) = heap.top();
            y = neighbor[x];
            if (y >= 0 && dist == distance.at(x, static_cast<std::size_t>(y)))
                break;
            std::tie(y, dist) = distance.findMinDist(x, context.clusterSizes);
            neighbor[x] = y;
            minDist[x] = dist;
            heap.changeValue(x, dist);
        }
        // Only distances that overflowed to infinity or NaN leave a live slot without a neighbour.
        if (y < 0)
            throwOverflow();
        const auto slotY = static_cast<std::size_t>(y);
        heap.removeMin();
        const auto merge = context.mergeClusters(x, slotY, k);
        rows[k] = {static_cast<float>(merge.leftClusterId), static_cast<float>(merge.rightClusterId), dist,
                   static_cast<float>(merge.leftClusterSize + merge.rightClusterSize)};

        const auto nx = static_cast<float>(merge.leftClusterSize);
        const auto ny = static_cast<float>(merge.rightClusterSize);
        for (std::size_t z = 0; z < n; ++z) {
            if (context.clusterSizes[z] == 0 || z == slotY)
                continue;
            distance.at(z, slotY) =
                centroidDistance(distance.at(z, x), distance.at(z, slotY), distance.at(x, slotY), nx, ny);
            if (z < x && neighbor[z] == static_cast<std::int64_t>(x))
                neighbor[z] = y;
            if (z < slotY && minDist[z] > distance.at(z, slotY)) {
                neighbor[z] = y;
                minDist[z] = distance.at(z, slotY);
                heap.changeValue(z, minDist[z]);
            }
        }
        if (slotY + 1 < n) {
            const auto [z, d] = distance.findMinDist(slotY, context.clusterSizes);
            if (z != -1) {
                neighbor[slotY] = z;
                minDist[slotY] = d;
                heap.changeValue(slotY, d);
            }
        }
    }
    return rows;
}

namespace {

struct Assignment {
    std::vector<std::int64_t> labels;
    float inertia = 0.0f;
};

Assignment assign(const Vectors& embeddings, const Vectors& centroids) {
    Assignment result{.labels = std::vector<std::int64_t>(embeddings.size(), 0), .inertia = 0.0f};
    for (std::size_t i = 0; i < embeddings.size(); ++i) {
        float best = kInfinity;
        for (std::size_t c = 0; c < centroids.size(); ++c) {
            const float d = distanceSquared(embeddings[i], centroids[c]);
            if (d < best) {
                best = d;
                result.labels[i] = static_cast<std::int64_t>(c);
            }
        }
        result.inertia += best;
    }
    return result;
}

Vectors seedCentroids(const Vectors& embeddings, std::size_t k, SplitMix64& generator) {
    const std::size_t n = embeddings.size();
    Vectors centroids{embeddings[generator.nextBelow(n)]};
    std::vector<float> nearest(n);
    while (centroids.size() < k) {
        float total = 0.0f;
        for (std::size_t j = 0; j < n; ++j) {
            nearest[j] = kInfinity;
            for (const auto& centroid : centroids) {
                const float d = distanceSquared(embeddings[j], centroid);
                nearest[j] = d < nearest[j] ? d : nearest[j];
            }
            total += nearest[j];
        }
        std::size_t pick = centroids.size() % n;
        // An infinite total (squares that overflowed) would keep the draw from ever ending.
        if (total > 0.0f && std::isfinite(total)) {
            const float t = generator.nextFloat(0.0f, total);
            pick = n - 1;
            float running = 0.0f;
            for (std::size_t j = 0; j < n; ++j) {
                running += nearest[j];
                if (running >= t) {
                    pick = j;
                    break;
                }
            }
        }
        centroids.push_back(embeddings[pick]);
    }
    return centroids;
}

void moveCentroids(const Vectors& embeddings, const std::vector<std::int64_t>& labels, Vectors& centroids) {
    const std::size_t dim = embeddings.front().size();
    Vectors sums(centroids.size(), std::vector<float>(dim, 0.0f));
    std::vector<std::int64_t> counts(centroids.size(), 0);
    for (std::size_t i = 0; i < embeddings.size(); ++i) {
        const auto c = static_cast<std::size_t>(labels[i]);
        ++counts[c];
        for (std::size_t d = 0; d < dim; ++d)
            sums[c][d] += embeddings[i][d];
    }
    for (std::size_t c = 0; c < centroids.size(); ++c) {
        if (counts[c] < 1)
            continue;
        const float scale = 1.0f / static_cast<float>(counts[c]);
        for (std::size_t d = 0; d < dim; ++d)
            centroids[c][d] = sums[c][d] * scale;
    }
}

Assignment runRestart(const Vectors& embeddings, std::size_t k, std::int64_t maxIterations,
                      std::uint64_t seed) {
    SplitMix64 generator(seed);
    Vectors centroids = seedCentroids(embeddings, k, generator);
    std::vector<std::int64_t> assignments(embeddings.size(), 0);
    for (std::int64_t iteration = 0; iteration < maxIterations; ++iteration) {
        auto next = assign(embeddings, centroids).labels;
        if (next == assignments)
            break;
        moveCentroids(embeddings, next, centroids);
        assignments = std::move(next);
    }
    return assign(embeddings, centroids);
}

} // namespace

std::vector<std::int64_t> kMeans(const std::vector<std::vector<float>>& embeddings, std::int64_t clusterCount,
                                 std::int64_t maxIterations, std::int64_t numberOfRestarts,
                                 std::uint64_t randomSeed) {
    requireEqualLengthFinite(embeddings, "kMeans: embeddings");
    const std::size_t n = embeddings.size();
    if (n == 0 || embeddings.front().empty())
        return {};
    const auto count = static_cast<std::int64_t>(n);
    if (clusterCount < 1 || std::min(count, clusterCount) == 1)
        return std::vector<std::int64_t>(n, 0);
    std::vector<std::int64_t> best(n, 0);
    if (clusterCount >= count) {
        for (std::size_t i = 0; i < n; ++i)
            best[i] = static_cast<std::int64_t>(i);
        return best;
    }
    float bestInertia = kInfinity;
    for (std::int64_t r = 0; r < numberOfRestarts; ++r) {
        auto result = runRestart(embeddings, static_cast<std::size_t>(clusterCount), maxIterations,
                                 randomSeed + static_cast<std::uint64_t>(r));
        if (result.inertia < bestInertia) {
            best = std::move(result.labels);
            bestInertia = result.inertia;
        }
    }
    return best;
}

} // namespace diarith::ClusterAlgorithms
