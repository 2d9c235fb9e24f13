#pragma once

#include "processing/transcription/AudioSourceTrack.h"
#include "processing/transcription/SpeechProcessingConfig.h"
#include "processing/transcription/SpeechSegment.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// Cleans one recognised text; may be called from any thread, also concurrently.
using TextSanitizer = std::function<std::string(std::string_view)>;

// A speech back-end: the on-device engine or a remote service.
class SpeechProcessingPipeline {
  public:
    virtual ~SpeechProcessingPipeline() = default;

    // Transcribes the whole track and returns its segments in the back-end's
    // order, each text already passed through `textSanitizer`. Blocks the
    // caller until done (a back-end with an executor of its own waits on it).
    // `stop` is the run's cancellation: a back-end gives up where it can,
    // usually with platform::CancellationError. Failures reach the caller
    // unchanged.
    virtual std::vector<SpeechSegment> process(const AudioSourceTrack& track,
                                               const SpeechProcessingConfig& config,
                                               const TextSanitizer& textSanitizer, std::stop_token stop) = 0;

    // After a process() call with diarization asked for: the error text when the diarization of
    // that track failed and its segments fell back to lines without speakers; std::nullopt when it
    // succeeded. The default suits back-ends that report no such fallback.
    virtual std::optional<std::string> diarizationFailure() const { return std::nullopt; }
};

} // namespace velnote
