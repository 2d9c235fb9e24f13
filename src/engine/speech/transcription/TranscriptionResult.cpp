#include "engine/speech/transcription/TranscriptionResult.h"

#include "engine/foundation/Logging.h"
#include "engine/speech/TextFormat.h"

#include <algorithm>
#include <array>

namespace vocalith {

using basalith::Logging;

TranscriptionResult::TranscriptionResult(std::string text, std::vector<TranscriptionSegment> segments,
                                         std::string language, TranscriptionTimings timings,
                                         std::optional<float> seekTime)
    : text_(std::move(text)), segments_(std::move(segments)), language_(std::move(language)),
      timings_(timings), seekTime_(seekTime) {}

// Fresh locks: a copy is a result of its own, not a second view of the original.
TranscriptionResult::TranscriptionResult(const TranscriptionResult& other)
    : TranscriptionResult(other.text(), other.segments(), other.language(), other.timings(),
                          other.seekTime()) {}

TranscriptionResult& TranscriptionResult::operator=(const TranscriptionResult& other) {
    if (this != &other) {
        setText(other.text());
        setSegments(other.segments());
        setLanguage(other.language());
        setTimings(other.timings());
        setSeekTime(other.seekTime());
    }
    return *this;
}

std::vector<WordTiming> TranscriptionResult::allWords() const {
    std::vector<WordTiming> words;
    for (const auto& segment : segments()) {
        if (segment.words)
            words.insert(words.end(), segment.words->begin(), segment.words->end());
    }
    return words;
}

void TranscriptionResult::logSegments() const {
    const auto all = segments();
    for (std::size_t i = 0; i < all.size(); ++i) {
        Logging::debug(cFormat("[Segment %zu] [%.2f --> %.2f] ", i, static_cast<double>(all[i].start),
                               static_cast<double>(all[i].end)) +
                       all[i].text);
    }
}

void TranscriptionResult::logTimings() const {
    Logging::info(timingReport());
}

std::string TranscriptionResult::timingReport() const {
    const TranscriptionTimings t = timings();
    const double fullMs = 1000 * std::max(t.fullPipeline, t.decodingLoop);
    const auto f = [fullMs](double time, double runs) {
        return Logging::formatTimeWithPercentage(time, runs, fullMs);
    };
    const auto seconds = [](double value) { return cFormat("%.2f", value) + " seconds"; };
    std::int64_t totalTokens = 0;
    for (const auto& segment : segments())
        totalTokens += static_cast<std::int64_t>(segment.tokens.size());
    const double realTimeFactor = t.fullPipeline / t.inputAudioSeconds;

    const std::array<std::string, 31> lines{
        "---- Transcription Timings ----",
        "Audio Load:          " + f(t.audioLoading, 1),
        "Audio Processing:    " + f(t.audioProcessing, t.totalAudioProcessingRuns),
        "Mels:                " + f(t.logmels, t.totalLogmelRuns),
        "Encoding:            " + f(t.encoding, t.totalEncodingRuns),
        "Matrices Init:       " + f(t.decodingInit, 1),
        "Prefill:             " + f(t.prefill, 1),
        "Decoding:            " + f(t.decodingPredictions, t.totalDecodingLoops),
        "Non-inference:       " + f(t.decodingNonPrediction, t.totalDecodingLoops),
        "- Logit Filtering:   " + f(t.decodingFiltering, t.totalDecodingLoops),
        "- Sampling:          " + f(t.decodingSampling, t.totalDecodingLoops),
        "- Kv Caching:        " + f(t.decodingKvCaching, t.totalKVUpdateRuns),
        "- Word Timestamps:   " + f(t.decodingWordTimestamps, t.totalTimestampAlignmentRuns),
        "- Windowing:         " + f(t.decodingWindowing - t.decodingWordTimestamps, t.totalDecodingWindows),
        "Fallbacks:           " + f(t.decodingFallback, t.totalDecodingFallbacks),
        "Decoding Full Loop:  " + f(t.decodingLoop, t.totalDecodingLoops),
        "-------------------------------",
        "Model Load Time:               " + seconds(t.modelLoading),
        "- Prewarm:                     " + seconds(t.prewarmLoadTime),
        "- Encoder:                     " + seconds(t.encoderLoadTime),
        "- Decoder:                     " + seconds(t.decoderLoadTime),
        "- Tokenizer:                   " + seconds(t.tokenizerLoadTime),
        "Inference Duration (Global):   " + seconds(t.fullPipeline),
        "- Decoding Loop (Avg/window):  " + seconds(t.decodingLoop / t.totalAudioProcessingRuns),
        "- Audio Windows:               " + cFormat("%.2f", t.totalAudioProcessingRuns),
        "Time to first token:           " + seconds(t.firstTokenTime - t.pipelineStart),
        "Total Tokens:                  " + std::to_string(totalTokens),
        "Tokens per Second:             " + cFormat("%.2f", t.totalDecodingLoops / t.fullPipeline) + " tok/s",
        "Real Time Factor:              " + cFormat("%.3f", realTimeFactor),
        "Speed Factor:                  " + cFormat("%.3f", 1 / realTimeFactor),
        "Fallbacks:                     " + Logging::toLogText(t.totalDecodingFallbacks),
    };
    std::string report;
    for (const auto& line : lines) {
        if (!report.empty())
            report += '\n';
        report += line;
    }
    return report;
}

namespace {

template <class J, class Result> J resultMembers(const Result& result) {
    J json = J::object();
    json["text"] = result.text();
    J segments = J::array();
    for (const auto& segment : result.segments())
        segments.push_back(segment);
    json["segments"] = std::move(segments);
    json["language"] = result.language();
    json["timings"] = result.timings();
    return json;
}

} // namespace

template <class J> void to_json(J& json, const TranscriptionResult& result) {
    J object = resultMembers<J>(result);
    const auto seekTime = result.seekTime();
    object["seekTime"] = seekTime ? J(jsonFloat(*seekTime, "seekTime")) : J(nullptr);
    json = std::move(object);
}
template void to_json<Json>(Json&, const TranscriptionResult&);
template void to_json<OrderedJson>(OrderedJson&, const TranscriptionResult&);

TranscriptionResult transcriptionResultFromJson(const Json& json) {
    using velnote::platform::required;
    const auto* seekTime = velnote::platform::detail::findMember(json, "seekTime");
    if (seekTime == nullptr)
        throw JsonDecodeError("seekTime", "missing required key");
    return TranscriptionResult(
        required<std::string>(json, "text"), required<std::vector<TranscriptionSegment>>(json, "segments"),
        required<std::string>(json, "language"), required<TranscriptionTimings>(json, "timings"),
        optionalFloat(json, "seekTime"));
}

namespace {

// The value record read like the locked one, so both share the member code above.
struct StructView {
    const TranscriptionResultStruct& value;
    const std::string& text() const { return value.text; }
    const std::vector<TranscriptionSegment>& segments() const { return value.segments; }
    const std::string& language() const { return value.language; }
    const TranscriptionTimings& timings() const { return value.timings; }
};

} // namespace

template <class J> void to_json(J& json, const TranscriptionResultStruct& result) {
    J object = resultMembers<J>(StructView{result});
    if (result.seekTime)
        object["seekTime"] = jsonFloat(*result.seekTime, "seekTime");
    json = std::move(object);
}
template void to_json<Json>(Json&, const TranscriptionResultStruct&);
template void to_json<OrderedJson>(OrderedJson&, const TranscriptionResultStruct&);

void from_json(const Json& json, TranscriptionResultStruct& result) {
    using velnote::platform::required;
    result.text = required<std::string>(json, "text");
    result.segments = required<std::vector<TranscriptionSegment>>(json, "segments");
    result.language = required<std::string>(json, "language");
    result.timings = required<TranscriptionTimings>(json, "timings");
    result.seekTime = optionalFloat(json, "seekTime");
}

} // namespace vocalith
