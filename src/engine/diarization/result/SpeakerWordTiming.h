#pragma once

#include "engine/diarization/result/SpeakerInfo.h"
#include "engine/speech/transcription/WordTiming.h"

#include <functional>

namespace diarith {

// A transcribed word with the speaker attached to it.
struct SpeakerWordTiming {
    vocalith::WordTiming wordTiming;
    SpeakerInfo speaker;

    bool operator==(const SpeakerWordTiming&) const = default;
};

// {"wordTiming": <word timing>, "speaker": <speaker>}, both required.
void to_json(velnote::platform::Json& json, const SpeakerWordTiming& word);
void from_json(const velnote::platform::Json& json, SpeakerWordTiming& word);

} // namespace diarith

template <> struct std::hash<diarith::SpeakerWordTiming> {
    std::size_t operator()(const diarith::SpeakerWordTiming& word) const;
};
