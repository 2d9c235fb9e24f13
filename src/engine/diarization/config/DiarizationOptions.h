#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace diarith {

// What a caller may pass to one diarization. The pipeline reads only PyannoteDiarizationOptions;
// options of any other type count as absent.
class DiarizationOptions {
  public:
    virtual ~DiarizationOptions() = default;
};

// The options of one diarization with the engine's own pipeline.
struct PyannoteDiarizationOptions final : DiarizationOptions {
    PyannoteDiarizationOptions() = default;
    PyannoteDiarizationOptions(std::optional<std::int64_t> numberOfSpeakers,
                               std::optional<float> minActiveOffset,
                               std::optional<float> clusterDistanceThreshold,
                               std::optional<std::int64_t> minClusterSize, bool useExclusiveReconciliation,
                               std::vector<float> clipTimestamps)
        : numberOfSpeakers(numberOfSpeakers), minActiveOffset(minActiveOffset),
          clusterDistanceThreshold(clusterDistanceThreshold), minClusterSize(minClusterSize),
          useExclusiveReconciliation(useExclusiveReconciliation), clipTimestamps(std::move(clipTimestamps)) {}

    // Requested speaker count; absent = the clustering decides. A count below 1 counts as absent.
    std::optional<std::int64_t> numberOfSpeakers;
    // Seconds; when present the speaker turns are rebuilt joining one speaker's turns across gaps
    // up to this long.
    std::optional<float> minActiveOffset;
    // Cut distance of the agglomerative clustering; absent = 0.6.
    std::optional<float> clusterDistanceThreshold;
    // Carried along; the pipeline does not read it.
    std::optional<std::int64_t> minClusterSize;
    // At most one active speaker per frame after post-processing.
    bool useExclusiveReconciliation = true;
    // Seconds, in pairs: the stretches of audio to diarize; empty = all of it.
    std::vector<float> clipTimestamps;
};

} // namespace diarith
