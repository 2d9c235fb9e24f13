#pragma once

#include "engine/diarization/result/SpeakerInfo.h"
#include "engine/diarization/result/SpeakerWordTiming.h"
#include "engine/foundation/Uuid.h"
#include "engine/speech/transcription/TranscriptionSegment.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace diarith {

// One speaker turn: who speaks from when to when, on which frame grid, and, when matched with a
// transcript, the speech segment and its words with their speakers. Immutable; every segment made
// gets a fresh random id.
class SpeakerSegment {
  public:
    // Times are frame ÷ frameRate; the frames themselves are kept and reported exactly.
    static SpeakerSegment withFrames(SpeakerInfo speaker, std::int64_t startFrame, std::int64_t endFrame,
                                     float frameRate,
                                     std::optional<vocalith::TranscriptionSegment> transcription = {},
                                     std::vector<SpeakerWordTiming> speakerWords = {});
    // Times in seconds; frames are derived from them.
    static SpeakerSegment withTimes(SpeakerInfo speaker, float startTime, float endTime, float frameRate,
                                    std::optional<vocalith::TranscriptionSegment> transcription = {},
                                    std::vector<SpeakerWordTiming> speakerWords = {});
    // From a transcript segment and its words: the first word's single speaker (else noMatch) and
    // the extreme word times (0 and 0 without words). The segment's own times are not used.
    SpeakerSegment(vocalith::TranscriptionSegment transcription, std::vector<SpeakerWordTiming> speakerWords,
                   float diarizationFrameRate);

    const basalith::Uuid& id() const { return id_; }
    const SpeakerInfo& speaker() const { return speaker_; }
    float startTime() const { return startTime_; } // seconds from the start of the audio
    float endTime() const { return endTime_; }     // seconds
    float frameRate() const { return frameRate_; } // frames per second of the diarization grid
    const std::optional<vocalith::TranscriptionSegment>& transcription() const { return transcription_; }
    const std::vector<SpeakerWordTiming>& speakerWords() const { return speakerWords_; }

    // The stored frame, else time × frame rate truncated toward zero. Throws
    // DiarithError::invalidConfiguration when that product is not finite or leaves the 64-bit range.
    std::int64_t startFrame() const;
    std::int64_t endFrame() const;
    // The words' texts joined with nothing between them.
    std::string text() const;
    // "Speaker 2 [1.50-3.25s]: hello world": times of the first and last word when there are words.
    std::string description() const;
    // "Segment <UUID> -- " + description.
    std::string debugDescription() const;

  private:
    SpeakerSegment(SpeakerInfo speaker, float startTime, float endTime, float frameRate,
                   std::optional<std::int64_t> startFrame, std::optional<std::int64_t> endFrame,
                   std::optional<vocalith::TranscriptionSegment> transcription,
                   std::vector<SpeakerWordTiming> speakerWords);

    basalith::Uuid id_;
    SpeakerInfo speaker_;
    float startTime_;
    float endTime_;
    float frameRate_;
    std::optional<std::int64_t> originalStartFrame_;
    std::optional<std::int64_t> originalEndFrame_;
    std::optional<vocalith::TranscriptionSegment> transcription_;
    std::vector<SpeakerWordTiming> speakerWords_;
};

// A time × frame rate product as a frame, truncated toward zero. Throws
// DiarithError::invalidConfiguration naming `input` when it is not finite or leaves the 64-bit range.
std::int64_t frameAt(float seconds, float frameRate, const std::string& input);

} // namespace diarith
