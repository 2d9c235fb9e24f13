#pragma once

#include "engine/speech/transcription/TranscriptionResult.h"
#include "processing/transcription/AudioSourceTrack.h"
#include "processing/transcription/SpeechProcessingPipeline.h"
#include "processing/transcription/TranscriptEntry.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace velnote {

// The on-device speech results of one track: one entry per transcribed chunk, in chunk order,
// with times on the track's timeline and sanitized texts.
struct TrackWhisperOutput {
    std::vector<vocalith::TranscriptionResultPtr> results;
};

// What the local pipeline needs of the on-device transcription service.
class TranscriptionServiceProtocol {
  public:
    virtual ~TranscriptionServiceProtocol() = default;

    // Transcribes the track's chunks with `model`; `language` std::nullopt = detect. Blocks.
    virtual TrackWhisperOutput loadWhisperOutput(const AudioSourceTrack& track, const std::string& model,
                                                 const std::optional<std::string>& language,
                                                 const TextSanitizer& textSanitizer,
                                                 std::stop_token stop) = 0;
};

// What the labelling service is asked to do for one diarized track.
struct DiarizationRequest {
    std::string source;                             // "mix", "mic" or "sys"
    std::vector<std::filesystem::path> chunkPaths;  // in recording order
    std::optional<std::int64_t> numberOfSpeakers{}; // none = the engine decides
    bool labelsIncludeSource = true;                // labels begin with the upper-cased source
};

using TranscriptEntriesFallback = std::function<std::vector<TranscriptEntry>()>;

// What the local pipeline needs of the speaker labelling service.
class SpeakerDiarizationServiceProtocol {
  public:
    virtual ~SpeakerDiarizationServiceProtocol() = default;

    // Entries whose line begins with the bracketed speaker label and time; the fallback's entries
    // when there is nothing to label. Throws when the audio, the engine or the diarization fails.
    virtual std::vector<TranscriptEntry>
    diarizedEntries(const std::vector<vocalith::TranscriptionResultPtr>& results,
                    const DiarizationRequest& request, const TranscriptEntriesFallback& fallback,
                    std::stop_token stop) = 0;
};

} // namespace velnote
