#pragma once

#include <cstdint>
#include <string>

namespace diarith {

// A timing report of one diarization, as carried in its result.
class DiarizationTimings {
  public:
    virtual ~DiarizationTimings() = default;
    virtual std::string description() const = 0;
    virtual std::string debugDescription() const = 0;
};

// The timing report of the engine's own pipeline; every field starts at zero.
struct PyannoteDiarizationTimings final : DiarizationTimings {
    double inputAudioSeconds = 0; // length of the diarized audio, seconds
    std::int64_t numberOfChunks = 0;
    std::int64_t numberOfEmbeddings = 0;
    std::int64_t numberOfSpeakers = 0;
    std::int64_t numberOfSegmenterWorkers = 0;
    std::int64_t numberOfEmbedderWorkers = 0;
    double pipelineStart = 0;  // start of the run on the pipeline's clock; not printed
    double modelLoading = 0;   // ms
    double segmenterTime = 0;  // ms, all chunks
    double embedderTime = 0;   // ms, all chunks
    double clusteringTime = 0; // ms
    double fullPipeline = 0;   // ms, the whole run

    // "DiarizationTimings({key: value, ...})" with eleven entries in no fixed order.
    std::string description() const override;
    // Seventeen lines: the report laid out by stage, with per-chunk averages.
    std::string debugDescription() const override;
};

} // namespace diarith
