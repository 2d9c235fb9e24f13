#include "processing/transcription/SpeechWordTiming.h"

namespace velnote {

void to_json(platform::Json& json, const SpeechWordTiming& timing) {
    json = platform::Json::object();
    json["word"] = timing.word;
    json["start"] = timing.start;
    json["end"] = timing.end;
}

void from_json(const platform::Json& json, SpeechWordTiming& timing) {
    timing.word = platform::required<std::string>(json, "word");
    timing.start = platform::required<double>(json, "start");
    timing.end = platform::required<double>(json, "end");
}

} // namespace velnote
