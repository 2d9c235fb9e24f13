#include "processing/transcription/SpeechSegment.h"

namespace velnote {

void to_json(platform::Json& json, const SpeechSegment& segment) {
    json = platform::Json::object();
    json["text"] = segment.text;
    json["start"] = segment.start;
    json["end"] = segment.end;
    platform::setIfPresent(json, "words", segment.words);
    platform::setIfPresent(json, "speaker", segment.speaker);
}

void from_json(const platform::Json& json, SpeechSegment& segment) {
    segment.text = platform::required<std::string>(json, "text");
    segment.start = platform::required<double>(json, "start");
    segment.end = platform::required<double>(json, "end");
    segment.words = platform::optional<std::vector<SpeechWordTiming>>(json, "words");
    segment.speaker = platform::optional<std::string>(json, "speaker");
}

} // namespace velnote
