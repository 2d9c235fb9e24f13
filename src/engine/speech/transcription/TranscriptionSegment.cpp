#include "engine/speech/transcription/TranscriptionSegment.h"

namespace vocalith {

bool TranscriptionSegment::operator==(const TranscriptionSegment& other) const {
    return id == other.id && seek == other.seek && start == other.start && end == other.end &&
           detail::equalTexts(text, other.text) && tokens == other.tokens &&
           tokenLogProbs == other.tokenLogProbs && temperature == other.temperature &&
           avgLogprob == other.avgLogprob && compressionRatio == other.compressionRatio &&
           noSpeechProb == other.noSpeechProb && words == other.words;
}

template <class J> void to_json(J& json, const TranscriptionSegment& segment) {
    // Built aside and moved in at the end: nlohmann leaks a value whose conversion throws half-way.
    J object = J::object();
    object["id"] = segment.id;
    object["seek"] = segment.seek;
    object["start"] = jsonFloat(segment.start, "start");
    object["end"] = jsonFloat(segment.end, "end");
    object["text"] = segment.text;
    object["tokens"] = segment.tokens;
    J probs = J::array();
    for (const auto& map : segment.tokenLogProbs)
        probs.push_back(tokenLogProbsJson<J>(map, "tokenLogProbs"));
    object["tokenLogProbs"] = std::move(probs);
    object["temperature"] = jsonFloat(segment.temperature, "temperature");
    object["avgLogprob"] = jsonFloat(segment.avgLogprob, "avgLogprob");
    object["compressionRatio"] = jsonFloat(segment.compressionRatio, "compressionRatio");
    object["noSpeechProb"] = jsonFloat(segment.noSpeechProb, "noSpeechProb");
    if (segment.words) {
        J words = J::array();
        for (const auto& word : *segment.words)
            words.push_back(word);
        object["words"] = std::move(words);
    }
    json = std::move(object);
}
template void to_json<Json>(Json&, const TranscriptionSegment&);
template void to_json<OrderedJson>(OrderedJson&, const TranscriptionSegment&);

void from_json(const Json& json, TranscriptionSegment& segment) {
    using velnote::platform::optional;
    using velnote::platform::required;
    segment.id = required<std::int64_t>(json, "id");
    segment.seek = required<std::int64_t>(json, "seek");
    segment.start = requiredFloat(json, "start");
    segment.end = requiredFloat(json, "end");
    segment.text = required<std::string>(json, "text");
    segment.tokens = required<std::vector<std::int64_t>>(json, "tokens");
    const auto probs = required<std::vector<Json>>(json, "tokenLogProbs");
    segment.tokenLogProbs.clear();
    for (std::size_t i = 0; i < probs.size(); ++i) {
        try {
            segment.tokenLogProbs.push_back(decodeTokenLogProbs(probs[i]));
        } catch (const JsonDecodeError& e) {
            throw e.under("[" + std::to_string(i) + "]").under("tokenLogProbs");
        }
    }
    segment.temperature = requiredFloat(json, "temperature");
    segment.avgLogprob = requiredFloat(json, "avgLogprob");
    segment.compressionRatio = requiredFloat(json, "compressionRatio");
    segment.noSpeechProb = requiredFloat(json, "noSpeechProb");
    segment.words = optional<std::vector<WordTiming>>(json, "words");
}

} // namespace vocalith

std::size_t
std::hash<vocalith::TranscriptionSegment>::operator()(const vocalith::TranscriptionSegment& s) const {
    using namespace vocalith::detail;
    std::size_t seed = std::hash<std::int64_t>{}(s.id);
    hashCombine(seed, std::hash<std::int64_t>{}(s.seek));
    hashCombine(seed, hashFloat(s.start));
    hashCombine(seed, hashFloat(s.end));
    hashCombine(seed, hashText(s.text));
    hashCombine(seed, s.tokens.size());
    for (const auto token : s.tokens)
        hashCombine(seed, std::hash<std::int64_t>{}(token));
    hashCombine(seed, s.tokenLogProbs.size());
    for (const auto& map : s.tokenLogProbs) {
        hashCombine(seed, map.size());
        for (const auto& [token, logProb] : map) {
            hashCombine(seed, std::hash<std::int64_t>{}(token));
            hashCombine(seed, hashFloat(logProb));
        }
    }
    hashCombine(seed, hashFloat(s.temperature));
    hashCombine(seed, hashFloat(s.avgLogprob));
    hashCombine(seed, hashFloat(s.compressionRatio));
    hashCombine(seed, hashFloat(s.noSpeechProb));
    hashCombine(seed, s.words.has_value());
    if (s.words) {
        for (const auto& word : *s.words)
            hashCombine(seed, std::hash<vocalith::WordTiming>{}(word));
    }
    return seed;
}
