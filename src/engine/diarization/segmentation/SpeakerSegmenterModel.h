#pragma once

#include "engine/diarization/loader/HeldModel.h"
#include "engine/diarization/segmentation/SpeakerSegmenterOutput.h"
#include "engine/foundation/ComputeUnits.h"
#include "engine/foundation/ModelState.h"
#include "platform/concurrency/ClosableQueue.h"
#include "platform/ml/Model.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <stop_token>
#include <vector>

namespace diarith {

using SegmenterOutputQueue = velnote::platform::ClosableQueue<SpeakerSegmenterOutput>;

// The segmentation model: cuts 16 kHz audio into 30-second chunks (overlapping by the model's
// window overlap with full redundancy), runs the model on them with a fixed number of worker
// threads and hands each chunk's output on as soon as it is ready. Its window geometry comes from
// the model's declared inputs and outputs.
//
// Shared by the loaded model set and every running diarization: the model is held through a
// shared pointer, so unloading never frees it under a run that started with it.
class SpeakerSegmenterModel {
  public:
    static constexpr std::int64_t kChunkSamples = 480000;
    static constexpr std::int64_t kSampleRate = 16000;

    // Writes "[SpeakerSegmenter] initialized with <file name> model" at info level.
    SpeakerSegmenterModel(std::filesystem::path modelURL, std::int64_t concurrentWorkers,
                          bool useFullRedundancy, basalith::ComputeUnits computeUnits);

    const std::filesystem::path& modelURL() const { return held_.modelURL(); }
    basalith::ComputeUnits computeUnits() const { return held_.computeUnits(); }
    // Null before loading, after unloading and after a prewarm.
    std::shared_ptr<velnote::platform::ml::Model> model() const { return held_.model(); }
    basalith::ModelState modelState() const { return held_.modelState(); }
    std::int64_t sampleRate() const { return kSampleRate; }
    // At least 1, whatever was configured.
    std::int64_t concurrentWorkers() const { return concurrentWorkers_; }

    // Loads the model (prewarmMode: loads and lets it go). Throws the runtime's ModelError and
    // changes nothing then.
    void loadModel(bool prewarmMode) { held_.load(prewarmMode); }
    void unloadModel() { held_.unload(); }

    // Seconds per sliding window; 0 without a model or a rank-3 "sliding_window_waveform".
    float windowsLength() const;
    // Frames per window ("speaker_ids" element 1), 0 without it.
    float framesPerWindow() const;
    // Model output frames per second; 0 when windowsLength is 0.
    float modelSampleRate() const;
    // Samples by which consecutive chunks overlap under full redundancy: the window length minus
    // the window step. 0 without a model, a rank-1 "waveform" or a rank-3 sliding window, and 0
    // for a geometry without a finite integer value (a single window); the model loader refuses
    // such a model.
    std::int64_t modelChunkStrideOffset() const;
    // Chunks a run over `samples` samples makes.
    std::int64_t maxChunks(std::int64_t samples) const;

    // Segments `audio` chunk by chunk on concurrentWorkers() threads, pushes each chunk's output
    // into `outputs` as it is ready (in order of completion) and closes `outputs` before returning.
    // Chunks start every 480000 − offset samples and none starts in the last `windowPadding`
    // samples. Throws DiarithError::modelUnavailable ("Speaker segmenter model is unavailable")
    // without a model. A chunk that fails stops the others and its error is thrown (a failed chunk
    // must not vanish from the diarization). A stop request ends the run early without an error.
    void predict(const std::vector<float>& audio, SegmenterOutputQueue& outputs, std::int64_t windowPadding,
                 const std::stop_token& stop = {}) const;

  private:
    HeldModel held_;
    const std::int64_t concurrentWorkers_;
    const bool useFullRedundancy_;
};

} // namespace diarith
