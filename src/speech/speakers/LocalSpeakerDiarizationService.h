#pragma once

#include "engine/diarization/Diarith.h"
#include "engine/diarization/config/DiarithConfig.h"
#include "engine/diarization/result/SpeakerSegment.h"
#include "speech/local/SpeechServices.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace velnote {

// Labels the transcript of a diarized track with speakers: joins the track's chunk files into
// one 16 kHz array with every chunk at its place in the recording, diarizes it with one
// long-lived engine and gives every transcript segment the speaker whose turn overlaps it most:
// "[MIC SPEAKER_00 00:01:15] text".
//
// Thread-safe: calls run on their callers' threads at the same time. The engine is made by the
// first call (models fetched from the hub and loaded), kept for the life of the process and never
// unloaded; two first calls that overlap each make one and the later one is kept.
class LocalSpeakerDiarizationService final : public SpeakerDiarizationServiceProtocol {
  public:
    struct Settings {
        // The model hub's base address.
        std::string modelEndpoint = basalith::kDefaultHubEndpoint;
        // Root of the local hub cache; std::nullopt = the hub client's default.
        std::optional<std::string> downloadBase{};
    };

    LocalSpeakerDiarizationService();
    explicit LocalSpeakerDiarizationService(Settings settings);

    // The process's service, created on first use.
    static std::shared_ptr<LocalSpeakerDiarizationService> shared();

    // The engine's configuration: the model repository at "main", downloaded and loaded while the
    // engine is built, logging silenced, full redundancy, four segmenter workers.
    static diarith::PyannoteConfig engineConfig(const Settings& settings);

    // The fallback's entries when there is no chunk, no sample or no segment with text. Throws
    // the audio loader's error, the engine's creation error (kept for no later call: the next one
    // tries again), the diarization's error, and platform::CancellationError.
    std::vector<TranscriptEntry> diarizedEntries(const std::vector<vocalith::TranscriptionResultPtr>& results,
                                                 const DiarizationRequest& request,
                                                 const TranscriptEntriesFallback& fallback,
                                                 std::stop_token stop) override;

    // "SPEAKER_nn" (at least two digits) of the turn overlapping [start, end] most, the first on a
    // tie; "SPEAKER_??" when none overlaps or the best has no single speaker.
    static std::string bestSpeakerLabel(const vocalith::TranscriptionSegment& segment,
                                        const std::vector<diarith::SpeakerSegment>& turns);
    // "hh:mm:ss" of the whole seconds of `seconds`; negative and non-finite values as 0.
    static std::string timeStamp(float seconds);

    // The chunks' samples joined, each chunk starting at its place in the recording, or right
    // after the chunk before it when that one ran longer. Throws the audio loader's error.
    static std::vector<float> joinedAudio(const std::vector<std::filesystem::path>& chunkPaths,
                                          std::stop_token stop);

  private:
    std::shared_ptr<diarith::Diarith> getDiarith();

    Settings settings_;
    std::mutex mutex_;
    std::shared_ptr<diarith::Diarith> diarith_; // under mutex_; made outside it
};

} // namespace velnote
