#pragma once

#include "engine/diarization/result/DiarizationResult.h"
#include "engine/diarization/result/SpeakerInfoStrategy.h"
#include "engine/speech/transcription/TranscriptionResult.h"
#include "engine/speech/transcription/WordTiming.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace diarith {

// A transcribed word with its speaker index; absent when the word has no single speaker.
struct WordWithSpeaker {
    vocalith::WordTiming wordTiming;
    std::optional<std::int64_t> speaker;

    bool operator==(const WordWithSpeaker&) const = default;
};

// One RTTM speaker-turn record.
struct RTTMLine {
    // speakerId −1 is named "UNKNOWN"; any other index i "A" + (i mod 26, signed as i), so 0…25 give
    // "A"…"Z" and 26 "A" again.
    RTTMLine(std::string fileId, std::int64_t speakerId, float startTime, float duration,
             std::string orthography);

    std::string fileId;
    float startTime;         // seconds
    float duration;          // seconds
    std::string orthography; // "<NA>" for a plain turn, else the turn's words
    std::string speakerName;

    // "SPEAKER <file> 1 <onset> <duration> <orthography> <NA> <name> <NA> <NA>", times "%.3f".
    std::string description() const;

    // One record per run of consecutive words of the same known speaker; runs of words without a
    // speaker give none. The words' texts are trimmed of spaces and tabs and joined with spaces.
    static std::vector<RTTMLine> fromWords(const std::vector<WordWithSpeaker>& words,
                                           const std::string& fileName);
};

// The result as RTTM records. Without a transcription: one record per turn of a copy whose turns
// are rebuilt without joining (turns of several speakers or none are "UNKNOWN"); the strategy is
// not used. With one (even an empty one): the words of the transcription with the speakers the
// strategy attaches, one record per run of words of one speaker.
std::vector<RTTMLine>
generateRTTM(const DiarizationResult& result, const SpeakerInfoStrategy& strategy,
             const std::optional<std::vector<vocalith::TranscriptionResultPtr>>& transcription,
             const std::string& fileName);

} // namespace diarith
