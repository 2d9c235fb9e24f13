#pragma once

#include "engine/diarization/Diarizer.h"
#include "engine/diarization/clustering/Clusterer.h"
#include "engine/diarization/config/DiarizationTimings.h"
#include "engine/diarization/embedding/SpeakerEmbedderModel.h"
#include "engine/diarization/loader/PyannoteModelLoader.h"
#include "engine/diarization/segmentation/SpeakerSegmenterModel.h"
#include "engine/foundation/ModelDownloader.h"
#include "platform/concurrency/Clock.h"

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace diarith {

// What one pipeline works with.
struct DiarizerConfig {
    std::shared_ptr<SpeakerSegmenterModel> segmenterModel;
    std::shared_ptr<SpeakerEmbedderModel> embedderModel;
    std::shared_ptr<Clusterer> clusterer;
    // Embedder workers; absent = one per 30 seconds of a clip, 2 to 8; below 1 counts as 1.
    std::optional<std::int64_t> concurrentEmbedderWorkers;
    // The loaded set this was made from, kept alive with it.
    std::shared_ptr<const PyannoteModels> models;
};

// A stretch of the buffer to diarize: sample indices, end exclusive.
struct SeekClip {
    std::int64_t start = 0;
    std::int64_t end = 0;
    bool operator==(const SeekClip&) const = default;
};

// One diarization: segmentation of each clip in 30-second chunks on the segmenter's workers while
// embedder workers (on threads of their own) embed each chunk as soon as it is ready, then
// clustering, post-processing and the timing report. One diarization at a time: diarize() holds
// the pipeline's lock for its whole run.
class PyannoteDiarizerActor {
  public:
    explicit PyannoteDiarizerActor(DiarizerConfig config,
                                   const velnote::platform::Clock& clock = defaultClock());
    ~PyannoteDiarizerActor();
    PyannoteDiarizerActor(const PyannoteDiarizerActor&) = delete;
    PyannoteDiarizerActor& operator=(const PyannoteDiarizerActor&) = delete;

    const DiarizerConfig& config() const { return config_; }
    std::int64_t audioLength() const { return audioLength_; }
    const PyannoteDiarizationTimings& timings() const { return timings_; }
    double modelLoadTime() const { return modelLoadTime_; }

    // Loads whichever of the two models is not loaded, then checks their geometry.
    void loadModels();
    // The clips of `options` (pairs of seconds; an odd count ends at the buffer's end), or the
    // whole buffer. Throws DiarithError::invalidConfiguration for a time that is not finite or a
    // clip that is not a range within the buffer.
    std::vector<SeekClip> prepareSeekClips(std::int64_t contentFrames,
                                           const PyannoteDiarizationOptions* options) const;
    // Stops and waits for a running embedding pipeline, empties the clusterer, zeroes the report.
    void reset();
    // Loads the models and starts the embedding pipeline over `audioArray`, which must stay alive
    // and unchanged until clusterSpeakers() or reset() returns.
    // `stageProgress` receives the fraction of the embedding stage done (0…1), rising.
    void initialize(const std::vector<float>& audioArray, const PyannoteDiarizationOptions* options,
                    std::function<void(double)> stageProgress);
    // Waits for the pipeline (its first error ends the diarization), clusters and post-processes.
    DiarizationResult clusterSpeakers(Clusterer& clusterer, const PyannoteDiarizationOptions* options,
                                      const std::function<void(double)>& stageProgress);
    DiarizationResult postProcess(const std::vector<SpeakerEmbedding>& speakerEmbeddings,
                                  std::int64_t originalLength, bool useExclusiveReconciliation) const;
    // Options of any type but PyannoteDiarizationOptions count as absent. The callback sees 0
    // first, 100 last, each value higher than the one before, from the pipeline's threads.
    DiarizationResult diarize(const std::vector<float>& audioArray, const DiarizationOptions* options,
                              const DiarizationProgressCallback& progressCallback);

  private:
    static const velnote::platform::Clock& defaultClock();
    void runPipeline(const std::vector<float>& audio, const std::vector<SeekClip>& clips,
                     const std::function<void(double)>& stageProgress, const std::stop_token& stop);
    void stopPipeline();
    double seconds() const;

    const DiarizerConfig config_;
    const velnote::platform::Clock& clock_;
    std::mutex running_; // one diarization at a time
    std::int64_t audioLength_ = 0;
    PyannoteDiarizationTimings timings_;
    double modelLoadTime_ = 0;
    std::mutex timingsMutex_; // the pipeline thread adds to timings_ under it
    std::jthread pipeline_;
    std::exception_ptr pipelineError_;
};

// The engine's own diarizer over a model loader: every call works on the loader's loaded set.
class PyannoteDiarizer final : public Diarizer {
  public:
    PyannoteDiarizer(std::shared_ptr<PyannoteModelLoader> loader,
                     std::shared_ptr<basalith::ModelDownloader> downloader, DiarizerConfig config);

    std::optional<std::filesystem::path> modelFolder() const override;
    basalith::ModelState modelState() const override;
    void downloadModels() override;
    void downloadModels(const basalith::ProgressCallback& progress);
    void loadModels() override;
    void unloadModels() override;
    DiarizationResult diarize(const std::vector<float>& audioArray, const DiarizationOptions* options,
                              const DiarizationProgressCallback& progressCallback) override;

    PyannoteDiarizerActor& diarizerActor() { return actor_; }

  private:
    std::shared_ptr<PyannoteModelLoader> loader_;
    std::shared_ptr<basalith::ModelDownloader> downloader_;
    PyannoteDiarizerActor actor_;
};

} // namespace diarith
