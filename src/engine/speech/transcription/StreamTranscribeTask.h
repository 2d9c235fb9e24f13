#pragma once

#include "engine/speech/audio/AudioStreamTranscriber.h"
#include "engine/speech/transcription/TranscribeTask.h"

#include <memory>

namespace vocalith {

// The stream transcriber's view of the engine's transcription task: every pass runs the one task
// again, so its timings carry over from pass to pass. Passes come one at a time from the
// transcriber's loop.
class StreamTranscribeTask : public StreamTranscriptionTask {
  public:
    explicit StreamTranscribeTask(std::shared_ptr<TranscribeTask> task) : task_(std::move(task)) {}

    TranscriptionResultPtr run(const std::vector<float>& audioArray, const DecodingOptions& options,
                               const ProgressCallback& callback) override {
        return task_->run(audioArray, options, callback);
    }
    float compressionRatio(const std::vector<std::int64_t>& tokens) const override;

    const std::shared_ptr<TranscribeTask>& task() const { return task_; }

  private:
    std::shared_ptr<TranscribeTask> task_;
};

} // namespace vocalith
