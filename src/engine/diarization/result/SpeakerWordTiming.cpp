#include "engine/diarization/result/SpeakerWordTiming.h"

namespace diarith {

using velnote::platform::Json;

void to_json(Json& json, const SpeakerWordTiming& word) {
    Json object = Json::object();
    object["wordTiming"] = Json(word.wordTiming);
    object["speaker"] = Json(word.speaker);
    json = std::move(object);
}

void from_json(const Json& json, SpeakerWordTiming& word) {
    word.wordTiming = velnote::platform::required<vocalith::WordTiming>(json, "wordTiming");
    word.speaker = velnote::platform::required<SpeakerInfo>(json, "speaker");
}

} // namespace diarith

std::size_t std::hash<diarith::SpeakerWordTiming>::operator()(const diarith::SpeakerWordTiming& word) const {
    std::size_t seed = std::hash<vocalith::WordTiming>{}(word.wordTiming);
    vocalith::detail::hashCombine(seed, std::hash<diarith::SpeakerInfo>{}(word.speaker));
    return seed;
}
