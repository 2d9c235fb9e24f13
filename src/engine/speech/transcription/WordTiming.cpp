#include "engine/speech/transcription/WordTiming.h"

#include "platform/text/Normalization.h"

namespace vocalith {

namespace detail {

bool equalTexts(const std::string& a, const std::string& b) {
    return a == b || velnote::platform::nfc(a) == velnote::platform::nfc(b);
}

std::size_t hashText(const std::string& text) {
    return std::hash<std::string>{}(velnote::platform::nfc(text));
}

std::size_t hashFloat(float value) {
    // Adding +0 turns −0 into +0, so values that compare equal hash equally.
    return std::hash<float>{}(value + 0.0f);
}

} // namespace detail

bool WordTiming::operator==(const WordTiming& other) const {
    return detail::equalTexts(word, other.word) && tokens == other.tokens && start == other.start &&
           end == other.end && probability == other.probability;
}

template <class J> void to_json(J& json, const WordTiming& word) {
    // Built aside and moved in at the end: nlohmann leaks a value whose conversion throws half-way.
    J object = J::object();
    object["word"] = word.word;
    object["tokens"] = word.tokens;
    object["start"] = jsonFloat(word.start, "start");
    object["end"] = jsonFloat(word.end, "end");
    object["probability"] = jsonFloat(word.probability, "probability");
    json = std::move(object);
}
template void to_json<Json>(Json&, const WordTiming&);
template void to_json<OrderedJson>(OrderedJson&, const WordTiming&);

void from_json(const Json& json, WordTiming& word) {
    using velnote::platform::required;
    word.word = required<std::string>(json, "word");
    word.tokens = required<std::vector<std::int64_t>>(json, "tokens");
    word.start = requiredFloat(json, "start");
    word.end = requiredFloat(json, "end");
    word.probability = requiredFloat(json, "probability");
}

} // namespace vocalith

std::size_t std::hash<vocalith::WordTiming>::operator()(const vocalith::WordTiming& word) const {
    using namespace vocalith::detail;
    std::size_t seed = hashText(word.word);
    hashCombine(seed, word.tokens.size());
    for (const auto token : word.tokens)
        hashCombine(seed, std::hash<std::int64_t>{}(token));
    hashCombine(seed, hashFloat(word.start));
    hashCombine(seed, hashFloat(word.end));
    hashCombine(seed, hashFloat(word.probability));
    return seed;
}
