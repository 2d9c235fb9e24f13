#pragma once

#include "capture/mixer/AudioChunkMixer.h"
#include "platform/concurrency/SerialExecutor.h"
#include "platform/concurrency/Task.h"
#include "platform/settings/SettingsStore.h"
#include "processing/transcription/AudioSourceTrack.h"
#include "processing/transcription/SessionTranscriptionOutput.h"
#include "processing/transcription/SpeechProcessingPipeline.h"
#include "processing/transcription/TranscriptEntry.h"
#include "processing/transcription/TranscriptFileWriter.h"
#include "processing/transcription/TranscriptionRequest.h"
#include "session/config/SessionConfig.h"
#include "session/keychain/KeychainHelper.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace velnote {

// Turns the audio chunks of one session folder into "transcript.txt" and
// "transcript.raw.txt". An actor: runs execute one at a time on its own
// executor and keep no state in the object between runs.
//
// A run picks the speech back-end from the session's configuration, gathers
// the tracks from the folder's "audio" subfolder, has the back-end transcribe
// each track, turns the segments into time-stamped lines, sorts and writes
// them. Microphone ("mic_NNNN.wav") and system ("sys_NNNN.wav") chunks are
// mixed into one track ("mix_m<gain>_s<gain>_NNNN.wav", see AudioChunkMixer)
// when both exist; a mixed track is used only as a complete set for the
// current gains, or, once the separate chunks are gone, the largest set left.
// The separate chunks are deleted only after a transcript made from such a
// complete mixed track alone, and only those whose number it covers. Leftover
// "mix_temp_" files of an interrupted mix are removed.
class SessionTranscriptionPipeline {
  public:
    // Builders of the speech back-ends; each run builds a new one.
    struct Backends {
        // The on-device back-end.
        std::function<std::shared_ptr<SpeechProcessingPipeline>()> local;
        // The remote back-end of an OpenAI-compatible service: base URL ("" =
        // the service's default) and API key.
        std::function<std::shared_ptr<SpeechProcessingPipeline>(const std::string& baseURL,
                                                                const std::string& apiKey)>
            remote;
    };

    // `keychain`: where the remote API key is read; `settings`: where the
    // hallucination-filter phrases are read at the start of each track.
    explicit SessionTranscriptionPipeline(
        Backends backends, KeychainHelper keychain = KeychainHelper(),
        platform::SettingsStore& settings = platform::SettingsStore::standard());
    SessionTranscriptionPipeline(const SessionTranscriptionPipeline&) = delete;
    SessionTranscriptionPipeline& operator=(const SessionTranscriptionPipeline&) = delete;

    // The process's pipeline, created on first use. Its back-ends are those the
    // speech services install (none before: a run then fails with std::logic_error).
    static SessionTranscriptionPipeline& shared();
    // Replaces the back-end builders of shared(); later runs use them.
    static void install(Backends backends);
    // Replaces this pipeline's back-end builders; runs that already chose theirs keep them.
    void setBackends(Backends backends);

    // The request's language from the configured value; see InputLanguage::resolved.
    static std::optional<std::string> resolvedInputLanguage(const std::optional<std::string>& value);

    // Transcribes `sessionDir` (the same folder as request.sessionDir) with the
    // back-end that `config` selects. The task yields the written transcript's
    // path, or fails with DomainError ("SessionTranscriptionPipeline", 401) when
    // the remote API key is missing, NativeTranscriptionError (no audio, empty
    // transcript), the back-end's error, or the write's std::system_error.
    // Cancelling the task reaches only the back-end; once it has returned, the
    // transcript is written and the cleanup runs.
    platform::Task<SessionTranscriptionOutput> runPipeline(const std::filesystem::path& sessionDir,
                                                           const TranscriptionRequest& request,
                                                           const SessionConfig& config);

    // The transcript entry of one segment: its start narrowed to a float, and
    // the line "[speaker] text" when the segment has a speaker, else
    // "[" + sourceLabel + "hh:mm:ss] text" (sourceLabel "MIC ", "SYS " or "").
    // Time from the floor of the narrowed start; negative, NaN and infinite
    // starts count as 0; hours are not wrapped.
    static TranscriptEntry makeEntry(const SpeechSegment& segment, std::string_view sourceLabel);

    // Stable sort by start time, then by line in code-point order.
    static void sortTranscriptEntries(std::vector<TranscriptEntry>& entries);

  private:
    struct PipelineServices {
        std::shared_ptr<SpeechProcessingPipeline> pipeline;
    };
    struct TrackResults {
        std::vector<TranscriptEntry> entries;
        std::vector<std::string> rawTexts;
        std::optional<std::string> diarizationFailure; // the first track's whose diarization failed
    };

    SessionTranscriptionOutput run(const std::filesystem::path& sessionDir,
                                   const TranscriptionRequest& request, const SessionConfig& config,
                                   std::stop_token stop);
    PipelineServices buildPipeline(const SessionConfig& config) const;
    std::vector<AudioSourceTrack> gatherSourceTracks(const std::filesystem::path& sessionDir,
                                                     const TranscriptionRequest& request) const;
    std::vector<AudioSourceTrack> sessionTracks(const std::filesystem::path& sessionDir, double micGain,
                                                double sysGain) const;
    TrackResults processTracks(const std::vector<AudioSourceTrack>& tracks,
                               const TranscriptionRequest& request, bool includeSourceLabel,
                               const PipelineServices& services, std::stop_token stop) const;
    std::vector<AudioSourceTrack> retryMixedTrackFallback(TrackResults& results,
                                                          const std::vector<AudioSourceTrack>& sourceTracks,
                                                          const TranscriptionRequest& request,
                                                          const PipelineServices& services,
                                                          std::stop_token stop) const;
    void cleanupSeparatedChunksIfMixedTrackUsed(const std::filesystem::path& sessionDir,
                                                const std::vector<AudioSourceTrack>& allTracks) const;

    mutable std::mutex backendsMutex_;
    Backends backends_; // under backendsMutex_
    KeychainHelper keychain_;
    platform::SettingsStore& settings_;
    TranscriptFileWriter writer_;
    AudioChunkMixer chunkMixer_;
    platform::SerialExecutor executor_; // last: drains before the members above go
};

} // namespace velnote
