#pragma once

#include "speech/local/SpeechServices.h"

#include <memory>
#include <mutex>

namespace velnote {

// The on-device speech back-end: the transcription service transcribes the track; with
// diarization asked for, the labelling service turns the results into labelled lines, else each
// engine segment becomes one segment without a speaker.
//
// One instance per transcription run; process() calls run one at a time (a lock) on the caller's
// thread. A diarization that fails (engine, models, the run) does not fail the track: its
// segments fall back to lines labelled with the source, and diarizationFailure() tells why.
class LocalSpeechPipeline final : public SpeechProcessingPipeline {
  public:
    LocalSpeechPipeline(std::shared_ptr<TranscriptionServiceProtocol> transcriptionService,
                        std::shared_ptr<SpeakerDiarizationServiceProtocol> diarizationService);

    std::vector<SpeechSegment> process(const AudioSourceTrack& track, const SpeechProcessingConfig& config,
                                       const TextSanitizer& textSanitizer, std::stop_token stop) override;
    std::optional<std::string> diarizationFailure() const override;

    static std::vector<SpeechSegment> mapWithoutDiarization(const TrackWhisperOutput& output);
    // One entry per segment: "[" + source + "] " + text, at the segment's start.
    static std::vector<TranscriptEntry>
    fallbackEntries(const std::vector<vocalith::TranscriptionResultPtr>& results,
                    const AudioSourceTrack& track);
    // Text and start of the entry; the speaker is what the line holds between a leading "[" and
    // the first "]", when it has both.
    static SpeechSegment segmentFromEntry(const TranscriptEntry& entry);

  private:
    std::vector<SpeechSegment> performDiarization(const TrackWhisperOutput& output,
                                                  const AudioSourceTrack& track,
                                                  const SpeechProcessingConfig& config, std::stop_token stop);

    std::shared_ptr<TranscriptionServiceProtocol> transcriptionService_;
    std::shared_ptr<SpeakerDiarizationServiceProtocol> diarizationService_;
    mutable std::mutex mutex_;
    std::optional<std::string> diarizationFailure_; // of the last process() call; under mutex_
};

} // namespace velnote
